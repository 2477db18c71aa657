#include "platform/trace_api.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tolvo {

namespace {

constexpr std::string_view kSecretKey = "AuthText";
// Room kept at the end of a line for the cut marker and the line break.
constexpr std::size_t kLineReserve = 8;
constexpr std::size_t kReportedEventStrings = 8;

struct NamedError {
  DWORD code;
  const char* name;
};

#define TOLVO_NAMED_ERROR(code) \
  { static_cast<DWORD>(code), #code }
constexpr NamedError kErrorNames[] = {
    TOLVO_NAMED_ERROR(ERROR_SUCCESS),
    TOLVO_NAMED_ERROR(ERROR_INVALID_FUNCTION),
    TOLVO_NAMED_ERROR(ERROR_FILE_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_PATH_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_ACCESS_DENIED),
    TOLVO_NAMED_ERROR(ERROR_INVALID_HANDLE),
    TOLVO_NAMED_ERROR(ERROR_NOT_ENOUGH_MEMORY),
    TOLVO_NAMED_ERROR(ERROR_BAD_ENVIRONMENT),
    TOLVO_NAMED_ERROR(ERROR_OUTOFMEMORY),
    TOLVO_NAMED_ERROR(ERROR_NO_MORE_FILES),
    TOLVO_NAMED_ERROR(ERROR_SHARING_VIOLATION),
    TOLVO_NAMED_ERROR(ERROR_FILE_EXISTS),
    TOLVO_NAMED_ERROR(ERROR_INVALID_PARAMETER),
    TOLVO_NAMED_ERROR(ERROR_CALL_NOT_IMPLEMENTED),
    TOLVO_NAMED_ERROR(ERROR_INSUFFICIENT_BUFFER),
    TOLVO_NAMED_ERROR(ERROR_INVALID_NAME),
    TOLVO_NAMED_ERROR(ERROR_MOD_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_PROC_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_DIR_NOT_EMPTY),
    TOLVO_NAMED_ERROR(ERROR_BUSY),
    TOLVO_NAMED_ERROR(ERROR_ALREADY_EXISTS),
    TOLVO_NAMED_ERROR(ERROR_ENVVAR_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_MORE_DATA),
    TOLVO_NAMED_ERROR(ERROR_NO_MORE_ITEMS),
    TOLVO_NAMED_ERROR(ERROR_UNKNOWN_PORT),
    TOLVO_NAMED_ERROR(ERROR_INVALID_PRINTER_NAME),
    TOLVO_NAMED_ERROR(ERROR_INVALID_ENVIRONMENT),
    TOLVO_NAMED_ERROR(ERROR_UNKNOWN_PRINT_MONITOR),
    TOLVO_NAMED_ERROR(ERROR_PRINT_MONITOR_ALREADY_INSTALLED),
};
#undef TOLVO_NAMED_ERROR

const char* ErrorName(DWORD error) {
  for (const NamedError& entry : kErrorNames) {
    if (entry.code == error) {
      return entry.name;
    }
  }
  return nullptr;
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Key and value names are compared as Windows compares them: case aside.
bool IsSecretKey(LPCSTR name) {
  if (name == nullptr || std::strlen(name) != kSecretKey.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kSecretKey.size(); ++i) {
    if (LowerAscii(name[i]) != LowerAscii(kSecretKey[i])) {
      return false;
    }
  }
  return true;
}

std::string_view Terminated(const char* text, std::size_t size) {
  return std::string_view(text, strnlen(text, size));
}

bool IsTextType(DWORD type) {
  return type == REG_SZ || type == REG_EXPAND_SZ;
}

}  // namespace

// --- TraceSecrets ------------------------------------------------------------

void TraceSecrets::Remember(std::string_view value) {
  if (value.empty()) {
    return;
  }
  if (value.size() > kSize) {
    value = value.substr(0, kSize);
  }
  for (std::size_t i = 0; i < kCount; ++i) {
    if (lengths_[i] == value.size() && std::memcmp(values_[i], value.data(), value.size()) == 0) {
      return;
    }
  }
  std::memcpy(values_[next_], value.data(), value.size());
  lengths_[next_] = value.size();
  next_ = (next_ + 1) % kCount;
}

std::size_t TraceSecrets::MatchAt(std::string_view text, std::size_t position) const {
  std::size_t longest = 0;
  const std::size_t rest = text.size() - position;
  for (std::size_t i = 0; i < kCount; ++i) {
    const std::size_t length = lengths_[i];
    if (length > longest && length <= rest &&
        std::memcmp(values_[i], text.data() + position, length) == 0) {
      longest = length;
    }
  }
  return longest;
}

// --- TraceLine ---------------------------------------------------------------

void TraceLine::Start(std::uint32_t milliseconds, std::string_view marker) {
  length_ = 0;
  firstArgument_ = true;
  Format("%8lu ", static_cast<unsigned long>(milliseconds));
  Raw(marker);
}

TraceLine& TraceLine::Raw(std::string_view text) {
  constexpr std::size_t kLimit = kSize - kLineReserve;
  if (length_ >= kLimit) {
    return *this;  // already cut
  }
  const std::size_t room = kLimit - length_;
  if (text.size() > room) {
    std::memcpy(buffer_ + length_, text.data(), room);
    length_ = kLimit;
    // The reserve has room for the marker and the line break.
    std::memcpy(buffer_ + length_, "...", 3);
    length_ += 3;
    return *this;
  }
  std::memcpy(buffer_ + length_, text.data(), text.size());
  length_ += text.size();
  return *this;
}

void TraceLine::EndLine() {
  buffer_[length_++] = '\n';
}

TraceLine& TraceLine::Format(const char* format, ...) {
  char piece[256];
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (written > 0) {
    Raw(Terminated(piece, sizeof piece));
  }
  return *this;
}

TraceLine& TraceLine::Next() {
  Raw(firstArgument_ ? "(" : ", ");
  firstArgument_ = false;
  return *this;
}

TraceLine& TraceLine::Text(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const std::size_t shown = text.size() < kTextShown ? text.size() : kTextShown;
  char escaped[4] = {'\\', 'x', '0', '0'};
  Raw("\"");
  for (std::size_t i = 0; i < shown; ++i) {
    if (const std::size_t secret = secrets_.MatchAt(text, i)) {
      Raw(kTraceSecretPlaceholder);
      i += secret - 1;
      continue;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        Raw("\\\"");
        continue;
      case '\\':
        Raw("\\\\");
        continue;
      case '\n':
        Raw("\\n");
        continue;
      case '\r':
        Raw("\\r");
        continue;
      case '\t':
        Raw("\\t");
        continue;
      default:
        break;
    }
    if (c >= 0x20 && c < 0x7F) {
      Raw(std::string_view(&text[i], 1));
    } else {
      escaped[2] = kDigits[c >> 4];
      escaped[3] = kDigits[c & 0xF];
      Raw(std::string_view(escaped, sizeof escaped));
    }
  }
  Raw("\"");
  if (shown < text.size()) {
    Format("...(%lu bytes)", static_cast<unsigned long>(text.size()));
  }
  return *this;
}

TraceLine& TraceLine::Text(LPCSTR text) {
  if (text == nullptr) {
    return Raw("NULL");
  }
  return Text(Terminated(text, kTextShown + 1));
}

TraceLine& TraceLine::Wide(LPCWSTR text) {
  if (text == nullptr) {
    return Raw("NULL");
  }
  // Shown as its ASCII range; any other unit as \x7f. Only names the
  // installer composed itself (monitors, ports, commands) pass through here.
  char narrow[kTextShown + 1];
  std::size_t length = 0;
  for (; length < kTextShown && text[length] != 0; ++length) {
    const auto unit = static_cast<std::uint16_t>(text[length]);
    narrow[length] = unit < 0x80 ? static_cast<char>(unit) : '\x7F';
  }
  Raw("L");
  return Text(std::string_view(narrow, length));
}

TraceLine& TraceLine::Hex(std::uint64_t value) {
  char digits[19];
  std::size_t start = sizeof digits;
  do {
    digits[--start] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  digits[--start] = 'x';
  digits[--start] = '0';
  return Raw(std::string_view(digits + start, sizeof digits - start));
}

TraceLine& TraceLine::Pointer(const void* value) {
  if (value == nullptr) {
    return Raw("NULL");
  }
  return Hex(reinterpret_cast<std::uintptr_t>(value));
}

TraceLine& TraceLine::ErrorCode(DWORD error) {
  Format("%lu", static_cast<unsigned long>(error));
  if (const char* name = ErrorName(error)) {
    Raw(" ").Raw(name);
  }
  return *this;
}

// --- TraceApi: lines ------------------------------------------------------------

TraceApi::TraceApi(WinApi& inner, TraceSink& sink) : inner_(inner), sink_(sink), line_(secrets_) {}

void TraceApi::WriteHeader(std::string_view programVersion) {
  lastError_ = inner_.GetLastError();
  const TraceProcessFacts facts = sink_.ProcessFacts();
  line_.Start(sink_.MillisecondsSinceStart(), "=== Install.exe ");
  line_.Raw(programVersion).Raw(" support trace ===");
  Commit();
  Note("# command line: ", facts.commandLine);
  Note("# current directory: ", facts.currentDirectory);
  Note("# started: ", facts.localTime);
  line_.Start(sink_.MillisecondsSinceStart(),
              "# the Windows version and WOW64 follow as \"#\" lines where the run reads them");
  Commit();
}

void TraceApi::WriteFooter(int exitCode) {
  lastError_ = inner_.GetLastError();
  line_.Start(sink_.MillisecondsSinceStart(), "=== exit code ");
  line_.Format("%d ===", exitCode);
  Commit();
}

TraceLine& TraceApi::Begin(std::string_view function) {
  line_.Start(sink_.MillisecondsSinceStart(), function);
  return line_;
}

TraceLine& TraceApi::Result(bool failed, const char* format, ...) {
  lastError_ = inner_.GetLastError();
  line_.Raw(")");
  char piece[64];
  va_list args;
  va_start(args, format);
  const int written = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  line_.Raw(" = ").Raw(written >= 0 ? Terminated(piece, sizeof piece) : "?");
  if (failed) {
    AppendError();
  }
  return line_;
}

void TraceApi::AppendError() {
  line_.Raw(" error ").ErrorCode(lastError_);
}

void TraceApi::Commit() {
  line_.EndLine();
  sink_.Write(line_.text());
  // Whatever writing the trace did to the thread's last error is undone.
  inner_.SetLastError(lastError_);
}

BOOL TraceApi::EndBool(BOOL result) {
  Result(result == FALSE, "%s", result ? "TRUE" : "FALSE");
  Commit();
  return result;
}

LSTATUS TraceApi::EndStatus(LSTATUS status) {
  Result(false, "%s", status == 0 ? "0" : "");
  if (status != 0) {
    line_.ErrorCode(static_cast<DWORD>(status));
  }
  Commit();
  return status;
}

void TraceApi::EndPointer(const void* result, const void* invalid) {
  const bool failed = result == nullptr || result == invalid;
  Result(failed, "%s", "");
  line_.Pointer(result);
  if (failed) {
    AppendError();  // after the value
  }
  Commit();
}

void TraceApi::Note(std::string_view marker, std::string_view text) {
  line_.Start(sink_.MillisecondsSinceStart(), marker);
  line_.Text(text);
  lastError_ = inner_.GetLastError();
  Commit();
}

// --- Console and run log -----------------------------------------------------

void TraceApi::WriteStdout(std::string_view text) {
  inner_.WriteStdout(text);
  Note("| console ", text);
  if (text.size() <= sizeof lastConsole_) {
    std::memcpy(lastConsole_, text.data(), text.size());
    lastConsoleLength_ = text.size();
  } else {
    lastConsoleLength_ = kNotKept;
  }
}

RunLogStream TraceApi::OpenRunLog(LPCSTR path) {
  Begin("OpenRunLog").Next().Text(path);
  const RunLogStream stream = inner_.OpenRunLog(path);
  EndPointer(stream);
  return stream;
}

void TraceApi::WriteRunLog(RunLogStream stream, std::string_view text) {
  inner_.WriteRunLog(stream, text);
  if (text.size() == lastConsoleLength_ &&
      std::memcmp(text.data(), lastConsole_, lastConsoleLength_) == 0) {
    line_.Start(sink_.MillisecondsSinceStart(), "| log     (as on the console)");
    lastError_ = inner_.GetLastError();
    Commit();
    return;
  }
  Note("| log     ", text);
}

void TraceApi::CloseRunLog(RunLogStream stream) {
  inner_.CloseRunLog(stream);
  line_.Start(sink_.MillisecondsSinceStart(), "| log     closed ");
  line_.Pointer(stream);
  lastError_ = inner_.GetLastError();
  Commit();
}

// --- Registry -------------------------------------------------------------------

LSTATUS TraceApi::RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                                PHKEY result) {
  Begin("RegOpenKeyExA")
      .Next()
      .Pointer(key)
      .Next()
      .Text(subKey)
      .Next()
      .Hex(options)
      .Next()
      .Hex(desired);
  const LSTATUS status = inner_.RegOpenKeyExA(key, subKey, options, desired, result);
  if (status == 0 && result != nullptr) {
    line_.Next().Raw("-> ").Pointer(*result);
  }
  return EndStatus(status);
}

LSTATUS TraceApi::RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                                  DWORD options, REGSAM desired, LPSECURITY_ATTRIBUTES security,
                                  PHKEY result, LPDWORD disposition) {
  Begin("RegCreateKeyExA")
      .Next()
      .Pointer(key)
      .Next()
      .Text(subKey)
      .Next()
      .Hex(options)
      .Next()
      .Hex(desired);
  const LSTATUS status = inner_.RegCreateKeyExA(key, subKey, reserved, className, options, desired,
                                                security, result, disposition);
  if (status == 0 && result != nullptr) {
    line_.Next().Raw("-> ").Pointer(*result);
    if (disposition != nullptr) {
      line_.Raw(" disposition ").Hex(*disposition);
    }
  }
  return EndStatus(status);
}

LSTATUS TraceApi::RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                   LPBYTE data, LPDWORD dataSize) {
  Begin("RegQueryValueExA").Next().Pointer(key).Next().Text(valueName);
  line_.Next().Raw("buffer ").Hex(dataSize != nullptr ? *dataSize : 0);
  const LSTATUS status = inner_.RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
  if (status == 0 && dataSize != nullptr) {
    line_.Next().Raw("-> size ").Hex(*dataSize);
    const auto* bytes = reinterpret_cast<const char*>(data);
    if (data != nullptr && IsSecretKey(valueName)) {
      secrets_.Remember(Terminated(bytes, *dataSize));
      line_.Raw(" ").Raw(kTraceSecretPlaceholder);
    } else if (data != nullptr && type != nullptr && IsTextType(*type)) {
      line_.Raw(" ").Text(Terminated(bytes, *dataSize));
    } else if (data != nullptr && type != nullptr && *type == REG_DWORD && *dataSize == 4) {
      DWORD value = 0;
      std::memcpy(&value, data, sizeof value);
      line_.Raw(" ").Hex(value);
    }
  }
  return EndStatus(status);
}

