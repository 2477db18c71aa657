#include "winenv/printer_disconnection.h"

#include <cstring>
#include <string>

#include "core/output.h"
#include "core/text.h"
#include "platform/unique_handles.h"
#include "winenv/printer_settings.h"
#include "winenv/remembered_printers.h"
#include "winenv/sized_block.h"
#include "winenv/spooler_ports.h"

namespace tolvo {

namespace {

// Takes every port of the monitor out of a comma-separated port list, in
// place. True when the list changed.
bool RemoveMonitorPorts(RunContext& context, char* list, const char* monitorName) {
  bool changed = false;
  std::size_t cursor = 0;
  while (list[cursor] != '\0') {
    std::size_t end = cursor;
    while (list[end] != '\0' && list[end] != ',') {
      ++end;
    }
    const std::size_t next = list[end] == ',' ? end + 1 : end;
    char name[kListedPortNameSize] = {};
    // A name too long for the buffer cannot be a port's name; a cut copy
    // must not be mistaken for one.
    const bool whole =
        CopyBounded(name, sizeof name, std::string_view(list + cursor, end - cursor));
    if (whole && IsMonitorPort(context, name, monitorName)) {
      std::memmove(list + cursor, list + next, std::strlen(list + next) + 1);
      changed = true;
    } else {
      cursor = next;
    }
  }
  // Cutting the last name of several leaves the comma before it behind.
  const std::size_t length = std::strlen(list);
  if (changed && length > 0 && list[length - 1] == ',') {
    list[length - 1] = '\0';
  }
  return changed;
}

}  // namespace

void DisconnectMonitorPrinters(RunContext& context, const char* monitorName) {
  WinApi& api = context.api;
  DWORD needed = 0;
  DWORD returned = 0;
  const UniqueGlobal buffer =
      CallWithSizedBlock(api, needed, 0, [&](LPBYTE block, DWORD size, LPDWORD sizeNeeded) {
        return api.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, block, size, sizeNeeded,
                                 &returned);
      });
  if (!buffer) {
    return;
  }
  const auto* records = static_cast<const BYTE*>(buffer.get());
  for (DWORD i = 0; i < returned && (i + 1) * sizeof(PRINTER_INFO_4A) <= needed; ++i) {
    PRINTER_INFO_4A info;
    std::memcpy(&info, records + i * sizeof info, sizeof info);
    // Connections to other machines' shared printers are not ours to change.
    if ((info.Attributes & PRINTER_ATTRIBUTE_LOCAL) != 0 && info.pPrinterName != nullptr) {
      DisconnectPrinterFromMonitor(context, info.pPrinterName, monitorName);
    }
  }
}

void DisconnectPrinterFromMonitor(RunContext& context, const char* printerName,
                                  const char* monitorName) {
  PrinterSettings printer(context.api, printerName);
  if (!printer.loaded()) {
    return;
  }
  PRINTER_INFO_2A* info = &printer.info();
  if (info->pPortName == nullptr || info->pPortName[0] == '\0') {
    return;
  }
  const std::string found = info->pPortName;
  if (!RemoveMonitorPorts(context, info->pPortName, monitorName)) {
    return;
  }
  char filePort[] = "FILE:";
  if (info->pPortName[0] == '\0') {
    info->pPortName = filePort;
  }
  if (!RememberRelease(context, printerName, found, info->pPortName)) {
    return;  // a printer whose list could not be remembered keeps it
  }
  context.output.PrintFormatted("  - Disconnecting Printer '%s' from %s Port", printerName,
                                monitorName);
  context.output.PrintMessage(printer.Write() ? "\n" : " Error\n");
}

bool IsMonitorPort(RunContext& context, const char* portName, const char* monitorName) {
  if (!SpoolerPorts(context.api).Has(portName, monitorName)) {
    return false;
  }
  context.output.PrintConsoleOnly("  - Port %s type %s will be disconnected\n", portName,
                                  monitorName);
  return true;
}

}  // namespace tolvo
