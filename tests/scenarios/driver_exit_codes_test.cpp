// Every way a run can end, with what is printed last and the exit code.
#include <algorithm>
#include <cctype>

#include "scenarios/driver_scenario.h"

namespace tolvo::scenarios {
namespace {

using ExitCodes = DriverScenario;

TEST_F(ExitCodes, RunLogCannotBeOpenedPrintsNothing) {
  EXPECT_EQ(Run({"-lC:\\NoSuchFolder\\run.log"}), -1);
  EXPECT_EQ(machine.console, "");
  EXPECT_TRUE(sequences.calls.empty());
  EXPECT_EQ(machine.CallCount("RegOpenKeyExA"), 0);  // no .NET check either
}

TEST_F(ExitCodes, RunLogRefusedBySystemPrintsNothing) {
  machine.FailCall("OpenRunLog", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run({}), -1);
  EXPECT_EQ(machine.console, "");
  EXPECT_TRUE(sequences.calls.empty());
}

TEST_F(ExitCodes, UsageRequested) {
  EXPECT_EQ(Run({"-?"}), -1);
  EXPECT_EQ(machine.console, kStandardBanner + kUsage);
  EXPECT_TRUE(sequences.calls.empty());
}

TEST_F(ExitCodes, DotNetMissingBeforeInstall) {
  machine.registry.SetDotNet20Installed(false);
  EXPECT_EQ(Run({}), -1);
  EXPECT_EQ(machine.console, kStandardBanner + kDotNetMissing);
  EXPECT_EQ(Log(), AsLogText(machine.console));
  EXPECT_TRUE(sequences.calls.empty());
  EXPECT_TRUE(machine.registry.events.empty());
}

TEST_F(ExitCodes, DotNetMissingBeforeUninstall) {
  machine.registry.SetDotNet20Installed(false);
  EXPECT_EQ(Run({"-u"}), -1);
  EXPECT_EQ(machine.console, kStandardBanner + kDotNetMissing);
  EXPECT_TRUE(sequences.calls.empty());
}

TEST_F(ExitCodes, InstallWithoutArgumentsFailed) {
  sequences.result = false;
  sequences.printed = "  ERROR - something the sequence says\n";
  EXPECT_EQ(Run({}), -1);
  EXPECT_EQ(machine.console, kStandardBanner + "\nInstalling Tolvo Port Monitor ...\n" +
                                 sequences.printed + "\nTolvo Port Monitor Not Installed!\n");
  EXPECT_EQ(Log(), AsLogText(machine.console));
  EXPECT_TRUE(machine.registry.events.empty());
}

TEST_F(ExitCodes, InstallWithArgumentsFailed) {
  sequences.result = false;
  machine.WriteFile("C:\\Kit\\install_printer.bat", "@echo off\r\n");
  EXPECT_EQ(Run({"-e"}), -1);
  EXPECT_EQ(machine.console, kStandardBanner + "\nInstalling Tolvo Port Monitor...\n" +
                                 "[IGNORE ERRORS Switch is Enabled!]\n" +
                                 "\nTolvo Port Monitor Not Installed!\n");
  EXPECT_TRUE(machine.processes.starts.empty());  // no script after a failure
  EXPECT_TRUE(machine.registry.events.empty());
}

TEST_F(ExitCodes, UninstallFailed) {
  sequences.result = false;
  EXPECT_EQ(Run({"-u"}), -1);
  EXPECT_EQ(machine.console, kStandardBanner + "\nUninstalling Tolvo Port Monitor...\n" +
                                 "\n Port Monitor Not Completely UnInstalled!\n");
  // The log is closed at the end of the run all the same.
  EXPECT_EQ(Log(), AsLogText(machine.console));
  EXPECT_FALSE(machine.RunLogOpen());
}

TEST_F(ExitCodes, InstallWithoutArgumentsSucceeded) {
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(machine.console, kStandardBanner + "\nInstalling Tolvo Port Monitor ...\n" +
                                 "\nTolvo Port Monitor Installed Sucessfully.\n");
  EXPECT_EQ(Log(), AsLogText(machine.console));
  ASSERT_EQ(machine.registry.events.size(), 1u);
  EXPECT_EQ(machine.registry.events[0].type, EVENTLOG_SUCCESS);
  EXPECT_EQ(machine.registry.events[0].strings,
            std::vector<std::string>{"Port Monitor Installed Sucessfully"});
}

TEST_F(ExitCodes, InstallSucceedsEvenWhenTheEventLogRefuses) {
  machine.registry.eventServiceRefuses = true;
  EXPECT_EQ(Run({}), 0);
  EXPECT_TRUE(machine.registry.events.empty());
}

TEST_F(ExitCodes, UninstallSucceeded) {
  EXPECT_EQ(Run({"-u"}), 0);
  EXPECT_EQ(machine.console, kStandardBanner + "\nUninstalling Tolvo Port Monitor...\n" +
                                 "\nTolvo Port Monitor UnInstalled Sucessfully.\n");
  EXPECT_EQ(Log(), AsLogText(machine.console));
  EXPECT_TRUE(machine.registry.events.empty());  // the uninstall sequence reports its own
}

TEST_F(ExitCodes, EnterpriseUninstallSucceeded) {
  EXPECT_EQ(Run({"-a", "-u"}), 0);
  EXPECT_EQ(machine.console, kEnterpriseBanner + "\nUninstalling TolvoE Port Monitor...\n" +
                                 "\nTolvoE Port Monitor UnInstalled Sucessfully.\n");
}

// Two runs must never interleave: a run that finds the installation lock
// taken changes nothing and ends with -1, which deployment engines retry.
struct LockCase {
  const char* name;
  std::vector<std::string> arguments;
  const char* holder;  // the mutex another run owns, if any
  DWORD createError;   // CreateMutexA fails with it: on the first call, or on both (ignored: 0)
  bool bothRefused;
  int exitCode;
  std::string printed;  // after the banner
};

constexpr const char* kMachineWide = "Global\\Kestrum Tolvo Installation";
const std::string kBusy = "ERROR: Another Tolvo installation is running\n";

const LockCase kLockCases[] = {
    {"install while another runs", {}, kMachineWide, 0, false, -1, kBusy},
    {"uninstall while another runs", {"-u", "-a"}, kMachineWide, 0, false, -1, kBusy},
    {"usage text needs no lock", {"-?"}, kMachineWide, 0, false, -1, kUsage},
    {"session lock where the machine-wide one is refused",
     {"-e"},
     "Local\\Kestrum Tolvo Installation",
     ERROR_ACCESS_DENIED,
     false,
     -1,
     kBusy},
    {"no lock can be made",
     {},
     nullptr,
     ERROR_ACCESS_DENIED,
     true,
     -1,
     "ERROR (5) While Checking for Another Tolvo Installation.\n"},
};

class InstallationLockCases : public DriverScenario,
                              public ::testing::WithParamInterface<LockCase> {};

TEST_P(InstallationLockCases, ARunThatCannotTakeTheLockChangesNothing) {
  const LockCase& c = GetParam();
  if (c.holder != nullptr) {
    machine.processes.mutexes[c.holder] = {0, 1, sim::SimMutex::Owner::Other};
  }
  if (c.createError != 0) {
    machine.FailCall("CreateMutexA", c.createError, c.bothRefused ? 0 : 1);
  }
  const std::string before = machine.StateText(kDefaultLog);

  EXPECT_EQ(Run(c.arguments), c.exitCode);

  const bool enterprise = c.arguments.size() > 1;
  EXPECT_EQ(machine.console, (enterprise ? kEnterpriseBanner : kStandardBanner) + c.printed);
  EXPECT_EQ(Log(), AsLogText(machine.console));
  EXPECT_TRUE(sequences.calls.empty());
  EXPECT_EQ(machine.StateText(kDefaultLog), before);
}

INSTANTIATE_TEST_SUITE_P(Runs, InstallationLockCases, ::testing::ValuesIn(kLockCases),
                         [](const ::testing::TestParamInfo<LockCase>& info) {
                           std::string name = info.param.name;
                           name.erase(std::remove_if(name.begin(), name.end(),
                                                     [](char c) { return !std::isalnum(c); }),
                                      name.end());
                           return name;
                         });

// A run killed while another process had the mutex open left it abandoned:
// the next run takes it and gives it back.
TEST_F(ExitCodes, AnAbandonedLockIsTaken) {
  machine.processes.mutexes[kMachineWide] = {0, 1, sim::SimMutex::Owner::None, 0, true};
  EXPECT_EQ(Run({}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_TRUE(sequences.calls[0].installationLockHeld);
  const sim::SimMutex& mutex = machine.processes.mutexes.at(kMachineWide);
  EXPECT_EQ(mutex.owner, sim::SimMutex::Owner::None);
  EXPECT_FALSE(mutex.abandoned);
}

}  // namespace
}  // namespace tolvo::scenarios
