#include "workflows/installation_check.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/text.h"
#include "portconfig/password_exposure.h"
#include "portconfig/port_configuration.h"
#include "portconfig/printer_assignment.h"
#include "winenv/directory_walk.h"
#include "winenv/event_log.h"
#include "winenv/kit_guard.h"
#include "winenv/printer_settings.h"
#include "winenv/program_files.h"
#include "winenv/registry.h"
#include "winenv/remembered_printers.h"
#include "winenv/sized_block.h"
#include "winenv/system_directory.h"
#include "workflows/client_application.h"
#include "workflows/run_preconditions.h"
#include "workflows/server_name.h"

namespace tolvo {

namespace {

// A product folder (the font folder's buffer is the largest) with a file
// name below it always fits, so no path is ever cut into another's.
constexpr std::size_t kFolderSize = 1000;
constexpr std::size_t kPathSize = kFolderSize + 2 * MAX_PATH;

// What the check found so far; every finding is one line.
class Findings {
 public:
  explicit Findings(Output& output) : output_(output) {}

  void Report(bool inPlace, const char* text) {
    output_.PrintFormatted(inPlace ? "    OK - %s\n" : "    ERROR - %s\n", text);
    different_ = different_ || !inPlace;
  }
  // A query that failed: what it stands for stays unchecked.
  void Unchecked(const char* what, DWORD error) {
    output_.PrintFormatted("    ERROR (%d) While Checking %s\n", static_cast<int>(error), what);
    unchecked_ = true;
  }
  CheckOutcome outcome() const {
    if (unchecked_) {
      return CheckOutcome::kNotChecked;
    }
    return different_ ? CheckOutcome::kDifferent : CheckOutcome::kAsConfigured;
  }

