// Placeholder: every call fails until this area of the machine is built.
#include "sim/sim_windows.h"

namespace tolvo::sim {

DWORD SimWindows::GetPrivateProfileStringA(LPCSTR /*appName*/, LPCSTR /*keyName*/, LPCSTR /*defaultText*/, LPSTR /*returned*/, DWORD /*size*/, LPCSTR /*fileName*/) {
  Enter("GetPrivateProfileStringA");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

UINT SimWindows::GetPrivateProfileIntA(LPCSTR /*appName*/, LPCSTR /*keyName*/, INT /*defaultValue*/, LPCSTR /*fileName*/) {
  Enter("GetPrivateProfileIntA");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

}  // namespace tolvo::sim