LSTATUS TraceApi::RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD dataSize) {
  Begin("RegSetValueExA").Next().Pointer(key).Next().Text(valueName).Next().Hex(type).Next();
  const auto* bytes = reinterpret_cast<const char*>(data);
  if (data != nullptr && IsTextType(type)) {
    line_.Text(Terminated(bytes, dataSize));
  } else if (data != nullptr && type == REG_DWORD && dataSize == 4) {
    DWORD value = 0;
    std::memcpy(&value, data, sizeof value);
    line_.Hex(value);
  } else {
    line_.Raw("data ").Hex(dataSize);
  }
  return EndStatus(inner_.RegSetValueExA(key, valueName, reserved, type, data, dataSize));
}

LSTATUS TraceApi::RegDeleteValueA(HKEY key, LPCSTR valueName) {
  Begin("RegDeleteValueA").Next().Pointer(key).Next().Text(valueName);
  return EndStatus(inner_.RegDeleteValueA(key, valueName));
}

LSTATUS TraceApi::RegCloseKey(HKEY key) {
  Begin("RegCloseKey").Next().Pointer(key);
  return EndStatus(inner_.RegCloseKey(key));
}

// --- Event log ------------------------------------------------------------------

HANDLE TraceApi::RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
  Begin("RegisterEventSourceA").Next().Text(serverName).Next().Text(sourceName);
  const HANDLE result = inner_.RegisterEventSourceA(serverName, sourceName);
  EndPointer(result);
  return result;
}

