// What the files the installer appends to (the run log, the support trace)
// share, whoever opens them: the security a file gets when the run creates
// it, and the one line on the error stream that says why one could not be
// opened.
#pragma once

#include <string_view>

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

// The descriptor of a file the run creates: the port lines once showed
// passwords, so it is readable (and writable, for the next run) by the
// local system account, the administrators and the account the run is
// (which on a file server is the computer account), and by no one else.
// The owner is left to Windows. Without the account (its token cannot be
// read) the first two remain.
// On a file server's volume (`path` a UNC path, or on a drive Windows names
// remote) no descriptor is made: the file takes the share folder's
// inheritable permissions. The server sees a run as the local system
// account as the computer account (DOMAIN\PC$), which none of the grants
// above names there, so a file created with them could not be opened again
// by the next run; the folder's permissions are the ones the server's
// administrator set for the computers that write there.
// True with the descriptor; true without one on a file server's volume, or
// on a system that keeps no security (Windows 9x answers
// ERROR_CALL_NOT_IMPLEMENTED), whose files are then created as the system
// makes them; false with the last error when it cannot be made.
bool MakeCreatedFileSecurity(WinApi& api, const char* path, UniqueLocal& descriptor);

// Writes one line to the error stream:
//   Cannot open SUBJECT "PATH": REASON CONSEQUENCE
// where REASON is the system's text for `error` and its number, as in
// "The system cannot find the path specified. (error 3)", or "it leads to
// another file" for a name refused because a link leads elsewhere
// (ERROR_CANT_ACCESS_FILE). The line holds no line break before its end;
// control characters in the path show as "?".
void ReportFileNotOpened(WinApi& api, std::string_view subject, std::string_view path, DWORD error,
                         std::string_view consequence = {});

}  // namespace tolvo
