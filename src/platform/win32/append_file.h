// Files the installer appends to while it runs elevated: the run log and
// the support trace.
#pragma once

#include "platform/win_types.h"

namespace tolvo {

// Opens `path` with `access` and `flags` (FILE_FLAG_...), shared for reading
// and writing, not inherited by the programs the installer starts. A file
// it creates gets kAdministratorsOnlySecurity, so that what an elevated run
// wrote is not open to every user of the machine; an existing file keeps
// its own security. INVALID_HANDLE_VALUE, with the last error, when the
// file cannot be opened or the security cannot be made.
HANDLE OpenFileForAppending(LPCSTR path, DWORD access, DWORD flags);

}  // namespace tolvo
