#include "platform/win32/trace_file.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/win_api.h"

namespace tolvo {

namespace {

// A path that leads elsewhere: a reparse point (symbolic link, junction),
// a folder, or a file with more than one name.
bool LeadsElsewhere(const BY_HANDLE_FILE_INFORMATION& file) {
  return (file.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
         file.nNumberOfLinks > 1;
}

// Opens `path` for appending, shared so that it can be read while the run
// goes on (and written by a run of the site script); a file it creates is
// for administrators alone. A link is opened as itself, not followed, so
// that it can be told.
HANDLE OpenForAppending(const char* path) {
  PSECURITY_DESCRIPTOR security = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(
          kAdministratorsOnlySecurity, SDDL_REVISION_1, &security, nullptr)) {
    return INVALID_HANDLE_VALUE;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security, FALSE};
  const HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, &attributes, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const DWORD error = ::GetLastError();
  ::LocalFree(security);
  ::SetLastError(error);
  return file;
}

void ReportUnopened(const char* namedBy, DWORD error) {
  std::fprintf(stderr, "Cannot open the trace file named by %s, error code: %lu\n", namedBy,
               static_cast<unsigned long>(error));
  std::fflush(stderr);
}

}  // namespace

TraceFile::~TraceFile() {
  if (file_ != nullptr) {
    ::CloseHandle(file_);
  }
}

TraceSink* TraceFile::OpenFromEnvironment(const char* variable) {
  // Read straight from Windows, before the traced seam exists: this one
  // look-up is never part of a trace.
  const DWORD lastError = ::GetLastError();
  char path[MAX_PATH];
  const DWORD length = ::GetEnvironmentVariableA(variable, path, sizeof path);
  if (length == 0) {
    ::SetLastError(lastError);
    return nullptr;
  }
  if (length >= sizeof path) {
    ReportUnopened(variable, ERROR_FILENAME_EXCED_RANGE);
    ::SetLastError(lastError);
    return nullptr;
  }
  return Open(path, variable);
}

TraceSink* TraceFile::Open(const char* path, const char* namedBy) {
  // The run goes on with the last error it would have had untraced.
  const DWORD lastError = ::GetLastError();
  // Appending, so an installation and a later uninstallation share one
  // file.
  const HANDLE file = OpenForAppending(path);
  if (file == INVALID_HANDLE_VALUE) {
    ReportUnopened(namedBy, ::GetLastError());
    ::SetLastError(lastError);
    return nullptr;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!::GetFileInformationByHandle(file, &information) || LeadsElsewhere(information)) {
    ::CloseHandle(file);
    std::fprintf(stderr,
                 "The trace file named by %s is a link or a folder; the run is not traced\n",
                 namedBy);
    std::fflush(stderr);
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
  std::snprintf(localTime_, sizeof localTime_, "%04u-%02u-%02u %02u:%02u:%02u (local time)",
                now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
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
