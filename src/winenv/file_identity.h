// Which file a name or a handle leads to, whatever path led there: a short
// name, another letter case, a share of the same disk, a second hard link.
#pragma once

#include "platform/win_api.h"

namespace tolvo {

struct FileIdentity {
  bool known = false;  // false when the file could not be opened or asked
  DWORD volume = 0;    // the volume's serial number
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

FileIdentity IdentityOfOpenFile(WinApi& api, HANDLE file);
// Opens the file named by `path` for reading for as long as it asks.
FileIdentity IdentityOfFile(WinApi& api, const char* path);

// True only when both are known and are the same file.
bool SameFile(const FileIdentity& left, const FileIdentity& right);

}  // namespace tolvo
