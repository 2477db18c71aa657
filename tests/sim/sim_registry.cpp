// Placeholder: every call fails until this area of the machine is built.
#include "sim/sim_windows.h"

namespace tolvo::sim {

LSTATUS SimWindows::RegOpenKeyExA(HKEY /*key*/, LPCSTR /*subKey*/, DWORD /*options*/, REGSAM /*desired*/, PHKEY /*result*/) {
  if (auto error = Enter("RegOpenKeyExA")) {
    return static_cast<LSTATUS>(*error);
  }
  return static_cast<LSTATUS>(ERROR_CALL_NOT_IMPLEMENTED);
}

LSTATUS SimWindows::RegCreateKeyExA(HKEY /*key*/, LPCSTR /*subKey*/, DWORD /*reserved*/, LPSTR /*className*/, DWORD /*options*/, REGSAM /*desired*/, LPSECURITY_ATTRIBUTES /*security*/, PHKEY /*result*/, LPDWORD /*disposition*/) {
  if (auto error = Enter("RegCreateKeyExA")) {
    return static_cast<LSTATUS>(*error);
  }
  return static_cast<LSTATUS>(ERROR_CALL_NOT_IMPLEMENTED);
}

LSTATUS SimWindows::RegQueryValueExA(HKEY /*key*/, LPCSTR /*valueName*/, LPDWORD /*reserved*/, LPDWORD /*type*/, LPBYTE /*data*/, LPDWORD /*dataSize*/) {
  if (auto error = Enter("RegQueryValueExA")) {
    return static_cast<LSTATUS>(*error);
  }
  return static_cast<LSTATUS>(ERROR_CALL_NOT_IMPLEMENTED);
}

LSTATUS SimWindows::RegSetValueExA(HKEY /*key*/, LPCSTR /*valueName*/, DWORD /*reserved*/, DWORD /*type*/, const BYTE* /*data*/, DWORD /*dataSize*/) {
  if (auto error = Enter("RegSetValueExA")) {
    return static_cast<LSTATUS>(*error);
  }
  return static_cast<LSTATUS>(ERROR_CALL_NOT_IMPLEMENTED);
}

LSTATUS SimWindows::RegDeleteValueA(HKEY /*key*/, LPCSTR /*valueName*/) {
  if (auto error = Enter("RegDeleteValueA")) {
    return static_cast<LSTATUS>(*error);
  }
  return static_cast<LSTATUS>(ERROR_CALL_NOT_IMPLEMENTED);
}

LSTATUS SimWindows::RegCloseKey(HKEY /*key*/) {
  if (auto error = Enter("RegCloseKey")) {
    return static_cast<LSTATUS>(*error);
  }
  return static_cast<LSTATUS>(ERROR_CALL_NOT_IMPLEMENTED);
}

HANDLE SimWindows::RegisterEventSourceA(LPCSTR /*serverName*/, LPCSTR /*sourceName*/) {
  Enter("RegisterEventSourceA");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

BOOL SimWindows::ReportEventA(HANDLE /*eventLog*/, WORD /*type*/, WORD /*category*/, DWORD /*eventId*/, PSID /*userSid*/, WORD /*numStrings*/, DWORD /*dataSize*/, LPCSTR* /*strings*/, LPVOID /*rawData*/) {
  if (auto error = Enter("ReportEventA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::DeregisterEventSource(HANDLE /*eventLog*/) {
  if (auto error = Enter("DeregisterEventSource")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

}  // namespace tolvo::sim
