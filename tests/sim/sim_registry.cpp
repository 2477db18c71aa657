// Registry and event log of the simulated machine.
//
// The process is always a 32-bit one. When the machine is 64-bit
// (version.wow64), a key opened or created without KEY_WOW64_64KEY (or with
// KEY_WOW64_32KEY) below HKLM\SOFTWARE lands below
// HKLM\SOFTWARE\Wow6432Node, as WOW64 registry redirection does; with
// KEY_WOW64_64KEY the native key is used. Keys outside SOFTWARE are shared.
//
// Registry calls return their status and leave the last error alone, as
// Windows' registry functions do; the event-log calls set the last error.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <utility>

#include "sim/sim_windows.h"

namespace tolvo::sim {

namespace {

constexpr REGSAM kWriteRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

char LowerAscii(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

std::string JoinPath(const std::vector<std::string>& parts) {
  std::string path;
  for (const std::string& part : parts) {
    if (!path.empty()) {
      path += '\\';
    }
    path += part;
  }
  return path;
}

LSTATUS Status(DWORD error) {
  return static_cast<LSTATUS>(error);
}

std::uintptr_t HandleValue(const void* handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

// --- .reg text ------------------------------------------------------------------

std::string_view Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
    text.remove_prefix(1);
  }
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  return text;
}

// Reads a quoted string with \\ and \" escapes from the front of `text`.
bool ReadQuoted(std::string_view& text, std::string& out) {
  if (text.empty() || text.front() != '"') {
    return false;
  }
  out.clear();
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      out += text[++i];
    } else if (c == '"') {
      text.remove_prefix(i + 1);
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

bool ReadHexBytes(std::string_view text, std::vector<BYTE>& out) {
  out.clear();
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) {
      digits += c;
    } else if (c == ',' || c == '\\' || std::isspace(static_cast<unsigned char>(c))) {
      if (!digits.empty()) {
        if (digits.size() > 2) {
          return false;
        }
        out.push_back(static_cast<BYTE>(std::stoul(digits, nullptr, 16)));
        digits.clear();
      }
    } else {
      return false;
    }
  }
  if (!digits.empty()) {
    if (digits.size() > 2) {
      return false;
    }
    out.push_back(static_cast<BYTE>(std::stoul(digits, nullptr, 16)));
  }
  return true;
}

std::vector<BYTE> DwordBytes(DWORD value) {
  return {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8), static_cast<BYTE>(value >> 16),
          static_cast<BYTE>(value >> 24)};
}

}  // namespace

// --- State ------------------------------------------------------------------------

bool RegistryNameLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
}

std::vector<std::string> SplitRegistryPath(std::string_view path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('\\', start), path.size());
    if (end > start) {
      parts.emplace_back(path.substr(start, end - start));
    }
    start = end + 1;
  }
  if (!parts.empty() &&
      (SameName(parts.front(), "HKEY_LOCAL_MACHINE") || SameName(parts.front(), "HKLM"))) {
    parts.erase(parts.begin());
  }
  return parts;
}

SimRegistryState::SimRegistryState() : machine(std::make_unique<SimRegistryKey>()) {
  machine->name = "HKEY_LOCAL_MACHINE";
  SetString(kCurrentVersionKey, "ProgramFilesDir", "C:\\Program Files");
  SetString(kCurrentVersionKey32, "ProgramFilesDir", "C:\\Program Files (x86)");
  CreateKey(std::string(kCurrentVersionKey) + "\\Run");
  CreateKey(std::string(kCurrentVersionKey32) + "\\Run");
  CreateKey("SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application");
}

void SimRegistryState::SetDotNet20Installed(bool installed) {
  for (const char* key : {kDotNet20Key, kDotNet20Key32}) {
    if (installed) {
      SetDword(key, "Install", 1);
    } else {
      DeleteKey(key);
    }
  }
}

const SimRegistryKey* SimRegistryState::FindKey(std::string_view path) const {
  const SimRegistryKey* key = machine.get();
  for (const std::string& part : SplitRegistryPath(path)) {
    const auto it = key->subkeys.find(part);
    if (it == key->subkeys.end()) {
      return nullptr;
    }
    key = it->second.get();
  }
  return key;
}

SimRegistryKey* SimRegistryState::FindKey(std::string_view path) {
  return const_cast<SimRegistryKey*>(std::as_const(*this).FindKey(path));
}

