// Placeholder: every call fails until this area of the machine is built.
#include "sim/sim_windows.h"

namespace tolvo::sim {

BOOL SimWindows::CopyFileA(LPCSTR /*existingFile*/, LPCSTR /*newFile*/, BOOL /*failIfExists*/) {
  if (auto error = Enter("CopyFileA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::DeleteFileA(LPCSTR /*fileName*/) {
  if (auto error = Enter("DeleteFileA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

DWORD SimWindows::GetFileAttributesA(LPCSTR /*fileName*/) {
  Enter("GetFileAttributesA");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return 0;
}

BOOL SimWindows::SetFileAttributesA(LPCSTR /*fileName*/, DWORD /*attributes*/) {
  if (auto error = Enter("SetFileAttributesA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::CreateDirectoryA(LPCSTR /*pathName*/, LPSECURITY_ATTRIBUTES /*security*/) {
  if (auto error = Enter("CreateDirectoryA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::RemoveDirectoryA(LPCSTR /*pathName*/) {
  if (auto error = Enter("RemoveDirectoryA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

HANDLE SimWindows::FindFirstFileA(LPCSTR /*fileName*/, LPWIN32_FIND_DATAA /*findData*/) {
  Enter("FindFirstFileA");
  SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
  return INVALID_HANDLE_VALUE;
}

BOOL SimWindows::FindNextFileA(HANDLE /*find*/, LPWIN32_FIND_DATAA /*findData*/) {
  if (auto error = Enter("FindNextFileA")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

BOOL SimWindows::FindClose(HANDLE /*find*/) {
  if (auto error = Enter("FindClose")) {
    return Fail(*error);
  }
  return Fail(ERROR_CALL_NOT_IMPLEMENTED);
}

}  // namespace tolvo::sim
