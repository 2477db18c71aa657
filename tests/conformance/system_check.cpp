// The system's folders, its version, entry points looked up at run time,
// the run log and starting programs.
#include <cctype>
#include <cstring>
#include <string>

#include "conformance/check.h"
#include "platform/appended_files.h"
#include "winenv/installation_lock.h"

namespace tolvo::checks {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text;
}

class SystemCheck : public Check {
 protected:
  bool Kernel32Has(WinApi::EntryPoint entry) {
    return api.HasEntryPoint(api.GetModuleHandleA("kernel32.dll"), entry);
  }
  // Starts a program and waits for it; its exit status, or -1 when it did
  // not start.
  long long Run(const char* application, std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!api.CreateProcessA(application, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &process)) {
      return -1;
    }
    DWORD exitCode = kStale;
    EXPECT_EQ(api.WaitForSingleObject(process.hProcess, INFINITE), DWORD{WAIT_OBJECT_0});
    EXPECT_TRUE(api.GetExitCodeProcess(process.hProcess, &exitCode));
    api.CloseHandle(process.hThread);
    api.CloseHandle(process.hProcess);
    return exitCode;
  }
};

// The length without the terminator when the folder fits, else the size
// needed with it: probed at the needed size, one less and one more.
TEST_F(SystemCheck, FolderQueriesReportTheSizeNeeded) {
  const struct {
    const char* what;
    UINT (WinApi::*query)(LPSTR, UINT);
  } queries[] = {{"system", &WinApi::GetSystemDirectoryA},
                 {"windows", &WinApi::GetWindowsDirectoryA}};
  for (const auto& q : queries) {
    const UINT needed = (api.*q.query)(nullptr, 0);
    ASSERT_GT(needed, 3u) << q.what;
    char buffer[MAX_PATH + 2];
    EXPECT_EQ((api.*q.query)(buffer, needed - 1), needed) << q.what;
    EXPECT_EQ((api.*q.query)(buffer, needed), needed - 1) << q.what;
    EXPECT_EQ((api.*q.query)(buffer, needed + 1), needed - 1) << q.what;
    EXPECT_EQ(std::strlen(buffer), needed - 1) << q.what;
  }
  char system[MAX_PATH];
  char windows[MAX_PATH];
  api.GetSystemDirectoryA(system, MAX_PATH);
  api.GetWindowsDirectoryA(windows, MAX_PATH);
  EXPECT_EQ(Lower(system), Lower(std::string(windows) + "\\system32"));
}

