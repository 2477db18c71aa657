#include "winenv/directory_walk.h"

#include <cstring>

#include "core/text.h"
#include "platform/unique_handles.h"

namespace tolvo {

namespace {

// Bounds the search path, each folder and each full file path.
constexpr std::size_t kWalkPathSize = 1500;

struct CopyFolders {
  const char* source;       // ends in a backslash
  const char* destination;  // ends in a backslash
};

bool IsDotEntry(const char* name) {
  return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

bool CopyVisitor(RunContext& context, const WIN32_FIND_DATAA& entry, void* visitorContext) {
  const auto* folders = static_cast<const CopyFolders*>(visitorContext);
  char source[kWalkPathSize] = {};
  char destination[kWalkPathSize] = {};
  // A cut path would copy some other file, or onto one.
  if (!ConcatPaths(folders->source, entry.cFileName, source, sizeof source) ||
      !ConcatPaths(folders->destination, entry.cFileName, destination, sizeof destination) ||
      !context.api.CopyFileA(source, destination, FALSE)) {
    context.output.ReportCopyError(entry.cFileName);
    return false;
  }
  return true;
}

bool DeleteVisitor(RunContext& context, const WIN32_FIND_DATAA& entry, void* visitorContext) {
  const auto* folder = static_cast<const char*>(visitorContext);
  char path[kWalkPathSize] = {};
  if (!ConcatPaths(folder, entry.cFileName, path, sizeof path)) {
    return false;  // a cut path would delete some other file
  }
  return context.api.DeleteFileA(path) != FALSE;
}

// `folder` into `buffer` with a trailing backslash; false when the folder
// and its backslash do not fit.
bool CopyFolderPath(const char* folder, char (&buffer)[kWalkPathSize]) {
  if (std::strlen(folder) >= sizeof buffer) {
    return false;
  }
  CopyAsDirectory(folder, buffer, sizeof buffer);
  const std::size_t length = std::strlen(buffer);
  return length == 0 || buffer[length - 1] == '\\';
}

}  // namespace

bool ForEachFileInDirectory(RunContext& context, const char* folder, const char* pattern,
                            FileVisitor visitor, void* visitorContext) {
  if (folder == nullptr || pattern == nullptr || visitor == nullptr) {
    return false;
  }
  char searchPath[kWalkPathSize] = {};
  if (!ConcatPaths(folder, pattern, searchPath, sizeof searchPath)) {
    return false;  // a cut search path would search another folder
  }
  WIN32_FIND_DATAA entry;
  std::memset(&entry, 0, sizeof entry);
  UniqueFind search(context.api, context.api.FindFirstFileA(searchPath, &entry));
  if (!search) {
    return true;  // nothing matched, or no such folder
  }
  do {
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || IsDotEntry(entry.cFileName)) {
      continue;
    }
    if (!visitor(context, entry, visitorContext)) {
      return false;
    }
  } while (context.api.FindNextFileA(search.get(), &entry));
  // The list ends at the first failure, whatever its reason.
  return true;
}

bool CopyDirectoryFiles(RunContext& context, const char* sourceFolder,
                        const char* destinationFolder, const char* pattern) {
  if (sourceFolder == nullptr || destinationFolder == nullptr || pattern == nullptr) {
    return false;
  }
  char source[kWalkPathSize] = {};
  char destination[kWalkPathSize] = {};
  if (!CopyFolderPath(sourceFolder, source) || !CopyFolderPath(destinationFolder, destination)) {
    return false;
  }
  CopyFolders folders{source, destination};
  return ForEachFileInDirectory(context, source, pattern, CopyVisitor, &folders);
}

bool DeleteDirectoryFiles(RunContext& context, const char* folder, const char* pattern) {
  if (folder == nullptr || pattern == nullptr) {
    return false;
  }
  char path[kWalkPathSize] = {};
  if (!CopyFolderPath(folder, path)) {
    return false;
  }
  return ForEachFileInDirectory(context, path, pattern, DeleteVisitor, path);
}

}  // namespace tolvo
