#include "platform/win32/win32_api.h"

#include <fcntl.h>
#include <io.h>
#include <mbstring.h>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "platform/format_text.h"
#include "platform/win32/file_links.h"

namespace tolvo {

namespace {

constexpr char kSpoolerDll[] = "winspool.drv";

// Casts an entry point found with GetProcAddress to its real type. The
// detour through void (*)() is the conversion the compiler accepts between
// unrelated function pointer types without a warning.
template <typename Function>
Function EntryPointAs(FARPROC entryPoint) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(entryPoint));
}

// SysWOW64, the folder of the 32-bit system DLLs under WOW64; 0 on 32-bit
// Windows, where GetSystemWow64DirectoryA fails or is missing. It is looked
// up because the installer imports nothing that older systems lack.
UINT Wow64SystemDirectory(LPSTR buffer, UINT size) {
  using Function = UINT(WINAPI*)(LPSTR, UINT);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  FARPROC entry = kernel ? ::GetProcAddress(kernel, "GetSystemWow64DirectoryA") : nullptr;
  if (entry == nullptr) {
    return 0;
  }
  const UINT length = EntryPointAs<Function>(entry)(buffer, size);
  return length < size ? length : 0;
}

// The folder that holds the 32-bit system DLLs, whether or not file-system
// redirection is switched on.
UINT ThirtyTwoBitSystemDirectory(LPSTR buffer, UINT size) {
  if (const UINT length = Wow64SystemDirectory(buffer, size)) {
    return length;
  }
  const UINT length = ::GetSystemDirectoryA(buffer, size);
  return length < size ? length : 0;
}

// Under WOW64, when `fileName` names a file directly in the system directory,
// writes the same file in SysWOW64 to `mapped` and returns true. The
// installer switches file-system redirection off for its whole run, and with
// it off a 32-bit process would look for DLLs among the 64-bit ones; the
// mapping gives LoadLibraryA the view it has with redirection on, the only
// one from which a 32-bit process can load anything.
bool MapSystemDllToWow64(LPCSTR fileName, char* mapped, std::size_t mappedSize) {
  char wow64Directory[MAX_PATH] = {};
  if (fileName == nullptr || Wow64SystemDirectory(wow64Directory, MAX_PATH) == 0) {
    return false;
  }
  char systemDirectory[MAX_PATH] = {};
  const UINT systemLength = ::GetSystemDirectoryA(systemDirectory, MAX_PATH);
  if (systemLength == 0 || systemLength >= MAX_PATH) {
    return false;
  }
  if (_strnicmp(fileName, systemDirectory, systemLength) != 0 || fileName[systemLength] != '\\') {
    return false;
  }
  const char* name = fileName + systemLength + 1;
  if (*name == '\0' || std::strchr(name, '\\') != nullptr) {
    return false;  // only files directly in the system directory
  }
  return FormatText(mapped, mappedSize, "%s\\%s", wow64Directory, name);
}

}  // namespace

// In the C locale the runtime folds ASCII letters alone; in a locale of the
// system's ANSI code page _mbsicmp also folds the letters beyond ASCII of a
// single-byte code page, as port and monitor names are to be compared. The
// spooler's ANSI names are in the system's code page, whatever the locale
// of the account the installer runs as, which "" would take: the system
// locale is named in full ("ENU_USA.1252"), since the runtime builds its
// case tables from a locale's language as well as from its code page.
Win32Api::Win32Api() {
  char language[16] = {};
  char country[16] = {};
  ::GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVLANGNAME, language, sizeof language);
  ::GetLocaleInfoA(LOCALE_SYSTEM_DEFAULT, LOCALE_SABBREVCTRYNAME, country, sizeof country);
  char locale[48] = {};
  FormatText(locale, sizeof locale, "%s_%s.%u", language, country, ::GetACP());
  if (std::setlocale(LC_CTYPE, locale) == nullptr) {
    FormatText(locale, sizeof locale, ".%u", ::GetACP());
    std::setlocale(LC_CTYPE, locale);
  }
}