BOOL TraceApi::ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                            WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData) {
  Begin("ReportEventA")
      .Next()
      .Pointer(eventLog)
      .Next()
      .Hex(type)
      .Next()
      .Hex(category)
      .Next()
      .Hex(eventId);
  for (WORD i = 0; strings != nullptr && i < numStrings && i < kReportedEventStrings; ++i) {
    line_.Next().Text(strings[i]);
  }
  line_.Next().Raw("data ").Hex(dataSize);
  return EndBool(inner_.ReportEventA(eventLog, type, category, eventId, userSid, numStrings,
                                     dataSize, strings, rawData));
}

BOOL TraceApi::DeregisterEventSource(HANDLE eventLog) {
  Begin("DeregisterEventSource").Next().Pointer(eventLog);
  return EndBool(inner_.DeregisterEventSource(eventLog));
}

// --- Profile files ------------------------------------------------------------------

DWORD TraceApi::GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                         LPSTR returned, DWORD size, LPCSTR fileName) {
  Begin("GetPrivateProfileStringA")
      .Next()
      .Text(appName)
      .Next()
      .Text(keyName)
      .Next()
      .Text(defaultText);
  line_.Next().Raw("buffer ").Hex(size).Next().Text(fileName);
  const DWORD length =
      inner_.GetPrivateProfileStringA(appName, keyName, defaultText, returned, size, fileName);
  Result(false, "%lu", static_cast<unsigned long>(length));
  if (returned != nullptr && length < size) {
    const std::string_view value(returned, length);
    if (IsSecretKey(keyName)) {
      secrets_.Remember(value);
      line_.Raw(" ").Raw(kTraceSecretPlaceholder);
    } else {
      line_.Raw(" ").Text(value);
    }
  }
  Commit();
  return length;
}

