// Registry readers and writers. Every operation opens its key, does its work
// and closes the key within the call; none prints anything.
#pragma once

#include <cstddef>

#include "platform/win_api.h"

namespace tolvo {

// Reads HKEY_LOCAL_MACHINE\rootPath\subKey, value `valueName`, into `buffer`
// (bufferSize bytes), which holds `defaultValue` when the key or value is
// missing. The buffer always ends up holding a NUL-terminated string within
// bufferSize: a value that does not fit with its NUL leaves the default, and
// the bytes after a value read are zero. A key name ("rootPath\subKey")
// longer than 999 characters is not opened.
void ReadRegistryString(WinApi& api, const char* subKey, const char* valueName,
                        const char* defaultValue, char* buffer, DWORD bufferSize,
                        const char* rootPath, REGSAM extraAccess);

// Reads up to 4 bytes of a value over `defaultValue`, lowest byte first; a
// longer value, or a key name longer than 999 characters, gives the default.
DWORD ReadRegistryDword(WinApi& api, const char* subKey, const char* valueName, DWORD defaultValue,
                        const char* rootPath);

// Opens `subKey` under `root` for KEY_READ and reads one value into `buffer`.
bool QueryRegistryValue(WinApi& api, HKEY root, const char* subKey, const char* valueName,
                        void* buffer, DWORD bufferSize);

// The desktop client's start-up entry "Tolvo Client" under the machine's Run key.
void SetClientRunEntry(WinApi& api, const char* commandLine);
void DeleteClientRunEntry(WinApi& api);
// The start-up entry's command line, NUL-terminated within bufferSize;
// false when it cannot be read.
bool ReadClientRunEntry(WinApi& api, char* buffer, DWORD bufferSize);

// True when the .NET Framework 2.0 "Install" value is the 32-bit number 1.
bool IsDotNet20Installed(WinApi& api);

}  // namespace tolvo