Win32Api::~Win32Api() {
  if (spooler_ != nullptr) {
    ::FreeLibrary(spooler_);
  }
}

void Win32Api::LoadSpooler() {
  if (spoolerLoadAttempted_) {
    return;
  }
  spoolerLoadAttempted_ = true;
  using Switch = BOOL(WINAPI*)(PVOID);
  HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
  FARPROC revert = (redirectionDisabled_ && kernel != nullptr)
                       ? ::GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")
                       : nullptr;
  const bool reverted = revert != nullptr && EntryPointAs<Switch>(revert)(redirectionOldValue_);
  LoadSpoolerDll();
  if (reverted) {
    const DWORD loadError = ::GetLastError();
    Wow64DisableWow64FsRedirection(&redirectionOldValue_);
    ::SetLastError(loadError);
  }
}

void Win32Api::LoadSpoolerDll() {
  char path[MAX_PATH] = {};
  const UINT length = ThirtyTwoBitSystemDirectory(path, MAX_PATH);
  if (length == 0 || length + 1 + sizeof(kSpoolerDll) > MAX_PATH) {
    spoolerLoadError_ = length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    if (spoolerLoadError_ == ERROR_SUCCESS) {
      spoolerLoadError_ = ERROR_PATH_NOT_FOUND;
    }
    return;
  }
  path[length] = '\\';
  std::memcpy(path + length + 1, kSpoolerDll, sizeof(kSpoolerDll));

  // The altered search path makes the spooler DLL's own dependencies come
  // from the system directory rather than from the installer's folder.
  spooler_ = ::LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (spooler_ == nullptr) {
    spoolerLoadError_ = ::GetLastError();
    return;
  }
  spoolerEntries_.addMonitor = ::GetProcAddress(spooler_, "AddMonitorA");
  spoolerEntries_.deleteMonitor = ::GetProcAddress(spooler_, "DeleteMonitorA");
  spoolerEntries_.openPrinter = ::GetProcAddress(spooler_, "OpenPrinterA");
  spoolerEntries_.getPrinter = ::GetProcAddress(spooler_, "GetPrinterA");
  spoolerEntries_.setPrinter = ::GetProcAddress(spooler_, "SetPrinterA");
  spoolerEntries_.closePrinter = ::GetProcAddress(spooler_, "ClosePrinter");
  spoolerEntries_.enumPrinters = ::GetProcAddress(spooler_, "EnumPrintersA");
  spoolerEntries_.enumPorts = ::GetProcAddress(spooler_, "EnumPortsA");
  spoolerEntries_.enumMonitors = ::GetProcAddress(spooler_, "EnumMonitorsA");
}

FARPROC Win32Api::SpoolerEntry(FARPROC SpoolerEntryPoints::*entry) {
  LoadSpooler();
  if (spooler_ == nullptr) {
    ::SetLastError(spoolerLoadError_);
    return nullptr;
  }
  FARPROC function = spoolerEntries_.*entry;
  if (function == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
  }
  return function;
}

// --- Errors ----------------------------------------------------------------

DWORD Win32Api::GetLastError() {
  return ::GetLastError();
}

void Win32Api::SetLastError(DWORD error) {
  ::SetLastError(error);
}

DWORD Win32Api::FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                               LPSTR buffer, DWORD size, va_list* arguments) {
  return ::FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments);
}

// --- Console and run log ---------------------------------------------------

void Win32Api::WriteStdout(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  // A console shows each message at once; flushing keeps the same order when
  // the output is a pipe and the programs the installer starts write to it
  // too.
  std::fflush(stdout);
}