UINT TraceApi::GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                     LPCSTR fileName) {
  Begin("GetPrivateProfileIntA")
      .Next()
      .Text(appName)
      .Next()
      .Text(keyName)
      .Next()
      .Format("%d", defaultValue);
  line_.Next().Text(fileName);
  const UINT value = inner_.GetPrivateProfileIntA(appName, keyName, defaultValue, fileName);
  Result(false, "%u", value);
  Commit();
  return value;
}

// --- Files and folders ------------------------------------------------------------

BOOL TraceApi::CopyFileA(LPCSTR existingFile, LPCSTR newFile, BOOL failIfExists) {
  Begin("CopyFileA").Next().Text(existingFile).Next().Text(newFile).Next().Hex(failIfExists);
  return EndBool(inner_.CopyFileA(existingFile, newFile, failIfExists));
}

BOOL TraceApi::DeleteFileA(LPCSTR fileName) {
  Begin("DeleteFileA").Next().Text(fileName);
  return EndBool(inner_.DeleteFileA(fileName));
}

DWORD TraceApi::GetFileAttributesA(LPCSTR fileName) {
  Begin("GetFileAttributesA").Next().Text(fileName);
  const DWORD attributes = inner_.GetFileAttributesA(fileName);
  Result(attributes == INVALID_FILE_ATTRIBUTES, "0x%lx", static_cast<unsigned long>(attributes));
  Commit();
  return attributes;
}

