#include "driver/run_installer.h"

#include <cstring>
#include <string_view>

#include "core/run_context.h"
#include "core/text.h"
#include "driver/command_line.h"
#include "driver/dll_search_path.h"
#include "platform/appended_files.h"
#include "platform/started_programs.h"
#include "winenv/event_log.h"
#include "winenv/file_identity.h"
#include "winenv/installation_lock.h"
#include "winenv/kit_guard.h"
#include "winenv/processes.h"
#include "winenv/registry.h"
#include "winenv/windows_version.h"

namespace tolvo {

namespace {

constexpr const char* kVersion = "2.6";
constexpr const char* kDefaultLogName = "\\TLPortInstall.log";
constexpr const char* kInstalledEvent = "Port Monitor Installed Sucessfully";
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = -1;
// A check's own exit codes; a run that never reaches the check (the usage
// text, no run log, no .NET Framework 2.0) still ends with kExitFailure.
constexpr int kCheckAsConfigured = 0;
constexpr int kCheckDifferent = 1;
constexpr int kCheckNotMade = 2;
constexpr int kCheckInstallationRunning = 3;

constexpr const char* kCopyright = "Copyright (C) Kestrum Corporation. All rights reserved.\n";

constexpr const char* kUsage =
    "\n\nFor installation use 'Install.exe (server)'\n"
    "For uninstallation use 'Install.exe -u'\n"
    "For verification of installation use switch '-v' (changes nothing)\n"
    "For un/installation of Enterprise version use switch '-a'\n"
    "For read configuration from registry use switch '-r'\n"
    "For do not copy files use switch '-c'\n"
    "For silent installation use switch '-s'\n"
    "For specification of install log use switch '-lLogFileName'\n"
    "For specification of INI file use switch '-iINIFileName'\n"
    "For Install and Ignore Errors use 'Install.exe -e' (NOT RECOMMENDED!)\n";

// Every file named without a folder (configuration, DLLs, client files, the
// site script) is looked for in the program's own folder, wherever the
// program was started from. False when the program's path is too long to
// name that folder: the run must not take those files from the directory
// it was started in.
bool MoveToProgramFolder(WinApi& api, int argc, char** argv) {
  if (argc < 1 || argv == nullptr || argv[0] == nullptr) {
    return true;
  }
  char folder[MAX_PATH] = {};
  if (!CopyBounded(folder, sizeof folder, argv[0])) {
    return false;
  }
  char* lastBackslash = std::strrchr(folder, '\\');
  if (lastBackslash == nullptr) {
    return true;
  }
  lastBackslash[1] = '\0';
  // Not examined: files are then read relative to the starting directory.
  api.SetCurrentDirectoryA(folder);
  return true;
}

// A drive-letter path ("C:\\...", also drive-relative "C:x") or one from the
// root of a drive or share ("\\...", "\\\\server\\...").
bool IsAbsolutePath(std::string_view path) {
  return (path.size() >= 2 && path[1] == ':') ||
         (!path.empty() && (path[0] == '\\' || path[0] == '/'));
}

void SetConfigurationPath(RunContext& context, const CommandLineOptions& options) {
  // Room for a current directory of up to 259 characters, the backslash
  // and the file name.
  char path[MAX_PATH + 1 + 32] = {};
  const DWORD length = context.api.GetCurrentDirectoryA(MAX_PATH, path);
  if (length == 0 || length >= MAX_PATH) {
    // Failed, or did not fit: the buffer holds nothing usable. The file is
    // then named relative to the current directory, which is still the
    // program folder; a bare "\" would name the root of the drive instead.
    CopyBounded(path, sizeof path, ".");
  }
  AppendBounded(path, sizeof path, "\\");
  AppendBounded(path, sizeof path, context.profile.iniFileName);
  context.settings.SetIniPath(path);
  if (options.iniPathOverride == nullptr || *options.iniPathOverride == '\0') {
    return;
  }
  // An override replaces the whole path. A relative one means a file in the
  // program folder, the current directory by now; it is made absolute here
  // because the profile functions look for a relative name in the Windows
  // folder, not in the current directory.
  if (IsAbsolutePath(options.iniPathOverride)) {
    context.settings.SetIniPath(options.iniPathOverride);
    return;
  }
  const bool haveFolder = length != 0 && length < MAX_PATH;
  path[haveFolder ? length : 1] = '\0';  // the folder, or "."
  char absolute[kIniPathSize + 1] = {};
  FormatBounded(absolute, sizeof absolute, "%s\\%s", path, options.iniPathOverride);
  context.settings.SetIniPath(absolute);
}

bool LogNamed(const CommandLineOptions& options) {
  return options.logPathOverride != nullptr && *options.logPathOverride != '\0';
}

// The run log's path: the file -l names, or the default in the Windows
// directory, composed in the message buffer. Null, with the last error
// set, when the Windows directory cannot be read or the path does not fit:
// the log would land at the root of the current drive, or be some other
// file.
const char* RunLogPath(RunContext& context, const CommandLineOptions& options) {
  if (LogNamed(options)) {
    return options.logPathOverride;
  }
  char* path = context.output.messageBuffer();
  std::memset(path, 0, kMessageBufferSize);
  const UINT length = context.api.GetWindowsDirectoryA(path, kMessageBufferSize);
  if (length == 0) {
    return nullptr;
  }
  if (length >= kMessageBufferSize || !AppendBounded(path, kMessageBufferSize, kDefaultLogName)) {
    context.api.SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  return path;
}

// The files the run writes, as they were when the run opened them: the
// site script must never be one of them.
struct RunFiles {
  FileIdentity log;
  FileIdentity trace;
};

// Opens the run log and notes which file it is; when it cannot be opened,
// or is named like a program the run starts (its lines would run), says
// why on the error stream, which leaves the console's transcript as it is.
bool OpenRunLog(RunContext& context, const CommandLineOptions& options, RunFiles& files) {
  const char* path = RunLogPath(context, options);
  DWORD error = kErrorNamedLikeStartedProgram;
  if (path != nullptr && !NamedLikeStartedProgram(path)) {
    if (context.output.OpenRunLog(path)) {
      // A log whose file cannot be told could be the site script under
      // another name: the run does not go on without knowing.
      files.log = IdentityOfFile(context.api, path);
      if (files.log.known) {
        return true;
      }
    }
    error = context.api.GetLastError();
  } else if (path == nullptr) {
    error = context.api.GetLastError();
  }
  ReportFileNotOpened(context.api, "the run log",
                      path != nullptr ? path : "%windir%\\TLPortInstall.log", error);
  return false;
}

void PrintBanner(RunContext& context) {
  context.output.PrintFormatted(context.settings.enterpriseEdition
                                    ? "\n\nTolvo Client Enterprise Installer v %s\n"
                                    : "\n\nTolvo Client Installer v %s\n",
                                kVersion);
  context.output.PrintMessage(kCopyright);
}

// " on server NAME", printed as it is: a "%" in the name stays a "%".
void PrintServerSuffix(Output& output, const char* serverName) {
  if (serverName != nullptr) {
    output.PrintMessage(" on server ");
    output.PrintMessage(serverName);
  }
  output.PrintMessage("...\n");
}

int Finish(RunContext& context, int exitCode) {
  context.output.CloseRunLog();
  return exitCode;
}

void ReportInstalled(RunContext& context) {
  context.output.PrintFormatted("\n%s Port Monitor Installed Sucessfully.\n",
                                context.profile.productWord);
  ReportSuccessToEventLog(context.api, kInstalledEvent);
}

int InstallWithDefaults(RunContext& context, InstallerSequences& sequences) {
  context.output.PrintFormatted("\nInstalling %s Port Monitor ...\n", context.profile.productWord);
  if (!sequences.InstallPortMonitor(context, InstallOptions{})) {
    context.output.PrintFormatted("\n%s Port Monitor Not Installed!\n",
                                  context.profile.productWord);
    return Finish(context, kExitFailure);
  }
  ReportInstalled(context);
  return Finish(context, kExitSuccess);
}

int Uninstall(RunContext& context, InstallerSequences& sequences,
              const CommandLineOptions& options) {
  context.output.PrintFormatted("\nUninstalling %s Port Monitor", context.profile.productWord);
  PrintServerSuffix(context.output, options.install.serverName);
  if (!sequences.UninstallPortMonitor(context, options.install.serverName,
                                      options.install.copyFiles)) {
    context.output.PrintMessage("\n Port Monitor Not Completely UnInstalled!\n");
    return Finish(context, kExitFailure);
  }
  context.output.PrintFormatted("\n%s Port Monitor UnInstalled Sucessfully.\n",
                                context.profile.productWord);
  return Finish(context, kExitSuccess);
}

int CheckInstallation(RunContext& context, InstallerSequences& sequences,
                      const CommandLineOptions& options) {
  Output& output = context.output;
  const char* word = context.profile.productWord;
  output.PrintFormatted("\nVerifying %s Port Monitor", word);
  PrintServerSuffix(output, options.install.serverName);
  if (options.install.configFromRegistry) {
    output.PrintMessage("  (config will be read from registry)\n");
  }
  switch (sequences.CheckInstallation(context, options.install)) {
    case CheckOutcome::kAsConfigured:
      output.PrintFormatted("\n%s Port Monitor Installed as Configured.\n", word);
      return Finish(context, kCheckAsConfigured);
    case CheckOutcome::kDifferent:
      output.PrintFormatted("\n%s Port Monitor NOT Installed as Configured!\n", word);
      return Finish(context, kCheckDifferent);
    case CheckOutcome::kNotChecked:
      break;
  }
  output.PrintFormatted("\n%s Port Monitor Could Not Be Verified!\n", word);
  return Finish(context, kCheckNotMade);
}

bool SiteScriptPresent(WinApi& api) {
  const DWORD attributes = api.GetFileAttributesA(kSiteScript);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A site script that is the run's own log or trace (under another name, a
// short name, a share of the same disk) would run the lines the run wrote,
// texts from the configuration among them.
bool SiteScriptIsRunFile(RunContext& context, const RunFiles& files) {
  const FileIdentity script = IdentityOfFile(context.api, kSiteScript);
  if (!SameFile(script, files.log) && !SameFile(script, files.trace)) {
    return false;
  }
  context.output.PrintFormatted("ERROR: %s is a file this run writes; it is not run\n",
                                kSiteScript);
  return true;
}

// The site script runs with the run's rights after the installation: only
// administrators may be able to change it, and it is never a file the run
// writes. Checked before the first change.
bool SiteScriptUsable(RunContext& context, const RunFiles& files) {
  return !SiteScriptPresent(context.api) ||
         (KitFilesGuarded(context, {kSiteScript}) && !SiteScriptIsRunFile(context, files));
}

int InstallWithArguments(RunContext& context, InstallerSequences& sequences,
                         const CommandLineOptions& options, InstallationLock& lock,
                         const RunFiles& files) {
  Output& output = context.output;
  output.PrintFormatted("\nInstalling %s Port Monitor", context.profile.productWord);
  PrintServerSuffix(output, options.install.serverName);
  if (options.install.ignoreErrors) {
    output.PrintMessage("[IGNORE ERRORS Switch is Enabled!]\n");
  }
  if (options.install.configFromRegistry) {
    output.PrintMessage("  (config will be read from registry)\n");
  }
  if (!options.install.copyFiles) {
    output.PrintMessage("  No files will be copied\n");
  }
  if (!SiteScriptUsable(context, files) ||
      !sequences.InstallPortMonitor(context, options.install)) {
    output.PrintFormatted("\n%s Port Monitor Not Installed!\n", context.profile.productWord);
    return Finish(context, kExitFailure);
  }
  ReportInstalled(context);
  // The work is done: the site script may run the installer itself.
  lock.Release();
  if (SiteScriptPresent(context.api) && !SiteScriptIsRunFile(context, files)) {
    // The script may append to the same log file: close and flush it first.
    output.CloseRunLog();
    RunShellCommand(context, kSiteScript, {kSiteScript, kShellCommandMinutes});
  }
  return Finish(context, kExitSuccess);
}

void PrintObsoleteSwitchNote(RunContext& context, const CommandLineOptions& options) {
  if (options.obsoleteClientSwitch) {
    context.output.PrintMessage(
        "NOTE: The -f switch is obsolete, the client application is un/installed "
        "automaticaly\n");
  }
}

// Why a run that did not take the installation lock leaves the machine
// alone.
void ReportRefusal(RunContext& context, LockResult result, const InstallationLock& lock) {
  Output& output = context.output;
  switch (result) {
    case LockResult::Taken:
      return;
    case LockResult::Busy:
      output.PrintMessage("ERROR: Another Tolvo installation is running\n");
      return;
    case LockResult::Squatted:
      output.PrintFormatted(
          "ERROR: The Tolvo installation lock is taken by a program that is not a Tolvo "
          "installation: \"%s\" is open to %.*s\n",
          lock.path(), static_cast<int>(lock.squatter().size()), lock.squatter().data());
      return;
    case LockResult::AccessDenied:
      output.PrintFormatted(
          "ERROR: Access to the Tolvo installation lock \"%s\" is denied: run as an "
          "administrator\n",
          lock.path());
      return;
    case LockResult::Failed:
      break;
  }
  output.PrintFormatted("ERROR (%d) While Checking for Another Tolvo Installation.\n",
                        static_cast<int>(lock.error()));
}

// A run that did not take the installation lock. The lock is taken before
// the run log is opened: such a run must not write into the log of the
// installation that holds it, so it keeps to the console and to a log that
// -l names.
int RefuseRun(RunContext& context, const CommandLineOptions& options, LockResult result,
              const InstallationLock& lock) {
  if (LogNamed(options)) {
    RunFiles unused;
    OpenRunLog(context, options, unused);
  }
  PrintBanner(context);
  PrintObsoleteSwitchNote(context, options);
  ReportRefusal(context, result, lock);
  if (options.check) {
    return Finish(context, result == LockResult::Busy ? kCheckInstallationRunning : kCheckNotMade);
  }
  return Finish(context, kExitFailure);
}

}  // namespace

void DisableWow64Redirection(WinApi& api) {
  const HMODULE kernel32 = api.GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) {
    return;
  }
  if (!api.HasEntryPoint(kernel32, WinApi::EntryPoint::kWow64DisableWow64FsRedirection)) {
    return;
  }
  // Redirection stays off for the whole run, so the old value is not kept.
  PVOID oldValue = nullptr;
  api.Wow64DisableWow64FsRedirection(&oldValue);
}

namespace {

// The run; `traceFile` is the open file the support trace is written to,
// or null.
int Run(WinApi& api, int argc, char** argv, InstallerSequences& sequences, HANDLE traceFile) {
  RunContext context(api);
  RunFiles files;

  // Before anything else can make Windows load a DLL by bare name.
  context.settings.currentDirectoryOutOfDllSearch =
      RestrictDllSearchPath(api) == DllSearchRestriction::kCurrentDirectoryRemoved;
  DisableWow64Redirection(api);
  if (!MoveToProgramFolder(api, argc, argv)) {
    context.output.PrintMessage(
        "ERROR: The path of the installer is longer than 259 characters; move its folder to a "
        "shorter path\n");
    return kExitFailure;
  }
  CommandLineOptions options = ParseCommandLine(argc, argv, context.settings);
  if (context.settings.enterpriseEdition) {
    context.profile.SwitchToEnterprise();
  }
  SetConfigurationPath(context, options);
  if (options.showUsage) {
    if (!OpenRunLog(context, options, files)) {
      return kExitFailure;
    }
    PrintBanner(context);
    context.output.PrintMessage(kUsage);
    return Finish(context, kExitFailure);
  }
  // Held until the run's work is done, so that two runs never interleave;
  // a check holds it too, so that it never sees a half-made installation.
  InstallationLock lock(api);
  if (IsWindows9x(api)) {
    // No security to make the lock with, and no support either: the
    // sequences refuse the system before any change, "-e" or not.
    options.install.ignoreErrors = false;
  } else if (const LockResult result = lock.Take(options.check ? InstallationLock::Purpose::Check
                                                               : InstallationLock::Purpose::Change);
             result != LockResult::Taken) {
    return RefuseRun(context, options, result, lock);
  }
  if (!OpenRunLog(context, options, files)) {
    return kExitFailure;
  }
  files.trace = IdentityOfOpenFile(api, traceFile);
  PrintBanner(context);
  PrintObsoleteSwitchNote(context, options);
  if (!IsDotNet20Installed(api)) {
    context.output.PrintMessage("ERROR: The .NET Framework 2.0 is not installed\n");
    return Finish(context, kExitFailure);
  }
  if (options.argumentCount == 0) {
    return InstallWithDefaults(context, sequences);
  }
  // A check changes nothing, whatever else the command line asks for.
  if (options.check) {
    return CheckInstallation(context, sequences, options);
  }
  if (options.uninstall) {
    return Uninstall(context, sequences, options);
  }
  return InstallWithArguments(context, sequences, options, lock, files);
}

}  // namespace

int RunInstaller(WinApi& api, int argc, char** argv, InstallerSequences& sequences) {
  return Run(api, argc, argv, sequences, nullptr);
}

int RunInstallerTraced(WinApi& api, TraceSink* trace, int argc, char** argv,
                       InstallerSequences& sequences) {
  if (trace == nullptr) {
    return RunInstaller(api, argc, argv, sequences);
  }
  TraceApi traced(api, *trace);
  traced.WriteHeader(kVersion);
  const int exitCode = Run(traced, argc, argv, sequences, trace->File());
  traced.WriteFooter(exitCode);
  return exitCode;
}

}  // namespace tolvo
