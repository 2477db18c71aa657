// The one seam between the installer and Windows.
//
// Every Windows function the installer calls is a member here, under its
// Win32 name, with Win32 arguments and semantics: return values, the
// two-call size pattern, and GetLastError() right after a failed call.
// Win32Api forwards each call to Windows; the test build supplies a
// simulated Windows behind the same interface.
//
// Functions that older systems lack are not imported: the caller takes a
// module (GetModuleHandleA or LoadLibraryA), asks with HasEntryPoint whether
// it exports one (the GetProcAddress step), and then calls the typed member
// of that name.
#pragma once

#include <string_view>

#include "platform/win_types.h"

namespace tolvo {

// Opaque run-log stream (a C runtime FILE* on Windows).
using RunLogStream = void*;

class WinApi {
 public:
  virtual ~WinApi() = default;

  // --- Errors -------------------------------------------------------------
  virtual DWORD GetLastError() = 0;
  virtual void SetLastError(DWORD error) = 0;
  // The system's text for an error (FORMAT_MESSAGE_FROM_SYSTEM), in the
  // system's language, ending in CRLF: its length without the terminator,
  // or 0 with the last error set (ERROR_INSUFFICIENT_BUFFER when it does
  // not fit, ERROR_MR_MID_NOT_FOUND for a code without a text).
  virtual DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                               LPSTR buffer, DWORD size, va_list* arguments) = 0;

  // --- Console and run log (C runtime streams, text mode) -----------------
  // Writes to standard output; "\n" becomes CRLF on a Windows console.
  virtual void WriteStdout(std::string_view text) = 0;
  // Writes to the error stream at once (unbuffered), as text.
  virtual void WriteStderr(std::string_view text) = 0;
  // Opens `path` for appending only, in text mode: every write lands at the
  // file's end, whoever else appends to it meanwhile. Not inherited by child
  // processes, shared for reading and writing. A file it creates gets the
  // descriptor of `security` (when given); an existing one keeps its own.
  // Null when it cannot be opened, with the last error set; a name that
  // leads to another file (a link or junction in any part of the path, a
  // second hard link) or a folder is refused with ERROR_CANT_ACCESS_FILE,
  // and nothing is created.
  virtual RunLogStream OpenRunLog(LPCSTR path, LPSECURITY_ATTRIBUTES security) = 0;
  // Appends in text mode: each "\n" reaches the file as CRLF.
  virtual void WriteRunLog(RunLogStream stream, std::string_view text) = 0;
  virtual void CloseRunLog(RunLogStream stream) = 0;