BOOL TraceApi::SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  Begin("SetFileAttributesA").Next().Text(fileName).Next().Hex(attributes);
  return EndBool(inner_.SetFileAttributesA(fileName, attributes));
}

BOOL TraceApi::CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security) {
  Begin("CreateDirectoryA").Next().Text(pathName);
  return EndBool(inner_.CreateDirectoryA(pathName, security));
}

BOOL TraceApi::RemoveDirectoryA(LPCSTR pathName) {
  Begin("RemoveDirectoryA").Next().Text(pathName);
  return EndBool(inner_.RemoveDirectoryA(pathName));
}

HANDLE TraceApi::FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  Begin("FindFirstFileA").Next().Text(fileName);
  const HANDLE find = inner_.FindFirstFileA(fileName, findData);
  EndPointer(find, INVALID_HANDLE_VALUE);
  return find;
}

BOOL TraceApi::FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) {
  Begin("FindNextFileA").Next().Pointer(find);
  const BOOL result = inner_.FindNextFileA(find, findData);
  if (result && findData != nullptr) {
    line_.Next().Raw("-> ").Text(Terminated(findData->cFileName, sizeof findData->cFileName));
  }
  return EndBool(result);
}

BOOL TraceApi::FindClose(HANDLE find) {
  Begin("FindClose").Next().Pointer(find);
  return EndBool(inner_.FindClose(find));
}

UINT TraceApi::GetSystemDirectoryA(LPSTR buffer, UINT size) {
  Begin("GetSystemDirectoryA").Next().Raw("buffer ").Hex(size);
  const UINT length = inner_.GetSystemDirectoryA(buffer, size);
  Result(length == 0, "%u", length);
  if (length != 0 && length < size && buffer != nullptr) {
    line_.Raw(" ").Text(std::string_view(buffer, length));
  }
  Commit();
  return length;
}

UINT TraceApi::GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  Begin("GetWindowsDirectoryA").Next().Raw("buffer ").Hex(size);
  const UINT length = inner_.GetWindowsDirectoryA(buffer, size);
  Result(length == 0, "%u", length);
  if (length != 0 && length < size && buffer != nullptr) {
    line_.Raw(" ").Text(std::string_view(buffer, length));
  }
  Commit();
  return length;
}

DWORD TraceApi::GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  Begin("GetCurrentDirectoryA").Next().Raw("buffer ").Hex(size);
  const DWORD length = inner_.GetCurrentDirectoryA(size, buffer);
  Result(length == 0, "%lu", static_cast<unsigned long>(length));
  if (length != 0 && length < size && buffer != nullptr) {
    line_.Raw(" ").Text(std::string_view(buffer, length));
  }
  Commit();
  return length;
}

