#include "winenv/directory_tree.h"

#include <cstring>

#include "core/text.h"

namespace tolvo {

namespace {

// The long-path prefix, the path and its terminator.
constexpr std::size_t kTreeBufferSize = 508;
constexpr const char* kLongPathPrefix = "\\\\?\\";
// Just past "\\?\C:\": folders start here.
constexpr std::size_t kFirstFolderPosition = 7;

bool CreateOrFindFolder(WinApi& api, const char* folder) {
  return api.CreateDirectoryA(folder, nullptr) || api.GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace

int CreateDirectoryTree(RunContext& context, const char* path) {
  if (path == nullptr) {
    return 0;
  }
  // A cut path would create a different folder than the one asked for.
  char work[kTreeBufferSize] = {};
  if (!CopyBounded(work, sizeof work, kLongPathPrefix) || !AppendBounded(work, sizeof work, path)) {
    return 0;
  }
  for (std::size_t i = kFirstFolderPosition; i < std::strlen(work); ++i) {
    if (work[i] != '\\') {
      continue;
    }
    work[i] = '\0';
    const bool created = CreateOrFindFolder(context.api, work);
    work[i] = '\\';
    if (!created) {
      return 0;
    }
  }
  return CreateOrFindFolder(context.api, work) ? 1 : 0;
}

}  // namespace tolvo
