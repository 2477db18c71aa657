// Placeholder: every call fails until this area of the machine is built.
#include "sim/sim_windows.h"

namespace tolvo::sim {

BOOL SimWindows::GetVersionExA(LPOSVERSIONINFOA /*info*/) {
  if (auto error = Enter("GetVersionExA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

HANDLE SimWindows::GetCurrentProcess() {
  Enter("GetCurrentProcess");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return nullptr;
}

BOOL SimWindows::CallIsWow64Process(FARPROC /*isWow64Process*/, HANDLE /*process*/, PBOOL /*wow64*/) {
  if (auto error = Enter("IsWow64Process")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::CallWow64DisableWow64FsRedirection(FARPROC /*disable*/, PVOID* /*oldValue*/) {
  if (auto error = Enter("Wow64DisableWow64FsRedirection")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

}  // namespace tolvo::sim