BOOL TraceApi::SetCurrentDirectoryA(LPCSTR pathName) {
  Begin("SetCurrentDirectoryA").Next().Text(pathName);
  return EndBool(inner_.SetCurrentDirectoryA(pathName));
}

// --- Version, modules, run-time look-up ------------------------------------------

BOOL TraceApi::GetVersionExA(LPOSVERSIONINFOA info) {
  Begin("GetVersionExA").Next().Raw("size ").Hex(info != nullptr ? info->dwOSVersionInfoSize : 0);
  const BOOL result = EndBool(inner_.GetVersionExA(info));
  if (!result || info == nullptr) {
    return result;
  }
  line_.Start(sink_.MillisecondsSinceStart(), "# Windows ");
  line_.Format("%lu.%lu build %lu, platform %lu, ",
               static_cast<unsigned long>(info->dwMajorVersion),
               static_cast<unsigned long>(info->dwMinorVersion),
               static_cast<unsigned long>(info->dwBuildNumber),
               static_cast<unsigned long>(info->dwPlatformId));
  line_.Text(Terminated(info->szCSDVersion, sizeof info->szCSDVersion));
  if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
    const auto* ex = reinterpret_cast<const OSVERSIONINFOEXA*>(info);
    line_.Format(", service pack %u.%u, suite 0x%x, product type %u", ex->wServicePackMajor,
                 ex->wServicePackMinor, ex->wSuiteMask, ex->wProductType);
  }
  Commit();
  return result;
}

HMODULE TraceApi::GetModuleHandleA(LPCSTR moduleName) {
  Begin("GetModuleHandleA").Next().Text(moduleName);
  const HMODULE module = inner_.GetModuleHandleA(moduleName);
  EndPointer(module);
  return module;
}

HMODULE TraceApi::LoadLibraryA(LPCSTR fileName) {
  Begin("LoadLibraryA").Next().Text(fileName);
  const HMODULE module = inner_.LoadLibraryA(fileName);
  EndPointer(module);
  return module;
}

BOOL TraceApi::FreeLibrary(HMODULE module) {
  Begin("FreeLibrary").Next().Pointer(module);
  return EndBool(inner_.FreeLibrary(module));
}

FARPROC TraceApi::GetProcAddress(HMODULE module, LPCSTR procName) {
  Begin("GetProcAddress").Next().Pointer(module).Next().Text(procName);
  const FARPROC function = inner_.GetProcAddress(module, procName);
  EndPointer(reinterpret_cast<const void*>(function));
  return function;
}

HANDLE TraceApi::GetCurrentProcess() {
  Begin("GetCurrentProcess").Next();
  const HANDLE process = inner_.GetCurrentProcess();
  Result(false, "%s", "");
  line_.Pointer(process);
  Commit();
  return process;
}

BOOL TraceApi::CallIsWow64Process(FARPROC isWow64Process, HANDLE process, PBOOL wow64) {
  Begin("IsWow64Process").Next().Pointer(process);
  const BOOL result = EndBool(inner_.CallIsWow64Process(isWow64Process, process, wow64));
  if (result && wow64 != nullptr) {
    line_.Start(sink_.MillisecondsSinceStart(), *wow64 ? "# WOW64: yes" : "# WOW64: no");
    Commit();
  }
  return result;
}

BOOL TraceApi::CallWow64DisableWow64FsRedirection(FARPROC disable, PVOID* oldValue) {
  Begin("Wow64DisableWow64FsRedirection").Next();
  return EndBool(inner_.CallWow64DisableWow64FsRedirection(disable, oldValue));
}

BOOL TraceApi::CallSetDllDirectoryA(FARPROC setDllDirectory, LPCSTR pathName) {
  Begin("SetDllDirectoryA").Next().Text(pathName);
  return EndBool(inner_.CallSetDllDirectoryA(setDllDirectory, pathName));
}

BOOL TraceApi::CallSetDefaultDllDirectories(FARPROC setDefaultDllDirectories,
                                            DWORD directoryFlags) {
  Begin("SetDefaultDllDirectories").Next().Hex(directoryFlags);
  return EndBool(inner_.CallSetDefaultDllDirectories(setDefaultDllDirectories, directoryFlags));
}

