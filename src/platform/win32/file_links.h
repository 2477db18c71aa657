// The installer runs elevated and may be told to write into a folder that
// users can write to: the files it appends to (the run log, the support
// trace) are opened without following a link, and refused when the name
// leads elsewhere.
#pragma once

#include <windows.h>

namespace tolvo {

// Opened with FILE_FLAG_OPEN_REPARSE_POINT and FILE_READ_ATTRIBUTES, a
// handle whose file is a reparse point (a symbolic link, a junction), a
// folder, or a file with more than one name (a planted hard link).
inline bool LeadsElsewhere(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  return !::GetFileInformationByHandle(file, &information) ||
         (information.dwFileAttributes &
          (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
         information.nNumberOfLinks > 1;
}

}  // namespace tolvo
