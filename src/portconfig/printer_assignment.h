// Moving the configured printers onto the monitor's new ports.
#pragma once

#include "core/run_context.h"
#include "portconfig/port_configuration.h"

namespace tolvo {

// Each port's section names up to this many printers: "AssignPrinter",
// "AssignPrinter2" ... "AssignPrinter10".
inline constexpr int kAssignPrinterKeys = 10;

void AssignPrinters(RunContext& context, int portCount, PortConfigSource source);
// Non-zero when the spooler accepted `portName` as the printer's only port.
int AssignPrinterToPort(RunContext& context, const char* printerName, const char* portName);

}  // namespace tolvo
