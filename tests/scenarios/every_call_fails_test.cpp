// Whole runs of Install.exe in which exactly one platform call fails.
//
// For each machine below, a clean run records every call the installer
// makes. Then, for every call occurrence (function and occurrence number),
// the run is repeated on a fresh machine with that one call failing with an
// error Windows could plausibly answer. Every such run must end without a
// crash or sanitizer report, leave no handle, module, search or allocation
// open, keep the run log in step with the console, and end with the exit
// code the stop rules call for.
//
// Which failures must stop the run is decided without looking at the
// faulty run's output: the clean run tells which printed step each call
// belongs to (the console's length when the call was made), and the stop
// rules name, per step, the calls whose failure is that step's failure.
// The faulty run is identical to the clean one up to the failed call, so
// the call falls into the same step there. Deriving it from the faulty
// run's own error lines instead would let a failure that the installer
// swallowed silently pass as one that was allowed to go on.
//
// The faulty runs are traced (the support trace): each trace must list
// exactly the calls the machine received, show the failed call's error and
// never show the configured password. The clean run is made both ways, and
// the trace must not change its console, run log, calls or exit code.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

// --- The machines ------------------------------------------------------------

struct FaultConfiguration {
  const char* name;
  bool uninstall;
  bool enterprise;
  bool sixtyFourBit;
  bool ignoreErrors = false;        // "-e"
  bool configFromRegistry = false;  // "-r"
  // The second printer is on an old monitor port that the configuration
  // does not name, so that it ends on "FILE:"; a third, put on a monitor
  // port and a parallel port by hand, goes back onto both; a fourth, on a
  // named and an unnamed monitor port, comes back onto the named one only.
  bool printerOnUnnamedPort = false;
  bool uninstallAfterwards = false;  // the next command is an uninstallation
};

void PrintTo(const FaultConfiguration& configuration, std::ostream* out) {
  *out << configuration.name;
}

const FaultConfiguration kConfigurations[] = {
    {"install Standard 64-bit", false, false, true},
    {"install Standard 32-bit", false, false, false},
    {"install Enterprise 64-bit", false, true, true},
    {"install Enterprise 32-bit", false, true, false},
    {"uninstall Standard 64-bit", true, false, true},
    {"uninstall Standard 32-bit", true, false, false},
    {"uninstall Enterprise 64-bit", true, true, true},
    {"uninstall Enterprise 32-bit", true, true, false},
    // The same installation with every stop passed over, and with the two
    // ports read from the registry.
    {"install Standard 64-bit ignoring errors", false, false, true, true, false},
    {"install Standard 64-bit from the registry", false, false, true, false, true},
    // An installation, each followed by an uninstallation.
    {"install Standard 64-bit then uninstall", false, false, true, false, false, true, true},
};

constexpr const char* kSecondPrinter = "Reception Inkjet";
constexpr std::string_view kPassword = "secret";

// Two configured ports, each with a printer to assign.
constexpr const char* kTwoPortIni =
    "[1]\r\n"
    "Description=First floor\r\n"
    "ServerIP=192.168.10.5\r\n"
    "ServerIP2=192.168.10.6\r\n"
    "Queue=Mono\r\n"
    "AssignPrinter=Office Laser\r\n"
    "[2]\r\n"
    "ServerIP=192.168.10.7\r\n"
    "AuthType=2\r\n"
    "AuthText=secret\r\n"
    "AssignPrinter=Reception Inkjet\r\n";

// The typical machine with an earlier installation of the edition in
// place (so that releasing printers and removing the monitor have work to
// do) and a configuration of two ports and two printers.
class FaultMachine final : public MachineFixture {
 public:
  explicit FaultMachine(const FaultConfiguration& configuration) : configuration_(configuration) {
    if (!configuration.sixtyFourBit) {
      UseThirtyTwoBitWindows();
    } else {
      machine.version.nativeMachine = 0x8664;  // IsWow64Process2 answers too
    }
    const std::string ini = kTwoPortIni;
    machine.WriteFile(kIniPath, configuration.printerOnUnnamedPort
                                    ? ini.substr(0, ini.find("AssignPrinter=Reception"))
                                    : ini);
    machine.spooler.AddPrinter(kSecondPrinter, kPrinterPort);

    const bool enterprise = configuration.enterprise;
    const bool wide = configuration.sixtyFourBit;
    const std::string word = enterprise ? "TolvoE" : "Tolvo";
    const std::string monitorDll = enterprise ? (wide ? "TOLVOE64.DLL" : "TOLVOE.DLL")
                                              : (wide ? "TOLVOVS64.DLL" : "TOLVOVS.DLL");
    machine.spooler.AddMonitor(word, monitorDll, wide ? "Windows x64" : "");
    machine.spooler.AddPort(word + "001", word);
    machine.spooler.AddPort(word + "002", word);
    machine.spooler.FindPrinter(kPrinterName)->ports = word + "001";
    machine.spooler.FindPrinter(kSecondPrinter)->ports = word + "002," + kPrinterPort;
    if (configuration.printerOnUnnamedPort) {
      machine.spooler.AddPort(word + "007", word);
      machine.spooler.FindPrinter(kSecondPrinter)->ports = word + "007";
      machine.spooler.AddPrinter("Hand Set", word + "002," + kPrinterPort);
      machine.spooler.AddPort(word + "003", word);
      machine.spooler.AddPrinter("Part Back", word + "001," + word + "003");
    }
    WriteSystemFile(monitorDll, "old " + monitorDll);
    WriteSystemFile("TolvoEvent.dll", "old TolvoEvent.dll");
    if (configuration.configFromRegistry) {
      SeedRegistryConfiguration(word);
    }
  }

