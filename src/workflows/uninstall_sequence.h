// Removing the port monitor, its files, fonts and the desktop client.
#pragma once

#include "core/run_context.h"

namespace tolvo {

bool UninstallPortMonitor(RunContext& context, const char* serverName, bool copyFiles);

}  // namespace tolvo