SimRegistryKey* SimRegistryState::CreateKeyPath(std::string_view path, bool* created,
                                                std::string_view security) {
  SimRegistryKey* key = machine.get();
  bool madeOne = false;
  for (const std::string& part : SplitRegistryPath(path)) {
    auto& slot = key->subkeys[part];
    if (!slot) {
      slot = std::make_unique<SimRegistryKey>();
      slot->name = part;
      slot->security = security;
      madeOne = true;
    }
    key = slot.get();
  }
  if (created != nullptr) {
    *created = madeOne;
  }
  return key;
}

void SimRegistryState::CreateKey(std::string_view path) {
  CreateKeyPath(path);
}

bool SimRegistryState::KeyExists(std::string_view path) const {
  return FindKey(path) != nullptr;
}

bool SimRegistryState::DeleteKey(std::string_view path) {
  std::vector<std::string> parts = SplitRegistryPath(path);
  if (parts.empty()) {
    return false;
  }
  const std::string leaf = parts.back();
  parts.pop_back();
  SimRegistryKey* parent = FindKey(JoinPath(parts));
  return parent != nullptr && parent->subkeys.erase(leaf) != 0;
}

void SimRegistryState::DenyWrite(std::string_view path, bool deny) {
  CreateKeyPath(path)->denyWrite = deny;
}

void SimRegistryState::SetValue(std::string_view path, std::string_view name, DWORD type,
                                std::vector<BYTE> data) {
  SimRegistryValue& value = CreateKeyPath(path)->values[std::string(name)];
  value.type = type;
  value.data = std::move(data);
}

void SimRegistryState::SetString(std::string_view path, std::string_view name,
                                 std::string_view text, DWORD type) {
  std::vector<BYTE> bytes(text.begin(), text.end());
  bytes.push_back(0);
  SetValue(path, name, type, std::move(bytes));
}

void SimRegistryState::SetDword(std::string_view path, std::string_view name, DWORD value) {
  SetValue(path, name, REG_DWORD, DwordBytes(value));
}

std::optional<SimRegistryValue> SimRegistryState::GetValue(std::string_view path,
                                                           std::string_view name) const {
  const SimRegistryKey* key = FindKey(path);
  if (key == nullptr) {
    return std::nullopt;
  }
  const auto it = key->values.find(std::string(name));
  if (it == key->values.end()) {
    return std::nullopt;
  }
  return it->second;
}

std::optional<std::string> SimRegistryState::GetString(std::string_view path,
                                                       std::string_view name) const {
  const auto value = GetValue(path, name);
  if (!value) {
    return std::nullopt;
  }
  const auto nul = std::find(value->data.begin(), value->data.end(), BYTE{0});
  return std::string(value->data.begin(), nul);
}

std::optional<DWORD> SimRegistryState::GetDword(std::string_view path,
                                                std::string_view name) const {
  const auto value = GetValue(path, name);
  if (!value || value->type != REG_DWORD || value->data.size() != 4) {
    return std::nullopt;
  }
  return static_cast<DWORD>(value->data[0] | (value->data[1] << 8) | (value->data[2] << 16) |
                            (static_cast<DWORD>(value->data[3]) << 24));
}

bool SimRegistryState::DeleteValue(std::string_view path, std::string_view name) {
  SimRegistryKey* key = FindKey(path);
  return key != nullptr && key->values.erase(std::string(name)) != 0;
}

std::vector<std::string> SimRegistryState::ValueNames(std::string_view path) const {
  std::vector<std::string> names;
  if (const SimRegistryKey* key = FindKey(path)) {
    for (const auto& [name, value] : key->values) {
      names.push_back(name);
    }
  }
  return names;
}

