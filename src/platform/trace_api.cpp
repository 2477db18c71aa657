#include "platform/trace_api.h"

#include <cstring>

namespace tolvo {

namespace {

constexpr std::size_t kReportedEventStrings = 8;
constexpr std::string_view kNotShown = "<not shown>";
// Set as the last error before each call, so that a call that sets none can
// be told from one that does: no Windows function sets this value.
constexpr DWORD kNoErrorSet = 0x7E5E7000;

const char* WaitResultName(DWORD result) {
  switch (result) {
    case WAIT_OBJECT_0:
      return "WAIT_OBJECT_0";
    case WAIT_ABANDONED:
      return "WAIT_ABANDONED";
    case WAIT_TIMEOUT:
      return "WAIT_TIMEOUT";
    case WAIT_FAILED:
      return "WAIT_FAILED";
    default:
      return nullptr;
  }
}

}  // namespace

// --- TraceApi: lines ------------------------------------------------------------

TraceApi::TraceApi(WinApi& inner, TraceSink& sink) : inner_(inner), sink_(sink) {}

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
  errorBefore_ = inner_.GetLastError();
  inner_.SetLastError(kNoErrorSet);
  line_.StartCall(sink_.MillisecondsSinceStart(), function);
  return line_;
}

TraceLine& TraceApi::Returns() {
  const DWORD error = inner_.GetLastError();
  errorSet_ = error != kNoErrorSet;
  // A call that set no error leaves the thread the one it had before.
  lastError_ = errorSet_ ? error : errorBefore_;
  return line_.Returns();
}

void TraceApi::Commit() {
  line_.EndLine();
  sink_.Write(line_.text());
  // Whatever writing the trace did to the thread's last error is undone.
  inner_.SetLastError(lastError_);
}

void TraceApi::CommitWithError(bool failed) {
  if (failed) {
    ShowError("error ");
  }
  Commit();
}

void TraceApi::ShowError(std::string_view label) {
  if (errorSet_) {
    line_.Label(label).ErrorCode(lastError_);
  } else {
    line_.Label(label).Raw("not set");
  }
}

BOOL TraceApi::EndBool(BOOL result) {
  Returns().Value(result ? "TRUE" : "FALSE");
  CommitWithError(!result);
  return result;
}

LSTATUS TraceApi::EndStatus(LSTATUS status) {
  if (status == 0) {
    Returns().Value("0");
  } else {
    Returns().ErrorCode(static_cast<DWORD>(status));
  }
  Commit();
  return status;
}

void TraceApi::EndPointer(const void* result, const void* invalid) {
  Returns().Pointer(result);
  CommitWithError(result == nullptr || result == invalid);
}

HANDLE TraceApi::EndFreed(HANDLE result) {
  // Null is success here; the block itself comes back when it was not freed.
  Returns().Pointer(result);
  CommitWithError(result != nullptr);
  return result;
}

void TraceApi::EndHex(DWORD value, bool failed) {
  Returns().Hex(value);
  CommitWithError(failed);
}

void TraceApi::EndDecimal(long value, bool failed) {
  Returns().Decimal(value);
  CommitWithError(failed);
}

void TraceApi::EndText(DWORD length, DWORD size, const char* buffer) {
  Returns().Decimal(static_cast<long>(length));
  if (length != 0 && length < size && buffer != nullptr) {
    line_.Text(std::string_view(buffer, length));
  }
  CommitWithError(length == 0);
}

void TraceApi::Note(std::string_view marker, std::string_view text) {
  lastError_ = inner_.GetLastError();
  line_.Start(sink_.MillisecondsSinceStart(), marker);
  line_.Text(text);
  Commit();
}

DWORD TraceApi::FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                               LPSTR buffer, DWORD size, va_list* arguments) {
  Begin("FormatMessageA").Hex(flags).Decimal(static_cast<long>(messageId));
  line_.Label("buffer ").Hex(size);
  const DWORD length =
      inner_.FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments);
  EndText(length, size, buffer);
  return length;
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

void TraceApi::WriteStderr(std::string_view text) {
  inner_.WriteStderr(text);
  Note("| error   ", text);
}

