// The support trace: a WinApi that records every call it forwards.
//
// TraceApi sits between the installer and another WinApi (the real Windows,
// or the simulated one in tests) and writes one line per call to a
// TraceSink: the milliseconds since the start, the Win32 name, the
// arguments, the result and, for a failed call, the last error (or that it
// set none). Console and run-log writes appear as transcript lines, marked
// "|". Passwords are hidden by where they appear, not by what they read:
// a read of the key "AuthText" shows a placeholder in place of its value
// and of its length, the texts converted for the monitor's channel (the
// port-data record's fields among them) are shown by neither, and the
// record is shown by its size only; the port line shows a mask already.
// Every other text (names of printers, ports, files) appears as it is.
//
// The trace never changes a run: each call is forwarded with the same
// arguments, its result is returned unchanged, and the last error the call
// left is restored after the line is written. Lines are composed in fixed
// buffers and cut when over-long; nothing here allocates or throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/trace_line.h"
#include "platform/win_api.h"

namespace tolvo {

// Facts of the process for the trace's header that are read without a call
// through the traced seam.
struct TraceProcessFacts {
  std::string_view commandLine;
  std::string_view currentDirectory;
  std::string_view localTime;
};

// Where the trace goes. The real one appends to the file named by TOLVO_TRACE
// (platform/win32/trace_file.h), writing through Windows directly, so that
// the trace's own writing never shows up among the calls it records.
class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Write(std::string_view text) = 0;
  virtual std::uint32_t MillisecondsSinceStart() = 0;
  virtual TraceProcessFacts ProcessFacts() = 0;
};

class TraceApi final : public WinApi {
 public:
  TraceApi(WinApi& inner, TraceSink& sink);
  TraceApi(const TraceApi&) = delete;
  TraceApi& operator=(const TraceApi&) = delete;

  void WriteHeader(std::string_view programVersion);
  void WriteFooter(int exitCode);

  // Not recorded: the last error is shown on each failed call instead.
  DWORD GetLastError() override { return inner_.GetLastError(); }
  void SetLastError(DWORD error) override { inner_.SetLastError(error); }
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

  // A C runtime function, not a Windows call: forwarded without a line.
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
  BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) override;
  BOOL CloseHandle(HANDLE handle) override;
  HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner,
                      LPCSTR name) override;
  BOOL ReleaseMutex(HANDLE mutex) override;

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
  // A call's line: Begin before forwarding (the time is the call's start)
  // and the arguments; after the call, its out-values and one of the End
  // helpers, which take the call's last error, show the result (with the
  // error when it failed) and Commit: write the line, then give the call's
  // last error back to the thread.
  TraceLine& Begin(std::string_view function);
  TraceLine& Returns();
  void Commit();
  // Commit, with the call's error when it failed.
  void CommitWithError(bool failed);
  // `label` and the call's last error, or "not set" when it set none.
  void ShowError(std::string_view label);
  BOOL EndBool(BOOL result);          // failed when FALSE
  LSTATUS EndStatus(LSTATUS status);  // its own error code
  // A handle or address: failed when null or `invalid`.
  void EndPointer(const void* result, const void* invalid = nullptr);
  // A number: in hexadecimal for flags and codes, in decimal for counts.
  // A block of global or local memory freed: failed when it comes back.
  HANDLE EndFreed(HANDLE result);
  void EndHex(DWORD value, bool failed);
  void EndDecimal(long value, bool failed);
  // A length of text written into `buffer` (0 on failure), and the text.
  void EndText(DWORD length, DWORD size, const char* buffer);
  // Registry data of a known type as text or number; false for others.
  bool ShowRegistryData(DWORD type, const char* data, DWORD size);
  void ShowEnumerated(const DWORD* needed, const DWORD* returned);
  // A transcript line: console or run-log output, or a fact of the run.
  void Note(std::string_view marker, std::string_view text);

  WinApi& inner_;
  TraceSink& sink_;
  TraceLine line_;
  DWORD lastError_ = 0;
  DWORD errorBefore_ = 0;  // the thread's last error before the call
  bool errorSet_ = true;   // whether the call set one
  // The last console text, so that the run log's copy of it is not repeated.
  static constexpr std::size_t kNotKept = static_cast<std::size_t>(-1);
  char lastConsole_[1024] = {};
  std::size_t lastConsoleLength_ = kNotKept;
};

}  // namespace tolvo