  // The two ports of the configuration file as registry values, where a
  // 32-bit process reads them.
  void SeedRegistryConfiguration(const std::string& word) {
    const std::string root =
        std::string(machine.version.wow64 ? "SOFTWARE\\Wow6432Node" : "SOFTWARE") +
        "\\Kestrum Corporation\\" + word + "\\PortInstallCfg\\";
    machine.registry.SetString(root + "1", "Description", "First floor");
    machine.registry.SetString(root + "1", "ServerIP", "192.168.10.5");
    machine.registry.SetString(root + "1", "ServerIP2", "192.168.10.6");
    machine.registry.SetString(root + "1", "Queue", "Mono");
    machine.registry.SetString(root + "1", "AssignPrinter", kPrinterName);
    machine.registry.SetString(root + "2", "ServerIP", "192.168.10.7");
    machine.registry.SetDword(root + "2", "AuthType", 2);
    machine.registry.SetString(root + "2", "AuthText", "secret");
    machine.registry.SetString(root + "2", "AssignPrinter", kSecondPrinter);
  }

  int RunConfiguration(TraceSink* trace = nullptr) {
    std::vector<std::string> arguments;
    if (configuration_.ignoreErrors) {
      arguments.emplace_back("-e");
    }
    if (configuration_.configFromRegistry) {
      arguments.emplace_back("-r");
    }
    if (configuration_.enterprise) {
      arguments.emplace_back("-a");
    }
    if (configuration_.uninstall) {
      arguments.emplace_back("-u");
    }
    return Run(arguments, trace);
  }

  void TestBody() override {}

 private:
  FaultConfiguration configuration_;
};

// --- Errors Windows could answer --------------------------------------------