RunLogStream TraceApi::OpenRunLog(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  Begin("OpenRunLog")
      .Text(path)
      .Pointer(security != nullptr ? security->lpSecurityDescriptor : nullptr);
  const RunLogStream stream = inner_.OpenRunLog(path, security);
  EndPointer(stream);
  return stream;
}

void TraceApi::WriteRunLog(RunLogStream stream, std::string_view text) {
  inner_.WriteRunLog(stream, text);
  if (text.size() == lastConsoleLength_ &&
      std::memcmp(text.data(), lastConsole_, lastConsoleLength_) == 0) {
    lastError_ = inner_.GetLastError();
    line_.Start(sink_.MillisecondsSinceStart(), "| log     (as on the console)");
    Commit();
    return;
  }
  Note("| log     ", text);
}

void TraceApi::CloseRunLog(RunLogStream stream) {
  inner_.CloseRunLog(stream);
  lastError_ = inner_.GetLastError();
  line_.Start(sink_.MillisecondsSinceStart(), "| log     closed ");
  line_.Pointer(stream);
  Commit();
}

// --- Registry -------------------------------------------------------------------

LSTATUS TraceApi::RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                                PHKEY result) {
  Begin("RegOpenKeyExA").Pointer(key).Text(subKey).Hex(options).Hex(desired);
  const LSTATUS status = inner_.RegOpenKeyExA(key, subKey, options, desired, result);
  if (status == 0 && result != nullptr) {
    line_.Label("-> ").Pointer(*result);
  }
  return EndStatus(status);
}

LSTATUS TraceApi::RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                                  DWORD options, REGSAM desired, LPSECURITY_ATTRIBUTES security,
                                  PHKEY result, LPDWORD disposition) {
  Begin("RegCreateKeyExA").Pointer(key).Text(subKey).Hex(options).Hex(desired);
  const LSTATUS status = inner_.RegCreateKeyExA(key, subKey, reserved, className, options, desired,
                                                security, result, disposition);
  if (status == 0 && result != nullptr) {
    line_.Label("-> ").Pointer(*result);
    if (disposition != nullptr) {
      line_.Label("disposition ").Hex(*disposition);
    }
  }
  return EndStatus(status);
}

LSTATUS TraceApi::RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                   LPBYTE data, LPDWORD dataSize) {
  // A password's size is as much a secret as its text: neither the buffer
  // given for it (the size asked for first) nor the size read is shown.
  const bool secret = IsTraceSecretKey(valueName);
  Begin("RegQueryValueExA").Pointer(key).Text(valueName);
  if (!secret) {
    line_.Label("buffer ").Hex(dataSize != nullptr ? *dataSize : 0);
  }
  const LSTATUS status = inner_.RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
  if (status == 0 && dataSize != nullptr) {
    if (secret) {
      line_.Label("-> ").Hidden();
    } else {
      line_.Label("-> size ").Hex(*dataSize);
      if (data != nullptr && type != nullptr) {
        ShowRegistryData(*type, reinterpret_cast<const char*>(data), *dataSize);
      }
    }
  }
  return EndStatus(status);
}

LSTATUS TraceApi::RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD dataSize) {
  Begin("RegSetValueExA").Pointer(key).Text(valueName).Hex(type);
  if (data == nullptr || !ShowRegistryData(type, reinterpret_cast<const char*>(data), dataSize)) {
    line_.Label("data ").Hex(dataSize);
  }
  return EndStatus(inner_.RegSetValueExA(key, valueName, reserved, type, data, dataSize));
}

bool TraceApi::ShowRegistryData(DWORD type, const char* data, DWORD size) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    line_.Text(TerminatedText(data, size));
    return true;
  }
  if (type == REG_DWORD && size == sizeof(DWORD)) {
    DWORD value = 0;
    std::memcpy(&value, data, sizeof value);
    line_.Hex(value);
    return true;
  }
  return false;
}

LSTATUS TraceApi::RegDeleteValueA(HKEY key, LPCSTR valueName) {
  Begin("RegDeleteValueA").Pointer(key).Text(valueName);
  return EndStatus(inner_.RegDeleteValueA(key, valueName));
}

