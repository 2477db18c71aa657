#include "winenv/system_directory.h"

#include <cstring>

#include "core/text.h"

namespace tolvo {

namespace {

constexpr std::size_t kDeletePathSize = 1000;

}  // namespace

int CopyToSystemDirectory(RunContext& context, const char* fileName) {
  if (fileName == nullptr) {
    return 0;
  }
  char systemDirectory[MAX_PATH] = {};
  const UINT length = context.api.GetSystemDirectoryA(systemDirectory, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return 0;  // an empty folder would put the file at the root of the drive
  }
  // A destination cut to fit would name another file: refuse it instead.
  char destination[MAX_PATH] = {};
  if (!FormatBounded(destination, sizeof destination, "%s\\%s", systemDirectory, fileName)) {
    return 0;
  }
  return context.api.CopyFileA(fileName, destination, FALSE) ? 1 : 0;
}

void DeleteFromSystemDirectory(RunContext& context, const char* fileName) {
  if (fileName == nullptr) {
    return;
  }
  const std::size_t nameLength = std::strlen(fileName);
  if (nameLength + 2 >= kDeletePathSize) {
    return;
  }
  // The folder is asked for with room left for the backslash and the name,
  // so the whole path always fits.
  char path[kDeletePathSize] = {};
  const UINT size = static_cast<UINT>(kDeletePathSize - 2 - nameLength);
  const UINT length = context.api.GetSystemDirectoryA(path, size);
  if (length == 0 || length >= size) {
    return;  // without the folder the bare name would reach the working folder
  }
  AppendBounded(path, sizeof path, "\\");
  AppendBounded(path, sizeof path, fileName);
  context.api.SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  context.api.DeleteFileA(path);
}

}  // namespace tolvo
