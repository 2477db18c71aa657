#include "platform/trace_api.h"

namespace tolvo {

// --- Print spooler ------------------------------------------------------------------

BOOL TraceApi::AddMonitorA(LPSTR serverName, DWORD level, LPBYTE monitors) {
  Begin("AddMonitorA").Text(serverName).Hex(level);
  if (level == 2 && monitors != nullptr) {
    const auto* info = reinterpret_cast<const MONITOR_INFO_2A*>(monitors);
    line_.Text(info->pName).Text(info->pEnvironment).Text(info->pDLLName);
  }
  return EndBool(inner_.AddMonitorA(serverName, level, monitors));
}

BOOL TraceApi::DeleteMonitorA(LPSTR serverName, LPSTR environment, LPSTR monitorName) {
  Begin("DeleteMonitorA").Text(serverName).Text(environment).Text(monitorName);
  return EndBool(inner_.DeleteMonitorA(serverName, environment, monitorName));
}

BOOL TraceApi::OpenPrinterA(LPSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) {
  Begin("OpenPrinterA").Text(printerName);
  line_.Label("access ").Hex(defaults != nullptr ? defaults->DesiredAccess : 0);
  const BOOL result = inner_.OpenPrinterA(printerName, printer, defaults);
  if (result && printer != nullptr) {
    line_.Label("-> ").Pointer(*printer);
  }
  return EndBool(result);
}

BOOL TraceApi::GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize,
                           LPDWORD needed) {
  Begin("GetPrinterA").Pointer(printer).Hex(level).Label("buffer ").Hex(bufferSize);
  const BOOL result = inner_.GetPrinterA(printer, level, buffer, bufferSize, needed);
  if (needed != nullptr) {
    line_.Label("-> needed ").Hex(*needed);
  }
  return EndBool(result);
}

BOOL TraceApi::SetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD command) {
  Begin("SetPrinterA").Pointer(printer).Hex(level);
  if (level == 2 && buffer != nullptr) {
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer);
    line_.Label("printer ").Text(info->pPrinterName).Label("port ").Text(info->pPortName);
  }
  line_.Hex(command);
  return EndBool(inner_.SetPrinterA(printer, level, buffer, command));
}

BOOL TraceApi::ClosePrinter(HANDLE printer) {
  Begin("ClosePrinter").Pointer(printer);
  return EndBool(inner_.ClosePrinter(printer));
}

BOOL TraceApi::EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                             LPDWORD needed, LPDWORD returned) {
  Begin("EnumPrintersA").Hex(flags).Text(name).Hex(level).Label("buffer ").Hex(bufferSize);
  const BOOL result =
      inner_.EnumPrintersA(flags, name, level, buffer, bufferSize, needed, returned);
  ShowEnumerated(needed, returned);
  return EndBool(result);
}

BOOL TraceApi::EnumPortsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed,
                          LPDWORD returned) {
  Begin("EnumPortsA").Text(name).Hex(level).Label("buffer ").Hex(bufferSize);
  const BOOL result = inner_.EnumPortsA(name, level, buffer, bufferSize, needed, returned);
  ShowEnumerated(needed, returned);
  return EndBool(result);
}

BOOL TraceApi::EnumMonitorsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                             LPDWORD needed, LPDWORD returned) {
  Begin("EnumMonitorsA").Text(name).Hex(level).Label("buffer ").Hex(bufferSize);
  const BOOL result = inner_.EnumMonitorsA(name, level, buffer, bufferSize, needed, returned);
  ShowEnumerated(needed, returned);
  return EndBool(result);
}

void TraceApi::ShowEnumerated(const DWORD* needed, const DWORD* returned) {
  if (needed != nullptr && returned != nullptr) {
    line_.Label("-> needed ").Hex(*needed).Label("returned ").Hex(*returned);
  }
}

}  // namespace tolvo
