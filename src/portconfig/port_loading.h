// The walk that creates the monitor's configured ports.
#pragma once

#include "core/run_context.h"
#include "portconfig/port_configuration.h"

namespace tolvo {

// Creates ports 1, 2, ... until the first unconfigured port number. Sets
// `portCount` to the number of ports created. False when a configured port
// could not be created.
bool LoadPortConfiguration(RunContext& context, PortConfigSource source, int& portCount,
                           const char* serverName);

}  // namespace tolvo
