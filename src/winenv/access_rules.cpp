#include "winenv/access_rules.h"

namespace tolvo {

namespace {

constexpr DWORD kReadData = 0x0001;    // a file's content, a key's values
constexpr DWORD kWriteData = 0x0002;   // also: a file made in a folder, a value set
constexpr DWORD kAppendData = 0x0004;  // also: a folder made in a folder, a subkey made
constexpr DWORD kDeleteChild = 0x0040;
constexpr DWORD kDelete = 0x00010000;
constexpr DWORD kWriteDac = 0x00040000;
constexpr DWORD kWriteOwner = 0x00080000;
constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kGenericRead = 0x80000000;

constexpr DWORD kChangeRights = kWriteData | kAppendData | kDeleteChild | kDelete | kWriteDac |
                                kWriteOwner | kGenericAll | kGenericWrite;
// Who may rewrite the permissions may also give itself the right to read.
constexpr DWORD kReadRights = kReadData | kGenericRead | kGenericAll | kWriteDac | kWriteOwner;

struct RightName {
  std::string_view name;
  DWORD mask;
};
// SDDL's names of access rights (file and key rights share the bits).
constexpr RightName kRightNames[] = {
    {"GA", kGenericAll}, {"GR", kGenericRead}, {"GW", kGenericWrite}, {"GX", 0x20000000},
    {"RC", 0x00020000},  {"SD", kDelete},      {"WD", kWriteDac},     {"WO", kWriteOwner},
    {"CC", 0x0001},      {"DC", 0x0002},       {"LC", 0x0004},        {"SW", 0x0008},
    {"RP", 0x0010},      {"WP", 0x0020},       {"DT", 0x0040},        {"LO", 0x0080},
    {"CR", 0x0100},      {"FA", 0x001F01FF},   {"FR", 0x00120089},    {"FW", 0x00120116},
    {"FX", 0x001200A0},  {"KA", 0x000F003F},   {"KR", 0x00020019},    {"KW", 0x00020006},
    {"KX", 0x00020019},
};

struct AccountNameEntry {
  std::string_view sddl;
  std::string_view sid;
  std::string_view shown;
};
constexpr AccountNameEntry kAccountNames[] = {
    {"WD", "S-1-1-0", "Everyone"},
    {"AU", "S-1-5-11", "NT AUTHORITY\\Authenticated Users"},
    {"BU", "S-1-5-32-545", "BUILTIN\\Users"},
    {"PU", "S-1-5-32-547", "BUILTIN\\Power Users"},
    {"BG", "S-1-5-32-546", "BUILTIN\\Guests"},
    {"IU", "S-1-5-4", "NT AUTHORITY\\INTERACTIVE"},
    {"NU", "S-1-5-2", "NT AUTHORITY\\NETWORK"},
    {"AN", "S-1-5-7", "NT AUTHORITY\\ANONYMOUS LOGON"},
    {"CO", "S-1-3-0", "CREATOR OWNER"},
    {"OW", "S-1-3-4", "OWNER RIGHTS"},
    {"LS", "S-1-5-19", "NT AUTHORITY\\LOCAL SERVICE"},
    {"NS", "S-1-5-20", "NT AUTHORITY\\NETWORK SERVICE"},
};

constexpr std::string_view kTrustedInstaller =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

bool IsAdministration(std::string_view sid) {
  return sid == "BA" || sid == "SY" || sid == "S-1-5-32-544" || sid == "S-1-5-18";
}

bool IsTrusted(std::string_view sid, std::string_view runAccount) {
  return IsAdministration(sid) || sid == kTrustedInstaller ||
         (!runAccount.empty() && sid == runAccount);
}

// "FA", "0x1301ff", "GRGW": the mask an entry's rights field names; an
// unknown name counts as every right (judged as the widest grant).
DWORD RightsMask(std::string_view rights) {
  if (rights.substr(0, 2) == "0x" || rights.substr(0, 2) == "0X") {
    DWORD mask = 0;
    for (const char digit : rights.substr(2)) {
      const int value = digit >= '0' && digit <= '9'   ? digit - '0'
                        : digit >= 'a' && digit <= 'f' ? digit - 'a' + 10
                        : digit >= 'A' && digit <= 'F' ? digit - 'A' + 10
                                                       : -1;
      if (value < 0 || mask > 0x0FFFFFFF) {
        return kGenericAll;  // not a mask Windows writes: judged the widest
      }
      mask = mask << 4 | static_cast<DWORD>(value);
    }
    return mask;
  }
  DWORD mask = 0;
  for (std::size_t i = 0; i < rights.size(); i += 2) {
    const std::string_view name = rights.substr(i, 2);
    DWORD found = kGenericAll;
    for (const RightName& known : kRightNames) {
      if (known.name == name) {
        found = known.mask;
        break;
      }
    }
    mask |= found;
  }
  return mask;
}

// The fields of one ACE "type;flags;rights;object;inherited object;sid",
// and a conditional one's ";(condition)" after them.
struct Entry {
  std::string_view type, flags, rights, sid;
};

bool SplitEntry(std::string_view text, Entry& entry) {
  std::string_view fields[6];
  for (int i = 0; i < 6; ++i) {
    const std::size_t end = text.find(';');
    if (end == std::string_view::npos && i < 5) {
      return false;
    }
    fields[i] = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  }
  entry = {fields[0], fields[1], fields[2], fields[5]};
  return true;
}

// Where the entry that `entries` begins with ends: its closing bracket,
// past the brackets a condition holds; npos when the text is cut short.
std::size_t EntryEnd(std::string_view entries) {
  int depth = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    depth += entries[i] == '(' ? 1 : entries[i] == ')' ? -1 : 0;
    if (depth == 0) {
      return i;
    }
  }
  return std::string_view::npos;
}

// Every entry but a denial grants, a conditional or object one too: a
// type this reading does not know is judged a grant.
bool Grants(std::string_view type) {
  return type != "D" && type != "OD" && type != "XD";
}

// Owner "O:..." up to the next part; empty when the text names none.
std::string_view OwnerOf(std::string_view sddl) {
  if (sddl.substr(0, 2) != "O:") {
    return {};
  }
  std::string_view owner = sddl.substr(2);
  for (std::string_view part : {"G:", "D:", "S:"}) {
    const std::size_t at = owner.find(part);
    if (at != std::string_view::npos) {
      owner = owner.substr(0, at);
    }
  }
  return owner;
}

}  // namespace

