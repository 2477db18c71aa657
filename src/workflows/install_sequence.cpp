#include "workflows/install_sequence.h"

#include <vector>

#include "core/text.h"
#include "portconfig/port_loading.h"
#include "portconfig/printer_assignment.h"
#include "winenv/event_log.h"
#include "winenv/file_deployment.h"
#include "winenv/kit_guard.h"
#include "winenv/printer_disconnection.h"
#include "winenv/product_folders.h"
#include "winenv/remembered_printers.h"
#include "winenv/windows_image.h"
#include "winenv/windows_version.h"
#include "workflows/client_application.h"
#include "workflows/monitor_removal.h"
#include "workflows/run_preconditions.h"
#include "workflows/server_name.h"

namespace tolvo {

namespace {

constexpr const char* kClientKitFiles[] = {kClientExecutable, kClientLibraries[0],
                                           kClientLibraries[1], "Quarvel.exe"};
constexpr DWORD kEventCategoryCount = 10;
// What the spooler calls in a port monitor's DLL when it loads it.
constexpr const char* kMonitorEntryPoint = "InitializePrintMonitor2";

// The monitor DLL and its interface DLL for the system's bitness; both null
// on an unsupported system.
struct BitnessFiles {
  const char* monitorDll = nullptr;
  const char* uiDll = nullptr;
};

BitnessFiles BitnessFilesFor(const EditionProfile& profile, OsClass os) {
  switch (os) {
    case OS_32BIT:
      return {profile.monitorDll32, profile.uiDll32};
    case OS_64BIT:
      return {profile.monitorDll64, profile.uiDll64};
    case OS_UNSUPPORTED:
      break;
  }
  return {};
}

// The graphics library that is replaced in the system directory; none on an
// unsupported system.
const char* DeployedGraphicsLibrary(const EditionProfile& profile, OsClass os) {
  switch (os) {
    case OS_32BIT:
      return profile.cairoLib32;
    case OS_64BIT:
      return profile.cairoLib64;
    case OS_UNSUPPORTED:
      break;
  }
  return nullptr;
}

// The check looks for the 32-bit library on everything but 64-bit Windows.
const char* CheckedGraphicsLibrary(const EditionProfile& profile, OsClass os) {
  return os == OS_64BIT ? profile.cairoLib64 : profile.cairoLib32;
}

const char* OldMonitorDll(const EditionProfile& profile, OsClass os) {
  switch (os) {
    case OS_32BIT:
      return profile.oldMonitorDll32;
    case OS_64BIT:
      return profile.oldMonitorDll64;
    case OS_UNSUPPORTED:
      break;
  }
  return nullptr;
}

bool FileExists(RunContext& context, const char* path) {
  return context.api.GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Tests one required file; reports it under `reportedName` when missing.
bool CheckFile(RunContext& context, const char* path, const char* reportedName) {
  if (FileExists(context, path)) {
    return true;
  }
  context.output.ReportCheckError(reportedName);
  return false;
}

// Tests every file the installation needs, in order. With errors ignored a
// missing file is reported and the check goes on; otherwise it ends at the
// first missing file.
bool CheckRequiredFiles(RunContext& context, OsClass os, bool configFromRegistry,
                        bool ignoreErrors) {
  const EditionProfile& profile = context.profile;
  const BitnessFiles bitness = BitnessFilesFor(profile, os);

  struct Required {
    const char* path;
    const char* reportedName;
  };
  // The configuration file, the graphics library, two bitness files and
  // the four client files at most.
  Required required[8] = {};
  int count = 0;
  if (!configFromRegistry) {
    // The path may come from "-i"; the report always names the file the kit
    // ships with.
    required[count++] = {context.settings.iniPath, profile.iniFileName};
  }
  const char* graphics = CheckedGraphicsLibrary(profile, os);
  required[count++] = {graphics, graphics};
  for (const char* file : {bitness.monitorDll, bitness.uiDll}) {
    if (file != nullptr) {
      required[count++] = {file, file};
    }
  }
  if (!context.settings.enterpriseEdition) {
    for (const char* file : kClientKitFiles) {
      required[count++] = {file, file};
    }
  }

  for (int i = 0; i < count; ++i) {
    if (!CheckFile(context, required[i].path, required[i].reportedName) && !ignoreErrors) {
      return false;
    }
  }
  return true;
}

// One DLL the installation copies. A file missing here was reported by
// the file check.
bool CheckImage(RunContext& context, const char* file, WORD machine, bool monitor) {
  std::vector<BYTE> image;
  if (!ReadImageFile(context.api, file, image)) {
    const DWORD error = context.api.GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return true;
    }
    context.output.PrintFormatted("ERROR (%d) While Checking '%s'.\n", static_cast<int>(error),
                                  file);
    return false;
  }
  const ImageFacts facts = InspectImage(image, monitor ? kMonitorEntryPoint : "");
  if (!facts.dll || facts.machine != machine) {
    context.output.PrintFormatted("ERROR While Checking '%s': Not a %s Windows DLL.\n", file,
                                  machine == kImageMachineAmd64 ? "64-bit" : "32-bit");
    return false;
  }
  if (monitor && !facts.exports) {
    context.output.PrintFormatted("ERROR While Checking '%s': No %s Entry Point.\n", file,
                                  kMonitorEntryPoint);
    return false;
  }
  return true;
}

// The DLLs the installation copies must be Windows DLLs of the system's
// bitness, the monitor's exporting the entry point the spooler calls: one
// the spooler cannot load would fail the registration only after the old
// monitor is gone.
bool CheckDeployedImages(RunContext& context, OsClass os, bool ignoreErrors) {
  const MonitorFiles files = DeployedMonitorFiles(context.profile, os);
  const WORD machine = os == OS_64BIT ? kImageMachineAmd64 : kImageMachineI386;
  bool usable = true;
  for (const char* file : {files.monitorDll, files.uiDll, files.graphicsLibrary}) {
    if (file != nullptr && !CheckImage(context, file, machine, file == files.monitorDll)) {
      usable = false;
    }
    if (!usable && !ignoreErrors) {
      return false;
    }
  }
  return true;
}

void DeleteOldSystemFiles(RunContext& context, OsClass os) {
  const EditionProfile& profile = context.profile;
  context.output.PrintFormatted("  - Deleting %s Print Monitor Files from System Directory\n",
                                profile.productWord);
  const BitnessFiles bitness = BitnessFilesFor(profile, os);
  const char* oldMonitor =
      context.settings.enterpriseEdition ? nullptr : OldMonitorDll(profile, os);
  for (const char* file :
       {bitness.monitorDll, bitness.uiDll, oldMonitor, DeployedGraphicsLibrary(profile, os)}) {
    if (file != nullptr) {
      DeleteFromSystemDirectory(context, file);
    }
  }
}

bool CopySystemFiles(RunContext& context, OsClass os, bool ignoreErrors) {
  const EditionProfile& profile = context.profile;
  context.output.PrintMessage("  - Copying Files to Windows System Directory \n");
  const BitnessFiles bitness = BitnessFilesFor(profile, os);
  for (const char* file :
       {bitness.monitorDll, bitness.uiDll, DeployedGraphicsLibrary(profile, os)}) {
    if (file == nullptr) {
      continue;
    }
    if (CopyToSystemDirectory(context, file) == 0) {
      context.output.ReportCopyError(file);
      if (!ignoreErrors) {
        return false;
      }
    }
  }
  return true;
}

// MONITOR_INFO_2A takes writable strings; the names are copied into
// buffers of this record's own.
class MonitorRegistration {
 public:
  MonitorRegistration(const EditionProfile& profile, OsClass os) {
    const BitnessFiles bitness = BitnessFilesFor(profile, os);
    if (bitness.monitorDll == nullptr) {
      return;  // an unsupported system registers an empty record
    }
    CopyBounded(name_, sizeof name_, profile.productWord);
    CopyBounded(dll_, sizeof dll_, bitness.monitorDll);
    info_.pName = name_;
    info_.pDLLName = dll_;
    if (os == OS_64BIT) {
      CopyBounded(environment_, sizeof environment_, "Windows x64");
      info_.pEnvironment = environment_;
    }
  }