// One plausible error for each call, as Windows reports it when the call
// itself fails (not the answers the installer expects in its ordinary
// course, such as 122 from a size query or 3000 for a missing monitor).
DWORD PlausibleError(const std::string& function) {
  static const std::map<std::string, DWORD> kErrors = {
      {"AddMonitorA", ERROR_ACCESS_DENIED},
      {"CloseHandle", ERROR_INVALID_HANDLE},
      {"ClosePrinter", ERROR_INVALID_HANDLE},
      {"CopyFileA", ERROR_ACCESS_DENIED},
      {"CreateDirectoryA", ERROR_ACCESS_DENIED},
      {"CreateMutexA", ERROR_ACCESS_DENIED},
      {"CreateProcessA", ERROR_FILE_NOT_FOUND},
      {"DeleteFileA", ERROR_ACCESS_DENIED},
      {"DeleteMonitorA", ERROR_ACCESS_DENIED},
      {"DeregisterEventSource", ERROR_INVALID_HANDLE},
      {"EnumPortsA", ERROR_ACCESS_DENIED},
      {"EnumMonitorsA", 1722},  // RPC_S_SERVER_UNAVAILABLE: the spooler is not running
      {"EnumPrintersA", 1722},  // RPC_S_SERVER_UNAVAILABLE: the spooler is not running
      {"FindClose", ERROR_INVALID_HANDLE},
      {"FindFirstFileA", ERROR_ACCESS_DENIED},
      {"FindNextFileA", ERROR_ACCESS_DENIED},
      {"FreeLibrary", ERROR_INVALID_HANDLE},
      {"GetCurrentDirectoryA", ERROR_ACCESS_DENIED},
      {"GetEnvironmentVariableA", 203},  // ERROR_ENVVAR_NOT_FOUND
      {"GetExitCodeProcess", ERROR_ACCESS_DENIED},
      {"GetFileAttributesA", ERROR_ACCESS_DENIED},
      {"GetModuleHandleA", ERROR_MOD_NOT_FOUND},
      {"GetPrinterA", ERROR_ACCESS_DENIED},
      {"GetPrivateProfileIntA", ERROR_FILE_NOT_FOUND},
      {"GetPrivateProfileStringA", ERROR_FILE_NOT_FOUND},
      {"GetProcAddress", ERROR_PROC_NOT_FOUND},
      {"GetSystemDirectoryA", ERROR_ACCESS_DENIED},
      {"GetVersionExA", ERROR_INVALID_PARAMETER},
      {"GetWindowsDirectoryA", ERROR_ACCESS_DENIED},
      {"GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY},
      {"GlobalFree", ERROR_INVALID_HANDLE},
      {"IsWow64Process", ERROR_INVALID_HANDLE},
      {"LoadLibraryA", ERROR_MOD_NOT_FOUND},
      {"MultiByteToWideChar", 1113},  // ERROR_NO_UNICODE_TRANSLATION
      {"OpenPrinterA", 1801},         // ERROR_INVALID_PRINTER_NAME
      {"OpenPrinterW", ERROR_ACCESS_DENIED},
      {"OpenRunLog", 32},  // ERROR_SHARING_VIOLATION
      {"RegCloseKey", ERROR_INVALID_HANDLE},
      {"RegCreateKeyExA", ERROR_ACCESS_DENIED},
      {"RegDeleteKeyA", ERROR_ACCESS_DENIED},
      {"RegDeleteValueA", ERROR_ACCESS_DENIED},
      {"RegOpenKeyExA", ERROR_ACCESS_DENIED},
      {"RegQueryValueExA", ERROR_ACCESS_DENIED},
      {"RegSetValueExA", ERROR_ACCESS_DENIED},
      {"RegisterEventSourceA", 1722},
      {"ReleaseMutex", 288},  // ERROR_NOT_OWNER
      {"RemoveDirectoryA", ERROR_ACCESS_DENIED},
      {"ReportEventA", 1502},  // ERROR_LOG_FILE_FULL
      {"SetCurrentDirectoryA", ERROR_FILE_NOT_FOUND},
      {"SetDefaultDllDirectories", ERROR_INVALID_PARAMETER},
      {"SetDllDirectoryA", ERROR_INVALID_PARAMETER},
      {"SetFileAttributesA", ERROR_ACCESS_DENIED},
      {"SetPrinterA", ERROR_ACCESS_DENIED},
      {"WaitForSingleObject", ERROR_INVALID_HANDLE},
      {"Wow64DisableWow64FsRedirection", ERROR_INVALID_FUNCTION},
      {"XcvDataW", ERROR_ACCESS_DENIED},
  };
  const auto it = kErrors.find(function);
  return it == kErrors.end() ? ERROR_ACCESS_DENIED : it->second;
}

// Calls that cannot fail on Windows, so failing them proves nothing.
bool CannotFail(const std::string& function) {
  return function == "GetCurrentProcess";
}

// Calls that release what they are given. When one fails the simulated
// machine keeps that one resource, as Windows would; the installer cannot
// do anything better than not retry.
bool ReleasedKind(const std::string& function, std::string& kind) {
  static const std::map<std::string, std::string> kReleases = {
      {"RegCloseKey", "registry key"},
      {"ClosePrinter", "printer"},
      {"FindClose", "search"},
      {"FreeLibrary", "module"},
      {"GlobalFree", "global memory"},
      {"LocalFree", "local memory"},
      {"DeregisterEventSource", "event source"},
      {"CloseHandle", ""},  // a process, a thread, a mutex or a file
  };
  const auto it = kReleases.find(function);
  if (it == kReleases.end()) {
    return false;
  }
  kind = it->second;
  return true;
}

// --- The stop rules ------------------------------------------------------------

// The printed steps of both sequences; a call belongs to the last one
// printed before it.
enum class Step {
  StartUp,  // before the first step: run log, configuration path, .NET check
  Version,
  FileCheck,       // the file tests, the kit's security, the spooler's answer
  RememberedKeys,  // the keys that remember printers, made once the spooler answered
  Release,         // from the first monitor port found in a printer's list
  ClientRemoval,
  MonitorRemoval,
  DeleteFiles,
  CopyFiles,
  Registration,
  Later,  // ports, event source, printers, client, fonts, the driver's end
};

struct StepHeading {
  std::string_view text;
  Step step;
};

const StepHeading kHeadings[] = {
    {"\n  - Detecting Windows Version\n", Step::Version},
    {"\n  - Checking Files\n", Step::FileCheck},
    {"\n  - Port ", Step::Release},
    {"\n  - Uninstalling Tolvo Client Graphical User Interface\n", Step::ClientRemoval},
    {"\n  - Removing Old ", Step::MonitorRemoval},
    {"\n  - Deleting ", Step::DeleteFiles},
    {"\n  - Copying Files to Windows System Directory \n", Step::CopyFiles},
    {"\n  - Registering ", Step::Registration},
    {"\n  - Adding port configuration\n", Step::Later},
};

Step StepAt(std::string_view consoleSoFar) {
  Step step = Step::StartUp;
  std::size_t latest = 0;
  bool found = false;
  for (const StepHeading& heading : kHeadings) {
    const std::size_t at = consoleSoFar.rfind(heading.text);
    if (at != std::string_view::npos && (!found || at > latest)) {
      latest = at;
      step = heading.step;
      found = true;
    }
  }
  return step;
}

// True when `function` failing within `step` is that step's failure and
// the step is one that ends the run (no "-e" is given here):
// - start-up: the run log cannot be opened, placed or told apart from the
//   site script, the installation lock cannot be made, checked or waited
//   for, or the .NET Framework 2.0 cannot be confirmed;
// - file check: a required file cannot be found or read;
// - the keys that remember printers cannot be created with their
//   descriptor or their descriptor read;
// - monitor removal: DeleteMonitorA fails with anything but 3000;
// - system-directory copies: a file cannot be copied there;
// - registration: AddMonitorA fails.
// With "-e" only the start-up failures end the run, a spooler that does
// not answer before the first change (EnumMonitorsA, asked for nothing else)
// and the kit's or the configuration's security that cannot be read (in
// the file check, or for Quarvel.exe after the version).
// Every other failure is reported or passed over, and the run succeeds:
// the version probes retry or fall back (to a workstation, to no WOW64),
// and deletions, printer release, ports, event source, printer assignment,
// client and fonts never end a sequence.
bool FailureStops(Step step, const std::string& function, bool ignoreErrors) {
  const bool security = function.find("Secur") != std::string::npos;
  if (function == "EnumMonitorsA" ||
      ((step == Step::FileCheck || step == Step::Version) && security) ||
      (step == Step::FileCheck && function == "RegOpenKeyExA")) {
    return true;
  }
  if (ignoreErrors && step != Step::StartUp) {
    return false;  // "-e" passes over every stop of the sequence
  }
  switch (step) {
    case Step::StartUp:
      // (A mutex of the earlier name that denies this account is passed over.)
      return function == "OpenRunLog" || function == "GetWindowsDirectoryA" ||
             function == "CreateFileA" || function == "GetFileInformationByHandle" || security ||
             function == "WaitForSingleObject" || function == "RegOpenKeyExA" ||
             function == "RegQueryValueExA";
    case Step::FileCheck:
      return function == "GetFileAttributesA" || function == "CreateFileA" ||
             function == "ReadFile";
    case Step::RememberedKeys:
      return function == "RegCreateKeyExA" || security;
    case Step::MonitorRemoval:
      return function == "DeleteMonitorA";
    case Step::CopyFiles:
      return function == "CopyFileA" || function == "GetSystemDirectoryA";
    case Step::Registration:
      return function == "AddMonitorA";
    case Step::Version:
      return false;  // the probes retry or fall back
    case Step::ClientRemoval:
    case Step::Release:
    case Step::DeleteFiles:
    case Step::Later:
      return false;
  }
  return false;
}

// --- The runs --------------------------------------------------------------------

struct CallOccurrence {
  std::string function;
  int occurrence;
  Step step;
};

// The trace's call lines ("<ms> Name(...") in order, by name and whole.
std::vector<std::pair<std::string, std::string>> TracedCalls(const std::string& trace) {
  std::vector<std::pair<std::string, std::string>> calls;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t name = line.find_first_not_of(" 0123456789");
    const std::size_t end = line.find_first_not_of(
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_", name);
    if (name != std::string::npos && name > 0 && line[name - 1] == ' ' && end != name &&
        end != std::string::npos && line[end] == '(') {
      calls.emplace_back(line.substr(name, end - name), line);
    }
  }
  return calls;
}

// A traced run with the same configuration as `clean`: the same console,
// run log, calls and exit code; the calls listed in the trace; the
// password shown as a placeholder in the trace and masked on the console.
void ExpectTracedRunMatches(const FaultConfiguration& configuration, const FaultMachine& clean,
                            int exitCode) {
  FaultMachine traced(configuration);
  MemoryTrace trace;
  EXPECT_EQ(traced.RunConfiguration(&trace), exitCode) << configuration.name;
  EXPECT_EQ(traced.machine.console, clean.machine.console) << configuration.name;
  EXPECT_EQ(traced.RunLog(), clean.RunLog()) << configuration.name;
  EXPECT_EQ(traced.machine.calls(), clean.machine.calls()) << configuration.name;
  std::vector<std::string> names;
  for (const auto& call : TracedCalls(trace.text)) {
    names.push_back(call.first);
  }
  EXPECT_EQ(names, traced.machine.calls()) << configuration.name;
  EXPECT_EQ(trace.text.find(kPassword), std::string::npos) << trace.text;
  EXPECT_EQ(clean.machine.console.find(kPassword), std::string::npos) << configuration.name;
  if (!configuration.uninstall) {
    EXPECT_NE(clean.machine.console.find(" ********\n"), std::string::npos) << configuration.name;
    EXPECT_NE(trace.text.find(kTraceSecretPlaceholder), std::string::npos) << configuration.name;
  }
}

// The trace of a run in which `call` failed with `error`: every call the
// machine received, the failed one showing its error, and no password.
void ExpectTraceShowsTheFailure(const FaultMachine& run, const std::string& trace,
                                const CallOccurrence& call, DWORD error,
                                const std::string& description) {
  const auto traced = TracedCalls(trace);
  const std::vector<std::string>& calls = run.machine.calls();
  ASSERT_EQ(traced.size(), calls.size()) << description << "\n" << trace;
  int occurrence = 0;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(traced[i].first, calls[i]) << description;
    // The profile readers have no failure value: a run cannot tell.
    if (calls[i] == call.function && ++occurrence == call.occurrence &&
        call.function.rfind("GetPrivateProfile", 0) != 0) {
      const std::regex shown("\\) = (.* error )?" + std::to_string(error) + "( .*)?$");
      EXPECT_TRUE(std::regex_search(traced[i].second, shown)) << description << "\n"
                                                              << traced[i].second;
    }
  }
  EXPECT_EQ(trace.find(kPassword), std::string::npos) << description;
}

