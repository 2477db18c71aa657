// The real Windows behind the seam: every WinApi member forwarded to the
// operating system.
//
// The installer runs elevated from a folder that other users may be able to
// write to, so the executable imports statically only DLLs that Windows maps
// from its Known DLLs list (kernel32, advapi32, msvcrt). Everything else,
// the print spooler's client DLL above all, is loaded here at run time by
// its full path in the system directory and resolved with GetProcAddress.
#pragma once

#include <string_view>

#include "platform/win_api.h"

namespace tolvo {

class Win32Api final : public WinApi {
 public:
  // The spooler's DLL is loaded at the first spooler call, not here: it
  // brings the user-interface DLLs with it, which a run that never reaches
  // the spooler (the usage text, a missing prerequisite) has no use for.
  Win32Api();
  ~Win32Api() override;

  Win32Api(const Win32Api&) = delete;
  Win32Api& operator=(const Win32Api&) = delete;

  DWORD GetLastError() override;
  void SetLastError(DWORD error) override;
  DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                       DWORD size, va_list* arguments) override;

  void WriteStdout(std::string_view text) override;
  void WriteStderr(std::string_view text) override;
  RunLogStream OpenRunLog(LPCSTR path, LPSECURITY_ATTRIBUTES security) override;
  void WriteRunLog(RunLogStream stream, std::string_view text) override;
  void CloseRunLog(RunLogStream stream) override;

  LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                        PHKEY result) override;
  LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className, DWORD options,
                          REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result,
                          LPDWORD disposition) override;
  LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                           LPDWORD dataSize) override;
  LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                         DWORD dataSize) override;
  LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) override;
  LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) override;
  LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                        LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) override;
  LSTATUS RegCloseKey(HKEY key) override;

  HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) override;
  BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                    WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData) override;
  BOOL DeregisterEventSource(HANDLE eventLog) override;

  DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText, LPSTR returned,
                                 DWORD size, LPCSTR fileName) override;
  UINT GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                             LPCSTR fileName) override;

  BOOL CopyFileA(LPCSTR existingFile, LPCSTR newFile, BOOL failIfExists) override;
  BOOL DeleteFileA(LPCSTR fileName) override;
  DWORD GetFileAttributesA(LPCSTR fileName) override;
  UINT GetDriveTypeA(LPCSTR rootPathName) override;
  BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes) override;
  BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security) override;
  BOOL RemoveDirectoryA(LPCSTR pathName) override;
  HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) override;
  BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) override;
  BOOL FindClose(HANDLE find) override;
  UINT GetSystemDirectoryA(LPSTR buffer, UINT size) override;
  UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) override;
  DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) override;
  BOOL SetCurrentDirectoryA(LPCSTR pathName) override;
  HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD disposition, DWORD flags, HANDLE templateFile) override;
  BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                LPOVERLAPPED overlapped) override;

  BOOL GetVersionExA(LPOSVERSIONINFOA info) override;
  HMODULE GetModuleHandleA(LPCSTR moduleName) override;
  HMODULE LoadLibraryA(LPCSTR fileName) override;
  BOOL FreeLibrary(HMODULE module) override;
  HANDLE GetCurrentProcess() override;

  bool HasEntryPoint(HMODULE module, EntryPoint entry) override;
  BOOL IsWow64Process(HANDLE process, PBOOL wow64) override;
  BOOL IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) override;
  BOOL Wow64DisableWow64FsRedirection(PVOID* oldValue) override;
  BOOL SetDllDirectoryA(LPCSTR pathName) override;
  BOOL SetDefaultDllDirectories(DWORD directoryFlags) override;
  int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                          LPWSTR wideChar, int wideCharCount) override;
  BOOL OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) override;
  BOOL XcvDataW(HANDLE xcv, LPCWSTR dataName, PBYTE inputData, DWORD inputSize, PBYTE outputData,
                DWORD outputSize, PDWORD outputNeeded, PDWORD status) override;

  int CompareTextIgnoreCase(LPCSTR left, LPCSTR right) override;

  BOOL AddMonitorA(LPSTR serverName, DWORD level, LPBYTE monitors) override;
  BOOL DeleteMonitorA(LPSTR serverName, LPSTR environment, LPSTR monitorName) override;
  BOOL OpenPrinterA(LPSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) override;
  BOOL GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize,
                   LPDWORD needed) override;
  BOOL SetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD command) override;
  BOOL ClosePrinter(HANDLE printer) override;
  BOOL EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                     LPDWORD needed, LPDWORD returned) override;
  BOOL EnumPortsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed,
                  LPDWORD returned) override;
  BOOL EnumMonitorsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed,
                     LPDWORD returned) override;

  DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) override;
  BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                      LPSECURITY_ATTRIBUTES processAttributes,
                      LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                      DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                      LPSTARTUPINFOA startupInfo,
                      LPPROCESS_INFORMATION processInformation) override;
  DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) override;
  HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner,
                      LPCSTR name) override;
  BOOL ReleaseMutex(HANDLE mutex) override;
  BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) override;
  BOOL CloseHandle(HANDLE handle) override;

  BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(LPCSTR text, DWORD revision,
                                                            PSECURITY_DESCRIPTOR* descriptor,
                                                            PULONG size) override;
  DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts, PSID* owner,
                        PSID* group, PACL* dacl, PACL* sacl,
                        PSECURITY_DESCRIPTOR* descriptor) override;
  DWORD GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts,
                              PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                              PSECURITY_DESCRIPTOR* descriptor) override;
  BOOL ConvertSecurityDescriptorToStringSecurityDescriptorA(PSECURITY_DESCRIPTOR descriptor,
                                                            DWORD revision,
                                                            SECURITY_INFORMATION parts, LPSTR* text,
                                                            PULONG length) override;
  BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) override;
  BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                           LPVOID information, DWORD length, PDWORD returnLength) override;
  BOOL ConvertSidToStringSidA(PSID sid, LPSTR* text) override;

  HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) override;
  HGLOBAL GlobalFree(HGLOBAL memory) override;
  HLOCAL LocalFree(HLOCAL memory) override;

 private:
  // The spooler entry points the installer calls, resolved once from
  // "winspool.drv".
  struct SpoolerEntryPoints {
    FARPROC addMonitor = nullptr;
    FARPROC deleteMonitor = nullptr;
    FARPROC openPrinter = nullptr;
    FARPROC getPrinter = nullptr;
    FARPROC setPrinter = nullptr;
    FARPROC closePrinter = nullptr;
    FARPROC enumPrinters = nullptr;
    FARPROC enumPorts = nullptr;
    FARPROC enumMonitors = nullptr;
  };

  // Loads the spooler's DLL once. With WOW64 file-system redirection
  // switched off a 32-bit process cannot rely on loading DLLs, so it is
  // switched back on for the load and off again after it.
  void LoadSpooler();
  void LoadSpoolerDll();
  // Returns the entry point, or null with the last error set to the reason
  // it is unavailable.
  FARPROC SpoolerEntry(FARPROC SpoolerEntryPoints::*entry);
  // The entry point HasEntryPoint found, or null with the last error set to
  // ERROR_PROC_NOT_FOUND. Kernel32 stays loaded for the life of the process,
  // and winspool.drv for the life of this object once a spooler call loaded
  // it, so a found address outlives the caller's module handle.
  FARPROC Found(EntryPoint entry);

  bool spoolerLoadAttempted_ = false;
  HMODULE spooler_ = nullptr;
  DWORD spoolerLoadError_ = 0;
  SpoolerEntryPoints spoolerEntries_;
  FARPROC found_[static_cast<int>(EntryPoint::kXcvDataW) + 1] = {};
  // Redirection as the run switched it off, and the value that turns it
  // back on.
  bool redirectionDisabled_ = false;
  PVOID redirectionOldValue_ = nullptr;
};

}  // namespace tolvo
