// What only the real backend has to show, beyond the checks both backends
// share: the run-log stream as the C runtime opens it, the spooler bound at
// its first call (not loaded before, which works with WOW64 redirection
// switched off and leaves it off), DLL loading by full system-directory
// path with redirection off, and entry points called through FARPROCs.
// Built first into the checks' program: its first check must run before
// anything loads the spooler.
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "conformance/check.h"

namespace tolvo::checks {
namespace {

using BackendCheck = Check;

// The machine type in a PE file's header; 0 when it cannot be read.
WORD PeMachine(Scratch& scratch, const std::string& path) {
  const std::string image = scratch.ReadFile(path);
  if (image.size() < 0x40) {
    return 0;
  }
  DWORD header = 0;
  std::memcpy(&header, image.data() + 0x3C, sizeof header);
  WORD machine = 0;
  if (header + 6 > image.size()) {
    return 0;
  }
  std::memcpy(&machine, image.data() + header + 4, sizeof machine);
  return machine;
}

void CheckSpooler(WinApi& api) {
  DWORD needed = 0;
  DWORD returned = 0;
  EXPECT_FAILS(ERROR_INSUFFICIENT_BUFFER,
               api.EnumPortsA(nullptr, 1, nullptr, 0, &needed, &returned));
  EXPECT_GT(needed, 0u);
  std::string buffer(needed, '\0');
  EXPECT_TRUE(
      api.EnumPortsA(nullptr, 1, reinterpret_cast<LPBYTE>(&buffer[0]), needed, &needed, &returned));
  EXPECT_GT(returned, 0u);
  char monitor[] = "Tolvo Backend Check Missing Monitor";
  EXPECT_FAILS(ERROR_UNKNOWN_PRINT_MONITOR, api.DeleteMonitorA(nullptr, nullptr, monitor));
}

// Nothing loads the spooler's DLL (and the user-interface DLLs it brings)
// before a spooler call needs it; with redirection off, the first spooler
// call must still load the spooler and leave redirection off; a DLL named
// in the system directory must still load (from SysWOW64 under WOW64).
TEST_F(BackendCheck, SpoolerFirstCalledWithRedirectionOff) {
  EXPECT_EQ(::GetModuleHandleA("winspool.drv"), nullptr);
  HMODULE kernel = api.GetModuleHandleA("kernel32.dll");
  PVOID old = nullptr;
  const bool off = api.HasEntryPoint(kernel, WinApi::EntryPoint::kWow64DisableWow64FsRedirection) &&
                   api.Wow64DisableWow64FsRedirection(&old);
  EXPECT_EQ(off, scratch.wow64());
  CheckSpooler(api);
  char system[MAX_PATH] = {};
  const UINT length = api.GetSystemDirectoryA(system, MAX_PATH);
  ASSERT_TRUE(length > 0 && length < MAX_PATH);
  if (off) {
    const WORD machine = PeMachine(scratch, std::string(system) + "\\kernel32.dll");
    EXPECT_TRUE(machine == IMAGE_FILE_MACHINE_AMD64 || machine == IMAGE_FILE_MACHINE_IA64)
        << "redirection still off after the spooler was loaded: " << machine;
  }
  const std::string path = std::string(system) + "\\winspool.drv";
  HMODULE spooler = api.LoadLibraryA(path.c_str());
  ASSERT_NE(spooler, nullptr) << api.GetLastError();
  EXPECT_TRUE(api.HasEntryPoint(spooler, WinApi::EntryPoint::kXcvDataW));
  api.FreeLibrary(spooler);
  CheckSpooler(api);
}

TEST_F(BackendCheck, RunLogIsNotInheritedAndIsShared) {
  const std::string path = Path("run.log");
  RunLogStream log = api.OpenRunLog(path.c_str(), nullptr);
  ASSERT_NE(log, nullptr);
  HANDLE osHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(static_cast<std::FILE*>(log))));
  DWORD flags = 0;
  EXPECT_TRUE(::GetHandleInformation(osHandle, &flags));
  EXPECT_EQ(flags & HANDLE_FLAG_INHERIT, 0u);
  HANDLE other =
      ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(other, INVALID_HANDLE_VALUE) << ::GetLastError();
  if (other != INVALID_HANDLE_VALUE) {
    ::CloseHandle(other);
  }
  api.CloseRunLog(log);
}

TEST_F(BackendCheck, MultiByteToWideCharThroughItsEntryPoint) {
  ASSERT_TRUE(api.HasEntryPoint(api.GetModuleHandleA("kernel32.dll"),
                                WinApi::EntryPoint::kMultiByteToWideChar));
  WCHAR wide[16] = {};
  EXPECT_EQ(api.MultiByteToWideChar(CP_ACP, 0, "Tolvo", -1, wide, 16), 6);
  EXPECT_EQ(wide[0], L'T');
  EXPECT_EQ(wide[4], L'o');
  EXPECT_EQ(wide[5], 0);
}

// Names are compared in the system's code page whatever the account's
// locale: run_checks.sh runs this for a Russian account (code page 1251) on
// a system in 1252, where 0xFF and 0x9F are one letter, 0xFF and 0xDF not.
TEST_F(BackendCheck, TextComparedInTheSystemCodePage) {
  if (::GetUserDefaultLCID() == ::GetSystemDefaultLCID() || ::GetACP() != 1252) {
    GTEST_SKIP() << "needs an account locale other than the system's";
  }
  EXPECT_EQ(api.CompareTextIgnoreCase("\xFF", "\x9F"), 0);
  EXPECT_NE(api.CompareTextIgnoreCase("\xFF", "\xDF"), 0);
}

TEST_F(BackendCheck, GlobalHeapBlock) {
  HGLOBAL block = api.GlobalAlloc(GMEM_FIXED, 64);
  EXPECT_NE(block, nullptr);
  EXPECT_EQ(api.GlobalFree(block), nullptr);
}

}  // namespace
}  // namespace tolvo::checks