BOOL TraceApi::CallOpenPrinterW(FARPROC openPrinter, LPWSTR printerName, LPHANDLE printer,
                                LPPRINTER_DEFAULTSW defaults) {
  Begin("OpenPrinterW")
      .Next()
      .Wide(printerName)
      .Next()
      .Raw("access ")
      .Hex(defaults != nullptr ? defaults->DesiredAccess : 0);
  const BOOL result = inner_.CallOpenPrinterW(openPrinter, printerName, printer, defaults);
  if (result && printer != nullptr) {
    line_.Next().Raw("-> ").Pointer(*printer);
  }
  return EndBool(result);
}

BOOL TraceApi::CallXcvDataW(FARPROC xcvData, HANDLE xcv, LPCWSTR dataName, PBYTE inputData,
                            DWORD inputSize, PBYTE outputData, DWORD outputSize,
                            PDWORD outputNeeded, PDWORD status) {
  // The input is never shown: "SetPortData" carries the port's password.
  Begin("XcvDataW").Next().Pointer(xcv).Next().Wide(dataName).Next().Raw("input ").Hex(inputSize);
  line_.Next().Raw("output ").Hex(outputSize);
  const BOOL result = inner_.CallXcvDataW(xcvData, xcv, dataName, inputData, inputSize, outputData,
                                          outputSize, outputNeeded, status);
  if (result && status != nullptr) {
    line_.Next().Raw("-> status ").ErrorCode(*status);
  }
  return EndBool(result);
}

int TraceApi::CallMultiByteToWideChar(FARPROC multiByteToWideChar, UINT codePage, DWORD flags,
                                      LPCSTR multiByte, int multiByteCount, LPWSTR wideChar,
                                      int wideCharCount) {
  Begin("MultiByteToWideChar").Next().Hex(codePage).Next().Hex(flags).Next();
  if (multiByteCount < 0) {
    line_.Text(multiByte);
  } else {
    line_.Text(std::string_view(multiByte != nullptr ? multiByte : "",
                                static_cast<std::size_t>(multiByteCount)));
  }
  line_.Next()
      .Format("%d", multiByteCount)
      .Next()
      .Raw("buffer ")
      .Hex(static_cast<unsigned>(wideCharCount));
  const int units = inner_.CallMultiByteToWideChar(multiByteToWideChar, codePage, flags, multiByte,
                                                   multiByteCount, wideChar, wideCharCount);
  Result(units == 0, "%d", units);
  Commit();
  return units;
}

// --- Print spooler ------------------------------------------------------------------

BOOL TraceApi::AddMonitorA(LPSTR serverName, DWORD level, LPBYTE monitors) {
  Begin("AddMonitorA").Next().Text(serverName).Next().Hex(level);
  if (level == 2 && monitors != nullptr) {
    const auto* info = reinterpret_cast<const MONITOR_INFO_2A*>(monitors);
    line_.Next().Text(info->pName).Next().Text(info->pEnvironment).Next().Text(info->pDLLName);
  }
  return EndBool(inner_.AddMonitorA(serverName, level, monitors));
}

BOOL TraceApi::DeleteMonitorA(LPSTR serverName, LPSTR environment, LPSTR monitorName) {
  Begin("DeleteMonitorA").Next().Text(serverName).Next().Text(environment).Next().Text(monitorName);
  return EndBool(inner_.DeleteMonitorA(serverName, environment, monitorName));
}

BOOL TraceApi::OpenPrinterA(LPSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) {
  Begin("OpenPrinterA")
      .Next()
      .Text(printerName)
      .Next()
      .Raw("access ")
      .Hex(defaults != nullptr ? defaults->DesiredAccess : 0);
  const BOOL result = inner_.OpenPrinterA(printerName, printer, defaults);
  if (result && printer != nullptr) {
    line_.Next().Raw("-> ").Pointer(*printer);
  }
  return EndBool(result);
}

BOOL TraceApi::GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize,
                           LPDWORD needed) {
  Begin("GetPrinterA")
      .Next()
      .Pointer(printer)
      .Next()
      .Hex(level)
      .Next()
      .Raw("buffer ")
      .Hex(bufferSize);
  const BOOL result = inner_.GetPrinterA(printer, level, buffer, bufferSize, needed);
  if (needed != nullptr) {
    line_.Next().Raw("-> needed ").Hex(*needed);
  }
  return EndBool(result);
}

BOOL TraceApi::SetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD command) {
  Begin("SetPrinterA").Next().Pointer(printer).Next().Hex(level);
  if (level == 2 && buffer != nullptr) {
    const auto* info = reinterpret_cast<const PRINTER_INFO_2A*>(buffer);
    line_.Next().Raw("printer ").Text(info->pPrinterName).Raw(" port ").Text(info->pPortName);
  }
  line_.Next().Hex(command);
  return EndBool(inner_.SetPrinterA(printer, level, buffer, command));
}

