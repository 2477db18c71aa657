// Placeholder: every call fails until this area of the machine is built.
#include "sim/sim_windows.h"

namespace tolvo::sim {

BOOL SimWindows::CallOpenPrinterW(FARPROC /*openPrinter*/, LPWSTR /*printerName*/, LPHANDLE /*printer*/, LPPRINTER_DEFAULTSW /*defaults*/) {
  if (auto error = Enter("OpenPrinterW")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::CallXcvDataW(FARPROC /*xcvData*/, HANDLE /*xcv*/, LPCWSTR /*dataName*/, PBYTE /*inputData*/, DWORD /*inputSize*/, PBYTE /*outputData*/, DWORD /*outputSize*/, PDWORD /*outputNeeded*/, PDWORD /*status*/) {
  if (auto error = Enter("XcvDataW")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

int SimWindows::CallMultiByteToWideChar(FARPROC /*multiByteToWideChar*/, UINT /*codePage*/, DWORD /*flags*/, LPCSTR /*multiByte*/, int /*multiByteCount*/, LPWSTR /*wideChar*/, int /*wideCharCount*/) {
  Enter("MultiByteToWideChar");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

BOOL SimWindows::AddMonitorA(LPSTR /*serverName*/, DWORD /*level*/, LPBYTE /*monitors*/) {
  if (auto error = Enter("AddMonitorA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::DeleteMonitorA(LPSTR /*serverName*/, LPSTR /*environment*/, LPSTR /*monitorName*/) {
  if (auto error = Enter("DeleteMonitorA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::OpenPrinterA(LPSTR /*printerName*/, LPHANDLE /*printer*/, LPPRINTER_DEFAULTSA /*defaults*/) {
  if (auto error = Enter("OpenPrinterA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::GetPrinterA(HANDLE /*printer*/, DWORD /*level*/, LPBYTE /*buffer*/, DWORD /*bufferSize*/, LPDWORD /*needed*/) {
  if (auto error = Enter("GetPrinterA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::SetPrinterA(HANDLE /*printer*/, DWORD /*level*/, LPBYTE /*buffer*/, DWORD /*command*/) {
  if (auto error = Enter("SetPrinterA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::ClosePrinter(HANDLE /*printer*/) {
  if (auto error = Enter("ClosePrinter")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::EnumPrintersA(DWORD /*flags*/, LPSTR /*name*/, DWORD /*level*/, LPBYTE /*buffer*/, DWORD /*bufferSize*/, LPDWORD /*needed*/, LPDWORD /*returned*/) {
  if (auto error = Enter("EnumPrintersA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::EnumPortsA(LPSTR /*name*/, DWORD /*level*/, LPBYTE /*buffer*/, DWORD /*bufferSize*/, LPDWORD /*needed*/, LPDWORD /*returned*/) {
  if (auto error = Enter("EnumPortsA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

}  // namespace tolvo::sim