LSTATUS TraceApi::RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  Begin("RegDeleteKeyA").Pointer(key).Text(subKey);
  return EndStatus(inner_.RegDeleteKeyA(key, subKey));
}

LSTATUS TraceApi::RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                                LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  Begin("RegEnumValueA").Pointer(key).Hex(index);
  line_.Label("buffers ").Hex(valueNameSize != nullptr ? *valueNameSize : 0);
  line_.Hex(dataSize != nullptr ? *dataSize : 0);
  const LSTATUS status =
      inner_.RegEnumValueA(key, index, valueName, valueNameSize, reserved, type, data, dataSize);
  if (status == 0 && valueName != nullptr && valueNameSize != nullptr) {
    line_.Label("-> ").Text(std::string_view(valueName, *valueNameSize));
    if (dataSize != nullptr) {
      line_.Label("size ").Hex(*dataSize);
    }
  }
  return EndStatus(status);
}

LSTATUS TraceApi::RegCloseKey(HKEY key) {
  Begin("RegCloseKey").Pointer(key);
  return EndStatus(inner_.RegCloseKey(key));
}

// --- Event log ------------------------------------------------------------------

HANDLE TraceApi::RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
  Begin("RegisterEventSourceA").Text(serverName).Text(sourceName);
  const HANDLE result = inner_.RegisterEventSourceA(serverName, sourceName);
  EndPointer(result);
  return result;
}

BOOL TraceApi::ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                            WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData) {
  Begin("ReportEventA").Pointer(eventLog).Hex(type).Hex(category).Hex(eventId);
  for (WORD i = 0; strings != nullptr && i < numStrings && i < kReportedEventStrings; ++i) {
    line_.Text(strings[i]);
  }
  line_.Label("data ").Hex(dataSize);
  return EndBool(inner_.ReportEventA(eventLog, type, category, eventId, userSid, numStrings,
                                     dataSize, strings, rawData));
}

BOOL TraceApi::DeregisterEventSource(HANDLE eventLog) {
  Begin("DeregisterEventSource").Pointer(eventLog);
  return EndBool(inner_.DeregisterEventSource(eventLog));
}

// --- Profile files ------------------------------------------------------------------

DWORD TraceApi::GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                         LPSTR returned, DWORD size, LPCSTR fileName) {
  // A password's length is as much a secret as its text: neither the
  // length read nor the last error (which tells a cut one) is shown.
  const bool secret = IsTraceSecretKey(keyName);
  Begin("GetPrivateProfileStringA").Text(appName).Text(keyName).Text(defaultText);
  if (!secret) {
    line_.Label("buffer ").Hex(size);
  }
  line_.Text(fileName);
  const DWORD length =
      inner_.GetPrivateProfileStringA(appName, keyName, defaultText, returned, size, fileName);
  if (secret) {
    Returns().Hidden();
    Commit();
    return length;
  }
  Returns().Decimal(static_cast<long>(length));
  if (returned != nullptr && length < size) {
    line_.Text(std::string_view(returned, length));
  }
  ShowError("last error ");
  Commit();
  return length;
}

UINT TraceApi::GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                     LPCSTR fileName) {
  Begin("GetPrivateProfileIntA").Text(appName).Text(keyName).Decimal(defaultValue).Text(fileName);
  const UINT value = inner_.GetPrivateProfileIntA(appName, keyName, defaultValue, fileName);
  Returns().Decimal(static_cast<long>(value));
  ShowError("last error ");
  Commit();
  return value;
}

// --- Files and folders ------------------------------------------------------------

BOOL TraceApi::CopyFileA(LPCSTR existingFile, LPCSTR newFile, BOOL failIfExists) {
  Begin("CopyFileA").Text(existingFile).Text(newFile).Hex(failIfExists);
  return EndBool(inner_.CopyFileA(existingFile, newFile, failIfExists));
}

BOOL TraceApi::DeleteFileA(LPCSTR fileName) {
  Begin("DeleteFileA").Text(fileName);
  return EndBool(inner_.DeleteFileA(fileName));
}

DWORD TraceApi::GetFileAttributesA(LPCSTR fileName) {
  Begin("GetFileAttributesA").Text(fileName);
  const DWORD attributes = inner_.GetFileAttributesA(fileName);
  EndHex(attributes, attributes == INVALID_FILE_ATTRIBUTES);
  return attributes;
}

