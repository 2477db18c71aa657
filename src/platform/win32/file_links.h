// The installer runs elevated and may be told to append to a file in a
// folder that users can write to (the run log, the support trace). Such a
// file is opened only when the file opened is the file the whole path
// names: a link or junction in any folder of the path could otherwise
// send the elevated create-or-append anywhere.
#pragma once

#include <windows.h>

namespace tolvo {

// Opens `path` for appending only (every write lands at the file's end,
// whoever else appends meanwhile), creating it with `security` (null: the
// folder's) when it is not there; shared for reading and writing, not
// inherited by the programs the installer starts.
//
// The handle's own name, as the file system reports it and compared as it
// compares names (case folded, nothing ignored), must be the full path's,
// on the same volume: a name that a link or junction in any folder of the
// path, a symbolic link, or a second hard link leads elsewhere from, or a
// folder, is refused with INVALID_HANDLE_VALUE and ERROR_CANT_ACCESS_FILE.
// The folder is checked so before anything is opened in it, and the file
// is then opened by its one name in that folder: a file this call creates
// lies where the path names. A stream name (a ':' anywhere but after a
// drive letter) is refused with ERROR_INVALID_NAME before anything is
// opened. Any other failure keeps the system's last error.
//
// A junction that a file server resolves for a share (\\server\share\...)
// is not seen: the server reports the name as asked.
HANDLE OpenForAppending(const char* path, PSECURITY_DESCRIPTOR security);

}  // namespace tolvo
