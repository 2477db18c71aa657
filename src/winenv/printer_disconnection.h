// Taking the local printers off the ports of a port monitor.
#pragma once

#include "core/run_context.h"

namespace tolvo {

// Removes every port of `monitorName` from every local printer's port list;
// a printer left without a port goes to "FILE:".
void DisconnectMonitorPrinters(RunContext& context, const char* monitorName);
void DisconnectPrinterFromMonitor(RunContext& context, const char* printerName,
                                  const char* monitorName);
// True when the local spooler has a port `portName` of monitor `monitorName`.
bool IsMonitorPort(RunContext& context, const char* portName, const char* monitorName);

}  // namespace tolvo
