// A simulated Windows machine behind the WinApi seam, for unit tests and
// whole-run scenarios.
//
// It keeps Windows' semantics (return values, last errors, the two-call size
// pattern, buffers laid out as Windows lays them out), can make any call fail
// with a chosen error by function and occurrence, records every call, and
// counts open handles, modules, searches and allocations so that a test can
// assert that a run leaks nothing.
//
// Files live on drive-letter paths mapped onto a temporary host folder.
// The state of each area of the machine is a public member that tests seed
// and inspect directly: registry, fileSystem, spooler, processes, version.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/win_api.h"
#include "sim/sim_files_state.h"
#include "sim/sim_processes_state.h"
#include "sim/sim_registry_state.h"
#include "sim/sim_spooler_state.h"
#include "sim/sim_version_state.h"

namespace tolvo::sim {

enum class HandleKind {
  RegKey,
  EventSource,
  Printer,
  Find,
  Module,
  Global,
  Process,
  Thread,
  RunLog,
  Mutex,
  Local,
  Token,
  File,
};

const char* HandleKindName(HandleKind kind);

// Lower case in code page 1252: ASCII, the accented capitals 0xC0-0xDE
// (without the multiplication sign), and 0x8A, 0x8C, 0x8E and 0x9F.
unsigned LowerIn1252(unsigned c);

class SimWindows : public WinApi {
 public:
  SimWindows();
  ~SimWindows() override;
  SimWindows(const SimWindows&) = delete;
  SimWindows& operator=(const SimWindows&) = delete;

  // --- Fault injection and call log ----------------------------------------
  // Makes `function` fail with `error`: on its n-th call (1-based), or on
  // every call when occurrence is 0.
  void FailCall(const std::string& function, DWORD error, int occurrence = 0);
  void ClearFaults() { faults_.clear(); }
  // The spooler service is stopped (or disabled): every call that would
  // reach it fails with RPC_S_SERVER_UNAVAILABLE (1722).
  void StopSpooler();
  // Every call made through the seam, in order, by Win32 name.
  const std::vector<std::string>& calls() const { return calls_; }
  int CallCount(const std::string& function) const;
  // The length the console had when each call of calls() was made, so a
  // test can tell which printed step a call belongs to.
  const std::vector<std::size_t>& callConsoleSizes() const { return callConsoleSizes_; }
  // Forgets the calls made so far (and their counts, which fault
  // occurrences are counted by), so that one machine can serve many runs.
  void ClearCallLog();

  // --- A killed run ----------------------------------------------------------
  // The run's process is killed at its n-th call (1-based): that call and
  // every later one fail without effect, and nothing more reaches the
  // console or the run log. A killed process cleans nothing up.
  void KillAtCall(std::size_t call) { killAtCall_ = call; }
  bool killed() const { return killed_; }
  // The run's process has ended: Windows releases what it still held
  // (handles, searches, modules, memory, open printers, mutexes), the run
  // log loses what the C runtime still buffered, and the next run starts as
  // a new process, with WOW64 redirection on.
  void EndProcess();
  // The machine's lasting state as text: spooler (monitors, ports, the port
  // data the monitor stored, printers' port lists), registry, files with
  // contents and attributes except `skippedFile`, running programs and
  // mutexes. Equal texts mean equal machines; logs are not part of it.
  std::string StateText(std::string_view skippedFile) const;

  // --- Handle accounting ---------------------------------------------------
  // One line per handle, module, search, allocation or stream still open.
  std::vector<std::string> OpenResources() const;
  std::size_t OpenCount(HandleKind kind) const;

  // --- Paths and files (test side) -----------------------------------------
  // The host folder that holds the machine's drives.
  const std::filesystem::path& hostRoot() const { return root_; }
  // Absolute, normalised Windows path for `path` (relative paths are taken
  // against the current directory), with WOW64 redirection applied.
  std::string FullPath(std::string_view path) const;
  // The host path of a Windows path; existing components are matched
  // without regard to case.
  std::filesystem::path HostPath(std::string_view path) const;
  // The host path of a Windows path as a 64-bit process sees it: no WOW64
  // redirection, so the native system directory stays itself.
  std::filesystem::path NativeHostPath(std::string_view path) const;
  void WriteFile(std::string_view path, std::string_view content);
  std::optional<std::string> ReadFile(std::string_view path) const;
  bool Exists(std::string_view path) const;
  bool IsDirectory(std::string_view path) const;
  void MakeDirectory(std::string_view path);
  // Names in a folder, sorted without regard to case.
  std::vector<std::string> ListDirectory(std::string_view path) const;

  std::string currentDirectory = "C:\\Kit";
  std::string windowsDirectory = "C:\\Windows";
  std::string systemDirectory = "C:\\Windows\\system32";
  // Under WOW64 with redirection on, the system directory of a 32-bit
  // process reaches this folder.
  std::string wow64SystemDirectory = "C:\\Windows\\SysWOW64";

