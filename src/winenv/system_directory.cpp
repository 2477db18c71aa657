#include "winenv/system_directory.h"

#include "core/text.h"

namespace tolvo {

namespace {

constexpr std::size_t kDeletePathSize = 1000;

}  // namespace

bool SystemDirectoryPath(WinApi& api, std::string_view fileName, char* path, std::size_t pathSize) {
  const UINT length = api.GetSystemDirectoryA(path, static_cast<UINT>(pathSize));
  if (length == 0 || length >= pathSize) {
    return false;
  }
  EnsureTrailingBackslash(path, pathSize);
  return AppendBounded(path, pathSize, fileName);
}

int CopyToSystemDirectory(RunContext& context, const char* fileName) {
  if (fileName == nullptr) {
    return 0;
  }
  char destination[MAX_PATH] = {};
  if (!SystemDirectoryPath(context.api, fileName, destination, sizeof destination)) {
    return 0;
  }
  return context.api.CopyFileA(fileName, destination, FALSE) ? 1 : 0;
}

void DeleteFromSystemDirectory(RunContext& context, const char* fileName) {
  char path[kDeletePathSize] = {};
  if (fileName == nullptr || !SystemDirectoryPath(context.api, fileName, path, sizeof path)) {
    return;
  }
  context.api.SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  context.api.DeleteFileA(path);
}

}  // namespace tolvo
