#include "winenv/kit_guard.h"

#include <cstring>
#include <string>
#include <vector>

#include "core/text.h"
#include "platform/run_account.h"
#include "winenv/access_rules.h"

namespace tolvo {

namespace {

constexpr std::size_t kPathSize = MAX_PATH + 1 + MAX_PATH;

// What the run copies into the system folder or starts, and where it reads
// which printers go where and whom their jobs are sent to.
constexpr std::string_view kKitObjects = "what the installation copies or starts";
constexpr std::string_view kConfiguration = "the configuration the installation reads";

// Judges the owner and DACL read for `place` (`status` as the reader
// answered): false, after its line, when an account short of an
// administrator may change it, or it cannot be told. What is missing is
// nobody's to change.
bool Judged(RunContext& context, DWORD status, const UniqueLocal& text, const char* place,
            std::string_view what, std::string_view runAccount) {
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
    return true;
  }
  if (status == ERROR_CALL_NOT_IMPLEMENTED) {
    return true;  // a system without security, refused on its own
  }
  if (status != ERROR_SUCCESS) {
    context.output.PrintFormatted("ERROR (%d) While Checking Who Can Change '%s'.\n",
                                  static_cast<int>(status), place);
    return false;
  }
  const std::string_view account =
      LesserAccountWith(static_cast<const char*>(text.get()), Access::Change, runAccount);
  if (account.empty()) {
    return true;
  }
  const std::string_view shown = AccountName(account);
  context.output.PrintFormatted(
      "ERROR: %.*s can change '%s'; only administrators may be able to change %.*s.\n",
      static_cast<int>(shown.size()), shown.data(), place, static_cast<int>(what.size()),
      what.data());
  return false;
}

// One file or folder by its path.
bool Guarded(RunContext& context, const char* path, std::string_view what,
             std::string_view runAccount) {
  UniqueLocal text(context.api);
  const DWORD status = ReadFileSecurity(context.api, path, text);
  return Judged(context, status, text, path, what, runAccount);
}

// HKEY_LOCAL_MACHINE\`name`; `exists` tells whether it was there.
bool KeyGuarded(RunContext& context, const char* name, std::string_view runAccount, bool& exists) {
  WinApi& api = context.api;
  HKEY handle = nullptr;
  const LSTATUS opened = api.RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, READ_CONTROL, &handle);
  const UniqueRegKey key(api, opened == static_cast<LSTATUS>(ERROR_SUCCESS) ? handle : nullptr);
  exists = opened != static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
  UniqueLocal text(api);
  const DWORD status = key ? ReadKeySecurity(api, key.get(), text) : static_cast<DWORD>(opened);
  char place[kPathSize];
  FormatBounded(place, sizeof place, "HKLM\\%s", name);
  return Judged(context, status, text, place, kConfiguration, runAccount);
}

}  // namespace

bool KitFilesGuarded(RunContext& context, std::initializer_list<const char*> files) {
  WinApi& api = context.api;
  char folder[kPathSize] = {};
  DWORD length = api.GetCurrentDirectoryA(MAX_PATH, folder);
  if (length == 0 || length >= MAX_PATH) {
    // The files are still named relative to it, and so is the folder.
    length = 1;
    CopyBounded(folder, sizeof folder, ".");
  }
  if (folder[length - 1] == '\\') {
    folder[length - 1] = '\0';  // the root of a drive
  }
  char account[kSidTextSize];
  RunAccountSid(api, account);

  std::vector<std::string> checkedFolders;
  for (const char* file : files) {
    if (file == nullptr) {
      continue;
    }
    char path[kPathSize] = {};
    if (!FormatBounded(path, sizeof path, "%s\\%s", folder, file)) {
      continue;  // too long to be a file the installation reaches
    }
    if (!Guarded(context, path, kKitObjects, account)) {
      return false;
    }
    // The folder it lies in: whoever may change it may replace the file, or
    // put a missing one there before the run copies or starts it.
    std::string holder(path, std::strrchr(path, '\\') - path);
    bool seen = false;
    for (const std::string& checked : checkedFolders) {
      seen = seen || checked == holder;
    }
    if (seen) {
      continue;
    }
    if (!Guarded(context, holder.c_str(), kKitObjects, account)) {
      return false;
    }
    checkedFolders.push_back(std::move(holder));
  }
  return true;
}

bool ConfigurationGuarded(RunContext& context, bool fromRegistry) {
  char account[kSidTextSize];
  RunAccountSid(context.api, account);
  if (!fromRegistry) {
    const std::string_view path = context.settings.iniPath;
    const std::size_t separator = path.find_last_of("\\/");
    const std::string folder(separator == std::string_view::npos ? std::string_view(".")
                                                                 : path.substr(0, separator));
    return Guarded(context, context.settings.iniPath, kConfiguration, account) &&
           Guarded(context, folder.c_str(), kConfiguration, account);
  }
  // The key, then each port's key under it as far as they go: a port's
  // settings are read from the first on, until one is missing.
  const char* root = context.profile.configRegistryKey;
  bool exists = false;
  if (!KeyGuarded(context, root, account, exists)) {
    return false;
  }
  for (int port = 1; exists; ++port) {
    char name[kPathSize];
    if (!FormatBounded(name, sizeof name, "%s\\%d", root, port) ||
        !KeyGuarded(context, name, account, exists)) {
      return false;
    }
  }
  return true;
}

}  // namespace tolvo