UINT TraceApi::GetDriveTypeA(LPCSTR rootPathName) {
  Begin("GetDriveTypeA").Text(rootPathName);
  const UINT type = inner_.GetDriveTypeA(rootPathName);
  Returns().Decimal(static_cast<long>(type));
  // DRIVE_UNKNOWN and DRIVE_NO_ROOT_DIR: the error, where one was set, says why.
  CommitWithError(type <= 1);
  return type;
}

BOOL TraceApi::SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  Begin("SetFileAttributesA").Text(fileName).Hex(attributes);
  return EndBool(inner_.SetFileAttributesA(fileName, attributes));
}

BOOL TraceApi::CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security) {
  Begin("CreateDirectoryA").Text(pathName);
  return EndBool(inner_.CreateDirectoryA(pathName, security));
}

BOOL TraceApi::RemoveDirectoryA(LPCSTR pathName) {
  Begin("RemoveDirectoryA").Text(pathName);
  return EndBool(inner_.RemoveDirectoryA(pathName));
}

HANDLE TraceApi::FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  Begin("FindFirstFileA").Text(fileName);
  const HANDLE find = inner_.FindFirstFileA(fileName, findData);
  if (find != INVALID_HANDLE_VALUE && findData != nullptr) {
    line_.Label("-> ").Text(TerminatedText(findData->cFileName, sizeof findData->cFileName));
  }
  EndPointer(find, INVALID_HANDLE_VALUE);
  return find;
}

BOOL TraceApi::FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) {
  Begin("FindNextFileA").Pointer(find);
  const BOOL result = inner_.FindNextFileA(find, findData);
  if (result && findData != nullptr) {
    line_.Label("-> ").Text(TerminatedText(findData->cFileName, sizeof findData->cFileName));
  }
  return EndBool(result);
}

BOOL TraceApi::FindClose(HANDLE find) {
  Begin("FindClose").Pointer(find);
  return EndBool(inner_.FindClose(find));
}

UINT TraceApi::GetSystemDirectoryA(LPSTR buffer, UINT size) {
  Begin("GetSystemDirectoryA").Label("buffer ").Hex(size);
  const UINT length = inner_.GetSystemDirectoryA(buffer, size);
  EndText(length, size, buffer);
  return length;
}

UINT TraceApi::GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  Begin("GetWindowsDirectoryA").Label("buffer ").Hex(size);
  const UINT length = inner_.GetWindowsDirectoryA(buffer, size);
  EndText(length, size, buffer);
  return length;
}

DWORD TraceApi::GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  Begin("GetCurrentDirectoryA").Label("buffer ").Hex(size);
  const DWORD length = inner_.GetCurrentDirectoryA(size, buffer);
  EndText(length, size, buffer);
  return length;
}

BOOL TraceApi::SetCurrentDirectoryA(LPCSTR pathName) {
  Begin("SetCurrentDirectoryA").Text(pathName);
  return EndBool(inner_.SetCurrentDirectoryA(pathName));
}

HANDLE TraceApi::CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) {
  Begin("CreateFileA").Text(fileName).Hex(access).Hex(shareMode).Hex(disposition).Hex(flags);
  const HANDLE file =
      inner_.CreateFileA(fileName, access, shareMode, security, disposition, flags, templateFile);
  EndPointer(file, INVALID_HANDLE_VALUE);
  return file;
}

BOOL TraceApi::ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                        LPOVERLAPPED overlapped) {
  Begin("ReadFile").Pointer(file).Hex(bytesToRead);
  const BOOL result = inner_.ReadFile(file, buffer, bytesToRead, bytesRead, overlapped);
  if (result && bytesRead != nullptr) {
    line_.Label("-> read ").Hex(*bytesRead);
  }
  return EndBool(result);
}

// --- Version, modules, run-time look-up ------------------------------------------

