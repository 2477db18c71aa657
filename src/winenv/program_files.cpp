#include "winenv/program_files.h"

#include "core/text.h"
#include "winenv/registry.h"
#include "winenv/windows_version.h"

namespace tolvo {

namespace {

constexpr const char* kWebBrowserFolder = "Kestrum\\Tolvo Client\\WebBrowser";
constexpr const char* kClientFolder = "\\Kestrum\\Tolvo Client\\Client";

// The Program Files folder into `buffer`; false when it is unknown.
bool ReadProgramFilesFolder(RunContext& context, char* buffer, std::size_t bufferSize,
                            REGSAM extraAccess) {
  if (bufferSize < 2) {
    return false;
  }
  ReadRegistryString(context.api, "Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "",
                     buffer, static_cast<DWORD>(bufferSize - 1), "SOFTWARE", extraAccess);
  return buffer[0] != '\0';
}

REGSAM ThirtyTwoBitViewUnderWow64(RunContext& context) {
  return IsRunningUnderWow64(context.api) ? KEY_WOW64_32KEY : 0;
}

// Appends the parts; a path that does not fit is refused and the buffer
// emptied, since a cut path names some other folder (whose files the
// removal operations would then delete).
bool AppendFolder(char* buffer, std::size_t bufferSize, const char* first,
                  const char* second = "") {
  if (AppendBounded(buffer, bufferSize, first) && AppendBounded(buffer, bufferSize, second)) {
    return true;
  }
  buffer[0] = '\0';
  return false;
}

}  // namespace

bool GetFontDirectory(RunContext& context, const char* fontSubdirectory, char* buffer,
                      std::size_t bufferSize) {
  if (buffer == nullptr || fontSubdirectory == nullptr ||
      !ReadProgramFilesFolder(context, buffer, bufferSize, ThirtyTwoBitViewUnderWow64(context))) {
    return false;
  }
  return AppendFolder(buffer, bufferSize, "\\", fontSubdirectory);
}

bool GetWebBrowserDirectory(RunContext& context, char* buffer, std::size_t bufferSize) {
  if (buffer == nullptr ||
      !ReadProgramFilesFolder(context, buffer, bufferSize, ThirtyTwoBitViewUnderWow64(context))) {
    return false;
  }
  return AppendFolder(buffer, bufferSize, "\\", kWebBrowserFolder);
}

bool GetClientDirectory(RunContext& context, char* buffer, std::size_t bufferSize) {
  if (buffer == nullptr || !ReadProgramFilesFolder(context, buffer, bufferSize, 0)) {
    return false;
  }
  return AppendFolder(buffer, bufferSize, kClientFolder);
}

}  // namespace tolvo
