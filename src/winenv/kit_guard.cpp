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

// One file or folder by its full path: false, after its line, when it is
// refused. One that is missing is nobody's to change.
bool Guarded(RunContext& context, const char* path, std::string_view runAccount) {
  WinApi& api = context.api;
  UniqueLocal text(api);
  const DWORD status = ReadFileSecurity(api, path, text);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
    return true;
  }
  if (status == ERROR_CALL_NOT_IMPLEMENTED) {
    return true;  // a system without security, refused on its own
  }
  if (status != ERROR_SUCCESS) {
    context.output.PrintFormatted("ERROR (%d) While Checking Who Can Change '%s'.\n",
                                  static_cast<int>(status), path);
    return false;
  }
  const std::string_view account =
      LesserAccountWith(static_cast<const char*>(text.get()), Access::Change, runAccount);
  if (account.empty()) {
    return true;
  }
  const std::string_view shown = AccountName(account);
  context.output.PrintFormatted(
      "ERROR: %.*s can change '%s'; only administrators may be able to change what the "
      "installation copies or starts.\n",
      static_cast<int>(shown.size()), shown.data(), path);
  return false;
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
    if (!Guarded(context, path, account)) {
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
    if (!Guarded(context, holder.c_str(), account)) {
      return false;
    }
    checkedFolders.push_back(std::move(holder));
  }
  return true;
}

}  // namespace tolvo
