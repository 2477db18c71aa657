// The support trace: a WinApi that records every call it forwards.
//
// TraceApi sits between the installer and another WinApi (the real Windows,
// or the simulated one in tests) and writes one line per call to a
// TraceSink: the milliseconds since the start, the Win32 name, the
// arguments, the result and, for a failed call, the last error. Console and
// run-log writes appear as transcript lines, marked "|". Every value read
// for the key "AuthText" is a secret: it is shown as a placeholder wherever
// it would appear, and the port-data record is shown by its size only.
//
// The trace never changes a run: each call is forwarded with the same
// arguments, its result is returned unchanged, and the last error the call
// left is restored after the line is written. Lines are composed in fixed
// buffers and cut when over-long; nothing here allocates or throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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

inline constexpr std::string_view kTraceSecretPlaceholder = "<AuthText hidden>";

// The values read for "AuthText" so far, as the trace hides them. Distinct
// values are kept up to a fixed count; beyond it the oldest makes room,
// which a run reaches only with that many ports of distinct passwords,
// each of which is shown (in its port's line) before the next is read.
class TraceSecrets {
 public:
  static constexpr std::size_t kCount = 32;
  static constexpr std::size_t kSize = 260;

  void Remember(std::string_view value);
  // The length of the secret that starts at text[position], or 0.
  std::size_t MatchAt(std::string_view text, std::size_t position) const;

 private:
  char values_[kCount][kSize] = {};
  std::size_t lengths_[kCount] = {};
  std::size_t next_ = 0;
};

// One trace line, composed in place: "<ms> Name(arg, arg) = result ...".
class TraceLine {
 public:
  static constexpr std::size_t kSize = 4096;
  // Texts longer than this are shown cut, with their full length.
  static constexpr std::size_t kTextShown = 1024;

  explicit TraceLine(const TraceSecrets& secrets) : secrets_(secrets) {}

  void Start(std::uint32_t milliseconds, std::string_view marker);
  TraceLine& Raw(std::string_view text);
  TraceLine& Format(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // The argument separator: "(" before the first argument, ", " after.
  TraceLine& Next();
  TraceLine& Text(std::string_view text);  // quoted, escaped, secrets hidden
  TraceLine& Text(LPCSTR text);            // also NULL
  TraceLine& Wide(LPCWSTR text);           // L"..." or NULL
  TraceLine& Hex(std::uint64_t value);
  TraceLine& Pointer(const void* value);  // handles and addresses
  TraceLine& ErrorCode(DWORD error);      // "3000 ERROR_UNKNOWN_PRINT_MONITOR"
  // Ends the line with its line break (there is always room for it).
  void EndLine();
  std::string_view text() const {
    return std::string_view(buffer_, length_);
  }

 private:
  const TraceSecrets& secrets_;
  char buffer_[kSize] = {};
  std::size_t length_ = 0;
  bool firstArgument_ = true;
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

  void WriteStdout(std::string_view text) override;
  RunLogStream OpenRunLog(LPCSTR path) override;
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

  BOOL GetVersionExA(LPOSVERSIONINFOA info) override;
  HMODULE GetModuleHandleA(LPCSTR moduleName) override;
  HMODULE LoadLibraryA(LPCSTR fileName) override;
  BOOL FreeLibrary(HMODULE module) override;
  FARPROC GetProcAddress(HMODULE module, LPCSTR procName) override;
  HANDLE GetCurrentProcess() override;

  BOOL CallIsWow64Process(FARPROC isWow64Process, HANDLE process, PBOOL wow64) override;
  BOOL CallWow64DisableWow64FsRedirection(FARPROC disable, PVOID* oldValue) override;
  BOOL CallSetDllDirectoryA(FARPROC setDllDirectory, LPCSTR pathName) override;
  BOOL CallSetDefaultDllDirectories(FARPROC setDefaultDllDirectories,
                                    DWORD directoryFlags) override;
  BOOL CallOpenPrinterW(FARPROC openPrinter, LPWSTR printerName, LPHANDLE printer,
                        LPPRINTER_DEFAULTSW defaults) override;
  BOOL CallXcvDataW(FARPROC xcvData, HANDLE xcv, LPCWSTR dataName, PBYTE inputData, DWORD inputSize,
                    PBYTE outputData, DWORD outputSize, PDWORD outputNeeded,
                    PDWORD status) override;
  int CallMultiByteToWideChar(FARPROC multiByteToWideChar, UINT codePage, DWORD flags,
                              LPCSTR multiByte, int multiByteCount, LPWSTR wideChar,
                              int wideCharCount) override;

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

  HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) override;
  HGLOBAL GlobalFree(HGLOBAL memory) override;

 private:
  // A call's line: Begin before forwarding (the time is the call's start),
  // then the arguments, Result right after the call (with the last error
  // when it failed), any out-values, and Commit, which writes the line and
  // gives the call's last error back to the thread.
  TraceLine& Begin(std::string_view function);
  TraceLine& Result(bool failed, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  void AppendError();
  void Commit();
  // The usual endings: BOOL (failed when FALSE), an LSTATUS (its own error
  // code), a handle or address (failed when null or `invalid`).
  BOOL EndBool(BOOL result);
  LSTATUS EndStatus(LSTATUS status);
  void EndPointer(const void* result, const void* invalid = nullptr);
  // A transcript line: console or run-log output, or a fact of the run.
  void Note(std::string_view marker, std::string_view text);

  WinApi& inner_;
  TraceSink& sink_;
  TraceSecrets secrets_;
  TraceLine line_;
  DWORD lastError_ = 0;
  // The last console text, so that the run log's copy of it is not repeated.
  static constexpr std::size_t kNotKept = static_cast<std::size_t>(-1);
  char lastConsole_[1024] = {};
  std::size_t lastConsoleLength_ = kNotKept;
};

}  // namespace tolvo