// The next command after a run, on the same machine: the same one again,
// or an uninstallation.
int RunToItsEnd(const FaultConfiguration& configuration, FaultMachine& m) {
  m.machine.EndProcess();
  m.machine.console.clear();
  return configuration.uninstallAfterwards ? m.Run({"-u"}) : m.RunConfiguration();
}

// What lasts of a machine. An uninstallation keeps the event source and its
// message file, which an installation stopped early had not yet
// registered: they are left out.
std::string LastingState(const FaultConfiguration& configuration, const FaultMachine& m) {
  const std::string state = m.machine.StateText(kRunLogPath);
  if (!configuration.uninstallAfterwards) {
    return state;
  }
  std::string kept;
  std::istringstream lines(state);
  for (std::string line; std::getline(lines, line);) {
    const bool eventSource = line.find("TolvoPort") != std::string::npos ||
                             line.find("TolvoEvent.dll") != std::string::npos;
    kept += eventSource ? "" : line + '\n';
  }
  return kept;
}

std::vector<CallOccurrence> RecordCleanRun(const FaultConfiguration& configuration,
                                           std::string& successLine, std::string& endState) {
  FaultMachine clean(configuration);
  const int exitCode = clean.RunConfiguration();
  ExpectTracedRunMatches(configuration, clean, exitCode);
  EXPECT_EQ(exitCode, 0) << configuration.name << "\n" << clean.machine.console;
  EXPECT_TRUE(clean.machine.OpenResources().empty()) << configuration.name;
  const std::string& console = clean.machine.console;
  if (!configuration.uninstall) {
    // Both configured ports were created and both printers moved onto them
    // (the second unless it was on a port the configuration does not name).
    const std::string word = configuration.enterprise ? "TolvoE" : "Tolvo";
    EXPECT_EQ(clean.machine.spooler.PrinterPorts(kPrinterName), word + "001") << configuration.name;
    EXPECT_EQ(clean.machine.spooler.PrinterPorts(kSecondPrinter),
              configuration.printerOnUnnamedPort ? "FILE:" : word + "002")
        << configuration.name;
  }
  const std::size_t lastLine = console.rfind('\n', console.size() - 2);
  successLine = console.substr(lastLine + 1);

  std::vector<CallOccurrence> occurrences;
  std::map<std::string, int> counts;
  const std::vector<std::string>& calls = clean.machine.calls();
  const std::vector<std::size_t>& consoleSizes = clean.machine.callConsoleSizes();
  bool spoolerAnswered = false;
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const int occurrence = ++counts[calls[i]];
    Step step = StepAt(std::string_view(console).substr(0, consoleSizes[i]));
    // The keys have no heading: they are made once the spooler has answered.
    if (spoolerAnswered && (step == Step::FileCheck || step == Step::Version)) {
      step = Step::RememberedKeys;
    }
    spoolerAnswered = spoolerAnswered || calls[i] == "EnumMonitorsA";
    if (!CannotFail(calls[i])) {
      occurrences.push_back({calls[i], occurrence, step});
    }
  }
  EXPECT_EQ(RunToItsEnd(configuration, clean), 0) << configuration.name;
  endState = LastingState(configuration, clean);
  return occurrences;
}

