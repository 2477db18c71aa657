#include "winenv/registry.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include "core/text.h"
#include "core/wiped.h"
#include "platform/unique_handles.h"

namespace tolvo {

namespace {

// Key names are built in a buffer of this size: root path, a backslash and
// the subkey must fit in 999 characters.
constexpr std::size_t kKeyNameSize = 1000;

// The largest value the typed readers take in: what the registry's standard
// format holds. A larger one is not allocated for; it counts as unusable.
constexpr DWORD kLargestValue = 1024 * 1024;

constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValueName = "Tolvo Client";
constexpr const char* kDotNet20Key = "Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";

// Builds "rootPath\subKey". False when either is missing or the name would
// not fit: such a key is never opened, rather than opening a cut name.
bool BuildKeyName(const char* rootPath, const char* subKey, char (&keyName)[kKeyNameSize]) {
  if (rootPath == nullptr || subKey == nullptr) {
    return false;
  }
  return FormatBounded(keyName, sizeof keyName, "%s\\%s", rootPath, subKey);
}

void FillWithDefault(char* buffer, DWORD bufferSize, const char* defaultValue) {
  std::memset(buffer, 0, bufferSize);
  if (defaultValue != nullptr) {
    CopyBounded(buffer, bufferSize, defaultValue);
  }
}

DWORD FromLittleEndian(const BYTE (&bytes)[4]) {
  return static_cast<DWORD>(bytes[0]) | (static_cast<DWORD>(bytes[1]) << 8) |
         (static_cast<DWORD>(bytes[2]) << 16) | (static_cast<DWORD>(bytes[3]) << 24);
}

void ToLittleEndian(DWORD value, BYTE (&bytes)[4]) {
  for (BYTE& byte : bytes) {
    byte = static_cast<BYTE>(value & 0xFF);
    value >>= 8;
  }
}

UniqueRegKey OpenRunKey(WinApi& api) {
  return OpenRegistryKey(api, HKEY_LOCAL_MACHINE, kRunKey, KEY_QUERY_VALUE | KEY_SET_VALUE);
}

// A value as stored: its type and all of its bytes, wiped when it is
// released (a port's password is read through it).
struct StoredValue {
  StoredValue() = default;
  StoredValue(const StoredValue&) = delete;
  StoredValue& operator=(const StoredValue&) = delete;
  ~StoredValue() { WipeMemory(bytes.data(), bytes.size()); }

  DWORD type = REG_NONE;
  std::vector<BYTE> bytes;
};

// Reads the whole value, so that a long text can be cut rather than lost.
// Read; Missing when the key or value is not there or cannot be read.
RegistryRead ReadStoredValue(WinApi& api, const char* rootPath, const char* subKey,
                             const char* valueName, StoredValue& value) {
  char keyName[kKeyNameSize];
  if (!BuildKeyName(rootPath, subKey, keyName)) {
    return RegistryRead::Missing;
  }
  const UniqueRegKey key = OpenRegistryKey(api, HKEY_LOCAL_MACHINE, keyName, KEY_QUERY_VALUE);
  if (!key) {
    return RegistryRead::Missing;
  }
  LSTATUS status = ERROR_SUCCESS;
  const RegistryRead read =
      ReadRegistryValue(api, key.get(), valueName, kLargestValue, value.type, value.bytes, status);
  return read == RegistryRead::Failed ? RegistryRead::Missing : read;
}

bool IsTextType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ;
}

// The text up to its terminator; the registry keeps strings with or
// without one.
std::string_view StoredText(const StoredValue& value) {
  if (value.bytes.empty()) {
    return "";  // never a null pointer, which a copy of it must not be given
  }
  const auto* text = reinterpret_cast<const char*>(value.bytes.data());
  return std::string_view(text, strnlen(text, value.bytes.size()));
}

}  // namespace

void ReadRegistryString(WinApi& api, const char* subKey, const char* valueName,
                        const char* defaultValue, char* buffer, DWORD bufferSize,
                        const char* rootPath, REGSAM extraAccess) {
  if (buffer == nullptr || bufferSize == 0) {
    return;
  }
  // The default is in place before the registry is touched, so every way
  // out below leaves a usable string.
  FillWithDefault(buffer, bufferSize, defaultValue);

  char keyName[kKeyNameSize];
  if (!BuildKeyName(rootPath, subKey, keyName)) {
    return;
  }
  const UniqueRegKey key =
      OpenRegistryKey(api, HKEY_LOCAL_MACHINE, keyName, KEY_QUERY_VALUE | extraAccess);
  if (!key) {
    return;
  }
  DWORD size = bufferSize;
  const LSTATUS status = api.RegQueryValueExA(key.get(), valueName, nullptr, nullptr,
                                              reinterpret_cast<LPBYTE>(buffer), &size);
  if (status != static_cast<LSTATUS>(ERROR_SUCCESS) || size > bufferSize) {
    // A missing value leaves the default; after ERROR_MORE_DATA the
    // buffer's content is undefined, so the default is written again.
    FillWithDefault(buffer, bufferSize, defaultValue);
    return;
  }
  // The registry returns strings as stored, with or without their NUL.
  // Clear what follows the value so that no byte of the default trails it,
  // and refuse a value that fills the buffer with no room for the NUL.
  std::memset(buffer + size, 0, bufferSize - size);
  if (size == bufferSize && buffer[bufferSize - 1] != '\0') {
    FillWithDefault(buffer, bufferSize, defaultValue);
  }
}

