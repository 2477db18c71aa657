// The site script "install_printer.bat" after a successful install with
// arguments.
#include <algorithm>
#include <filesystem>

#include "scenarios/driver_scenario.h"

namespace tolvo::scenario {
namespace {

constexpr const char* kScript = "C:\\Kit\\install_printer.bat";

class SiteScript : public DriverScenario {
 protected:
  SiteScript() { machine.WriteFile(kScript, "@echo off\r\n"); }

  // Records how the machine looked when the script ran; the script appends
  // a line of its own to the installer's log, as a site script may.
  void RecordScriptRuns(DWORD exitStatus = 0) {
    sim::SimProgram script;
    script.behaviour = [this, exitStatus](sim::SimWindows& m, const sim::SimProcessStart&) {
      ++scriptRuns;
      logOpenWhileScriptRan = m.RunLogOpen();
      lockHeldWhileScriptRan = m.fileSystem.HeldByRun(kLockFile);
      logSeenByScript = m.ReadFile(kDefaultLog).value_or("");
      m.WriteFile(kDefaultLog, logSeenByScript + "script was here\r\n");
      return exitStatus;
    };
    machine.processes.RegisterProgram("install_printer.bat", script);
  }

  int scriptRuns = 0;
  bool logOpenWhileScriptRan = true;
  bool lockHeldWhileScriptRan = true;
  std::string logSeenByScript;
};

TEST_F(SiteScript, RunsAfterSuccessWithArgumentsWithTheLogClosed) {
  RecordScriptRuns();
  EXPECT_EQ(Run({"\\\\srv"}), 0);
  EXPECT_EQ(scriptRuns, 1);
  EXPECT_FALSE(logOpenWhileScriptRan);
  // The work was done under the installation lock; the script, which may
  // run the installer itself, comes after its release.
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_TRUE(sequences.calls[0].installationLockHeld);
  EXPECT_FALSE(lockHeldWhileScriptRan);
  // Everything the installer printed had reached the file before the script.
  EXPECT_EQ(logSeenByScript, AsLogText(machine.console));
  EXPECT_EQ(Log(), AsLogText(machine.console) + "script was here\r\n");

  ASSERT_EQ(machine.processes.starts.size(), 1u);
  const sim::SimProcessStart& start = machine.processes.starts[0];
  EXPECT_FALSE(start.runLogOpen);
  EXPECT_TRUE(start.waited);
  EXPECT_NE(start.commandLine.find("/d /c install_printer.bat"), std::string::npos)
      << start.commandLine;
  EXPECT_EQ(start.currentDirectory, "C:\\Kit");
}

TEST_F(SiteScript, SuccessEventIsWrittenBeforeTheScript) {
  RecordScriptRuns();
  EXPECT_EQ(Run({"-e"}), 0);
  const auto& calls = machine.calls();
  const auto report = std::find(calls.begin(), calls.end(), "ReportEventA");
  const auto start = std::find(calls.begin(), calls.end(), "CreateProcessA");
  ASSERT_NE(report, calls.end());
  ASSERT_NE(start, calls.end());
  EXPECT_LT(report, start);
}

TEST_F(SiteScript, ScriptExitStatusIsNotExamined) {
  RecordScriptRuns(9);
  EXPECT_EQ(Run({"-e"}), 0);
  EXPECT_EQ(scriptRuns, 1);
}

TEST_F(SiteScript, RunsAfterTheSingleEnterpriseSwitch) {
  RecordScriptRuns();
  EXPECT_EQ(Run({"-a"}), 0);
  EXPECT_EQ(scriptRuns, 1);
}

TEST_F(SiteScript, NotRunWithoutArguments) {
  RecordScriptRuns();
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(scriptRuns, 0);
  EXPECT_TRUE(machine.processes.starts.empty());
}

TEST_F(SiteScript, NotRunAfterAFailedInstall) {
  RecordScriptRuns();
  sequences.result = false;
  EXPECT_EQ(Run({"-e"}), -1);
  EXPECT_EQ(scriptRuns, 0);
}

TEST_F(SiteScript, NotRunAfterAnUninstall) {
  RecordScriptRuns();
  EXPECT_EQ(Run({"-u"}), 0);
  EXPECT_EQ(scriptRuns, 0);
}

TEST_F(SiteScript, NotRunWhenAbsent) {
  machine.DeleteFileA(kScript);
  ASSERT_FALSE(machine.Exists(kScript));
  EXPECT_EQ(Run({"-e"}), 0);
  EXPECT_TRUE(machine.processes.starts.empty());
  EXPECT_EQ(Log(), AsLogText(machine.console));
}

TEST_F(SiteScript, AFolderOfThatNameIsNotAScript) {
  machine.DeleteFileA(kScript);
  machine.MakeDirectory(kScript);
  EXPECT_EQ(Run({"-e"}), 0);
  EXPECT_TRUE(machine.processes.starts.empty());
}

TEST_F(SiteScript, LookedForInTheProgramFolder) {
  RecordScriptRuns();
  machine.DeleteFileA(kScript);
  machine.WriteFile("C:\\Start\\install_printer.bat", "@echo off\r\n");
  EXPECT_EQ(Run({"-e"}), 0);  // started from C:\Start, runs from C:\Kit
  EXPECT_EQ(scriptRuns, 0);
}

// The script runs with the run's rights: one that a lesser account may
// change, or that is the run's own log, ends the run before the first
// change. Accounts and owners are the simulated Windows' (under Wine only
// the mode bits' Everyone grant shows).
TEST_F(SiteScript, OneUsersMayChangeIsRefusedBeforeTheFirstChange) {
  RecordScriptRuns();
  machine.fileSystem.SetSecurity(kScript, "O:S-1-5-21-9-9-9-1001D:(A;;FA;;;SY)(A;;FA;;;BA)");
  EXPECT_EQ(Run({"-e"}), -1);
  EXPECT_NE(machine.console.find("ERROR: S-1-5-21-9-9-9-1001 can change "
                                 "'C:\\Kit\\install_printer.bat'"),
            std::string::npos)
      << machine.console;
  EXPECT_TRUE(sequences.calls.empty());
  EXPECT_EQ(scriptRuns, 0);
}

TEST_F(SiteScript, TheRunLogUnderAnotherNameIsNeverRun) {
  RecordScriptRuns();
  machine.MakeDirectory("C:\\Logs");
  std::filesystem::create_hard_link(machine.HostPath(kScript), machine.HostPath("C:\\Logs\\a.log"));
  EXPECT_EQ(Run({"-e", "-lC:\\Logs\\a.log"}), -1);
  EXPECT_NE(machine.console.find("ERROR: install_printer.bat is a file this run writes; it is not "
                                 "run\n"),
            std::string::npos)
      << machine.console;
  EXPECT_TRUE(sequences.calls.empty());
  EXPECT_EQ(scriptRuns, 0);
}

TEST_F(SiteScript, ARunLogNamedLikeAStartedProgramIsRefused) {
  RecordScriptRuns();
  EXPECT_EQ(Run({"-e", "-lC:\\Kit\\INSTALL_PRINTER.BAT. "}), -1);
  EXPECT_NE(machine.standardError.find("it is named like a program the run starts"),
            std::string::npos)
      << machine.standardError;
  EXPECT_EQ(machine.ReadFile(kScript), "@echo off\r\n");
  EXPECT_TRUE(sequences.calls.empty());
}

TEST_F(SiteScript, OneThatHangsIsLeftAfterTheLimit) {
  sim::SimProgram hung;
  hung.staysRunning = true;
  machine.processes.RegisterProgram("install_printer.bat", hung);
  EXPECT_EQ(Run({"-e"}), 0);
  EXPECT_NE(machine.console.find("  ERROR - install_printer.bat did not end within 10 minutes; "
                                 "going on without waiting for it\n"),
            std::string::npos);
  EXPECT_EQ(machine.processes.hungWaits, 0);
}

}  // namespace
}  // namespace tolvo::scenario