bool SimRegistryState::LoadRegText(std::string_view text) {
  std::string currentKey;
  bool inKey = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line.front() == ';' || line.rfind("Windows Registry Editor", 0) == 0 ||
        line == "REGEDIT4") {
      continue;
    }
    if (line.front() == '[') {
      if (line.back() != ']') {
        return false;
      }
      std::string_view name = line.substr(1, line.size() - 2);
      const bool remove = !name.empty() && name.front() == '-';
      if (remove) {
        name.remove_prefix(1);
      }
      const auto parts = SplitRegistryPath(name);
      const std::string_view first = name.substr(0, name.find('\\'));
      if (!SameName(first, "HKEY_LOCAL_MACHINE") && !SameName(first, "HKLM")) {
        return false;
      }
      currentKey = JoinPath(parts);
      if (remove) {
        DeleteKey(currentKey);
        inKey = false;
      } else {
        CreateKey(currentKey);
        inKey = true;
      }
      continue;
    }
    if (!inKey) {
      return false;
    }
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (!ReadQuoted(line, name)) {
      return false;
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') {
      return false;
    }
    line = Trim(line.substr(1));
    if (line == "-") {
      DeleteValue(currentKey, name);
      continue;
    }
    if (!line.empty() && line.front() == '"') {
      std::string value;
      if (!ReadQuoted(line, value) || !Trim(line).empty()) {
        return false;
      }
      SetString(currentKey, name, value);
      continue;
    }
    if (line.rfind("dword:", 0) == 0) {
      const std::string digits(line.substr(6));
      if (digits.empty() || digits.size() > 8 ||
          !std::all_of(digits.begin(), digits.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
        return false;
      }
      SetDword(currentKey, name, static_cast<DWORD>(std::stoul(digits, nullptr, 16)));
      continue;
    }
    DWORD type = REG_BINARY;
    if (line.rfind("hex(", 0) == 0) {
      const std::size_t close = line.find("):");
      if (close == std::string_view::npos || close == 4) {
        return false;
      }
      const std::string digits(line.substr(4, close - 4));
      if (!std::all_of(digits.begin(), digits.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
        return false;
      }
      type = static_cast<DWORD>(std::stoul(digits, nullptr, 16));
      line.remove_prefix(close + 2);
    } else if (line.rfind("hex:", 0) == 0) {
      line.remove_prefix(4);
    } else {
      return false;
    }
    // A value may continue on following lines after a trailing backslash.
    std::string bytesText(line);
    while (!bytesText.empty() && bytesText.back() == '\\' && start < text.size()) {
      std::size_t next = text.find('\n', start);
      if (next == std::string_view::npos) {
        next = text.size();
      }
      bytesText.pop_back();
      bytesText += Trim(text.substr(start, next - start));
      start = next + 1;
    }
    std::vector<BYTE> bytes;
    if (!ReadHexBytes(bytesText, bytes)) {
      return false;
    }
    SetValue(currentKey, name, type, std::move(bytes));
  }
  return true;
}

// --- Registry calls -------------------------------------------------------------------

namespace {

struct Resolved {
  std::string path;  // physical path
  bool view32 = false;
};

bool IsText(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

}  // namespace

// Resolves `subKey` below `key` to a physical path, applying the WOW64 view.
// Returns false for a handle that is not an open key.
static bool ResolveKey(const SimRegistryState& registry, bool wow64, HKEY key, LPCSTR subKey,
                       REGSAM desired, Resolved& out) {
  std::string parentPath;
  bool view32 = wow64 && (desired & KEY_WOW64_64KEY) == 0;
  if (key != HKEY_LOCAL_MACHINE) {
    const auto it = registry.openKeys.find(HandleValue(key));
    if (it == registry.openKeys.end()) {
      return false;
    }
    parentPath = it->second.path;
    if ((desired & (KEY_WOW64_64KEY | KEY_WOW64_32KEY)) == 0) {
      view32 = it->second.view32;
    }
  }
  std::vector<std::string> parts = SplitRegistryPath(parentPath);
  for (std::string& part : SplitRegistryPath(subKey == nullptr ? "" : subKey)) {
    parts.push_back(std::move(part));
  }
  if (view32 && parts.size() >= 2 && SameName(parts[0], "SOFTWARE") &&
      !SameName(parts[1], "Wow6432Node")) {
    parts.insert(parts.begin() + 1, "Wow6432Node");
  }
  out.path = JoinPath(parts);
  out.view32 = view32;
  return true;
}

LSTATUS SimWindows::RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD /*options*/, REGSAM desired,
                                  PHKEY result) {
  if (auto error = Enter("RegOpenKeyExA")) {
    return Status(*error);
  }
  if (result == nullptr) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  *result = nullptr;
  Resolved target;
  if (!ResolveKey(registry, version.wow64, key, subKey, desired, target)) {
    return Status(ERROR_INVALID_HANDLE);
  }
  const SimRegistryKey* found = registry.FindKey(target.path);
  if (found == nullptr) {
    return Status(ERROR_FILE_NOT_FOUND);
  }
  if (found->denyWrite && (desired & kWriteRights) != 0) {
    return Status(ERROR_ACCESS_DENIED);
  }
  HANDLE handle = NewHandle(HandleKind::RegKey);
  registry.openKeys[HandleValue(handle)] = {target.path, target.view32, desired};
  *result = static_cast<HKEY>(handle);
  return Status(ERROR_SUCCESS);
}