// A 32-bit process on 64-bit Windows writes into SysWOW64 when it names
// system32, until it switches the redirection off; 32-bit Windows has no
// redirection to switch off.
TEST_F(SystemCheck, SystemFolderRedirection) {
  char system[MAX_PATH];
  char windows[MAX_PATH];
  api.GetSystemDirectoryA(system, MAX_PATH);
  api.GetWindowsDirectoryA(windows, MAX_PATH);
  const std::string named = std::string(system) + "\\tolvo-check.txt";
  const std::string wow64 = std::string(windows) + "\\SysWOW64\\tolvo-check.txt";
  scratch.WriteFile(named, "x");
  EXPECT_NE(api.GetFileAttributesA(named.c_str()), INVALID_FILE_ATTRIBUTES);

  ASSERT_TRUE(Kernel32Has(WinApi::EntryPoint::kWow64DisableWow64FsRedirection));
  PVOID old = nullptr;
  if (!scratch.wow64()) {
    EXPECT_FAILS(ERROR_INVALID_FUNCTION, api.Wow64DisableWow64FsRedirection(&old));
    return;
  }
  EXPECT_NE(api.GetFileAttributesA(wow64.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(api.Wow64DisableWow64FsRedirection(&old));
  EXPECT_EQ(api.GetFileAttributesA(named.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(api.GetFileAttributesA(wow64.c_str()), INVALID_FILE_ATTRIBUTES);
  char after[MAX_PATH];
  api.GetSystemDirectoryA(after, MAX_PATH);
  EXPECT_STREQ(after, system);
}

TEST_F(SystemCheck, IsWow64ProcessThroughItsEntryPoint) {
  ASSERT_TRUE(Kernel32Has(WinApi::EntryPoint::kIsWow64Process));
  BOOL wow64 = 2;
  EXPECT_TRUE(api.IsWow64Process(api.GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64 != FALSE, scratch.wow64());
  api.SetLastError(kStale);
  EXPECT_FALSE(Kernel32Has(WinApi::EntryPoint::kXcvDataW));
  EXPECT_EQ(api.GetLastError(), DWORD{ERROR_PROC_NOT_FOUND});
}

TEST_F(SystemCheck, VersionWithBothRecordSizes) {
  OSVERSIONINFOEXA extended{};
  extended.dwOSVersionInfoSize = sizeof extended;
  EXPECT_TRUE(api.GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&extended)));
  EXPECT_GE(extended.dwMajorVersion, 5u);
  EXPECT_EQ(extended.dwPlatformId, DWORD{VER_PLATFORM_WIN32_NT});
  EXPECT_NE(extended.wProductType, 0);

  OSVERSIONINFOA plain{};
  plain.dwOSVersionInfoSize = sizeof plain;
  EXPECT_TRUE(api.GetVersionExA(&plain));
  EXPECT_EQ(plain.dwMajorVersion, extended.dwMajorVersion);
  EXPECT_EQ(plain.dwBuildNumber, extended.dwBuildNumber);

  plain.dwOSVersionInfoSize = sizeof plain - 1;
  EXPECT_FAILS(ERROR_INSUFFICIENT_BUFFER, api.GetVersionExA(&plain));
}

TEST_F(SystemCheck, RunLogAppendsInTextMode) {
  const std::string path = Path("run.log");
  for (int run = 0; run < 2; ++run) {
    RunLogStream log = api.OpenRunLog(path.c_str(), nullptr);
    ASSERT_NE(log, nullptr);
    api.WriteRunLog(log, "line one\nline two\n");
    api.CloseRunLog(log);
  }
  EXPECT_EQ(scratch.ReadFile(path), "line one\r\nline two\r\nline one\r\nline two\r\n");
  EXPECT_EQ(api.OpenRunLog(Path("no such folder\\x.log").c_str(), nullptr), nullptr);
}

// An error's text ends in CRLF and needs room for its terminator too.
TEST_F(SystemCheck, ErrorTextsAndTheRoomTheyNeed) {
  char text[512];
  const auto format = [&](DWORD error, DWORD size) {
    return api.FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                              error, 0, text, size, nullptr);
  };
  const DWORD length = format(ERROR_PATH_NOT_FOUND, sizeof text);
  EXPECT_EQ(std::string(text, length).substr(length - 2), "\r\n");
  EXPECT_FAILS(ERROR_INSUFFICIENT_BUFFER, format(ERROR_PATH_NOT_FOUND, length));
  EXPECT_EQ(format(ERROR_PATH_NOT_FOUND, length + 1), length);
}

// A created file's grants name the run's own account; the installation
// lock's descriptor, read back, is one that only the administrators reach.
TEST_F(SystemCheck, SecurityOfWhatTheInstallerCreates) {
  UniqueLocal file(api);
  ASSERT_TRUE(MakeCreatedFileSecurity(api, "C:\\log.txt", file));
  UniqueLocal onShare(api);  // a share's file takes its folder's permissions
  EXPECT_TRUE(MakeCreatedFileSecurity(api, "\\\\fs01\\logs\\log.txt", onShare) && !onShare);
  LPSTR text = nullptr;
  ASSERT_TRUE(api.ConvertSecurityDescriptorToStringSecurityDescriptorA(
      file.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
  const UniqueLocal owned(api, text);
  EXPECT_NE(std::string(text).find("(A;;FA;;;S-1-5-"), std::string::npos) << text;
  InstallationLock lock(api);
  EXPECT_EQ(lock.Take(), LockResult::Taken) << lock.error();
}

TEST_F(SystemCheck, StartingProgramsAndTheirExitStatus) {
  EXPECT_FAILS(ERROR_FILE_NOT_FOUND, Run(Path("missing.exe").c_str(), "missing.exe") != -1);
  char comspec[MAX_PATH] = {};
  const DWORD length = api.GetEnvironmentVariableA("COMSPEC", comspec, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(api.GetEnvironmentVariableA("COMSPEC", comspec, length), length + 1);
  EXPECT_EQ(api.GetEnvironmentVariableA("COMSPEC", comspec, length + 1), length);
  const std::string quoted = "\"" + std::string(comspec) + "\" /c ";
  EXPECT_EQ(Run(comspec, quoted + "exit 3"), 3);

  api.CreateDirectoryA(Path("Gone").c_str(), nullptr);
  EXPECT_EQ(Run(comspec, quoted + "rmdir \"" + Path("Gone") + "\" /S /Q"), 0);
  EXPECT_EQ(api.GetFileAttributesA(Path("Gone").c_str()), INVALID_FILE_ATTRIBUTES);
  WINE_DEPARTS(Run(comspec, quoted + "rmdir \"" + Path("Gone") + "\" /S /Q"), 2, 0,
               "rmdir of a missing folder exits with ERROR_FILE_NOT_FOUND on Windows; "
               "Wine's cmd exits 0");
}

}  // namespace
}  // namespace tolvo::checks
