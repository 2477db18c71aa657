// Moving the configured printers onto the monitor's new ports.
#pragma once

#include <functional>

#include "core/run_context.h"
#include "portconfig/port_configuration.h"

namespace tolvo {

// Each port's section names up to this many printers: "AssignPrinter",
// "AssignPrinter2" ... "AssignPrinter10".
inline constexpr int kAssignPrinterKeys = 10;

// One printer that a port's section names, and the port it goes to.
struct PrinterAssignment {
  int portNumber;
  const char* portName;
  const char* printerName;
};

// The walk over the AssignPrinter keys of ports 1 to portCount, port by port
// and key by key: the order in which the installation moves the printers, so
// that a printer named twice ends on the later port. Empty keys are passed
// over; the walk ends before a port whose name does not fit, since no such
// port is ever created.
void ForEachPrinterAssignment(RunContext& context, int portCount, PortConfigSource source,
                              ValueProblems problems,
                              const std::function<void(const PrinterAssignment&)>& visit);

// Moves each printer of the walk onto its port, one line per printer.
void AssignPrinters(RunContext& context, int portCount, PortConfigSource source);
// Non-zero when the spooler accepted `portName` as the printer's only port.
int AssignPrinterToPort(RunContext& context, const char* printerName, const char* portName);

}  // namespace tolvo