LSTATUS SimWindows::RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD /*reserved*/,
                                    LPSTR /*className*/, DWORD /*options*/, REGSAM desired,
                                    LPSECURITY_ATTRIBUTES security, PHKEY result,
                                    LPDWORD disposition) {
  if (auto error = Enter("RegCreateKeyExA")) {
    return Status(*error);
  }
  if (result == nullptr) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  *result = nullptr;
  Resolved target;
  if (!ResolveKey(registry, version.wow64, key, subKey, desired, target)) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if (const SimRegistryKey* existing = registry.FindKey(target.path);
      existing != nullptr && existing->denyWrite && (desired & kWriteRights) != 0) {
    return Status(ERROR_ACCESS_DENIED);
  }
  bool created = false;
  registry.CreateKeyPath(target.path, &created,
                         security != nullptr ? LocalText(security->lpSecurityDescriptor) : "");
  HANDLE handle = NewHandle(HandleKind::RegKey);
  registry.openKeys[HandleValue(handle)] = {target.path, target.view32, desired};
  *result = static_cast<HKEY>(handle);
  if (disposition != nullptr) {
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  }
  return Status(ERROR_SUCCESS);
}

LSTATUS SimWindows::RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                     LPBYTE data, LPDWORD dataSize) {
  if (auto error = Enter("RegQueryValueExA")) {
    return Status(*error);
  }
  const auto open = registry.openKeys.find(HandleValue(key));
  if (open == registry.openKeys.end()) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  if ((open->second.access & KEY_QUERY_VALUE) == 0) {
    return Status(ERROR_ACCESS_DENIED);
  }
  const SimRegistryKey* found = registry.FindKey(open->second.path);
  if (found == nullptr) {
    return Status(ERROR_INVALID_HANDLE);  // deleted while open
  }
  const auto value = found->values.find(valueName == nullptr ? "" : valueName);
  if (value == found->values.end()) {
    return Status(ERROR_FILE_NOT_FOUND);
  }
  const auto& bytes = value->second.data;
  const DWORD size = static_cast<DWORD>(bytes.size());
  if (type != nullptr) {
    *type = value->second.type;
  }
  if (data == nullptr) {
    if (dataSize != nullptr) {
      *dataSize = size;
    }
    return Status(ERROR_SUCCESS);
  }
  if (*dataSize < size) {
    // Documented as unspecified; Windows and Wine leave the buffer untouched.
    *dataSize = size;
    return Status(ERROR_MORE_DATA);
  }
  if (size != 0) {
    std::memcpy(data, bytes.data(), size);
  }
  // A string stored without its terminator gets one in the buffer when
  // there is room, not counted in the size (as Windows NT does).
  if (IsText(value->second.type) && size != 0 && bytes.back() != 0 && *dataSize > size) {
    data[size] = 0;
  }
  *dataSize = size;
  return Status(ERROR_SUCCESS);
}

LSTATUS SimWindows::RegSetValueExA(HKEY key, LPCSTR valueName, DWORD /*reserved*/, DWORD type,
                                   const BYTE* data, DWORD dataSize) {
  if (auto error = Enter("RegSetValueExA")) {
    return Status(*error);
  }
  const auto open = registry.openKeys.find(HandleValue(key));
  if (open == registry.openKeys.end()) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if ((open->second.access & KEY_SET_VALUE) == 0) {
    return Status(ERROR_ACCESS_DENIED);
  }
  if (data == nullptr && dataSize != 0) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  SimRegistryKey* found = registry.FindKey(open->second.path);
  if (found == nullptr) {
    return Status(ERROR_INVALID_HANDLE);
  }
  SimRegistryValue& value = found->values[valueName == nullptr ? "" : valueName];
  value.type = type;
  value.data.assign(data, data + dataSize);
  // A string given without its terminator gains it when the byte after the
  // given size is one, as Windows does (its own callers' off-by-one).
  if (IsText(type) && dataSize != 0 && data[dataSize - 1] != 0 && data[dataSize] == 0) {
    value.data.push_back(0);
  }
  return Status(ERROR_SUCCESS);
}

LSTATUS SimWindows::RegDeleteValueA(HKEY key, LPCSTR valueName) {
  if (auto error = Enter("RegDeleteValueA")) {
    return Status(*error);
  }
  const auto open = registry.openKeys.find(HandleValue(key));
  if (open == registry.openKeys.end()) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if ((open->second.access & KEY_SET_VALUE) == 0) {
    return Status(ERROR_ACCESS_DENIED);
  }
  SimRegistryKey* found = registry.FindKey(open->second.path);
  if (found == nullptr) {
    return Status(ERROR_INVALID_HANDLE);
  }
  return found->values.erase(valueName == nullptr ? "" : valueName) != 0
             ? Status(ERROR_SUCCESS)
             : Status(ERROR_FILE_NOT_FOUND);
}