BOOL TraceApi::GetVersionExA(LPOSVERSIONINFOA info) {
  Begin("GetVersionExA").Label("size ").Hex(info != nullptr ? info->dwOSVersionInfoSize : 0);
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
  line_.Text(TerminatedText(info->szCSDVersion, sizeof info->szCSDVersion));
  if (info->dwOSVersionInfoSize == sizeof(OSVERSIONINFOEXA)) {
    const auto* ex = reinterpret_cast<const OSVERSIONINFOEXA*>(info);
    line_.Format(", service pack %u.%u, suite 0x%x, product type %u", ex->wServicePackMajor,
                 ex->wServicePackMinor, ex->wSuiteMask, ex->wProductType);
  }
  Commit();
  return result;
}

HMODULE TraceApi::GetModuleHandleA(LPCSTR moduleName) {
  Begin("GetModuleHandleA").Text(moduleName);
  const HMODULE module = inner_.GetModuleHandleA(moduleName);
  EndPointer(module);
  return module;
}

HMODULE TraceApi::LoadLibraryA(LPCSTR fileName) {
  Begin("LoadLibraryA").Text(fileName);
  const HMODULE module = inner_.LoadLibraryA(fileName);
  EndPointer(module);
  return module;
}

BOOL TraceApi::FreeLibrary(HMODULE module) {
  Begin("FreeLibrary").Pointer(module);
  return EndBool(inner_.FreeLibrary(module));
}

HANDLE TraceApi::GetCurrentProcess() {
  Begin("GetCurrentProcess");
  const HANDLE process = inner_.GetCurrentProcess();
  Returns().Pointer(process);
  Commit();
  return process;
}

bool TraceApi::HasEntryPoint(HMODULE module, EntryPoint entry) {
  Begin("GetProcAddress").Pointer(module).Text(EntryPointName(entry));
  return EndBool(inner_.HasEntryPoint(module, entry) ? TRUE : FALSE) != FALSE;
}

BOOL TraceApi::IsWow64Process(HANDLE process, PBOOL wow64) {
  Begin("IsWow64Process").Pointer(process);
  const BOOL result = EndBool(inner_.IsWow64Process(process, wow64));
  if (result && wow64 != nullptr) {
    line_.Start(sink_.MillisecondsSinceStart(), *wow64 ? "# WOW64: yes" : "# WOW64: no");
    Commit();
  }
  return result;
}

BOOL TraceApi::IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
  Begin("IsWow64Process2").Pointer(process);
  const BOOL result = EndBool(inner_.IsWow64Process2(process, processMachine, nativeMachine));
  if (result && processMachine != nullptr && nativeMachine != nullptr) {
    line_.Start(sink_.MillisecondsSinceStart(), "# machines: process ");
    line_.Hex(*processMachine).Label("native ").Hex(*nativeMachine);
    Commit();
  }
  return result;
}

BOOL TraceApi::Wow64DisableWow64FsRedirection(PVOID* oldValue) {
  Begin("Wow64DisableWow64FsRedirection");
  return EndBool(inner_.Wow64DisableWow64FsRedirection(oldValue));
}

BOOL TraceApi::SetDllDirectoryA(LPCSTR pathName) {
  Begin("SetDllDirectoryA").Text(pathName);
  return EndBool(inner_.SetDllDirectoryA(pathName));
}

BOOL TraceApi::SetDefaultDllDirectories(DWORD directoryFlags) {
  Begin("SetDefaultDllDirectories").Hex(directoryFlags);
  return EndBool(inner_.SetDefaultDllDirectories(directoryFlags));
}

BOOL TraceApi::OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
  Begin("OpenPrinterW").Wide(printerName);
  line_.Label("access ").Hex(defaults != nullptr ? defaults->DesiredAccess : 0);
  const BOOL result = inner_.OpenPrinterW(printerName, printer, defaults);
  if (result && printer != nullptr) {
    line_.Label("-> ").Pointer(*printer);
  }
  return EndBool(result);
}

BOOL TraceApi::XcvDataW(HANDLE xcv, LPCWSTR dataName, PBYTE inputData, DWORD inputSize,
                        PBYTE outputData, DWORD outputSize, PDWORD outputNeeded, PDWORD status) {
  // The input is never shown: "SetPortData" carries the port's password.
  Begin("XcvDataW").Pointer(xcv).Wide(dataName).Label("input ").Hex(inputSize);
  line_.Label("output ").Hex(outputSize);
  const BOOL result = inner_.XcvDataW(xcv, dataName, inputData, inputSize, outputData, outputSize,
                                      outputNeeded, status);
  if (result && status != nullptr) {
    line_.Label("-> status ").ErrorCode(*status);
  }
  return EndBool(result);
}

