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

enum class Verdict { kGuarded, kMissing, kRefused };

// One file or folder by its full path.
Verdict CheckOne(RunContext& context, const char* path, std::string_view runAccount) {
  WinApi& api = context.api;
  UniqueLocal text(api);
  const DWORD status = ReadFileSecurity(api, path, text);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) {
    return Verdict::kMissing;
  }
  if (status == ERROR_CALL_NOT_IMPLEMENTED) {
    return Verdict::kGuarded;  // a system without security, refused on its own
  }
  if (status != ERROR_SUCCESS) {
    context.output.PrintFormatted("ERROR (%d) While Checking Who Can Change '%s'.\n",
                                  static_cast<int>(status), path);
    return Verdict::kRefused;
  }
  const std::string_view account =
      LesserAccountWith(static_cast<const char*>(text.get()), Access::Change, runAccount);
  if (account.empty()) {
    return Verdict::kGuarded;
  }
  const std::string_view shown = AccountName(account);
  context.output.PrintFormatted(
      "ERROR: %.*s can change '%s'; only administrators may be able to change what the "
      "installation copies or starts.\n",
      static_cast<int>(shown.size()), shown.data(), path);
  return Verdict::kRefused;
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
    const Verdict verdict = CheckOne(context, path, account);
    if (verdict == Verdict::kRefused) {
      return false;
    }
    if (verdict == Verdict::kMissing) {
      continue;
    }
    // The folder it lies in: whoever may change it may replace the file.
    std::string holder(path, std::strrchr(path, '\\') - path);
    bool seen = false;
    for (const std::string& checked : checkedFolders) {
      seen = seen || checked == holder;
    }
    if (seen) {
      continue;
    }
    if (CheckOne(context, holder.c_str(), account) == Verdict::kRefused) {
      return false;
    }
    checkedFolders.push_back(std::move(holder));
  }
  return true;
}

}  // namespace tolvo