void Win32Api::WriteStderr(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

RunLogStream Win32Api::OpenRunLog(LPCSTR path, LPSECURITY_ATTRIBUTES security) {
  // The handle is made here rather than by the C runtime, which can neither
  // give a file it creates a security of its own nor open one for
  // appending only; the stream writes in text mode.
  const HANDLE file =
      OpenForAppending(path, security != nullptr ? security->lpSecurityDescriptor : nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return nullptr;
  }
  const int descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT);
  if (descriptor == -1) {
    ::CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(descriptor, "at");
  if (stream == nullptr) {
    ::_close(descriptor);
    return nullptr;
  }
  return stream;
}

void Win32Api::WriteRunLog(RunLogStream stream, std::string_view text) {
  if (stream != nullptr) {
    std::fwrite(text.data(), 1, text.size(), static_cast<std::FILE*>(stream));
  }
}

void Win32Api::CloseRunLog(RunLogStream stream) {
  if (stream != nullptr) {
    std::fclose(static_cast<std::FILE*>(stream));
  }
}

// --- Registry --------------------------------------------------------------

LSTATUS Win32Api::RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                                PHKEY result) {
  return ::RegOpenKeyExA(key, subKey, options, desired, result);
}

LSTATUS Win32Api::RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                                  DWORD options, REGSAM desired, LPSECURITY_ATTRIBUTES security,
                                  PHKEY result, LPDWORD disposition) {
  return ::RegCreateKeyExA(key, subKey, reserved, className, options, desired, security, result,
                           disposition);
}

LSTATUS Win32Api::RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                   LPBYTE data, LPDWORD dataSize) {
  return ::RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
}

LSTATUS Win32Api::RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD dataSize) {
  return ::RegSetValueExA(key, valueName, reserved, type, data, dataSize);
}

LSTATUS Win32Api::RegDeleteValueA(HKEY key, LPCSTR valueName) {
  return ::RegDeleteValueA(key, valueName);
}

LSTATUS Win32Api::RegDeleteKeyA(HKEY key, LPCSTR subKey) {
  return ::RegDeleteKeyA(key, subKey);
}

LSTATUS Win32Api::RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                                LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) {
  return ::RegEnumValueA(key, index, valueName, valueNameSize, reserved, type, data, dataSize);
}

LSTATUS Win32Api::RegCloseKey(HKEY key) {
  return ::RegCloseKey(key);
}

// --- Event log -------------------------------------------------------------

HANDLE Win32Api::RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) {
  return ::RegisterEventSourceA(serverName, sourceName);
}

BOOL Win32Api::ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                            WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData) {
  return ::ReportEventA(eventLog, type, category, eventId, userSid, numStrings, dataSize, strings,
                        rawData);
}

BOOL Win32Api::DeregisterEventSource(HANDLE eventLog) {
  return ::DeregisterEventSource(eventLog);
}

// --- Profile files ---------------------------------------------------------

DWORD Win32Api::GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                         LPSTR returned, DWORD size, LPCSTR fileName) {
  return ::GetPrivateProfileStringA(appName, keyName, defaultText, returned, size, fileName);
}

UINT Win32Api::GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                     LPCSTR fileName) {
  return ::GetPrivateProfileIntA(appName, keyName, defaultValue, fileName);
}

// --- Files and folders -----------------------------------------------------

BOOL Win32Api::CopyFileA(LPCSTR existingFile, LPCSTR newFile, BOOL failIfExists) {
  return ::CopyFileA(existingFile, newFile, failIfExists);
}

BOOL Win32Api::DeleteFileA(LPCSTR fileName) {
  return ::DeleteFileA(fileName);
}

DWORD Win32Api::GetFileAttributesA(LPCSTR fileName) {
  return ::GetFileAttributesA(fileName);
}

UINT Win32Api::GetDriveTypeA(LPCSTR rootPathName) {
  return ::GetDriveTypeA(rootPathName);
}

BOOL Win32Api::SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  return ::SetFileAttributesA(fileName, attributes);
}

BOOL Win32Api::CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security) {
  return ::CreateDirectoryA(pathName, security);
}

BOOL Win32Api::RemoveDirectoryA(LPCSTR pathName) {
  return ::RemoveDirectoryA(pathName);
}

HANDLE Win32Api::FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) {
  return ::FindFirstFileA(fileName, findData);
}