int TraceApi::MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                                  LPWSTR wideChar, int wideCharCount) {
  // The texts converted for the monitor's channel are the port-data
  // record's fields, its password among them: neither they nor their
  // lengths are shown, as the record itself is shown by its size only.
  Begin("MultiByteToWideChar").Hex(codePage).Hex(flags).Value(kNotShown);
  line_.Decimal(multiByteCount).Label("buffer ").Hex(static_cast<unsigned>(wideCharCount));
  const int units = inner_.MultiByteToWideChar(codePage, flags, multiByte, multiByteCount, wideChar,
                                               wideCharCount);
  if (units != 0) {
    Returns().Value(kNotShown);
    Commit();
  } else {
    EndDecimal(units, true);
  }
  return units;
}

int TraceApi::CompareTextIgnoreCase(LPCSTR left, LPCSTR right) {
  return inner_.CompareTextIgnoreCase(left, right);
}

// --- Processes ------------------------------------------------------------------------

DWORD TraceApi::GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  Begin("GetEnvironmentVariableA").Text(name).Label("buffer ").Hex(size);
  const DWORD length = inner_.GetEnvironmentVariableA(name, buffer, size);
  EndText(length, size, buffer);
  return length;
}

BOOL TraceApi::CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                              LPSECURITY_ATTRIBUTES processAttributes,
                              LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                              DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                              LPSTARTUPINFOA startupInfo,
                              LPPROCESS_INFORMATION processInformation) {
  Begin("CreateProcessA").Text(applicationName).Text(commandLine).Hex(inheritHandles);
  line_.Hex(creationFlags).Text(currentDirectory);
  const BOOL result = inner_.CreateProcessA(
      applicationName, commandLine, processAttributes, threadAttributes, inheritHandles,
      creationFlags, environment, currentDirectory, startupInfo, processInformation);
  if (result && processInformation != nullptr) {
    line_.Label("-> process ").Pointer(processInformation->hProcess);
    line_.Label("thread ").Pointer(processInformation->hThread);
    line_.Label("id ").Hex(processInformation->dwProcessId);
  }
  return EndBool(result);
}

DWORD TraceApi::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Begin("WaitForSingleObject").Pointer(handle).Hex(milliseconds);
  const DWORD result = inner_.WaitForSingleObject(handle, milliseconds);
  Returns().Hex(result);
  if (const char* name = WaitResultName(result)) {
    line_.Raw(" ").Raw(name);
  }
  CommitWithError(result == WAIT_FAILED);
  return result;
}

BOOL TraceApi::GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  Begin("GetExitCodeProcess").Pointer(process);
  const BOOL result = inner_.GetExitCodeProcess(process, exitCode);
  if (result && exitCode != nullptr) {
    line_.Label("-> ").Hex(*exitCode);
  }
  return EndBool(result);
}

BOOL TraceApi::CloseHandle(HANDLE handle) {
  Begin("CloseHandle").Pointer(handle);
  return EndBool(inner_.CloseHandle(handle));
}

HANDLE TraceApi::CreateMutexA(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner,
                              LPCSTR name) {
  Begin("CreateMutexA").Pointer(mutexAttributes).Hex(initialOwner).Text(name);
  const HANDLE mutex = inner_.CreateMutexA(mutexAttributes, initialOwner, name);
  Returns().Pointer(mutex);
  if (mutex != nullptr && errorSet_ && lastError_ == ERROR_ALREADY_EXISTS) {
    ShowError("last error ");
  }
  CommitWithError(mutex == nullptr);
  return mutex;
}

BOOL TraceApi::ReleaseMutex(HANDLE mutex) {
  Begin("ReleaseMutex").Pointer(mutex);
  return EndBool(inner_.ReleaseMutex(mutex));
}

// --- Security ------------------------------------------------------------------------------