std::string Describe(const FaultConfiguration& configuration, const CallOccurrence& call,
                     DWORD error) {
  std::ostringstream text;
  text << configuration.name << ": " << call.function << " #" << call.occurrence << " failing with "
       << error;
  return text.str();
}

// Resources still open that the failed release itself explains.
std::vector<std::string> UnexplainedResources(const std::vector<std::string>& open,
                                              const std::string& function) {
  std::string kind;
  if (!ReleasedKind(function, kind) || open.size() != 1) {
    return open;
  }
  const bool explained =
      kind.empty() ? (open[0].rfind("process ", 0) == 0 || open[0].rfind("thread ", 0) == 0 ||
                      open[0].rfind("mutex ", 0) == 0 || open[0].rfind("file ", 0) == 0 ||
                      open[0].rfind("token ", 0) == 0)
                   : open[0].rfind(kind + " ", 0) == 0;
  return explained ? std::vector<std::string>{} : open;
}

// What the command interpreter prints when the folder that rmdir is to
// remove is not there: the interpreter shares the console but never holds
// the run log.
constexpr std::string_view kInterpreterNotFound = "The system cannot find the file specified.";

// The run log holds what the console showed, less the findings that go to
// the console only and what started programs printed; nothing at all when
// the log could not be opened, and a run that did not take the installation
// lock leaves it alone, saying why on the console alone.
void ExpectRunLogMatchesConsole(const FaultMachine& run, const std::string& description) {
  const std::optional<std::string> log = run.machine.ReadFile(kRunLogPath);
  if (!log) {
    const std::string& console = run.machine.console;
    EXPECT_TRUE(console.empty() || std::regex_search(console, std::regex("Tolvo [Ii]nstallation")))
        << description << "\n"
        << console;
    return;
  }
  const std::string installerLines = WithoutLinesStartingWith(
      WithoutLinesStartingWith(run.machine.console, kConsoleOnlyPrefix), kInterpreterNotFound);
  EXPECT_EQ(*log, WithCrlf(installerLines)) << description;
}