BOOL Win32Api::FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) {
  return ::FindNextFileA(find, findData);
}

BOOL Win32Api::FindClose(HANDLE find) {
  return ::FindClose(find);
}

UINT Win32Api::GetSystemDirectoryA(LPSTR buffer, UINT size) {
  return ::GetSystemDirectoryA(buffer, size);
}

UINT Win32Api::GetWindowsDirectoryA(LPSTR buffer, UINT size) {
  return ::GetWindowsDirectoryA(buffer, size);
}

DWORD Win32Api::GetCurrentDirectoryA(DWORD size, LPSTR buffer) {
  return ::GetCurrentDirectoryA(size, buffer);
}

BOOL Win32Api::SetCurrentDirectoryA(LPCSTR pathName) {
  return ::SetCurrentDirectoryA(pathName);
}

HANDLE Win32Api::CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) {
  return ::CreateFileA(fileName, access, shareMode, security, disposition, flags, templateFile);
}

BOOL Win32Api::ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                        LPOVERLAPPED overlapped) {
  return ::ReadFile(file, buffer, bytesToRead, bytesRead, overlapped);
}

// --- Version, modules, run-time look-up ------------------------------------

BOOL Win32Api::GetVersionExA(LPOSVERSIONINFOA info) {
  return ::GetVersionExA(info);
}

HMODULE Win32Api::GetModuleHandleA(LPCSTR moduleName) {
  return ::GetModuleHandleA(moduleName);
}

HMODULE Win32Api::LoadLibraryA(LPCSTR fileName) {
  char mapped[2 * MAX_PATH] = {};
  if (MapSystemDllToWow64(fileName, mapped, sizeof(mapped))) {
    return ::LoadLibraryA(mapped);
  }
  return ::LoadLibraryA(fileName);
}

BOOL Win32Api::FreeLibrary(HMODULE module) {
  return ::FreeLibrary(module);
}

HANDLE Win32Api::GetCurrentProcess() {
  return ::GetCurrentProcess();
}

bool Win32Api::HasEntryPoint(HMODULE module, EntryPoint entry) {
  FARPROC address = ::GetProcAddress(module, EntryPointName(entry));
  found_[static_cast<int>(entry)] = address;
  return address != nullptr;
}

FARPROC Win32Api::Found(EntryPoint entry) {
  FARPROC address = found_[static_cast<int>(entry)];
  if (address == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
  }
  return address;
}

BOOL Win32Api::IsWow64Process(HANDLE process, PBOOL wow64) {
  using Function = BOOL(WINAPI*)(HANDLE, PBOOL);
  FARPROC entry = Found(EntryPoint::kIsWow64Process);
  return entry ? EntryPointAs<Function>(entry)(process, wow64) : FALSE;
}

BOOL Win32Api::IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
  using Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  FARPROC entry = Found(EntryPoint::kIsWow64Process2);
  return entry ? EntryPointAs<Function>(entry)(process, processMachine, nativeMachine) : FALSE;
}

BOOL Win32Api::Wow64DisableWow64FsRedirection(PVOID* oldValue) {
  using Function = BOOL(WINAPI*)(PVOID*);
  FARPROC entry = Found(EntryPoint::kWow64DisableWow64FsRedirection);
  const BOOL disabled = entry ? EntryPointAs<Function>(entry)(oldValue) : FALSE;
  // Kept so that the spooler's DLL can still be loaded later (LoadSpooler).
  if (disabled && oldValue != nullptr && !redirectionDisabled_) {
    redirectionDisabled_ = true;
    redirectionOldValue_ = *oldValue;
  }
  return disabled;
}

BOOL Win32Api::SetDllDirectoryA(LPCSTR pathName) {
  using Function = BOOL(WINAPI*)(LPCSTR);
  FARPROC entry = Found(EntryPoint::kSetDllDirectoryA);
  return entry ? EntryPointAs<Function>(entry)(pathName) : FALSE;
}

