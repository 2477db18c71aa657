// Profile (INI) files of the simulated machine, read with Windows' rules:
// - a file named without a folder is looked for in the Windows directory;
// - section and key names are matched without regard to case; the first
//   section of a name, and the first key of a name within it, win;
// - blanks and tabs around section names, keys and values are dropped;
//   a value enclosed in matching quotes (" or ') loses them;
// - a line without "=" names no value (the key reads as missing); a line
//   starting with ";" is a key like any other; a zero byte ends a line;
// - a file starting with the UTF-16LE byte-order mark is read as UTF-16;
// - GetPrivateProfileStringA cuts at size - 1 and then returns size - 1;
//   the default (trailing blanks dropped) stands in for a missing file,
//   section or key;
// - GetPrivateProfileIntA takes the first 29 characters of the value and
//   parses blanks, an optional sign, then a "0x", "0o" or "0b" prefix (lower
//   case only) or none, and digits up to the first other character, modulo
//   2^32 ("-7" gives (UINT)-7, "12abc" 12); a present key whose text holds
//   no number gives 0, an empty value or a missing key the default.
//
// A parsed file is kept between calls (see ProfileCache), since the
// installer reads dozens of keys per port from the same file.
#include <sys/stat.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo::sim {

namespace {

struct ProfileEntry {
  std::string key;
  std::optional<std::string> value;
};

struct ProfileSection {
  std::string name;
  std::vector<ProfileEntry> entries;
};

struct Profile {
  std::vector<ProfileSection> sections;
  // Lower-case section name -> index of the first section of that name.
  std::unordered_map<std::string, std::size_t> firstSection;
};

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + 32);
    }
  }
  return lower;
}

std::string_view Trim(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && blank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::string StripQuotes(std::string_view value) {
  if (value.size() > 1 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

std::vector<ProfileSection> ParseSections(std::string_view content) {
  std::vector<ProfileSection> sections;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) {
      end = content.size();
    }
    std::string_view line = content.substr(start, end - start);
    start = end + 1;
    line = line.substr(0, line.find('\0'));  // a zero byte ends the line
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    line = Trim(line);
    if (line.empty()) {
      continue;
    }
    if (line.front() == '[') {
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        sections.push_back({std::string(Trim(line.substr(1, close - 1))), {}});
      }
      continue;
    }
    if (sections.empty()) {
      continue;  // lines before the first section belong to no section
    }
    ProfileEntry entry;
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      entry.key = std::string(line);
    } else {
      entry.key = std::string(Trim(line.substr(0, equals)));
      entry.value = StripQuotes(Trim(line.substr(equals + 1)));
    }
    sections.back().entries.push_back(std::move(entry));
  }
  return sections;
}

std::shared_ptr<const Profile> ParseProfile(std::string_view content) {
  auto profile = std::make_shared<Profile>();
  if (content.size() >= 2 && content.substr(0, 2) == "\xFF\xFE") {  // UTF-16LE, as Notepad saves
    const std::string narrow = NarrowFromUtf16(
        reinterpret_cast<const std::uint8_t*>(content.data()) + 2, (content.size() - 2) / 2);
    profile->sections = ParseSections(narrow);
  } else {
    profile->sections = ParseSections(content);
  }
  for (std::size_t i = 0; i < profile->sections.size(); ++i) {
    profile->firstSection.emplace(LowerAscii(profile->sections[i].name), i);
  }
  return profile;
}

const ProfileSection* FindSection(const Profile& profile, std::string_view name) {
  const auto it = profile.firstSection.find(LowerAscii(name));
  return it == profile.firstSection.end() ? nullptr : &profile.sections[it->second];
}

const std::string* FindValue(const ProfileSection& section, std::string_view key) {
  for (const ProfileEntry& entry : section.entries) {
    if (SameName(entry.key, key)) {
      return entry.value ? &*entry.value : nullptr;
    }
  }
  return nullptr;
}

// Copies a value, cut to size - 1 characters; returns the characters copied.
DWORD CopyValue(std::string_view value, LPSTR returned, DWORD size) {
  const std::size_t count = value.size() < size ? value.size() : size - 1;
  std::memcpy(returned, value.data(), count);
  returned[count] = '\0';
  return static_cast<DWORD>(count);
}

// Names one after another, each terminated, with a final extra terminator.
// When they do not fit, the list is cut and size - 2 is returned.
DWORD CopyNameList(const std::vector<std::string>& names, LPSTR returned, DWORD size) {
  std::string list;
  for (const std::string& name : names) {
    list += name;
    list += '\0';
  }
  if (list.size() + 1 <= size) {
    std::memcpy(returned, list.data(), list.size());
    returned[list.size()] = '\0';
    return static_cast<DWORD>(list.size());
  }
  if (size < 2) {
    returned[0] = '\0';
    return 0;
  }
  std::memcpy(returned, list.data(), size - 2);
  returned[size - 2] = '\0';
  returned[size - 1] = '\0';
  return size - 2;
}

UINT ParseProfileInt(std::string_view text) {
  text = text.substr(0, 29);  // what a buffer of 30 characters takes
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
    text.remove_prefix(1);
  }
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'o' || text[1] == 'b')) {
    base = text[1] == 'x' ? 16 : text[1] == 'o' ? 8 : 2;
    text.remove_prefix(2);
  }
  std::uint32_t value = 0;
  for (char c : text) {
    unsigned digit = 99;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'z') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'Z') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    }
    if (digit >= base) {
      break;
    }
    value = value * base + digit;
  }
  return negative ? static_cast<UINT>(0u - value) : static_cast<UINT>(value);
}