  LPBYTE record() { return reinterpret_cast<LPBYTE>(&info_); }

 private:
  char name_[MAX_PATH] = {};
  char environment_[MAX_PATH] = {};
  char dll_[MAX_PATH] = {};
  MONITOR_INFO_2A info_ = {};
};

bool RegisterMonitor(RunContext& context, OsClass os, const char* serverName) {
  context.output.PrintFormatted("  - Registering %s Print Monitor\n", context.profile.productWord);
  MonitorRegistration registration(context.profile, os);
  // The spooler only reads the server name, though it is declared writable.
  if (context.api.AddMonitorA(const_cast<LPSTR>(serverName), 2, registration.record())) {
    return true;
  }
  const DWORD error = context.api.GetLastError();
  context.output.PrintFormatted("ERROR (%d) While Registering Print Monitor.\n",
                                static_cast<int>(error));
  return false;
}

void RegisterEventSource(RunContext& context) {
  Output& output = context.output;
  if (CopyToSystemDirectory(context, kEventMessageDll) == 0) {
    output.PrintMessage("  ERROR - Event Log Resources file was NOT copied!\n");
    return;
  }
  if (RegisterEventLogSource(context.api, kEventLogName, kEventSourceName, kEventMessageFile,
                             kEventCategoryCount) != 0) {
    output.PrintMessage("  - Event Log Resources WAS installed\n");
  } else {
    output.PrintMessage("  ERROR - Event Log Resources was NOT installed!\n");
  }
}

}  // namespace

MonitorFiles DeployedMonitorFiles(const EditionProfile& profile, OsClass os) {
  const BitnessFiles bitness = BitnessFilesFor(profile, os);
  return {bitness.monitorDll, bitness.uiDll, DeployedGraphicsLibrary(profile, os)};
}

bool KitGuarded(RunContext& context, OsClass os, bool copyFiles) {
  const MonitorFiles monitor =
      copyFiles ? DeployedMonitorFiles(context.profile, os) : MonitorFiles{};
  const bool client = !context.settings.enterpriseEdition;
  return KitFilesGuarded(
             context, {monitor.monitorDll, monitor.uiDll, monitor.graphicsLibrary, kEventMessageDll,
                       client ? kClientExecutable : nullptr, client ? kClientLibraries[0] : nullptr,
                       client ? kClientLibraries[1] : nullptr, client ? kStopTool : nullptr}) &&
         (!client || LanguageResourcesGuarded(context)) &&
         (!copyFiles || FontFilesGuarded(context));
}

namespace {

// From the printers' release on: every step that changes the machine.
bool ChangeMachine(RunContext& context, const InstallOptions& options, OsClass os) {
  const bool ignoreErrors = options.ignoreErrors;
  const bool copyFiles = options.copyFiles;
  const char* serverName = options.serverName;
  Output& output = context.output;
  const EditionProfile& profile = context.profile;
  // A failed step ends the sequence unless errors are to be ignored.
  const auto stop = [ignoreErrors] { return !ignoreErrors; };

  DisconnectMonitorPrinters(context, profile.productWord);

  if (RemoveMonitor(context, serverName) == MonitorRemoval::Failed && stop()) {
    return false;
  }

  if (copyFiles) {
    DeleteOldSystemFiles(context, os);
    if (!CopySystemFiles(context, os, ignoreErrors)) {
      return false;
    }
  }

  if (!RegisterMonitor(context, os, serverName) && stop()) {
    return false;
  }

  output.PrintMessage("  - Adding port configuration\n");
  const PortConfigSource source =
      options.configFromRegistry ? PortConfigSource::Registry : PortConfigSource::ConfigFile;
  int portCount = 0;
  if (!LoadPortConfiguration(context, source, portCount, serverName)) {
    output.PrintMessage("ERROR While adding port configuration\n");
  }

  RegisterEventSource(context);

  AssignPrinters(context, portCount, source);

  if (!context.settings.enterpriseEdition) {
    DeployClientApplication(context);
  }

  if (copyFiles && !InstallFontFiles(context)) {
    output.PrintMessage("  ERROR - Cannot copy Font Files\n");
  }
  return true;
}

}  // namespace

bool InstallPortMonitor(RunContext& context, const InstallOptions& options) {
  const bool ignoreErrors = options.ignoreErrors;
  Output& output = context.output;

  // Whatever the switches: a run on a name that is no server changes
  // nothing at all.
  if (!CheckServerName(context, options.serverName)) {
    return false;
  }

  output.PrintMessage("  - Detecting Windows Version\n");
  const OsClass os = DetectWindowsVersion(context);
  if (os == OS_UNSUPPORTED) {
    output.PrintMessage("ERROR: Unsupported Operating System Detected.\n");
    if (!ignoreErrors) {
      return false;
    }
  }

  if (!CheckMachineServed(context)) {
    return false;
  }

  output.PrintMessage("  - Checking Files\n");
  if (options.copyFiles &&
      (!CheckRequiredFiles(context, os, options.configFromRegistry, ignoreErrors) ||
       !CheckDeployedImages(context, os, ignoreErrors))) {
    return false;
  }
  if (!KitGuarded(context, os, options.copyFiles) ||
      !ConfigurationGuarded(context, options.configFromRegistry)) {
    return false;
  }
  if (!options.configFromRegistry) {
    const ConfigurationText text = CheckConfigurationText(context);
    if (text == ConfigurationText::kUtf8Marked ||
        (text == ConfigurationText::kUnreadable && !ignoreErrors)) {
      return false;
    }
  }
  if (!CheckSpoolerAnswers(context, options.serverName)) {
    return false;
  }

  const RememberedKeys keys = PrepareRememberedPrinters(context);
  if (keys == RememberedKeys::kOpenToOthers || (keys == RememberedKeys::kFailed && !ignoreErrors)) {
    return false;
  }
  // The printers go back onto their ports however the changes end.
  const bool installed = ChangeMachine(context, options, os);
  PutBackPrinters(context, PutBack::kWhenPortsExist);
  return installed;
}

}  // namespace tolvo