 private:
  Output& output_;
  bool different_ = false;
  bool unchecked_ = false;
};

void CheckFile(RunContext& context, Findings& findings, const char* path) {
  const bool present = context.api.GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  char text[kMessageBufferSize];
  FormatBounded(text, sizeof text, present ? "File %s" : "File %s NOT found", path);
  findings.Report(present, text);
}

void CheckSystemFile(RunContext& context, Findings& findings, const char* name) {
  char path[MAX_PATH];
  if (!SystemDirectoryPath(context.api, name, path, sizeof path)) {
    findings.Unchecked("the System Directory", context.api.GetLastError());
    return;
  }
  CheckFile(context, findings, path);
}

// A spooler listing by the two-call size pattern. An empty list is one too:
// its first call succeeds.
struct SpoolerListing {
  explicit SpoolerListing(WinApi& api) : block(api) {}
  template <typename Record>
  const Record* records() const {
    return static_cast<const Record*>(block.get());
  }
  UniqueGlobal block;
  DWORD count = 0;              // records in the block, never more than it holds
  DWORD error = ERROR_SUCCESS;  // why the listing failed
};

template <typename Record, typename Call>
SpoolerListing ListFromSpooler(WinApi& api, Call call) {
  SpoolerListing listing(api);
  bool nothingToList = false;
  DWORD needed = 0;
  listing.block =
      CallWithSizedBlock(api, needed, 0, [&](LPBYTE buffer, DWORD size, LPDWORD sizeNeeded) {
        const BOOL listed = call(buffer, size, sizeNeeded, &listing.count);
        nothingToList = listed && buffer == nullptr;
        return listed;
      });
  if (listing.block) {
    listing.count = std::min<DWORD>(listing.count, needed / sizeof(Record));
    return listing;
  }
  listing.count = 0;
  if (!nothingToList) {
    const DWORD error = api.GetLastError();
    listing.error = error != ERROR_SUCCESS ? error : ERROR_INVALID_DATA;  // it gave no reason
  }
  return listing;
}

void CheckMonitor(RunContext& context, Findings& findings, const char* serverName,
                  const char* monitorDll) {
  const char* word = context.profile.productWord;
  const SpoolerListing monitors = ListFromSpooler<MONITOR_INFO_2A>(
      context.api, [&](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD count) {
        return context.api.EnumMonitorsA(const_cast<LPSTR>(serverName), 2, buffer, size, needed,
                                         count);
      });
  if (monitors.error != ERROR_SUCCESS) {
    findings.Unchecked("Print Monitors", monitors.error);
    return;
  }
  const MONITOR_INFO_2A* found = nullptr;
  for (DWORD i = 0; i < monitors.count; ++i) {
    const MONITOR_INFO_2A& monitor = monitors.records<MONITOR_INFO_2A>()[i];
    if (monitor.pName != nullptr && SameSpoolerName(context.api, monitor.pName, word)) {
      found = &monitor;
    }
  }
  const char* registeredDll = found != nullptr && found->pDLLName != nullptr ? found->pDLLName : "";
  const bool inPlace = found != nullptr && SameSpoolerName(context.api, registeredDll, monitorDll);
  char text[kMessageBufferSize];
  if (found == nullptr) {
    FormatBounded(text, sizeof text, "Monitor %s NOT registered", word);
  } else if (inPlace) {
    FormatBounded(text, sizeof text, "Monitor %s registered with %s", word, registeredDll);
  } else {
    FormatBounded(text, sizeof text, "Monitor %s registered with %s, NOT %s", word, registeredDll,
                  monitorDll);
  }
  findings.Report(inPlace, text);
}

void CheckMonitorStep(RunContext& context, Findings& findings, const InstallOptions& options,
                      const MonitorFiles& files) {
  context.output.PrintFormatted("  - Checking %s Print Monitor\n", context.profile.productWord);
  CheckMonitor(context, findings, options.serverName, files.monitorDll);
  if (options.copyFiles) {
    for (const char* file : {files.monitorDll, files.uiDll, files.graphicsLibrary}) {
      CheckSystemFile(context, findings, file);
    }
  }
}

void CheckPort(RunContext& context, Findings& findings, const SpoolerListing& ports,
               const char* portName) {
  const char* word = context.profile.productWord;
  const char* monitor = nullptr;
  for (DWORD i = 0; i < ports.count; ++i) {
    const PORT_INFO_2A& port = ports.records<PORT_INFO_2A>()[i];
    if (port.pPortName != nullptr && SameSpoolerName(context.api, port.pPortName, portName)) {
      monitor = port.pMonitorName != nullptr ? port.pMonitorName : "";
    }
  }
  const bool inPlace = monitor != nullptr && SameSpoolerName(context.api, monitor, word);
  char text[kMessageBufferSize];
  if (monitor == nullptr) {
    FormatBounded(text, sizeof text, "Port %s NOT found", portName);
  } else if (inPlace) {
    FormatBounded(text, sizeof text, "Port %s of monitor %s", portName, monitor);
  } else {
    FormatBounded(text, sizeof text, "Port %s of monitor %s, NOT %s", portName, monitor, word);
  }
  findings.Report(inPlace, text);
}

// Checks the port of every configured port number, as the installation
// walks them; returns how many port numbers are configured.
int CheckPorts(RunContext& context, Findings& findings, const char* serverName,
               PortConfigSource source) {
  context.output.PrintFormatted("  - Checking %s Ports\n", context.profile.productWord);
  const SpoolerListing ports = ListFromSpooler<PORT_INFO_2A>(
      context.api, [&](LPBYTE buffer, DWORD size, LPDWORD needed, LPDWORD count) {
        return context.api.EnumPortsA(const_cast<LPSTR>(serverName), 2, buffer, size, needed,
                                      count);
      });
  if (ports.error != ERROR_SUCCESS) {
    findings.Unchecked("Ports", ports.error);
  }
  PasswordExposure exposure(context, source);
  int portNumber = 1;
  for (;; ++portNumber) {
    char portName[kPortNameLength + 1];
    // A port number whose name does not fit is never created either.
    if (!IsPortConfigured(context, source, portNumber, ValueProblems::kIgnored) ||
        !FormatPortName(context.profile, portNumber, portName, sizeof portName)) {
      break;
    }
    exposure.CheckPort(portNumber);
    if (ports.error == ERROR_SUCCESS) {
      CheckPort(context, findings, ports, portName);
    }
  }
  return portNumber - 1;
}

void CheckEventSource(RunContext& context, Findings& findings) {
  context.output.PrintMessage("  - Checking Event Log Resources\n");
  CheckSystemFile(context, findings, kEventMessageDll);
  const bool registered =
      IsEventLogSourceRegistered(context.api, kEventLogName, kEventSourceName, kEventMessageFile);
  char text[kMessageBufferSize];
  FormatBounded(text, sizeof text,
                registered ? "Event source %s" : "Event source %s NOT registered",
                kEventSourceName);
  findings.Report(registered, text);
}

void CheckPrinter(RunContext& context, Findings& findings, const char* name, const char* port) {
  char text[kMessageBufferSize];
  PrinterSettings printer(context.api, name, PRINTER_ACCESS_USE);
  if (!printer.loaded()) {
    const DWORD error = context.api.GetLastError();
    if (error != ERROR_INVALID_PRINTER_NAME) {
      FormatBounded(text, sizeof text, "Printer '%s'", name);
      findings.Unchecked(text, error);
      return;
    }
    FormatBounded(text, sizeof text, "Printer '%s' NOT found", name);
    findings.Report(false, text);
    return;
  }
  const char* ports = printer.info().pPortName != nullptr ? printer.info().pPortName : "";
  const bool inPlace = PortListHolds(context.api, ports, port);
  if (inPlace) {
    FormatBounded(text, sizeof text, "Printer '%s' on port %s", name, port);
  } else {
    FormatBounded(text, sizeof text, "Printer '%s' on port %s, NOT on %s", name, ports, port);
  }
  findings.Report(inPlace, text);
}

// Each printer that the installation's walk assigns is checked on the port
// it leaves it on: the last one that names it, by the spooler's comparison.
void CheckPrinters(RunContext& context, Findings& findings, PortConfigSource source,
                   int portCount) {
  context.output.PrintMessage("  - Checking Printers\n");
  struct Assignment {
    std::string printer;
    std::string port;
  };
  std::vector<Assignment> assignments;
  ForEachPrinterAssignment(context, portCount, source, ValueProblems::kIgnored,
                           [&](const PrinterAssignment& a) {
                             assignments.push_back({a.printerName, a.portName});
                           });
  for (auto current = assignments.begin(); current != assignments.end(); ++current) {
    const bool namedAgain = std::any_of(current + 1, assignments.end(), [&](const Assignment& a) {
      return SameSpoolerName(context.api, a.printer.c_str(), current->printer.c_str());
    });
    if (!namedAgain) {
      CheckPrinter(context, findings, current->printer.c_str(), current->port.c_str());
    }
  }
}

void CheckClient(RunContext& context, Findings& findings) {
  context.output.PrintMessage("  - Checking Tolvo Client\n");
  char folder[kClientDirectorySize] = {};
  if (!GetClientDirectory(context, folder, sizeof folder)) {
    findings.Unchecked("the Program Files Folder", ERROR_PATH_NOT_FOUND);
    return;
  }
  char path[kPathSize];
  for (const char* file : {kClientExecutable, kClientLibraries[0], kClientLibraries[1]}) {
    FormatBounded(path, sizeof path, "%s\\%s", folder, file);
    CheckFile(context, findings, path);
  }
  // A culture whose resources the program folder lacks is not deployed.
  for (const char* culture : clientLanguages) {
    FormatBounded(path, sizeof path, "%s\\%s", culture, kClientResourceFile);
    if (context.api.GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
      FormatBounded(path, sizeof path, "%s\\%s\\%s", folder, culture, kClientResourceFile);
      CheckFile(context, findings, path);
    }
  }
  char expected[kPathSize];
  char registered[kPathSize];
  ClientStartupCommand(folder, expected, sizeof expected);
  const bool present = ReadClientRunEntry(context.api, registered, sizeof registered);
  const bool inPlace = present && EqualsIgnoreCase(registered, expected);
  char text[kMessageBufferSize];
  if (!present) {
    CopyBounded(text, sizeof text, "Start-up entry Tolvo Client NOT found");
  } else if (inPlace) {
    FormatBounded(text, sizeof text, "Start-up entry Tolvo Client %s", registered);
  } else {
    FormatBounded(text, sizeof text, "Start-up entry Tolvo Client %s, NOT %s", registered,
                  expected);
  }
  findings.Report(inPlace, text);
}

struct FontCheck {
  Findings& findings;
  const char* fontFolder;
};

void CheckFonts(RunContext& context, Findings& findings) {
  context.output.PrintMessage("  - Checking Font Files\n");
  char folder[kFolderSize] = {};
  if (!GetFontDirectory(context, context.profile.fontSubdirectory, folder, sizeof folder)) {
    findings.Unchecked("the Program Files Folder", ERROR_PATH_NOT_FOUND);
    return;
  }
  FontCheck check{findings, folder};
  ForEachFileInDirectory(
      context, "FontFiles\\", "*.*",
      [](RunContext& run, const WIN32_FIND_DATAA& entry, void* visitorContext) {
        const auto& font = *static_cast<FontCheck*>(visitorContext);
        char path[kPathSize];
        FormatBounded(path, sizeof path, "%s\\%s", font.fontFolder, entry.cFileName);
        CheckFile(run, font.findings, path);
        return true;
      },
      &check);
}

}  // namespace

CheckOutcome CheckInstallation(RunContext& context, const InstallOptions& options) {
  Output& output = context.output;
  Findings findings(output);

  if (!CheckServerName(context, options.serverName)) {
    return CheckOutcome::kNotChecked;
  }
  output.PrintMessage("  - Detecting Windows Version\n");
  const OsClass os = DetectWindowsVersion(context);
  if (os == OS_UNSUPPORTED) {
    output.PrintMessage("ERROR: Unsupported Operating System Detected.\n");
    return CheckOutcome::kNotChecked;
  }
  // What an installation from this folder would copy or start is the
  // machine's as much as what it left.
  if (!KitGuarded(context, os, options.copyFiles) ||
      !ConfigurationGuarded(context, options.configFromRegistry) || !CheckMachineServed(context) ||
      !CheckSpoolerAnswers(context, options.serverName)) {
    return CheckOutcome::kNotChecked;
  }
  // Without the configuration there is nothing to compare with.
  if (!options.configFromRegistry) {
    if (context.api.GetFileAttributesA(context.settings.iniPath) == INVALID_FILE_ATTRIBUTES) {
      output.ReportCheckError(context.profile.iniFileName);
      return CheckOutcome::kNotChecked;
    }
    if (CheckConfigurationText(context) != ConfigurationText::kReadable) {
      return CheckOutcome::kNotChecked;
    }
  }
  const PortConfigSource source =
      options.configFromRegistry ? PortConfigSource::Registry : PortConfigSource::ConfigFile;

  CheckMonitorStep(context, findings, options, DeployedMonitorFiles(context.profile, os));
  const int portCount = CheckPorts(context, findings, options.serverName, source);
  CheckEventSource(context, findings);
  CheckPrinters(context, findings, source, portCount);
  CheckRememberedPrinters(
      context, [&](bool inPlace, const char* text) { findings.Report(inPlace, text); },
      [&](const char* what, DWORD error) { findings.Unchecked(what, error); });
  if (!context.settings.enterpriseEdition) {
    CheckClient(context, findings);
  }
  if (options.copyFiles) {
    CheckFonts(context, findings);
  }
  return findings.outcome();
}

}  // namespace tolvo