BOOL Win32Api::SetDefaultDllDirectories(DWORD directoryFlags) {
  using Function = BOOL(WINAPI*)(DWORD);
  FARPROC entry = Found(EntryPoint::kSetDefaultDllDirectories);
  return entry ? EntryPointAs<Function>(entry)(directoryFlags) : FALSE;
}

int Win32Api::MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                                  LPWSTR wideChar, int wideCharCount) {
  using Function = int(WINAPI*)(UINT, DWORD, LPCSTR, int, LPWSTR, int);
  FARPROC entry = Found(EntryPoint::kMultiByteToWideChar);
  return entry ? EntryPointAs<Function>(entry)(codePage, flags, multiByte, multiByteCount, wideChar,
                                               wideCharCount)
               : 0;
}

BOOL Win32Api::OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
  using Function = BOOL(WINAPI*)(LPWSTR, LPHANDLE, LPPRINTER_DEFAULTSW);
  FARPROC entry = Found(EntryPoint::kOpenPrinterW);
  return entry ? EntryPointAs<Function>(entry)(printerName, printer, defaults) : FALSE;
}

BOOL Win32Api::XcvDataW(HANDLE xcv, LPCWSTR dataName, PBYTE inputData, DWORD inputSize,
                        PBYTE outputData, DWORD outputSize, PDWORD outputNeeded, PDWORD status) {
  using Function = BOOL(WINAPI*)(HANDLE, LPCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD, PDWORD);
  FARPROC entry = Found(EntryPoint::kXcvDataW);
  return entry ? EntryPointAs<Function>(entry)(xcv, dataName, inputData, inputSize, outputData,
                                               outputSize, outputNeeded, status)
               : FALSE;
}

// --- Text --------------------------------------------------------------------

int Win32Api::CompareTextIgnoreCase(LPCSTR left, LPCSTR right) {
  return _mbsicmp(reinterpret_cast<const unsigned char*>(left),
                  reinterpret_cast<const unsigned char*>(right));
}

// --- Print spooler ---------------------------------------------------------

BOOL Win32Api::AddMonitorA(LPSTR serverName, DWORD level, LPBYTE monitors) {
  using Function = BOOL(WINAPI*)(LPSTR, DWORD, LPBYTE);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::addMonitor);
  return entry ? EntryPointAs<Function>(entry)(serverName, level, monitors) : FALSE;
}

BOOL Win32Api::DeleteMonitorA(LPSTR serverName, LPSTR environment, LPSTR monitorName) {
  using Function = BOOL(WINAPI*)(LPSTR, LPSTR, LPSTR);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::deleteMonitor);
  return entry ? EntryPointAs<Function>(entry)(serverName, environment, monitorName) : FALSE;
}

BOOL Win32Api::OpenPrinterA(LPSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) {
  using Function = BOOL(WINAPI*)(LPSTR, LPHANDLE, LPPRINTER_DEFAULTSA);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::openPrinter);
  return entry ? EntryPointAs<Function>(entry)(printerName, printer, defaults) : FALSE;
}

BOOL Win32Api::GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize,
                           LPDWORD needed) {
  using Function = BOOL(WINAPI*)(HANDLE, DWORD, LPBYTE, DWORD, LPDWORD);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::getPrinter);
  return entry ? EntryPointAs<Function>(entry)(printer, level, buffer, bufferSize, needed) : FALSE;
}

BOOL Win32Api::SetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD command) {
  using Function = BOOL(WINAPI*)(HANDLE, DWORD, LPBYTE, DWORD);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::setPrinter);
  return entry ? EntryPointAs<Function>(entry)(printer, level, buffer, command) : FALSE;
}

BOOL Win32Api::ClosePrinter(HANDLE printer) {
  using Function = BOOL(WINAPI*)(HANDLE);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::closePrinter);
  return entry ? EntryPointAs<Function>(entry)(printer) : FALSE;
}

BOOL Win32Api::EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                             LPDWORD needed, LPDWORD returned) {
  using Function = BOOL(WINAPI*)(DWORD, LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::enumPrinters);
  return entry ? EntryPointAs<Function>(entry)(flags, name, level, buffer, bufferSize, needed,
                                               returned)
               : FALSE;
}

