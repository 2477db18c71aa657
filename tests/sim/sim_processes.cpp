// Placeholder: every call fails until this area of the machine is built.
#include "sim/sim_windows.h"

namespace tolvo::sim {

DWORD SimWindows::GetEnvironmentVariableA(LPCSTR /*name*/, LPSTR /*buffer*/, DWORD /*size*/) {
  Enter("GetEnvironmentVariableA");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

BOOL SimWindows::CreateProcessA(LPCSTR /*applicationName*/, LPSTR /*commandLine*/, LPSECURITY_ATTRIBUTES /*processAttributes*/, LPSECURITY_ATTRIBUTES /*threadAttributes*/, BOOL /*inheritHandles*/, DWORD /*creationFlags*/, LPVOID /*environment*/, LPCSTR /*currentDirectory*/, LPSTARTUPINFOA /*startupInfo*/, LPPROCESS_INFORMATION /*processInformation*/) {
  if (auto error = Enter("CreateProcessA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

DWORD SimWindows::WaitForSingleObject(HANDLE /*handle*/, DWORD /*milliseconds*/) {
  Enter("WaitForSingleObject");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

BOOL SimWindows::GetExitCodeProcess(HANDLE /*process*/, LPDWORD /*exitCode*/) {
  if (auto error = Enter("GetExitCodeProcess")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::CloseHandle(HANDLE /*handle*/) {
  if (auto error = Enter("CloseHandle")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

}  // namespace tolvo::sim
