// Whole runs: every DLL the installer loads at run time is named by its full
// path in the system directory, and the DLL search path is narrowed before
// the first load.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

struct LoadingCase {
  const char* name;
  bool enterprise;
  bool sixtyFourBit;
};

class DllLoading : public MachineFixture, public ::testing::WithParamInterface<LoadingCase> {
 protected:
  void SetUp() override {
    if (GetParam().enterprise) {
      // The Enterprise edition needs none of the client's files.
      for (const char* file : kClientFiles) {
        RemoveKitFile(file);
      }
      RemoveKitFile("Quarvel.exe");
    }
    if (!GetParam().sixtyFourBit) {
      UseThirtyTwoBitWindows();
    }
  }

  std::vector<std::string> Switches(std::vector<std::string> switches) const {
    if (GetParam().enterprise) {
      switches.emplace_back("-a");
    }
    return switches;
  }

  // Every argument so far is a file directly in the system directory, and
  // one that Windows ships there.
  void ExpectOnlySystemDirectoryPaths() const {
    const std::string prefix = machine.systemDirectory + "\\";
    for (const std::string& argument : machine.loadLibraryArguments) {
      SCOPED_TRACE(argument);
      ASSERT_GT(argument.size(), prefix.size());
      EXPECT_TRUE(EqualsIgnoreCase(argument.substr(0, prefix.size()), prefix));
      const std::string name = argument.substr(prefix.size());
      EXPECT_EQ(name.find_first_of("\\/:"), std::string::npos);
      EXPECT_TRUE(EqualsIgnoreCase(name, "winspool.drv") || EqualsIgnoreCase(name, "kernel32.dll"));
    }
  }

  // The search path was narrowed before the run's first LoadLibraryA.
  void ExpectSearchPathNarrowedFirst() const {
    const auto& calls = machine.calls();
    const auto narrowed = std::find(calls.begin(), calls.end(), "SetDefaultDllDirectories");
    const auto firstLoad = std::find(calls.begin(), calls.end(), "LoadLibraryA");
    ASSERT_NE(narrowed, calls.end());
    EXPECT_LT(narrowed, firstLoad);
    EXPECT_EQ(machine.CallCount("SetDefaultDllDirectories"), 1);
  }
};

TEST_P(DllLoading, InstallationLoadsOnlyFromTheSystemDirectory) {
  ASSERT_EQ(Run(Switches({})), 0) << machine.console;
  // The run really reaches the monitor's transaction channel.
  EXPECT_FALSE(machine.loadLibraryArguments.empty());
  ExpectOnlySystemDirectoryPaths();
  ExpectSearchPathNarrowedFirst();
  EXPECT_TRUE(machine.OpenResources().empty()) << ::testing::PrintToString(machine.OpenResources());
}

TEST_P(DllLoading, UninstallationLoadsOnlyFromTheSystemDirectory) {
  ASSERT_EQ(Run(Switches({})), 0) << machine.console;
  StartNewRun();
  machine.loadLibraryArguments.clear();

  ASSERT_EQ(Run(Switches({"-u"})), 0) << machine.console;
  // Removing the monitor needs no transaction channel, so nothing may be
  // loaded at all; whatever a later change loads has to pass the same check.
  ExpectOnlySystemDirectoryPaths();
  EXPECT_EQ(machine.CallCount("SetDefaultDllDirectories"), 2);
  EXPECT_TRUE(machine.OpenResources().empty()) << ::testing::PrintToString(machine.OpenResources());
}

// Installing with the configuration read from the registry and with errors
// ignored takes the other branches of the port set-up.
TEST_P(DllLoading, InstallationWithEverySwitchLoadsOnlyFromTheSystemDirectory) {
  ASSERT_EQ(Run(Switches({"-e", "-r"})), 0) << machine.console;
  ExpectOnlySystemDirectoryPaths();
  ExpectSearchPathNarrowedFirst();
}

INSTANTIATE_TEST_SUITE_P(EachEditionAndBitness, DllLoading,
                         ::testing::Values(LoadingCase{"Standard64", false, true},
                                           LoadingCase{"Standard32", false, false},
                                           LoadingCase{"Enterprise64", true, true},
                                           LoadingCase{"Enterprise32", true, false}),
                         [](const ::testing::TestParamInfo<LoadingCase>& info) {
                           return std::string(info.param.name);
                         });

// Windows XP: no SetDefaultDllDirectories, so the current directory leaves
// the search path before anything is loaded.
using DllLoadingOnWindowsXp = MachineFixture;

TEST_F(DllLoadingOnWindowsXp, CurrentDirectoryLeavesTheSearchPathBeforeTheFirstLoad) {
  UseThirtyTwoBitWindows();
  machine.version.major = 5;
  machine.version.minor = 1;
  machine.SetExportMissing("kernel32.dll", "SetDefaultDllDirectories");

  ASSERT_EQ(Run(), 0) << machine.console;
  const auto& calls = machine.calls();
  const auto narrowed = std::find(calls.begin(), calls.end(), "SetDllDirectoryA");
  const auto firstLoad = std::find(calls.begin(), calls.end(), "LoadLibraryA");
  ASSERT_NE(narrowed, calls.end());
  ASSERT_NE(firstLoad, calls.end());
  EXPECT_LT(narrowed, firstLoad);
  for (const std::string& argument : machine.loadLibraryArguments) {
    EXPECT_EQ(argument.rfind(machine.systemDirectory + "\\", 0), 0u) << argument;
  }
  // The programs it starts search as they would if started by themselves;
  // the installer's own narrowed path is back after each start.
  ASSERT_FALSE(machine.processes.starts.empty());
  for (const auto& start : machine.processes.starts) {
    EXPECT_EQ(start.dllDirectory, std::nullopt) << start.commandLine;
  }
  EXPECT_EQ(machine.dllDirectory, std::optional<std::string>(""));
}

}  // namespace
}  // namespace tolvo::scenario