  // --- Console and run log (test side) --------------------------------------
  std::string console;        // everything written to standard output, as written
  std::string standardError;  // everything written to the error stream
  bool RunLogOpen() const;

  // --- Security (test side) ---------------------------------------------------
  // The account the run is, as its token names it: an administrator.
  std::string runAccount = "S-1-5-21-1-2-3-500";

  // --- Modules -------------------------------------------------------------
  // Every LoadLibraryA argument, in order.
  std::vector<std::string> loadLibraryArguments;
  // Makes a module fail to load, or an entry point be absent.
  void SetModuleMissing(const std::string& module);
  void SetExportMissing(const std::string& module, const std::string& function);
  // What SetDllDirectoryA set; none for Windows' default search order.
  // Programs started meanwhile inherit it.
  std::optional<std::string> dllDirectory;

  // --- Text ----------------------------------------------------------------
  // The ANSI code page CompareTextIgnoreCase works in: 1252 (letters beyond
  // ASCII fold) or 932 (lead bytes 0x81-0x9F and 0xE0-0xFC start a
  // double-byte character, which is compared whole).
  UINT ansiCodePage = 1252;

  // --- Areas of the machine -----------------------------------------------
  SimRegistryState registry;
  SimFilesState fileSystem;
  SimSpoolerState spooler;
  SimProcessesState processes;
  SimVersionState version;

  // --- WinApi --------------------------------------------------------------
  DWORD GetLastError() override { return lastError_; }
  void SetLastError(DWORD error) override { lastError_ = error; }
  DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                       DWORD size, va_list* arguments) override;

  void WriteStdout(std::string_view text) override;
  void WriteStderr(std::string_view text) override { standardError.append(text); }
  RunLogStream OpenRunLog(LPCSTR path, LPSECURITY_ATTRIBUTES security) override;
  // Whether the file server of a remote folder lets the run create or open
  // the run log `full`; a created one's `descriptor` becomes what it takes.
  bool RemoteLogAccess(const std::string& full, bool created, std::string& descriptor);
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

  // --- For the areas' implementations ---------------------------------------
  // Records the call; returns the error to fail it with, if one is planned.
  std::optional<DWORD> Enter(const char* function);
  // Sets the last error and returns FALSE: the usual failure of a BOOL call.
  BOOL Fail(DWORD error) {
    lastError_ = error;
    return FALSE;
  }
  // A fresh handle value of the given kind, counted until released.
  HANDLE NewHandle(HandleKind kind);
  // Releases a handle of the given kind; false when it is not one.
  bool ReleaseHandle(HANDLE handle, HandleKind kind);
  bool IsHandle(HANDLE handle, HandleKind kind) const;

 private:
  struct Fault {
    std::string function;
    int occurrence;
    DWORD error;
  };
  struct LoadedModule {
    std::string name;  // lower-case base name
    int references = 0;
  };

  static void FlushRunLog(const std::string& hostPath, std::string_view text);
  std::string NormalizedPath(std::string_view path) const;
  std::string ApplyRedirection(std::string fullPath) const;
  std::filesystem::path HostPathOf(const std::string& fullPath) const;
  const LoadedModule* FindModule(HMODULE module) const;
  // Whether this machine's `module` exports `function`, one of its exports.
  bool Exports(const std::string& module, const char* function) const;
  // Records a call to a looked-up function; the error to fail it with, if
  // one is planned or the machine lacks the function.
  std::optional<DWORD> EnterEntryPoint(EntryPoint entry);

  std::filesystem::path root_;
  // As in Wine's tests: a message that reports an error no call set shows it.
  DWORD lastError_ = 0xDEADBEEF;
  std::vector<Fault> faults_;
  std::vector<std::string> calls_;
  std::vector<std::size_t> callConsoleSizes_;
  std::map<std::string, int> callCounts_;
  std::map<std::uintptr_t, HandleKind> handles_;
  std::uintptr_t nextHandle_ = 0x1000;
  struct RunLogFile {
    std::string hostPath;
    std::string buffered;  // written, still in the C runtime's buffer
  };
  std::map<std::uintptr_t, RunLogFile> runLogs_;  // by stream
  std::size_t killAtCall_ = 0;
  bool killed_ = false;
  std::map<std::uintptr_t, LoadedModule> modules_;
  std::set<std::string> missingModules_;
  std::set<std::string> missingExports_;  // "module!function"
  std::map<std::uintptr_t, std::size_t> allocations_;
  // Local memory by handle: a security descriptor's SDDL text or a SID;
  // a text handed out (LPSTR) is a block that holds it.
  std::map<std::uintptr_t, std::string> localBlocks_;
  PSECURITY_DESCRIPTOR NewLocalBlock(std::string text);
  LPSTR NewLocalText(const std::string& text);
  std::map<std::uintptr_t, std::unique_ptr<char[]>> localTexts_;
  std::string LocalText(const void* block) const;  // "" for none
};

}  // namespace tolvo::sim
