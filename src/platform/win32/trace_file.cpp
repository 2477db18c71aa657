#include "platform/win32/trace_file.h"

#include <windows.h>

#include <cstring>

#include "platform/appended_files.h"
#include "platform/format_text.h"
#include "platform/win32/file_links.h"

namespace tolvo {

namespace {

// Copies the path that `-t` gives into `path` and returns its length, or
// at least sizeof path when it does not fit (as GetEnvironmentVariableA).
DWORD CopyTracePath(const char* switchPath, char (&path)[MAX_PATH]) {
  const std::size_t length = std::strlen(switchPath);
  if (length >= sizeof path) {
    return sizeof path;
  }
  std::memcpy(path, switchPath, length + 1);
  return static_cast<DWORD>(length);
}

}  // namespace

TraceFile::~TraceFile() {
  if (file_ != nullptr) {
    ::CloseHandle(file_);
  }
}

TraceSink* TraceFile::Open(WinApi& api, const char* switchPath, const char* variable) {
  // The run goes on with the last error it would have had untraced.
  const DWORD lastError = ::GetLastError();
  // Read straight from Windows, before the traced seam exists: this one
  // look-up is never part of a trace.
  char path[MAX_PATH];
  const bool fromSwitch = switchPath != nullptr && *switchPath != '\0';
  const DWORD length = fromSwitch ? CopyTracePath(switchPath, path)
                                  : ::GetEnvironmentVariableA(variable, path, sizeof path);
  if (length == 0) {
    ::SetLastError(lastError);
    return nullptr;
  }
  // Appending, so an installation and a later uninstallation share one
  // file.
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = ERROR_FILENAME_EXCED_RANGE;
  if (length < sizeof path) {
    UniqueLocal security(api);
    if (MakeCreatedFileSecurity(api, path, security)) {
      file = OpenForAppending(path, security.get());
    }
    error = ::GetLastError();
  } else if (!fromSwitch) {
    path[0] = '\0';  // the variable holds more than a path: it was not read
  }
  if (file == INVALID_HANDLE_VALUE) {
    char subject[64];
    FormatText(subject, sizeof subject, "the support trace named by %s",
               fromSwitch ? "-t" : variable);
    ReportFileNotOpened(api, subject, fromSwitch ? switchPath : path, error,
                        "; the run is not traced");
    ::SetLastError(lastError);
    return nullptr;
  }
  file_ = file;
  startTicks_ = ::GetTickCount();
  const DWORD directoryLength = ::GetCurrentDirectoryA(sizeof currentDirectory_, currentDirectory_);
  if (directoryLength == 0 || directoryLength >= sizeof currentDirectory_) {
    currentDirectory_[0] = '\0';
  }
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  FormatText(localTime_, sizeof localTime_, "%04u-%02u-%02u %02u:%02u:%02u (local time)", now.wYear,
             now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  ::SetLastError(lastError);
  return this;
}

void TraceFile::Write(std::string_view text) {
  // One write per line, unbuffered: a run that ends abruptly keeps every
  // line written before.
  DWORD written = 0;
  ::WriteFile(file_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::uint32_t TraceFile::MillisecondsSinceStart() {
  return ::GetTickCount() - startTicks_;
}

TraceProcessFacts TraceFile::ProcessFacts() {
  return {::GetCommandLineA(), currentDirectory_, localTime_};
}

}  // namespace tolvo