BOOL Win32Api::EnumPortsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed,
                          LPDWORD returned) {
  using Function = BOOL(WINAPI*)(LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::enumPorts);
  return entry ? EntryPointAs<Function>(entry)(name, level, buffer, bufferSize, needed, returned)
               : FALSE;
}

BOOL Win32Api::EnumMonitorsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                             LPDWORD needed, LPDWORD returned) {
  using Function = BOOL(WINAPI*)(LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
  FARPROC entry = SpoolerEntry(&SpoolerEntryPoints::enumMonitors);
  return entry ? EntryPointAs<Function>(entry)(name, level, buffer, bufferSize, needed, returned)
               : FALSE;
}

// --- Processes -------------------------------------------------------------

DWORD Win32Api::GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  return ::GetEnvironmentVariableA(name, buffer, size);
}

BOOL Win32Api::CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                              LPSECURITY_ATTRIBUTES processAttributes,
                              LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                              DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                              LPSTARTUPINFOA startupInfo,
                              LPPROCESS_INFORMATION processInformation) {
  return ::CreateProcessA(applicationName, commandLine, processAttributes, threadAttributes,
                          inheritHandles, creationFlags, environment, currentDirectory, startupInfo,
                          processInformation);
}

DWORD Win32Api::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return ::WaitForSingleObject(handle, milliseconds);
}

HANDLE Win32Api::CreateMutexA(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner,
                              LPCSTR name) {
  return ::CreateMutexA(mutexAttributes, initialOwner, name);
}

BOOL Win32Api::ReleaseMutex(HANDLE mutex) {
  return ::ReleaseMutex(mutex);
}

BOOL Win32Api::GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  return ::GetExitCodeProcess(process, exitCode);
}

BOOL Win32Api::CloseHandle(HANDLE handle) {
  return ::CloseHandle(handle);
}

// --- Security --------------------------------------------------------------

BOOL Win32Api::ConvertStringSecurityDescriptorToSecurityDescriptorA(
    LPCSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, PULONG size) {
  return ::ConvertStringSecurityDescriptorToSecurityDescriptorA(text, revision, descriptor, size);
}

DWORD Win32Api::GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts,
                                PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                PSECURITY_DESCRIPTOR* descriptor) {
  return ::GetSecurityInfo(handle, type, parts, owner, group, dacl, sacl, descriptor);
}

DWORD Win32Api::GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE type,
                                      SECURITY_INFORMATION parts, PSID* owner, PSID* group,
                                      PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) {
  return ::GetNamedSecurityInfoA(objectName, type, parts, owner, group, dacl, sacl, descriptor);
}

BOOL Win32Api::ConvertSecurityDescriptorToStringSecurityDescriptorA(PSECURITY_DESCRIPTOR descriptor,
                                                                    DWORD revision,
                                                                    SECURITY_INFORMATION parts,
                                                                    LPSTR* text, PULONG length) {
  return ::ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor, revision, parts, text,
                                                                length);
}

BOOL Win32Api::OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  return ::OpenProcessToken(process, access, token);
}

BOOL Win32Api::GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                                   LPVOID information, DWORD length, PDWORD returnLength) {
  return ::GetTokenInformation(token, informationClass, information, length, returnLength);
}

BOOL Win32Api::ConvertSidToStringSidA(PSID sid, LPSTR* text) {
  return ::ConvertSidToStringSidA(sid, text);
}

// --- Memory ----------------------------------------------------------------

HGLOBAL Win32Api::GlobalAlloc(UINT flags, SIZE_T bytes) {
  return ::GlobalAlloc(flags, bytes);
}

HGLOBAL Win32Api::GlobalFree(HGLOBAL memory) {
  return ::GlobalFree(memory);
}

HLOCAL Win32Api::LocalFree(HLOCAL memory) {
  return ::LocalFree(memory);
}

}  // namespace tolvo