BOOL TraceApi::ClosePrinter(HANDLE printer) {
  Begin("ClosePrinter").Next().Pointer(printer);
  return EndBool(inner_.ClosePrinter(printer));
}

BOOL TraceApi::EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                             LPDWORD needed, LPDWORD returned) {
  Begin("EnumPrintersA")
      .Next()
      .Hex(flags)
      .Next()
      .Text(name)
      .Next()
      .Hex(level)
      .Next()
      .Raw("buffer ")
      .Hex(bufferSize);
  const BOOL result =
      inner_.EnumPrintersA(flags, name, level, buffer, bufferSize, needed, returned);
  if (needed != nullptr && returned != nullptr) {
    line_.Next().Raw("-> needed ").Hex(*needed).Raw(" returned ").Hex(*returned);
  }
  return EndBool(result);
}

BOOL TraceApi::EnumPortsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed,
                          LPDWORD returned) {
  Begin("EnumPortsA").Next().Text(name).Next().Hex(level).Next().Raw("buffer ").Hex(bufferSize);
  const BOOL result = inner_.EnumPortsA(name, level, buffer, bufferSize, needed, returned);
  if (needed != nullptr && returned != nullptr) {
    line_.Next().Raw("-> needed ").Hex(*needed).Raw(" returned ").Hex(*returned);
  }
  return EndBool(result);
}

// --- Processes ------------------------------------------------------------------------

DWORD TraceApi::GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  Begin("GetEnvironmentVariableA").Next().Text(name).Next().Raw("buffer ").Hex(size);
  const DWORD length = inner_.GetEnvironmentVariableA(name, buffer, size);
  Result(length == 0, "%lu", static_cast<unsigned long>(length));
  if (length != 0 && length < size && buffer != nullptr) {
    line_.Raw(" ").Text(std::string_view(buffer, length));
  }
  Commit();
  return length;
}

BOOL TraceApi::CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                              LPSECURITY_ATTRIBUTES processAttributes,
                              LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                              DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                              LPSTARTUPINFOA startupInfo,
                              LPPROCESS_INFORMATION processInformation) {
  Begin("CreateProcessA")
      .Next()
      .Text(applicationName)
      .Next()
      .Text(commandLine)
      .Next()
      .Hex(inheritHandles);
  line_.Next().Hex(creationFlags).Next().Text(currentDirectory);
  const BOOL result = inner_.CreateProcessA(
      applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
      creationFlags, environment, currentDirectory, startupInfo, processInformation);
  if (result && processInformation != nullptr) {
    line_.Next().Raw("-> process ").Pointer(processInformation->hProcess);
    line_.Raw(" thread ").Pointer(processInformation->hThread);
    line_.Raw(" id ").Hex(processInformation->dwProcessId);
  }
  return EndBool(result);
}

DWORD TraceApi::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Begin("WaitForSingleObject").Next().Pointer(handle).Next().Hex(milliseconds);
  const DWORD result = inner_.WaitForSingleObject(handle, milliseconds);
  Result(result == WAIT_FAILED, "0x%lx", static_cast<unsigned long>(result));
  Commit();
  return result;
}

BOOL TraceApi::GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  Begin("GetExitCodeProcess").Next().Pointer(process);
  const BOOL result = inner_.GetExitCodeProcess(process, exitCode);
  if (result && exitCode != nullptr) {
    line_.Next().Raw("-> ").Hex(*exitCode);
  }
  return EndBool(result);
}

BOOL TraceApi::CloseHandle(HANDLE handle) {
  Begin("CloseHandle").Next().Pointer(handle);
  return EndBool(inner_.CloseHandle(handle));
}

// --- Memory -------------------------------------------------------------------------------

HGLOBAL TraceApi::GlobalAlloc(UINT flags, SIZE_T bytes) {
  Begin("GlobalAlloc").Next().Hex(flags).Next().Hex(bytes);
  const HGLOBAL memory = inner_.GlobalAlloc(flags, bytes);
  EndPointer(memory);
  return memory;
}

HGLOBAL TraceApi::GlobalFree(HGLOBAL memory) {
  Begin("GlobalFree").Next().Pointer(memory);
  const HGLOBAL result = inner_.GlobalFree(memory);
  // Null is success here; the block itself comes back when it was not freed.
  Result(result != nullptr, "%s", result == nullptr ? "NULL" : "not freed");
  Commit();
  return result;
}

}  // namespace tolvo
