#include "winenv/windows_version.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/sim_windows.h"
#include "workflows/run_preconditions.h"

namespace tolvo {
namespace {

using sim::SimWindows;

struct VersionCase {
  const char* name;
  DWORD platform;
  DWORD major;
  DWORD minor;
  BYTE productType;
  bool wow64;
  const char* expectedConsole;
  OsClass expectedClass;
  bool plainQueryFails = false;
  bool extendedQueryFails = false;
  bool probeAbsent = false;
  WORD nativeMachine = 0;  // IsWow64Process2's answer; 0: kernel32 lacks it
  bool served = true;      // the kit has monitors for the machine
};

constexpr BYTE kWorkstation = VER_NT_WORKSTATION;
constexpr BYTE kServer = VER_NT_SERVER;
constexpr BYTE kDomainController = VER_NT_DOMAIN_CONTROLLER;

const VersionCase kCases[] = {
    {"Nt351", 2, 3, 51, kWorkstation, false, "    (Windows NT 3.51 Detected)\n", OS_UNSUPPORTED},
    {"Nt40", 2, 4, 0, kWorkstation, false, "    (Windows NT 4.0 Detected)\n", OS_UNSUPPORTED},
    {"Win2000", 2, 5, 0, kServer, false, "    (Windows 2000 Detected)\n", OS_UNSUPPORTED},
    {"Xp32", 2, 5, 1, kWorkstation, false, "    (Windows XP Detected)\n", OS_32BIT},
    {"XpUnderWow64", 2, 5, 1, kWorkstation, true, "    (Windows XP Detected)\n", OS_64BIT},
    {"Xp64", 2, 5, 2, kWorkstation, true, "    (64-bit Windows XP Detected)\n", OS_64BIT},
    {"Win2003", 2, 5, 2, kServer, false, "    (Windows 2003 Detected)\n", OS_32BIT},
    {"Version53", 2, 5, 3, kWorkstation, false, "    (Unknown Win32NT OS Detected ver.5.3)\n",
     OS_UNSUPPORTED},
    {"Server2008x64", 2, 6, 0, kServer, true, "    (64-bit Windows 2008 Server Detected)\n",
     OS_64BIT},
    {"Server2008x86", 2, 6, 0, kServer, false, "    (32-bit Windows 2008 Server Detected)\n",
     OS_32BIT},
    {"Server61UnderWow64", 2, 6, 1, kServer, true, "    (64-bit Windows 2008 Server Detected)\n",
     OS_64BIT},
    {"Server62UnderWow64", 2, 6, 2, kServer, true, "    (64-bit Windows 2008 Server Detected)\n",
     OS_64BIT},
    {"Server63UnderWow64", 2, 6, 3, kServer, true, "    (64-bit Windows 2008 Server Detected)\n",
     OS_64BIT},
    {"DomainController61", 2, 6, 1, kDomainController, false,
     "    (32-bit Windows 2008 Server Detected)\n", OS_32BIT},
    {"Vista64", 2, 6, 0, kWorkstation, true, "    (64-bit Windows Vista Detected)\n", OS_64BIT},
    {"Vista32", 2, 6, 0, kWorkstation, false, "    (32-bit Windows Vista Detected)\n", OS_32BIT},
    {"Win7x64", 2, 6, 1, kWorkstation, true, "    (64-bit Windows 7 Detected)\n", OS_64BIT},
    {"Win7x86", 2, 6, 1, kWorkstation, false, "    (32-bit Windows 7 Detected)\n", OS_32BIT},
    {"Win8x64", 2, 6, 2, kWorkstation, true, "    (64-bit Windows 8 Detected)\n", OS_64BIT},
    {"Win8x86", 2, 6, 2, kWorkstation, false, "    (32-bit Windows 8 Detected)\n", OS_32BIT},
    {"Workstation63", 2, 6, 3, kWorkstation, true, "    (Unknown Win32NT OS Detected ver.6.3)\n",
     OS_UNSUPPORTED},
    {"Workstation100", 2, 10, 0, kWorkstation, true, "    (Unknown Win32NT OS Detected ver.10.0)\n",
     OS_UNSUPPORTED},
    {"Server100", 2, 10, 0, kServer, true, "    (Unknown Win32NT OS Detected ver.10.0)\n",
     OS_UNSUPPORTED},
    {"Win95", 1, 4, 0, kWorkstation, false, "    (Windows 95 Detected)\n", OS_UNSUPPORTED},
    {"Win98", 1, 4, 10, kWorkstation, false, "    (Windows 98 Detected)\n", OS_UNSUPPORTED},
    {"WinMe", 1, 4, 90, kWorkstation, false, "    (Windows Me Detected)\n", OS_UNSUPPORTED},
    {"Win9xOther", 1, 4, 5, kWorkstation, false, "    (Unknown Win32 OS Detected ver.4.5)\n",
     OS_UNSUPPORTED},
    {"Win32s", 0, 3, 10, kWorkstation, false, "", OS_UNSUPPORTED},
    {"PlatformCE", 3, 6, 1, kWorkstation, false, "", OS_UNSUPPORTED},
    // Both attempts of the plain query fail: the zero-filled record has
    // platform 0, so only the error line is printed.
    {"BothQueriesFail", 2, 6, 1, kWorkstation, true, "ERROR Unable to Detect Windows Version.\n",
     OS_UNSUPPORTED, true, true},
    // Without the extended record a server counts as a workstation.
    {"ExtendedQueryFailsOnServer", 2, 6, 1, kServer, true, "    (64-bit Windows 7 Detected)\n",
     OS_64BIT, false, true},
    {"ExtendedQueryFailsOn63Server", 2, 6, 3, kServer, false,
     "    (Unknown Win32NT OS Detected ver.6.3)\n", OS_UNSUPPORTED, false, true},
    // Without IsWow64Process the system is taken as 32-bit.
    {"ProbeAbsentWin7", 2, 6, 1, kWorkstation, true, "    (32-bit Windows 7 Detected)\n", OS_32BIT,
     false, false, true},
    {"ProbeAbsent52", 2, 5, 2, kWorkstation, true, "    (Windows 2003 Detected)\n", OS_32BIT, false,
     false, true},
    // Only IsWow64Process2, which every row above lacks, tells ARM64 from x64.
    {"Arm64UnderWow64", 2, 6, 2, kWorkstation, true,
     "    (64-bit Windows 8 Detected)\nERROR: This kit cannot serve Windows on ARM64: its port "
     "monitors are for x86 and x64 Windows only\n",
     OS_64BIT, false, false, false, 0xAA64, false},
};

class WindowsVersionTable : public ::testing::TestWithParam<VersionCase> {};

TEST_P(WindowsVersionTable, PrintsTheLineAndReturnsTheClass) {
  const VersionCase& row = GetParam();
  SimWindows machine;
  machine.version.platformId = row.platform;
  machine.version.major = row.major;
  machine.version.minor = row.minor;
  machine.version.productType = row.productType;
  machine.version.wow64 = row.wow64;
  machine.version.plainQueryFails = row.plainQueryFails;
  machine.version.extendedQueryFails = row.extendedQueryFails;
  machine.version.isWow64ProcessPresent = !row.probeAbsent;
  machine.version.nativeMachine = row.nativeMachine;
  RunContext context(machine);

  EXPECT_EQ(DetectWindowsVersion(context), row.expectedClass);
  EXPECT_EQ(CheckMachineServed(context), row.served);
  EXPECT_EQ(machine.console, row.expectedConsole);
  // Two plain attempts only when the first failed, then one extended query.
  EXPECT_EQ(machine.CallCount("GetVersionExA"), row.plainQueryFails ? 3 : 2);
  EXPECT_TRUE(machine.OpenResources().empty());
}

INSTANTIATE_TEST_SUITE_P(AllRows, WindowsVersionTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DetectWindowsVersion, RetriesAFailedFirstQueryOnce) {
  SimWindows machine;
  machine.FailCall("GetVersionExA", ERROR_INVALID_PARAMETER, 1);
  RunContext context(machine);

  EXPECT_EQ(DetectWindowsVersion(context), OS_64BIT);
  EXPECT_EQ(machine.console, "    (64-bit Windows 7 Detected)\n");
  EXPECT_EQ(machine.CallCount("GetVersionExA"), 3);
}

TEST(DetectWindowsVersion, GivesTheTwoQueriesTheirRecordSizes) {
  // A record size other than 148 or 156 is refused by the machine, so a
  // correct detection proves both sizes were set.
  SimWindows machine;
  machine.version.productType = VER_NT_SERVER;
  RunContext context(machine);
  EXPECT_EQ(DetectWindowsVersion(context), OS_64BIT);
  EXPECT_EQ(machine.console, "    (64-bit Windows 2008 Server Detected)\n");

  OSVERSIONINFOA wrongSize{};
  wrongSize.dwOSVersionInfoSize = 150;
  EXPECT_FALSE(machine.GetVersionExA(&wrongSize));
  EXPECT_EQ(machine.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
}

TEST(DetectWindowsVersion, QueriesAfreshOnEveryCall) {
  SimWindows machine;
  RunContext context(machine);
  EXPECT_EQ(DetectWindowsVersion(context), OS_64BIT);
  machine.version.wow64 = false;
  machine.version.minor = 0;
  EXPECT_EQ(DetectWindowsVersion(context), OS_32BIT);
  EXPECT_EQ(machine.console,
            "    (64-bit Windows 7 Detected)\n    (32-bit Windows Vista Detected)\n");
}

TEST(IsRunningUnderWow64, FollowsTheProbe) {
  SimWindows machine;
  EXPECT_TRUE(IsRunningUnderWow64(machine));
  machine.version.wow64 = false;
  EXPECT_FALSE(IsRunningUnderWow64(machine));
  EXPECT_EQ(machine.CallCount("IsWow64Process"), 2);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST(IsRunningUnderWow64, FailedProbeOrMissingKernelReadsAs32Bit) {
  SimWindows failing;
  failing.FailCall("IsWow64Process", ERROR_ACCESS_DENIED);
  EXPECT_FALSE(IsRunningUnderWow64(failing));

  SimWindows noKernel;
  noKernel.SetModuleMissing("kernel32");
  EXPECT_FALSE(IsRunningUnderWow64(noKernel));
  EXPECT_EQ(noKernel.CallCount("IsWow64Process"), 0);

  SimWindows noExport;
  noExport.version.isWow64ProcessPresent = false;
  EXPECT_FALSE(IsRunningUnderWow64(noExport));
  EXPECT_EQ(noExport.CallCount("IsWow64Process"), 0);
}

TEST(SimulatedRedirection, SwitchingOffFailsOn32BitWindowsWithError1) {
  SimWindows machine;
  machine.version.wow64 = false;
  PVOID old = nullptr;
  EXPECT_FALSE(machine.Wow64DisableWow64FsRedirection(&old));
  EXPECT_EQ(machine.GetLastError(), ERROR_INVALID_FUNCTION);

  SimWindows wow64;
  EXPECT_EQ(wow64.FullPath("C:\\Windows\\System32\\x.dll"), "C:\\Windows\\SysWOW64\\x.dll");
  EXPECT_TRUE(wow64.Wow64DisableWow64FsRedirection(&old));
  EXPECT_TRUE(wow64.version.redirectionDisabled);
  EXPECT_EQ(wow64.FullPath("C:\\Windows\\System32\\x.dll"), "C:\\Windows\\System32\\x.dll");
}

}  // namespace
}  // namespace tolvo