RegistryRead ReadRegistryText(WinApi& api, const char* subKey, const char* valueName, char* buffer,
                              DWORD bufferSize, const char* rootPath) {
  if (buffer == nullptr || bufferSize == 0) {
    return RegistryRead::Missing;
  }
  std::memset(buffer, 0, bufferSize);
  StoredValue value;
  const RegistryRead read = ReadStoredValue(api, rootPath, subKey, valueName, value);
  if (read != RegistryRead::Read) {
    return read;
  }
  if (!IsTextType(value.type)) {
    return RegistryRead::Unusable;
  }
  return CopyBounded(buffer, bufferSize, StoredText(value)) ? RegistryRead::Read
                                                            : RegistryRead::Cut;
}

DWORD ReadRegistryDword(WinApi& api, const char* subKey, const char* valueName, DWORD defaultValue,
                        const char* rootPath, RegistryRead* outcome) {
  RegistryRead ignored = RegistryRead::Missing;
  RegistryRead& read = outcome != nullptr ? *outcome : ignored;
  StoredValue value;
  read = ReadStoredValue(api, rootPath, subKey, valueName, value);
  if (read != RegistryRead::Read) {
    return defaultValue;
  }
  // A number's bytes, as a REG_DWORD holds them or a REG_BINARY of the same
  // size; a shorter value replaces only the low-order bytes of the default.
  if ((value.type == REG_DWORD || value.type == REG_BINARY) && value.bytes.size() <= 4) {
    BYTE bytes[4];
    ToLittleEndian(defaultValue, bytes);
    std::copy(value.bytes.begin(), value.bytes.end(), bytes);
    return FromLittleEndian(bytes);
  }
  // A number in a text means what the same text means in the configuration file.
  if (IsTextType(value.type)) {
    return ProfileInteger(StoredText(value), defaultValue);
  }
  read = RegistryRead::Unusable;
  return defaultValue;
}

UniqueRegKey OpenRegistryKey(WinApi& api, HKEY root, const char* name, REGSAM access) {
  HKEY handle = nullptr;
  if (api.RegOpenKeyExA(root, name, 0, access, &handle) != static_cast<LSTATUS>(ERROR_SUCCESS)) {
    return UniqueRegKey(api);  // whatever the failed call left in `handle` is never closed
  }
  return UniqueRegKey(api, handle);
}

UniqueRegKey CreateRegistryKey(WinApi& api, const char* keyName, LSTATUS& status,
                               LPSECURITY_ATTRIBUTES security) {
  HKEY handle = nullptr;
  status = api.RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_QUERY_VALUE | KEY_SET_VALUE | READ_CONTROL, security, &handle,
                               nullptr);
  return status == static_cast<LSTATUS>(ERROR_SUCCESS) ? UniqueRegKey(api, handle)
                                                       : UniqueRegKey(api);
}

RegistryRead ReadRegistryValue(WinApi& api, HKEY key, const char* valueName, DWORD largestValue,
                               DWORD& type, std::vector<BYTE>& data, LSTATUS& status) {
  DWORD size = 0;
  status = api.RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size);
  if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
    return status == static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND) ? RegistryRead::Missing
                                                                : RegistryRead::Failed;
  }
  if (size > largestValue) {
    return RegistryRead::Unusable;
  }
  data.resize(size);
  // A value that grew in between fails with ERROR_MORE_DATA: a failed read too.
  status = api.RegQueryValueExA(key, valueName, nullptr, &type, data.data(), &size);
  if (status != static_cast<LSTATUS>(ERROR_SUCCESS) || size > data.size()) {
    status = status != static_cast<LSTATUS>(ERROR_SUCCESS) ? status : ERROR_MORE_DATA;
    return RegistryRead::Failed;
  }
  data.resize(size);
  return RegistryRead::Read;
}

