// Installing or re-installing the port monitor.
#pragma once

#include "core/run_context.h"

namespace tolvo {

bool InstallPortMonitor(RunContext& context, bool ignoreErrors, const char* serverName,
                        bool configFromRegistry, bool copyFiles);

}  // namespace tolvo