std::optional<std::string> ReadHostFile(const std::filesystem::path& host) {
  std::ifstream in(host, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

// Parsed profile files, so that a run reading thousands of keys does not
// read and parse its file for each one. A file's identity and time stamp
// (device, inode, size, modification time) stand for its content only once
// it was last written well before it was read: file time stamps move in
// coarse steps, so a rewrite within the same step as the read would keep
// them. Until then each call compares the content itself.
class ProfileCache {
 public:
  std::shared_ptr<const Profile> Load(const std::filesystem::path& host) {
    struct stat status {};
    if (::stat(host.c_str(), &status) != 0 || S_ISDIR(status.st_mode)) {
      return nullptr;
    }
    if (!S_ISREG(status.st_mode)) {
      const std::optional<std::string> content = ReadHostFile(host);
      return content ? ParseProfile(*content) : nullptr;
    }
    Entry* entry = Find(host.string());
    if (entry != nullptr && entry->settled && SameStamp(*entry, status)) {
      return entry->profile;
    }
    std::optional<std::string> content = ReadHostFile(host);
    if (!content) {
      return nullptr;
    }
    if (entry == nullptr) {
      entry = &entries_[next_++ % entries_.size()];
      entry->hostPath = host.string();
      entry->profile = nullptr;
    }
    if (entry->profile == nullptr || entry->content != *content) {
      entry->profile = ParseProfile(*content);
      entry->content = std::move(*content);
    }
    entry->device = status.st_dev;
    entry->inode = status.st_ino;
    entry->size = status.st_size;
    entry->modified = status.st_mtim;
    entry->settled = WrittenLongBeforeNow(status.st_mtim);
    return entry->profile;
  }

 private:
  struct Entry {
    std::string hostPath;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    bool settled = false;
    std::string content;
    std::shared_ptr<const Profile> profile;
  };

  Entry* Find(const std::string& hostPath) {
    for (Entry& entry : entries_) {
      if (entry.profile != nullptr && entry.hostPath == hostPath) {
        return &entry;
      }
    }
    return nullptr;
  }

  static bool SameStamp(const Entry& entry, const struct stat& status) {
    return entry.device == status.st_dev && entry.inode == status.st_ino &&
           entry.size == status.st_size && entry.modified.tv_sec == status.st_mtim.tv_sec &&
           entry.modified.tv_nsec == status.st_mtim.tv_nsec;
  }

  static bool WrittenLongBeforeNow(const timespec& modified) {
    constexpr time_t kSettleSeconds = 2;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec - modified.tv_sec > kSettleSeconds;
  }

  std::array<Entry, 8> entries_;
  std::size_t next_ = 0;
};

std::shared_ptr<const Profile> LoadProfile(const SimWindows& machine, LPCSTR fileName) {
  if (fileName == nullptr || *fileName == '\0') {
    return nullptr;
  }
  std::string path(fileName);
  if (path.find_first_of("\\/") == std::string::npos) {
    path = machine.windowsDirectory + "\\" + path;
  }
  // Host paths are unique to each machine, so one cache serves them all.
  static ProfileCache cache;
  return cache.Load(machine.HostPath(path));
}

}  // namespace

DWORD SimWindows::GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                           LPSTR returned, DWORD size, LPCSTR fileName) {
  if (auto error = Enter("GetPrivateProfileStringA")) {
    SetLastError(*error);
    return 0;
  }
  if (returned == nullptr || size == 0) {
    return 0;
  }
  const std::shared_ptr<const Profile> profile = LoadProfile(*this, fileName);
  const ProfileSection* section =
      (profile && appName != nullptr) ? FindSection(*profile, appName) : nullptr;

  if (appName == nullptr || keyName == nullptr) {
    std::vector<std::string> names;
    if (profile && appName == nullptr) {
      for (const ProfileSection& s : profile->sections) {
        names.push_back(s.name);
      }
    } else if (section != nullptr) {
      for (const ProfileEntry& e : section->entries) {
        names.push_back(e.key);
      }
    }
    if (!profile) {
      SetLastError(ERROR_FILE_NOT_FOUND);
    }
    return CopyNameList(names, returned, size);
  }

  const std::string* value = section != nullptr ? FindValue(*section, keyName) : nullptr;
  if (value != nullptr) {
    return CopyValue(*value, returned, size);
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  std::string_view fallback = defaultText == nullptr ? "" : defaultText;
  while (!fallback.empty() && fallback.back() == ' ') {
    fallback.remove_suffix(1);
  }
  return CopyValue(fallback, returned, size);
}

UINT SimWindows::GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                       LPCSTR fileName) {
  if (auto error = Enter("GetPrivateProfileIntA")) {
    SetLastError(*error);
    return static_cast<UINT>(defaultValue);
  }
  const std::shared_ptr<const Profile> profile = LoadProfile(*this, fileName);
  if (!profile || appName == nullptr || keyName == nullptr) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return static_cast<UINT>(defaultValue);
  }
  const ProfileSection* section = FindSection(*profile, appName);
  const std::string* value = section != nullptr ? FindValue(*section, keyName) : nullptr;
  if (value == nullptr || value->empty()) {
    return static_cast<UINT>(defaultValue);
  }
  return ParseProfileInt(*value);
}

}  // namespace tolvo::sim