BOOL TraceApi::ConvertStringSecurityDescriptorToSecurityDescriptorA(
    LPCSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
  Begin("ConvertStringSecurityDescriptorToSecurityDescriptorA").Text(text).Decimal(revision);
  const BOOL result =
      inner_.ConvertStringSecurityDescriptorToSecurityDescriptorA(text, revision, descriptor, size);
  if (result && descriptor != nullptr) {
    line_.Label("-> ").Pointer(*descriptor);
  }
  return EndBool(result);
}

DWORD TraceApi::GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts,
                                PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                PSECURITY_DESCRIPTOR* descriptor) {
  Begin("GetSecurityInfo").Pointer(handle).Decimal(type).Hex(parts);
  const DWORD status =
      inner_.GetSecurityInfo(handle, type, parts, owner, group, dacl, sacl, descriptor);
  if (status == ERROR_SUCCESS && descriptor != nullptr) {
    line_.Label("-> ").Pointer(*descriptor);
  }
  return static_cast<DWORD>(EndStatus(static_cast<LSTATUS>(status)));
}

DWORD TraceApi::GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE type,
                                      SECURITY_INFORMATION parts, PSID* owner, PSID* group,
                                      PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  Begin("GetNamedSecurityInfoA").Text(objectName).Decimal(type).Hex(parts);
  const DWORD status =
      inner_.GetNamedSecurityInfoA(objectName, type, parts, owner, group, dacl, sacl, descriptor);
  if (status == ERROR_SUCCESS && descriptor != nullptr) {
    line_.Label("-> ").Pointer(*descriptor);
  }
  return static_cast<DWORD>(EndStatus(static_cast<LSTATUS>(status)));
}

BOOL TraceApi::ConvertSecurityDescriptorToStringSecurityDescriptorA(PSECURITY_DESCRIPTOR descriptor,
                                                                    DWORD revision,
                                                                    SECURITY_INFORMATION parts,
                                                                    LPSTR* text, PULONG length) {
  Begin("ConvertSecurityDescriptorToStringSecurityDescriptorA")
      .Pointer(descriptor)
      .Decimal(revision)
      .Hex(parts);
  const BOOL result = inner_.ConvertSecurityDescriptorToStringSecurityDescriptorA(
      descriptor, revision, parts, text, length);
  if (result && text != nullptr) {
    line_.Label("-> ").Text(*text);
  }
  return EndBool(result);
}

BOOL TraceApi::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  Begin("OpenProcessToken").Pointer(process).Hex(access);
  const BOOL result = inner_.OpenProcessToken(process, access, token);
  if (result && token != nullptr) {
    line_.Label("-> ").Pointer(*token);
  }
  return EndBool(result);
}

BOOL TraceApi::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                                   LPVOID information, DWORD length, PDWORD returnLength) {
  Begin("GetTokenInformation").Pointer(token).Decimal(informationClass);
  line_.Label("buffer ").Hex(length);
  const BOOL result =
      inner_.GetTokenInformation(token, informationClass, information, length, returnLength);
  if (returnLength != nullptr) {
    line_.Label("-> needed ").Hex(*returnLength);
  }
  return EndBool(result);
}

BOOL TraceApi::ConvertSidToStringSidA(PSID sid, LPSTR* text) {
  Begin("ConvertSidToStringSidA").Pointer(sid);
  const BOOL result = inner_.ConvertSidToStringSidA(sid, text);
  if (result && text != nullptr) {
    line_.Label("-> ").Text(*text);
  }
  return EndBool(result);
}

// --- Memory -------------------------------------------------------------------------------

HGLOBAL TraceApi::GlobalAlloc(UINT flags, SIZE_T bytes) {
  Begin("GlobalAlloc").Hex(flags).Hex(bytes);
  const HGLOBAL memory = inner_.GlobalAlloc(flags, bytes);
  EndPointer(memory);
  return memory;
}

HGLOBAL TraceApi::GlobalFree(HGLOBAL memory) {
  Begin("GlobalFree").Pointer(memory);
  return EndFreed(inner_.GlobalFree(memory));
}

HLOCAL TraceApi::LocalFree(HLOCAL memory) {
  Begin("LocalFree").Pointer(memory);
  return EndFreed(inner_.LocalFree(memory));
}

}  // namespace tolvo
