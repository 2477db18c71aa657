// Every way a run can end, with what is printed last and the exit code.
#include "scenarios/driver_scenario.h"

namespace tolvo::scenario {
namespace {

using ExitCodes = DriverScenario;

// A run log that cannot be opened: -1 before anything else, nothing on the
// console, one line on the error stream naming the log and why.
struct UnopenedLogCase {
  const char* name;
  const char* path;  // given with -l; else the default log
  void (*prepare)(sim::SimWindows&);
  const char* reason;
};

const char* const kNotFound = "The system cannot find the path specified. (error 3)";
const UnopenedLogCase kUnopenedLogs[] = {
    {"MissingDrive", "Q:\\no\\such\\folder\\log.txt", nullptr, kNotFound},
    {"MissingFolder", "C:\\NoSuchFolder\\run.log", nullptr, kNotFound},
    {"FolderTheRunCannotWrite", nullptr,
     [](sim::SimWindows& m) { m.FailCall("OpenRunLog", ERROR_ACCESS_DENIED); },
     "Access is denied. (error 5)"},
    {"JunctionInAParentFolder", "C:\\Logs\\linked\\run.log",
     [](sim::SimWindows& m) {
       m.MakeDirectory("C:\\Logs\\linked");
       m.fileSystem.links.insert(sim::SimFilesState::Key("C:\\Logs\\linked"));
     },
     "it leads to another file"},
};

class UnopenedLog : public DriverScenario, public ::testing::WithParamInterface<UnopenedLogCase> {};

TEST_P(UnopenedLog, SaysWhyOnTheErrorStreamAlone) {
  const UnopenedLogCase& c = GetParam();
  if (c.prepare) {
    c.prepare(machine);
  }
  const std::string path = c.path != nullptr ? c.path : kDefaultLog;
  EXPECT_EQ(
      Run(c.path != nullptr ? std::vector<std::string>{"-l" + path} : std::vector<std::string>{}),
      -1);
  EXPECT_EQ(machine.console, "");
  EXPECT_EQ(machine.standardError, "Cannot open the run log \"" + path + "\": " + c.reason + "\n");
  EXPECT_TRUE(sequences.calls.empty());
  EXPECT_EQ(machine.CallCount("RegOpenKeyExA"), 0);
  EXPECT_FALSE(machine.Exists(path));
}

INSTANTIATE_TEST_SUITE_P(Logs, UnopenedLog, ::testing::ValuesIn(kUnopenedLogs),
                         [](const auto& info) { return std::string(info.param.name); });

// Windows 9x has no security to make the lock with: the run takes none, and
// the sequence is to refuse the system, "-e" or not.
TEST_F(ExitCodes, Windows98TakesNoLockAndIgnoresNoError) {
  machine.version.platformId = VER_PLATFORM_WIN32_WINDOWS;
  machine.FailCall("ConvertStringSecurityDescriptorToSecurityDescriptorA",
                   ERROR_CALL_NOT_IMPLEMENTED);
  EXPECT_EQ(Run({"-e"}), 0);
  EXPECT_EQ(machine.CallCount("CreateMutexA"), 0);
  EXPECT_FALSE(sequences.calls.at(0).ignoreErrors);
  EXPECT_EQ(machine.fileSystem.security.at(sim::SimFilesState::Key(kDefaultLog)), "");
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
  EXPECT_EQ(machine.console, std::string(kEnterpriseBanner) +
                                 "\nUninstalling TolvoE Port Monitor...\n" +
                                 "\nTolvoE Port Monitor UnInstalled Sucessfully.\n");
}

// Two runs must never interleave: a run that cannot take the installation
// lock changes nothing and ends with -1, which deployment engines retry. It
// leaves the default run log alone, which the run holding the lock writes.
struct LockCase {
  std::vector<std::string> arguments;
  const char* heldBy;         // the mutex another process holds, if any: its descriptor
  int failedCreations;        // CreateMutexA fails: never (-1), the first call (1), every call (0)
  DWORD creationError;        // with this error
  std::string printed;        // after the banner
  const char* log = nullptr;  // what receives the transcript too, if anything
  int exitCode = -1;
  const char* lockFile = nullptr;  // the lock file another process holds: its descriptor
                                   // ("": this account may not make it)
};

const char* const kLock = kAdministratorsOnlySecurity;
const char* const kEarlierName = "Global\\Kestrum Tolvo Installation";
void LockFileThere(sim::SimWindows& m, const char* security, bool held) {
  m.WriteFile(kLockFile, "");
  m.fileSystem.SetSecurity(m.FullPath(kLockFile), security);
  if (held) {
    m.fileSystem.Lock(m.FullPath(kLockFile));
  }
}
const std::string kBusy = "ERROR: Another Tolvo installation is running\n";
const std::string kSquatted =
    "ERROR: The Tolvo installation lock is taken by a program that is not a Tolvo installation: "
    "\"C:\\Windows\\Kestrum Tolvo Installation.lock\" is open to S-1-5-21-1-2-3-1005\n";
const LockCase kLockCases[] = {
    {{}, kLock, -1, 0, kBusy},
    {{"-u", "-a"}, kLock, -1, 0, kBusy},
    {{"-lC:\\Kit\\own.log"}, kLock, -1, 0, kBusy, "C:\\Kit\\own.log"},
    {{"-?"}, kLock, -1, 0, kUsage, kDefaultLog},  // needs no lock
    // A check ends with a code of its own: try again later; an earlier
    // version's installation holds the mutex, this version's the file.
    {{"-v"}, kLock, -1, 0, kBusy, nullptr, 3},
    {{"-v"}, nullptr, -1, 0, kBusy, nullptr, 3, kLock},
    // A file there that a lesser account owns (on XP and Server 2003 Power
    // Users may make files in the Windows folder); an account short of an
    // administrator. (Wine's prefix account is an administrator.)
    {{"-v"}, nullptr, -1, 0, kSquatted, nullptr, 2, "O:S-1-5-21-1-2-3-1005D:(A;;FA;;;WD)"},
    {{"-v"},
     nullptr,
     0,
     ERROR_INVALID_OWNER,  // it may make no mutex the administrators own
     "ERROR: Access to the Tolvo installation lock \"C:\\Windows\\Kestrum Tolvo "
     "Installation.lock\" is denied: run as an administrator\n",
     nullptr,
     2,
     ""},
    {{},
     nullptr,
     0,
     ERROR_PATH_NOT_FOUND,
     "ERROR (3) While Checking for Another Tolvo Installation.\n"},
};

class LockRefused : public DriverScenario, public ::testing::WithParamInterface<LockCase> {};

TEST_P(LockRefused, ChangesNothing) {
  const LockCase& c = GetParam();
  if (c.heldBy != nullptr) {
    machine.processes.mutexes[kEarlierName] = {true, false, false, 0, c.heldBy};
  }
  if (c.failedCreations >= 0) {
    machine.FailCall("CreateMutexA", c.creationError, c.failedCreations);
  }
  if (c.lockFile != nullptr && *c.lockFile == '\0') {
    machine.FailCall("CreateFileA", ERROR_ACCESS_DENIED);
  } else if (c.lockFile != nullptr) {
    LockFileThere(machine, c.lockFile, true);
  }
  const char* log = c.log != nullptr ? c.log : kDefaultLog;
  const std::string before = machine.StateText(log);
  EXPECT_EQ(Run(c.arguments), c.exitCode);
  EXPECT_EQ(machine.console,
            (c.arguments.size() > 1 ? kEnterpriseBanner : kStandardBanner) + c.printed);
  EXPECT_EQ(Log(log), c.log != nullptr ? AsLogText(machine.console) : "<no log file>");
  EXPECT_TRUE(sequences.calls.empty());
  EXPECT_EQ(machine.StateText(log), before);
}

INSTANTIATE_TEST_SUITE_P(Runs, LockRefused, ::testing::ValuesIn(kLockCases));

// A mutex of the earlier versions' name that no installation of theirs
// holds blocks nothing (one that denies this account: EveryCallFails). A
// check changes nothing: it makes no lock file, an installation does.
TEST_F(ExitCodes, TheEarlierLockNameTakenByAnotherProgramBlocksNothing) {
  machine.processes.mutexes[kEarlierName] = {true, false, false, 0,
                                             "O:BAD:(A;;GA;;;SY)(A;;GA;;;BA)(A;;GA;;;WD)"};
  EXPECT_EQ(Run({"-v"}), 0);
  EXPECT_FALSE(machine.Exists(kLockFile));
  EXPECT_EQ(Run({}), 0);
  EXPECT_TRUE(sequences.calls.size() == 2 && sequences.calls[1].installationLockHeld);
}

// A run killed while another process had the mutex open left it abandoned,
// and the lock file, which no one holds now.
TEST_F(ExitCodes, AnAbandonedLockIsTakenAndGivenBack) {
  machine.processes.mutexes[kEarlierName] = {false, false, true};
  LockFileThere(machine, kLock, false);
  EXPECT_EQ(Run({}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_TRUE(sequences.calls[0].installationLockHeld);
  EXPECT_TRUE(machine.processes.mutexes.empty());
}

}  // namespace
}  // namespace tolvo::scenario
