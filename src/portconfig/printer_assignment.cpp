#include "portconfig/printer_assignment.h"

#include "core/output.h"
#include "core/text.h"
#include "platform/unique_handles.h"
#include "winenv/printer_settings.h"
#include "winenv/remembered_printers.h"

namespace tolvo {

void ForEachPrinterAssignment(RunContext& context, int portCount, PortConfigSource source,
                              ValueProblems problems,
                              const std::function<void(const PrinterAssignment&)>& visit) {
  for (int portNumber = 1; portNumber <= portCount; ++portNumber) {
    char portName[kPortNameLength + 1];
    if (!FormatPortName(context.profile, portNumber, portName, sizeof portName)) {
      return;
    }
    PortKeyReader reader(context, source, portNumber, problems);
    for (int entry = 1; entry <= kAssignPrinterKeys; ++entry) {
      char key[32];
      IndexedKeyName("AssignPrinter", entry, key);
      char printer[kConfigTextSize];
      reader.ReadText(key, printer);
      if (printer[0] != '\0') {
        visit(PrinterAssignment{portNumber, portName, printer});
      }
    }
  }
}

void AssignPrinters(RunContext& context, int portCount, PortConfigSource source) {
  ForEachPrinterAssignment(
      context, portCount, source, ValueProblems::kReported, [&](const PrinterAssignment& a) {
        if (AssignPrinterToPort(context, a.printerName, a.portName) != 0) {
          context.output.PrintFormatted("    Printer '%s' assigned to port %s\n", a.printerName,
                                        a.portName);
        } else {
          context.output.PrintFormatted("    ERROR - Printer %s NOT assigned to port %s\n",
                                        a.printerName, a.portName);
        }
      });
}

int AssignPrinterToPort(RunContext& context, const char* printerName, const char* portName) {
  PrinterSettings printer(context.api, printerName);
  if (!printer.loaded() ||
      !RememberAssignment(context, printerName, printer.info().pPortName, portName)) {
    return 0;
  }
  // One port replaces the whole list: a pooled printer keeps only this one.
  printer.info().pPortName = const_cast<LPSTR>(portName);
  if (!printer.Write()) {
    return 0;
  }
  ForgetRelease(context, printerName);
  return 1;
}

}  // namespace tolvo
