// The installer runs elevated and may be told to write into a folder that
// users can write to: the files it appends to (the run log, the support
// trace) are opened without following a link, and refused when the name
// leads elsewhere.
#pragma once

#include <windows.h>

namespace tolvo {

// Opens `path` for `access`, creating it with `security` (null: the
// folder's) when it is not there; shared for reading and writing, not
// inherited by the programs the installer starts. A name that a symbolic
// link, a junction or a second hard link leads elsewhere from, or a folder,
// is refused: INVALID_HANDLE_VALUE with ERROR_CANT_ACCESS_FILE.
inline HANDLE OpenForAppending(const char* path, DWORD access, PSECURITY_DESCRIPTOR security) {
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
  const HANDLE file = ::CreateFileA(path, access | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return file;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file, &information) ||
      (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) !=
          0 ||
      information.nNumberOfLinks > 1) {
    ::CloseHandle(file);
    ::SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

}  // namespace tolvo
