// Installing or re-installing the port monitor.
#pragma once

#include "core/run_context.h"
#include "winenv/windows_version.h"

namespace tolvo {

// How an installation runs; the defaults are those of a run without
// switches.
struct InstallOptions {
  bool ignoreErrors = false;         // a failed step does not end the sequence
  bool configFromRegistry = false;   // ports from the registry, not the INI file
  bool copyFiles = true;             // check, copy and delete the product files
  const char* serverName = nullptr;  // null for the local machine
};

bool InstallPortMonitor(RunContext& context, const InstallOptions& options);

// The monitor's files that the installation places in the system directory
// for the system's bitness; all null on an unsupported system.
struct MonitorFiles {
  const char* monitorDll = nullptr;
  const char* uiDll = nullptr;
  const char* graphicsLibrary = nullptr;
};
MonitorFiles DeployedMonitorFiles(const EditionProfile& profile, OsClass os);

// KitFilesGuarded for what the installation copies into the system folder
// (the monitor's files only when it copies them) or starts.
bool KitGuarded(RunContext& context, OsClass os, bool copyFiles);

}  // namespace tolvo