struct Tally {
  int runs = 0;
  int stopping = 0;
};

// A failed WOW64 probe or redirection switch is taken for a 32-bit Windows
// or its system folder: that run puts files there, which a run that knows
// better does not remove.
bool TakenForThirtyTwoBitWindows(const CallOccurrence& call) {
  static const std::set<std::string> kProbes = {"IsWow64Process", "GetModuleHandleA",
                                                "GetProcAddress", "Wow64DisableWow64FsRedirection"};
  return kProbes.count(call.function) != 0;
}

// After the run with one failure, the next command runs cleanly to its end
// and must leave the machine as it leaves it after a clean run.
void RunWithOneFailure(const FaultConfiguration& configuration, const CallOccurrence& call,
                       const std::string& successLine, const std::string& endState, Tally& tally) {
  const DWORD error = PlausibleError(call.function);
  const std::string description = Describe(configuration, call, error);
  FaultMachine run(configuration);
  run.machine.FailCall(call.function, error, call.occurrence);
  MemoryTrace trace;

  const int exitCode = run.RunConfiguration(&trace);

  ++tally.runs;
  const std::string& console = run.machine.console;
  const bool reportedSuccess = console.find(" Sucessfully.\n") != std::string::npos;
  // A printer the failure left on a port of the monitor keeps the spooler
  // from removing it, which ends the run as any refused removal does.
  const bool monitorInUse =
      run.machine.spooler.monitorInUseRefusals > 0 && !configuration.ignoreErrors;
  if (monitorInUse || FailureStops(call.step, call.function, configuration.ignoreErrors)) {
    ++tally.stopping;
    EXPECT_EQ(exitCode, -1) << description << "\n" << console;
    EXPECT_FALSE(reportedSuccess) << description << "\n" << console;
    EXPECT_TRUE(run.machine.registry.events.empty() || configuration.uninstall) << description;
  } else {
    EXPECT_EQ(exitCode, 0) << description << "\n" << console;
    // The success line closes the transcript.
    const bool endsWithSuccess =
        console.size() >= successLine.size() &&
        console.compare(console.size() - successLine.size(), successLine.size(), successLine) == 0;
    EXPECT_TRUE(endsWithSuccess) << description << "\n" << console;
  }
  EXPECT_EQ(UnexplainedResources(run.machine.OpenResources(), call.function),
            std::vector<std::string>{})
      << description;
  ExpectRunLogMatchesConsole(run, description);
  ExpectTraceShowsTheFailure(run, trace.text, call, error, description);
  run.machine.ClearFaults();
  EXPECT_EQ(RunToItsEnd(configuration, run), 0) << description << "\n" << run.machine.console;
  if (!TakenForThirtyTwoBitWindows(call)) {
    EXPECT_EQ(LastingState(configuration, run), endState) << description;
  }
}