  // --- Registry -----------------------------------------------------------
  virtual LSTATUS RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM desired,
                                PHKEY result) = 0;
  virtual LSTATUS RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR className,
                                  DWORD options, REGSAM desired, LPSECURITY_ATTRIBUTES security,
                                  PHKEY result, LPDWORD disposition) = 0;
  virtual LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                   LPBYTE data, LPDWORD dataSize) = 0;
  virtual LSTATUS RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                 const BYTE* data, DWORD dataSize) = 0;
  virtual LSTATUS RegDeleteValueA(HKEY key, LPCSTR valueName) = 0;
  // Deletes a key without subkeys.
  virtual LSTATUS RegDeleteKeyA(HKEY key, LPCSTR subKey) = 0;
  // valueNameSize: in, the name buffer's characters with the terminator;
  // out, the name's characters without it. ERROR_MORE_DATA when the name or
  // the data does not fit, ERROR_NO_MORE_ITEMS past the last value.
  virtual LSTATUS RegEnumValueA(HKEY key, DWORD index, LPSTR valueName, LPDWORD valueNameSize,
                                LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD dataSize) = 0;
  virtual LSTATUS RegCloseKey(HKEY key) = 0;

  // --- Event log ----------------------------------------------------------
  virtual HANDLE RegisterEventSourceA(LPCSTR serverName, LPCSTR sourceName) = 0;
  virtual BOOL ReportEventA(HANDLE eventLog, WORD type, WORD category, DWORD eventId, PSID userSid,
                            WORD numStrings, DWORD dataSize, LPCSTR* strings, LPVOID rawData) = 0;
  virtual BOOL DeregisterEventSource(HANDLE eventLog) = 0;

  // --- Profile (INI) files ------------------------------------------------
  virtual DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText,
                                         LPSTR returned, DWORD size, LPCSTR fileName) = 0;
  virtual UINT GetPrivateProfileIntA(LPCSTR appName, LPCSTR keyName, INT defaultValue,
                                     LPCSTR fileName) = 0;

  // --- Files and folders --------------------------------------------------
  virtual BOOL CopyFileA(LPCSTR existingFile, LPCSTR newFile, BOOL failIfExists) = 0;
  virtual BOOL DeleteFileA(LPCSTR fileName) = 0;
  virtual DWORD GetFileAttributesA(LPCSTR fileName) = 0;
  virtual UINT GetDriveTypeA(LPCSTR rootPathName) = 0;
  virtual BOOL SetFileAttributesA(LPCSTR fileName, DWORD attributes) = 0;
  virtual BOOL CreateDirectoryA(LPCSTR pathName, LPSECURITY_ATTRIBUTES security) = 0;
  virtual BOOL RemoveDirectoryA(LPCSTR pathName) = 0;
  virtual HANDLE FindFirstFileA(LPCSTR fileName, LPWIN32_FIND_DATAA findData) = 0;
  virtual BOOL FindNextFileA(HANDLE find, LPWIN32_FIND_DATAA findData) = 0;
  virtual BOOL FindClose(HANDLE find) = 0;
  virtual UINT GetSystemDirectoryA(LPSTR buffer, UINT size) = 0;
  virtual UINT GetWindowsDirectoryA(LPSTR buffer, UINT size) = 0;
  virtual DWORD GetCurrentDirectoryA(DWORD size, LPSTR buffer) = 0;
  virtual BOOL SetCurrentDirectoryA(LPCSTR pathName) = 0;
  // A file is only ever opened to be read whole: INVALID_HANDLE_VALUE when
  // it cannot be; CloseHandle closes it. ReadFile reads 0 bytes at its end.
  virtual HANDLE CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode,
                             LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                             HANDLE templateFile) = 0;
  virtual BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                        LPOVERLAPPED overlapped) = 0;

  // --- Version, modules, run-time look-up ---------------------------------
  virtual BOOL GetVersionExA(LPOSVERSIONINFOA info) = 0;  // also takes OSVERSIONINFOEXA
  virtual HMODULE GetModuleHandleA(LPCSTR moduleName) = 0;
  virtual HMODULE LoadLibraryA(LPCSTR fileName) = 0;
  virtual BOOL FreeLibrary(HMODULE module) = 0;
  virtual HANDLE GetCurrentProcess() = 0;

  // --- Functions looked up at run time ------------------------------------
  enum class EntryPoint {
    kIsWow64Process,                  // kernel32.dll
    kIsWow64Process2,                 // kernel32.dll, Windows 10 1709 on
    kWow64DisableWow64FsRedirection,  // kernel32.dll
    kSetDllDirectoryA,                // kernel32.dll
    kSetDefaultDllDirectories,        // kernel32.dll
    kMultiByteToWideChar,             // kernel32.dll
    kOpenPrinterW,                    // winspool.drv
    kXcvDataW,                        // winspool.drv
  };
  // The function's exported name, as GetProcAddress is asked for it.
  static constexpr const char* EntryPointName(EntryPoint entry) {
    constexpr const char* kNames[] = {
        "IsWow64Process",
        "IsWow64Process2",
        "Wow64DisableWow64FsRedirection",
        "SetDllDirectoryA",
        "SetDefaultDllDirectories",
        "MultiByteToWideChar",
        "OpenPrinterW",
        "XcvDataW",
    };
    return kNames[static_cast<int>(entry)];
  }
  // GetProcAddress: true when `module` exports `entry`; false, with the last
  // error set, when it does not. A member below whose function was not found
  // fails with ERROR_PROC_NOT_FOUND.
  virtual bool HasEntryPoint(HMODULE module, EntryPoint entry) = 0;
  virtual BOOL IsWow64Process(HANDLE process, PBOOL wow64) = 0;
  // The process's machine (IMAGE_FILE_MACHINE_UNKNOWN when it does not run
  // under WOW64) and the machine Windows itself runs on.
  virtual BOOL IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) = 0;
  virtual BOOL Wow64DisableWow64FsRedirection(PVOID* oldValue) = 0;
  virtual BOOL SetDllDirectoryA(LPCSTR pathName) = 0;
  virtual BOOL SetDefaultDllDirectories(DWORD directoryFlags) = 0;
  virtual int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                                  LPWSTR wideChar, int wideCharCount) = 0;
  virtual BOOL OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) = 0;
  virtual BOOL XcvDataW(HANDLE xcv, LPCWSTR dataName, PBYTE inputData, DWORD inputSize,
                        PBYTE outputData, DWORD outputSize, PDWORD outputNeeded, PDWORD status) = 0;

  // --- Text (C runtime) ---------------------------------------------------
  // _mbsicmp: compares two zero-terminated texts without regard to case in
  // the current ANSI code page, a double-byte character as one whole, and
  // folding letters beyond ASCII in single-byte code pages. Less than, equal
  // to or greater than zero.
  virtual int CompareTextIgnoreCase(LPCSTR left, LPCSTR right) = 0;

  // --- Print spooler ------------------------------------------------------
  virtual BOOL AddMonitorA(LPSTR serverName, DWORD level, LPBYTE monitors) = 0;
  virtual BOOL DeleteMonitorA(LPSTR serverName, LPSTR environment, LPSTR monitorName) = 0;
  virtual BOOL OpenPrinterA(LPSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSA defaults) = 0;
  virtual BOOL GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize,
                           LPDWORD needed) = 0;
  virtual BOOL SetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD command) = 0;
  virtual BOOL ClosePrinter(HANDLE printer) = 0;
  virtual BOOL EnumPrintersA(DWORD flags, LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                             LPDWORD needed, LPDWORD returned) = 0;
  virtual BOOL EnumPortsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize, LPDWORD needed,
                          LPDWORD returned) = 0;
  virtual BOOL EnumMonitorsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                             LPDWORD needed, LPDWORD returned) = 0;

  // --- Processes ----------------------------------------------------------
  virtual DWORD GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) = 0;
  virtual BOOL CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                              LPSECURITY_ATTRIBUTES processAttributes,
                              LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles,
                              DWORD creationFlags, LPVOID environment, LPCSTR currentDirectory,
                              LPSTARTUPINFOA startupInfo,
                              LPPROCESS_INFORMATION processInformation) = 0;
  virtual DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) = 0;
  // A named mutex: a handle also when it exists already (the last error is
  // then ERROR_ALREADY_EXISTS); WaitForSingleObject takes it, ReleaseMutex
  // gives it back, CloseHandle closes the handle.
  virtual HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner,
                              LPCSTR name) = 0;
  virtual BOOL ReleaseMutex(HANDLE mutex) = 0;
  virtual BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;

  // --- Security -------------------------------------------------------------
  // The descriptor that `text` (SDDL) describes, allocated for LocalFree.
  virtual BOOL ConvertStringSecurityDescriptorToSecurityDescriptorA(
      LPCSTR text, DWORD revision, PSECURITY_DESCRIPTOR* descriptor, PULONG size) = 0;
  // Returns the error code itself; `descriptor` receives what holds the
  // parts asked for, allocated for LocalFree.
  virtual DWORD GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION parts,
                                PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                                PSECURITY_DESCRIPTOR* descriptor) = 0;
  // The same for a file or folder named by its path.
  virtual DWORD GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE type,
                                      SECURITY_INFORMATION parts, PSID* owner, PSID* group,
                                      PACL* dacl, PACL* sacl, PSECURITY_DESCRIPTOR* descriptor) = 0;
  // The parts of a descriptor as SDDL text, allocated for LocalFree.
  virtual BOOL ConvertSecurityDescriptorToStringSecurityDescriptorA(PSECURITY_DESCRIPTOR descriptor,
                                                                    DWORD revision,
                                                                    SECURITY_INFORMATION parts,
                                                                    LPSTR* text, PULONG length) = 0;
  // The run's own account: its token (closed with CloseHandle), the
  // TOKEN_USER that names it (written into the caller's buffer, the SID
  // after the record) and a SID as text ("S-1-5-..."), allocated for
  // LocalFree.
  virtual BOOL OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) = 0;
  virtual BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass,
                                   LPVOID information, DWORD length, PDWORD returnLength) = 0;
  virtual BOOL ConvertSidToStringSidA(PSID sid, LPSTR* text) = 0;

  // --- Memory -------------------------------------------------------------
  virtual HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) = 0;
  virtual HGLOBAL GlobalFree(HGLOBAL memory) = 0;
  virtual HLOCAL LocalFree(HLOCAL memory) = 0;
};

// The installation lock: owned by the administrators, open to them and to
// the local system account only.
inline constexpr const char* kAdministratorsOnlySecurity = "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

}  // namespace tolvo
