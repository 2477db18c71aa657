#include "portconfig/printer_assignment.h"

#include "core/output.h"
#include "core/text.h"
#include "platform/unique_handles.h"
#include "winenv/printer_settings.h"
#include "winenv/remembered_printers.h"

namespace tolvo {

void AssignPrinters(RunContext& context, int portCount, PortConfigSource source) {
  for (int portNumber = 1; portNumber <= portCount; ++portNumber) {
    PortKeyReader reader(context, source, portNumber);
    char portName[kPortNameLength + 1];
    if (!FormatPortName(context.profile, portNumber, portName, sizeof portName)) {
      return;  // no port of a longer name is ever created
    }
    for (int entry = 1; entry <= kAssignPrinterKeys; ++entry) {
      char key[32];
      IndexedKeyName("AssignPrinter", entry, key);
      char printer[kConfigTextSize];
      reader.ReadText(key, printer);
      if (printer[0] == '\0') {
        continue;
      }
      if (AssignPrinterToPort(context, printer, portName) != 0) {
        context.output.PrintFormatted("    Printer '%s' assigned to port %s\n", printer, portName);
      } else {
        context.output.PrintFormatted("    ERROR - Printer %s NOT assigned to port %s\n", printer,
                                      portName);
      }
    }
  }
}

int AssignPrinterToPort(RunContext& context, const char* printerName, const char* portName) {
  PrinterSettings printer(context.api, printerName);
  if (!printer.loaded() ||
      !RememberAssignment(context, printerName, printer.info().pPortName, portName)) {
    return 0;
  }
  // One port replaces the whole list: a pooled printer keeps only this one.
  printer.info().pPortName = const_cast<LPSTR>(portName);
  return printer.Write() ? 1 : 0;
}

}  // namespace tolvo