// The runs of every machine this process went through, for the summary
// printed at its end.
struct Summary {
  int machines = 0;
  Tally tally;
};
Summary& ProcessSummary() {
  static Summary summary;
  return summary;
}

class SummaryPrinter : public ::testing::Environment {
 public:
  void TearDown() override {
    const Summary& summary = ProcessSummary();
    if (summary.machines > 0) {
      std::cout << "[ fault runs ] total: " << summary.tally.runs
                << " runs with one failing call on " << summary.machines << " machines, "
                << summary.tally.stopping << " of them ending the run\n";
    }
  }
};
::testing::Environment* const kSummaryPrinter =
    ::testing::AddGlobalTestEnvironment(new SummaryPrinter);

// Thousands of machines are made and removed here; on a disk each one costs
// file-system journal work that dwarfs the run itself. Where the system
// offers a memory-backed folder, the machines of these runs live there.
class MemoryBackedTemporaryFolder {
 public:
  MemoryBackedTemporaryFolder() {
    if (access(kMemoryFolder, W_OK) != 0) {
      return;
    }
    if (const char* previous = std::getenv("TMPDIR")) {
      previous_ = previous;
    }
    changed_ = setenv("TMPDIR", kMemoryFolder, 1) == 0;
  }
  ~MemoryBackedTemporaryFolder() {
    if (!changed_) {
      return;
    }
    if (previous_) {
      setenv("TMPDIR", previous_->c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
  }
  MemoryBackedTemporaryFolder(const MemoryBackedTemporaryFolder&) = delete;
  MemoryBackedTemporaryFolder& operator=(const MemoryBackedTemporaryFolder&) = delete;

 private:
  static constexpr const char* kMemoryFolder = "/dev/shm";
  std::optional<std::string> previous_;
  bool changed_ = false;
};

class EveryCallFails : public ::testing::TestWithParam<FaultConfiguration> {};

TEST_P(EveryCallFails, NeverCrashesLeaksOrReportsAStoppedRunAsSuccessful) {
  const FaultConfiguration& configuration = GetParam();
  const MemoryBackedTemporaryFolder temporaryFolder;
  std::string successLine;
  std::string endState;
  const std::vector<CallOccurrence> occurrences =
      RecordCleanRun(configuration, successLine, endState);
  ASSERT_FALSE(occurrences.empty());

  Tally tally;
  for (const CallOccurrence& call : occurrences) {
    RunWithOneFailure(configuration, call, successLine, endState, tally);
    if (HasFatalFailure()) {
      return;
    }
  }
  EXPECT_GT(tally.stopping, 0);
  Summary& summary = ProcessSummary();
  ++summary.machines;
  summary.tally.runs += tally.runs;
  summary.tally.stopping += tally.stopping;
  RecordProperty("fault_runs", tally.runs);
  RecordProperty("stopping_fault_runs", tally.stopping);
  std::cout << "[ fault runs ] " << configuration.name << ": " << tally.runs << " runs, "
            << tally.stopping << " of them with a failure that ends the run\n";
}

// A failed current-directory query leaves the configuration file named
// relative to the current directory, which is still the program folder,
// not at the root of the drive.
TEST(FailedStartUpQuery, CurrentDirectoryStillFindsTheProgramFoldersConfiguration) {
  FaultMachine run(kConfigurations[0]);
  run.machine.WriteFile("C:\\Tolvo.ini", "[1]\r\nServerIP=10.9.9.9\r\n");
  run.machine.FailCall("GetCurrentDirectoryA", ERROR_ACCESS_DENIED);

  EXPECT_EQ(run.RunConfiguration(), 0) << run.machine.console;

  EXPECT_NE(run.machine.console.find("    New - IP:192.168.10.5:9100, Desc:First floor, "
                                     "Queue:Mono, Type:1 \n"),
            std::string::npos)
      << run.machine.console;
  EXPECT_EQ(run.machine.console.find("10.9.9.9"), std::string::npos);
  EXPECT_TRUE(run.machine.OpenResources().empty());
}

// Without the Windows directory there is no place for the default run log:
// the run ends before printing anything, rather than write the log at the
// root of the current drive.
TEST(FailedStartUpQuery, WindowsDirectoryEndsTheRunWithoutALogAtTheDriveRoot) {
  FaultMachine run(kConfigurations[0]);
  run.machine.FailCall("GetWindowsDirectoryA", ERROR_ACCESS_DENIED);

  EXPECT_EQ(run.RunConfiguration(), -1);

  EXPECT_NE(run.machine.console.find("ERROR (5) While Checking for Another Tolvo Installation.\n"),
            std::string::npos);
  EXPECT_FALSE(run.machine.Exists("C:\\TLPortInstall.log"));
  EXPECT_FALSE(run.machine.Exists(kRunLogPath));
  EXPECT_EQ(run.machine.CallCount("DeleteMonitorA"), 0);
  EXPECT_TRUE(run.machine.OpenResources().empty());
}

// --- Runs killed at every call ----------------------------------------------------
//
// For every call of an uninterrupted run, the run is killed at that call as
// a deployment engine or a power cut kills it (see SimWindows::KillAtCall),
// then the next command runs to its end: the same one again, or an
// uninstallation. It must succeed and leave the machine exactly as the
// uninterrupted run (and that uninstallation) does; only the run log's
// earlier text may differ, and it holds nothing the killed run did not print.

const FaultConfiguration kInterruptions[] = {
    {"install Standard 64-bit", false, false, true, false, false, true},
    {"install Enterprise 32-bit", false, true, false},
    {"uninstall Standard 64-bit", true, false, true},
    {"install Standard 64-bit then uninstall", false, false, true, false, false, true, true},
};

class EveryCallInterrupted : public ::testing::TestWithParam<FaultConfiguration> {};

TEST_P(EveryCallInterrupted, RunningTheCommandAgainLeavesTheMachineAsAnUninterruptedRun) {
  const FaultConfiguration& configuration = GetParam();
  const MemoryBackedTemporaryFolder temporaryFolder;
  const auto runToItsEnd = [&](FaultMachine& m) { return RunToItsEnd(configuration, m); };
  const auto lastingState = [&](const FaultMachine& m) { return LastingState(configuration, m); };
  FaultMachine reference(configuration);
  ASSERT_EQ(reference.RunConfiguration(), 0);
  const std::vector<std::string> calls = reference.machine.calls();
  const std::string fullLog = reference.RunLog();
  ASSERT_EQ(runToItsEnd(reference), 0);
  const std::string expected = lastingState(reference);
  if (configuration.printerOnUnnamedPort) {
    // Back on both ports, or on what the removal left: so must every re-run leave it.
    EXPECT_EQ(reference.machine.spooler.PrinterPorts("Hand Set"),
              configuration.uninstallAfterwards ? "LPT1:" : "Tolvo002,LPT1:");
    EXPECT_EQ(reference.machine.spooler.PrinterPorts("Part Back"),
              configuration.uninstallAfterwards ? "FILE:" : "Tolvo001");
  }

  int converged = 0;
  for (std::size_t call = 1; call <= calls.size(); ++call) {
    const std::string description =
        "killed at call " + std::to_string(call) + " " + calls[call - 1];
    FaultMachine run(configuration);
    run.machine.KillAtCall(call);
    run.RunConfiguration();
    ASSERT_TRUE(run.machine.killed()) << description;
    run.machine.EndProcess();
    const std::string killedLog = run.machine.ReadFile(kRunLogPath).value_or("");
    EXPECT_EQ(fullLog.substr(0, killedLog.size()), killedLog) << description;

    EXPECT_EQ(runToItsEnd(run), 0) << description << "\n" << run.machine.console;
    EXPECT_TRUE(run.machine.OpenResources().empty()) << description;
    EXPECT_EQ(run.RunLog().substr(killedLog.size()),
              WithCrlf(WithoutLinesStartingWith(run.machine.console, kConsoleOnlyPrefix)))
        << description;
    const std::string state = lastingState(run);
    EXPECT_EQ(state, expected) << description;
    converged += state == expected ? 1 : 0;
  }
  std::cout << "[ interrupted ] " << configuration.name << ": " << calls.size()
            << " calls interrupted, " << converged << " re-runs converged\n";
}

std::string ConfigurationName(const ::testing::TestParamInfo<FaultConfiguration>& info) {
  std::string name = info.param.name;
  name.erase(std::remove_if(name.begin(), name.end(), [](char c) { return c == ' ' || c == '-'; }),
             name.end());
  return name;
}

INSTANTIATE_TEST_SUITE_P(Machines, EveryCallFails, ::testing::ValuesIn(kConfigurations),
                         ConfigurationName);
INSTANTIATE_TEST_SUITE_P(Machines, EveryCallInterrupted, ::testing::ValuesIn(kInterruptions),
                         ConfigurationName);

}  // namespace
}  // namespace tolvo::scenario