bool ListRegistryValues(WinApi& api, HKEY key, DWORD largestValue,
                        std::vector<RegistryEntry>& entries, LSTATUS& status) {
  std::vector<BYTE> data(largestValue);
  std::vector<char> nameBuffer(kLongestValueName + 1);
  char* const name = nameBuffer.data();
  const DWORD nameBufferSize = static_cast<DWORD>(nameBuffer.size());
  for (DWORD index = 0;; ++index) {
    DWORD nameSize = nameBufferSize;
    RegistryEntry entry;
    DWORD size = largestValue;
    status =
        api.RegEnumValueA(key, index, name, &nameSize, nullptr, &entry.type, data.data(), &size);
    if (status == static_cast<LSTATUS>(ERROR_MORE_DATA)) {
      // The name or the data did not fit: a listing without data tells which.
      nameSize = nameBufferSize;
      const LSTATUS retry =
          api.RegEnumValueA(key, index, name, &nameSize, nullptr, &entry.type, nullptr, nullptr);
      entry.nameTooLong = retry == static_cast<LSTATUS>(ERROR_MORE_DATA);
      entry.dataTooLong = retry == static_cast<LSTATUS>(ERROR_SUCCESS);
      status = entry.nameTooLong ? static_cast<LSTATUS>(ERROR_SUCCESS) : retry;
      size = 0;
    }
    if (status == static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS)) {
      status = ERROR_SUCCESS;
      return true;
    }
    if (status != static_cast<LSTATUS>(ERROR_SUCCESS)) {
      return false;
    }
    if (!entry.nameTooLong) {
      entry.name.assign(name, std::min<DWORD>(nameSize, nameBufferSize - 1));
      entry.data.assign(data.begin(), data.begin() + std::min(size, largestValue));
    }
    entries.push_back(std::move(entry));
  }
}

void DeleteEmptyRegistryKeys(WinApi& api, std::string keyName) {
  for (std::size_t parent = keyName.rfind('\\'); parent != std::string::npos;
       parent = keyName.rfind('\\')) {
    {
      const UniqueRegKey key =
          OpenRegistryKey(api, HKEY_LOCAL_MACHINE, keyName.c_str(), KEY_QUERY_VALUE);
      char name[1];
      DWORD nameSize = sizeof name;
      if (!key || api.RegEnumValueA(key.get(), 0, name, &nameSize, nullptr, nullptr, nullptr,
                                    nullptr) != static_cast<LSTATUS>(ERROR_NO_MORE_ITEMS)) {
        return;
      }
    }
    // Refused for a key that still has subkeys.
    if (api.RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName.c_str()) !=
        static_cast<LSTATUS>(ERROR_SUCCESS)) {
      return;
    }
    keyName.erase(parent);
  }
}

bool QueryRegistryValue(WinApi& api, HKEY root, const char* subKey, const char* valueName,
                        void* buffer, DWORD bufferSize) {
  const UniqueRegKey key = OpenRegistryKey(api, root, subKey, KEY_READ);
  if (!key) {
    return false;
  }
  DWORD size = bufferSize;
  return api.RegQueryValueExA(key.get(), valueName, nullptr, nullptr, static_cast<LPBYTE>(buffer),
                              &size) == static_cast<LSTATUS>(ERROR_SUCCESS);
}

void SetClientRunEntry(WinApi& api, const char* commandLine) {
  if (commandLine == nullptr) {
    return;
  }
  const UniqueRegKey key = OpenRunKey(api);
  if (!key) {
    return;
  }
  api.RegSetValueExA(key.get(), kRunValueName, 0, REG_SZ,
                     reinterpret_cast<const BYTE*>(commandLine),
                     static_cast<DWORD>(std::strlen(commandLine) + 1));
}

void DeleteClientRunEntry(WinApi& api) {
  const UniqueRegKey key = OpenRunKey(api);
  if (key) {
    api.RegDeleteValueA(key.get(), kRunValueName);
  }
}

bool ReadClientRunEntry(WinApi& api, char* buffer, DWORD bufferSize) {
  if (buffer == nullptr || bufferSize == 0) {
    return false;
  }
  std::memset(buffer, 0, bufferSize);
  // The last byte stays zero, so the text is terminated whatever was stored.
  return QueryRegistryValue(api, HKEY_LOCAL_MACHINE, kRunKey, kRunValueName, buffer,
                            bufferSize - 1);
}

bool IsDotNet20Installed(WinApi& api) {
  BYTE install[4] = {0, 0, 0, 0};
  if (!QueryRegistryValue(api, HKEY_LOCAL_MACHINE, kDotNet20Key, "Install", install,
                          sizeof install)) {
    return false;
  }
  return FromLittleEndian(install) == 1;
}

}  // namespace tolvo
