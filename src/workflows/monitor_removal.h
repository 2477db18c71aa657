// Removing the registered port monitor, shared by installation (which
// replaces an old monitor) and uninstallation.
#pragma once

#include "core/run_context.h"

namespace tolvo {

enum class MonitorRemoval {
  Removed,
  NotFound,  // nothing was registered: a first installation
  Failed,    // reported; the monitor stays registered
};

// Announces the step and calls DeleteMonitorA for the profile's monitor on
// `serverName` (null: the local machine). Prints the outcome of a failure.
MonitorRemoval RemoveMonitor(RunContext& context, const char* serverName);

// Whether the local spooler still lists the profile's monitor; true when
// it cannot tell.
bool LocalMonitorRegistered(RunContext& context);

}  // namespace tolvo
