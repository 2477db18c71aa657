#include "platform/win32/append_file.h"

#include "platform/win_api.h"

namespace tolvo {

HANDLE OpenFileForAppending(LPCSTR path, DWORD access, DWORD flags) {
  PSECURITY_DESCRIPTOR security = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(
          kAdministratorsOnlySecurity, SDDL_REVISION_1, &security, nullptr)) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
  const HANDLE file = ::CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  const DWORD error = ::GetLastError();
  ::LocalFree(security);
  ::SetLastError(error);
  return file;
}

}  // namespace tolvo