std::string_view LesserAccountWith(std::string_view sddl, Access access,
                                   std::string_view runAccount) {
  const std::string_view owner = OwnerOf(sddl);
  if (!owner.empty() && !IsTrusted(owner, runAccount)) {
    return owner;
  }
  const DWORD wanted = access == Access::Change ? kChangeRights : kReadRights;
  const std::size_t dacl = sddl.find("D:");
  if (dacl == std::string_view::npos) {
    return "WD";
  }
  std::string_view entries = sddl.substr(dacl + 2);
  const std::size_t end = entries.find("S:");
  entries = entries.substr(0, end);
  const std::size_t first = entries.find('(');
  if (entries.substr(0, first).find("NO_ACCESS_CONTROL") != std::string_view::npos) {
    return "WD";
  }
  entries.remove_prefix(first == std::string_view::npos ? entries.size() : first);
  while (!entries.empty()) {
    const std::size_t close = entries.front() == '(' ? EntryEnd(entries) : std::string_view::npos;
    if (close == std::string_view::npos) {
      return "WD";  // a text cut short, or one not read to its end, is not trusted
    }
    Entry entry;
    const bool parsed = SplitEntry(entries.substr(1, close - 1), entry);
    entries.remove_prefix(close + 1);
    if (!parsed) {
      return "WD";
    }
    const bool inheritOnly = entry.flags.find("IO") != std::string_view::npos;
    if (Grants(entry.type) && !inheritOnly && (RightsMask(entry.rights) & wanted) != 0 &&
        !IsTrusted(entry.sid, runAccount) && entry.sid != "CO" && entry.sid != "S-1-3-0") {
      return entry.sid;
    }
  }
  return {};
}

bool OnlyAdministratorsReach(std::string_view sddl) {
  if (sddl.substr(0, 2) != "O:") {
    return false;
  }
  const std::size_t dacl = sddl.find("D:");
  if (dacl == std::string_view::npos || !IsAdministration(sddl.substr(2, dacl - 2))) {
    return false;
  }
  // The DACL's flags ("P", "AI" ...), then its entries; none at all is a
  // DACL that lets no one in, "NO_ACCESS_CONTROL" one that lets everyone.
  std::string_view entries = sddl.substr(dacl + 2);
  const std::size_t first = entries.find('(');
  if (entries.substr(0, first).find('_') != std::string_view::npos) {
    return false;
  }
  entries.remove_prefix(first == std::string_view::npos ? entries.size() : first);
  while (!entries.empty()) {
    const std::size_t end = entries.find(')');
    if (entries.front() != '(' || end == std::string_view::npos) {
      return false;
    }
    const std::string_view entry = entries.substr(1, end - 1);
    const std::size_t sid = entry.rfind(';');
    if (sid == std::string_view::npos || !IsAdministration(entry.substr(sid + 1))) {
      return false;
    }
    entries.remove_prefix(end + 1);
  }
  return true;
}

std::string_view AccountName(std::string_view sid) {
  for (const AccountNameEntry& known : kAccountNames) {
    if (sid == known.sddl || sid == known.sid) {
      return known.shown;
    }
  }
  return sid;
}

namespace {

constexpr SECURITY_INFORMATION kOwnerAndDacl =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

DWORD DescriptorText(WinApi& api, const UniqueLocal& descriptor, UniqueLocal& text) {
  LPSTR converted = nullptr;
  if (!api.ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor.get(), SDDL_REVISION_1, kOwnerAndDacl, &converted, nullptr)) {
    return api.GetLastError();
  }
  text.reset(converted);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD ReadFileSecurity(WinApi& api, LPCSTR path, UniqueLocal& text) {
  UniqueLocal descriptor(api);
  const DWORD status = api.GetNamedSecurityInfoA(path, SE_FILE_OBJECT, kOwnerAndDacl, nullptr,
                                                 nullptr, nullptr, nullptr, descriptor.put());
  return status != ERROR_SUCCESS ? status : DescriptorText(api, descriptor, text);
}

DWORD ReadKeySecurity(WinApi& api, HKEY key, UniqueLocal& text) {
  return ReadObjectSecurity(api, key, SE_REGISTRY_KEY, text);
}

DWORD ReadObjectSecurity(WinApi& api, HANDLE object, SE_OBJECT_TYPE type, UniqueLocal& text) {
  UniqueLocal descriptor(api);
  const DWORD status = api.GetSecurityInfo(object, type, kOwnerAndDacl, nullptr, nullptr, nullptr,
                                           nullptr, descriptor.put());
  return status != ERROR_SUCCESS ? status : DescriptorText(api, descriptor, text);
}

}  // namespace tolvo