LSTATUS SimWindows::RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  if (auto error = Enter("RegDeleteKeyA")) {
    return Status(*error);
  }
  Resolved target;
  if (subKey == nullptr || !ResolveKey(registry, version.wow64, key, subKey, 0, target)) {
    return Status(ERROR_INVALID_HANDLE);
  }
  const SimRegistryKey* found = registry.FindKey(target.path);
  if (found == nullptr) {
    return Status(ERROR_FILE_NOT_FOUND);
  }
  // Windows deletes no key that still has subkeys.
  if (found->denyWrite || !found->subkeys.empty()) {
    return Status(ERROR_ACCESS_DENIED);
  }
  registry.DeleteKey(target.path);
  return Status(ERROR_SUCCESS);
}

LSTATUS SimWindows::RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                                  LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  if (auto error = Enter("RegEnumValueA")) {
    return Status(*error);
  }
  const auto open = registry.openKeys.find(HandleValue(key));
  if (open == registry.openKeys.end()) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if (valueName == nullptr || valueNameSize == nullptr || reserved != nullptr ||
      (data != nullptr && dataSize == nullptr)) {
    return Status(ERROR_INVALID_PARAMETER);
  }
  if ((open->second.access & KEY_QUERY_VALUE) == 0) {
    return Status(ERROR_ACCESS_DENIED);
  }
  const SimRegistryKey* found = registry.FindKey(open->second.path);
  if (found == nullptr) {
    return Status(ERROR_INVALID_HANDLE);
  }
  if (index >= found->values.size()) {
    return Status(ERROR_NO_MORE_ITEMS);
  }
  const auto& [name, value] = *std::next(found->values.begin(), index);
  // Both the name (with its terminator) and the data must fit.
  const DWORD size = static_cast<DWORD>(value.data.size());
  const bool dataFits = data == nullptr || *dataSize >= size;
  if (dataSize != nullptr) {
    *dataSize = size;
  }
  if (name.size() >= *valueNameSize || !dataFits) {
    return Status(ERROR_MORE_DATA);
  }
  std::memcpy(valueName, name.c_str(), name.size() + 1);
  *valueNameSize = static_cast<DWORD>(name.size());
  if (type != nullptr) {
    *type = value.type;
  }
  if (data != nullptr && size != 0) {
    std::memcpy(data, value.data.data(), size);
  }
  return Status(ERROR_SUCCESS);
}

LSTATUS SimWindows::RegCloseKey(HKEY key) {
  if (auto error = Enter("RegCloseKey")) {
    return Status(*error);
  }
  if (key == HKEY_LOCAL_MACHINE) {
    return Status(ERROR_SUCCESS);
  }
  if (!ReleaseHandle(key, HandleKind::RegKey)) {
    return Status(ERROR_INVALID_HANDLE);
  }
  registry.openKeys.erase(HandleValue(key));
  return Status(ERROR_SUCCESS);
}

// --- Event log ----------------------------------------------------------------------

HANDLE SimWindows::RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
  if (auto error = Enter("RegisterEventSourceA")) {
    SetLastError(*error);
    return nullptr;
  }
  if (sourceName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (registry.eventServiceRefuses) {
    SetLastError(registry.eventServiceError);
    return nullptr;
  }
  HANDLE handle = NewHandle(HandleKind::EventSource);
  SimRegistryState::OpenSource source;
  if (serverName != nullptr) {
    source.server = serverName;
  }
  source.source = sourceName;
  registry.openSources[HandleValue(handle)] = std::move(source);
  ++registry.eventSourceRegistrations;
  return handle;
}

BOOL SimWindows::ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId,
                              PSID userSid, WORD numStrings, DWORD dataSize, LPCSTR* strings,
                              LPVOID rawData) {
  if (auto error = Enter("ReportEventA")) {
    return Fail(*error);
  }
  const auto open = registry.openSources.find(HandleValue(eventLog));
  if (open == registry.openSources.end()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if ((numStrings != 0 && strings == nullptr) || (dataSize != 0 && rawData == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  SimEvent event;
  event.server = open->second.server;
  event.source = open->second.source;
  event.type = type;
  event.category = category;
  event.eventId = eventId;
  event.hasUserSid = userSid != nullptr;
  for (WORD i = 0; i < numStrings; ++i) {
    if (strings[i] == nullptr) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    event.strings.emplace_back(strings[i]);
  }
  event.dataSize = dataSize;
  registry.events.push_back(std::move(event));
  return TRUE;
}

BOOL SimWindows::DeregisterEventSource(HANDLE eventLog) {
  if (auto error = Enter("DeregisterEventSource")) {
    return Fail(*error);
  }
  if (!ReleaseHandle(eventLog, HandleKind::EventSource)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  registry.openSources.erase(HandleValue(eventLog));
  return TRUE;
}

}  // namespace tolvo::sim
