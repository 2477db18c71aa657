#include "winenv/product_folders.h"

#include <cstring>

#include "core/text.h"
#include "platform/unique_handles.h"
#include "winenv/directory_tree.h"
#include "winenv/directory_walk.h"
#include "winenv/kit_guard.h"
#include "winenv/processes.h"
#include "winenv/program_files.h"

namespace tolvo {

namespace {

constexpr std::size_t kFolderBufferSize = 1000;
constexpr std::size_t kCommandBufferSize = 1100;
constexpr const char* kFontSource = "FontFiles";
constexpr const char* kAllFiles = "*.*";

bool WorkingFolderHas(WinApi& api, const char* name) {
  WIN32_FIND_DATAA entry;
  std::memset(&entry, 0, sizeof entry);
  const UniqueFind search(api, api.FindFirstFileA(name, &entry));
  return search.valid();
}

// Cuts the path at its last backslash; false when there is none.
bool CutToParent(char* path) {
  char* lastBackslash = std::strrchr(path, '\\');
  if (lastBackslash == nullptr) {
    return false;
  }
  *lastBackslash = '\0';
  return true;
}

bool FontFileGuarded(RunContext& context, const WIN32_FIND_DATAA& entry, void* /*unused*/) {
  char file[kFolderBufferSize];
  return FormatBounded(file, sizeof file, "%s\\%s", kFontSource, entry.cFileName) &&
         KitFilesGuarded(context, {file});
}

}  // namespace

bool FontFilesGuarded(RunContext& context) {
  return KitFilesGuarded(context, {kFontSource}) &&
         ForEachFileInDirectory(context, "FontFiles\\", kAllFiles, FontFileGuarded, nullptr);
}

bool InstallFontFiles(RunContext& context) {
  if (!WorkingFolderHas(context.api, kFontSource)) {
    return true;
  }
  context.output.PrintMessage("  - Installing Font Files\n");
  char fontFolder[kFolderBufferSize] = {};
  if (!GetFontDirectory(context, context.profile.fontSubdirectory, fontFolder, sizeof fontFolder)) {
    return false;
  }
  // A folder that cannot be created shows up as the copy's failure.
  CreateDirectoryTree(context, fontFolder);
  return CopyDirectoryFiles(context, kFontSource, fontFolder, kAllFiles);
}

bool RemoveFontDirectory(RunContext& context) {
  char folder[kFolderBufferSize] = {};
  if (!GetFontDirectory(context, context.profile.fontSubdirectory, folder, sizeof folder)) {
    return false;
  }
  DeleteDirectoryFiles(context, folder, kAllFiles);
  context.api.RemoveDirectoryA(folder);
  // The product's parent folders go too, but only once nothing else is left
  // in them: RemoveDirectoryA refuses a folder that is not empty.
  if (!CutToParent(folder)) {
    return true;
  }
  context.api.RemoveDirectoryA(folder);
  if (CutToParent(folder)) {
    context.api.RemoveDirectoryA(folder);
  }
  return true;
}

bool RemoveWebBrowserDirectory(RunContext& context) {
  char folder[kFolderBufferSize] = {};
  if (!GetWebBrowserDirectory(context, folder, sizeof folder)) {
    return false;
  }
  // A double quote in the folder would end the quoted argument early and
  // hand the rest of the path to the interpreter as commands.
  if (std::strchr(folder, '"') != nullptr) {
    return false;
  }
  // The folder is made to exist first, so that removing it cannot fail
  // merely because it was never there.
  CreateDirectoryTree(context, folder);
  char command[kCommandBufferSize] = {};
  if (!FormatBounded(command, sizeof command, "rmdir \"%s\" /S /Q", folder)) {
    return false;
  }
  if (RunShellCommand(context, command, {"rmdir", kShellCommandMinutes}) != 0) {
    return false;
  }
  context.api.RemoveDirectoryA(folder);
  return true;
}

}  // namespace tolvo
