// Registry readers and writers. Every operation opens its key, does its work
// and closes the key within the call; none prints anything.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/unique_handles.h"
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

// How a typed read went. Missing (no key, no value, or a read that
// failed) leaves the default silently; Unusable (a value of another type,
// or of more than 1 MiB) leaves it too, and the caller reports that and Cut.
// Only ReadRegistryValue tells a failed read (Failed) from a missing value.
enum class RegistryRead { Missing, Read, Cut, Unusable, Failed };

// The registry's limit for a value's name, in characters.
inline constexpr DWORD kLongestValueName = 16383;

// Reads a text value (REG_SZ, or REG_EXPAND_SZ left unexpanded) into
// `buffer`, which is empty by default and zero after the text. A longer
// text is cut to bufferSize - 1 characters (Cut); a value of another type
// leaves the buffer empty (Unusable).
RegistryRead ReadRegistryText(WinApi& api, const char* subKey, const char* valueName, char* buffer,
                              DWORD bufferSize, const char* rootPath);

// Reads a number: a REG_DWORD or a REG_BINARY of at most 4 bytes, whose
// bytes replace those of `defaultValue` lowest first, or a REG_SZ or
// REG_EXPAND_SZ, whose text gives the number that the same text gives in a
// profile file (ProfileInteger: "0x50" and "80abc" are 80, an empty text
// the default). A value of another type or size gives the default
// (Unusable), as does a missing value or a key name longer than 999
// characters (Missing).
DWORD ReadRegistryDword(WinApi& api, const char* subKey, const char* valueName, DWORD defaultValue,
                        const char* rootPath, RegistryRead* outcome = nullptr);

// Opens `name` under `root` with `access`; an empty owner when it cannot be
// opened.
UniqueRegKey OpenRegistryKey(WinApi& api, HKEY root, const char* name, REGSAM access);

// Opens HKEY_LOCAL_MACHINE\keyName for reading and writing its values and
// reading its security, creating it (with `security`, when given) when it
// is missing. An empty owner, with `status`, when it cannot be.
UniqueRegKey CreateRegistryKey(WinApi& api, const char* keyName, LSTATUS& status,
                               LPSECURITY_ATTRIBUTES security = nullptr);

// One value of an open key, whole: Read, Missing (no such value), Failed
// (any other failure to read it, with `status` its error), or Unusable when
// it holds more than `largestValue` bytes.
RegistryRead ReadRegistryValue(WinApi& api, HKEY key, const char* valueName, DWORD largestValue,
                               DWORD& type, std::vector<BYTE>& data, LSTATUS& status);

// A value as the listing of a key gives it.
struct RegistryEntry {
  std::string name;
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool nameTooLong = false;  // more than kLongestValueName: neither name nor data given
  bool dataTooLong = false;  // more than the listing's largest value: no data given
};

// Every value of an open key, in the registry's order. False, with `status`,
// when the listing failed before its end.
bool ListRegistryValues(WinApi& api, HKEY key, DWORD largestValue,
                        std::vector<RegistryEntry>& entries, LSTATUS& status);

// Deletes HKEY_LOCAL_MACHINE\keyName and then each key above it, up to
// the one below the root's first key, while the key holds no value and no
// subkey.
void DeleteEmptyRegistryKeys(WinApi& api, std::string keyName);

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
