// The run log is appended to, run after run: whatever earlier runs (or a
// site script between them) wrote stays whole, and each run's transcript
// follows it in one piece.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

class RunLogAppend : public MachineFixture {
 public:
  // Runs the installer and returns what it printed, as the run log must
  // hold it (CRLF line ends, no console-only findings).
  std::string RunAndTranscribe(std::vector<std::string> arguments, int expectedExitCode) {
    machine.console.clear();
    EXPECT_EQ(Run(std::move(arguments)), expectedExitCode) << machine.console;
    EXPECT_TRUE(machine.OpenResources().empty())
        << ::testing::PrintToString(machine.OpenResources());
    return WithCrlf(WithoutLinesStartingWith(machine.console, kConsoleOnlyPrefix));
  }
};

TEST_F(RunLogAppend, TwoInstallationsLeaveBothTranscriptsWhole) {
  const std::string earlier = "Log of an earlier version\r\nwith two lines\r\n";
  machine.WriteFile(kRunLogPath, earlier);

  const std::string first = RunAndTranscribe({}, 0);
  const std::string second = RunAndTranscribe({}, 0);

  // The second run found the first one's monitor and printer: its
  // transcript is a different one, not a repetition.
  EXPECT_NE(first, second);
  EXPECT_NE(second.find("  - Disconnecting Printer 'Office Laser' from Tolvo Port\r\n"),
            std::string::npos);
  EXPECT_EQ(RunLog(), earlier + first + second);
}

TEST_F(RunLogAppend, FailedRunStaysInTheLogBeforeTheNextOne) {
  machine.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL");
  machine.spooler.deleteMonitorError = ERROR_BUSY;
  const std::string failed = RunAndTranscribe({}, -1);
  machine.spooler.deleteMonitorError = 0;
  const std::string succeeded = RunAndTranscribe({}, 0);

  EXPECT_NE(failed.find("ERROR Print Monitor Is Used By Spooler.\r\n"), std::string::npos);
  EXPECT_EQ(RunLog(), failed + succeeded);
}

TEST_F(RunLogAppend, BothEditionsAndTheUninstallationShareANamedLog) {
  machine.MakeDirectory("C:\\Logs");
  const std::string log = "C:\\Logs\\site.log";
  const std::string standard = RunAndTranscribe({"-l" + log}, 0);
  const std::string enterprise = RunAndTranscribe({"-a", "-l" + log}, 0);
  const std::string removal = RunAndTranscribe({"-u", "-l" + log}, 0);

  EXPECT_EQ(machine.ReadFile(log), standard + enterprise + removal);
  EXPECT_FALSE(machine.Exists(kRunLogPath));
}

// A site script appends to the log after the installer closed it; the next
// run appends after the script's lines.
TEST_F(RunLogAppend, SiteScriptLinesStayBetweenTwoTranscripts) {
  machine.WriteFile(KitFile("install_printer.bat"), "@echo off\r\n");
  sim::SimProgram script;
  script.behaviour = [](sim::SimWindows& m, const sim::SimProcessStart&) -> DWORD {
    m.WriteFile(kRunLogPath, m.ReadFile(kRunLogPath).value_or("") + "printers set up\r\n");
    return 0;
  };
  machine.processes.RegisterProgram("install_printer.bat", script);

  const std::string first = RunAndTranscribe({"-s"}, 0);
  const std::string second = RunAndTranscribe({"-s"}, 0);

  EXPECT_EQ(RunLog(), first + "printers set up\r\n" + second + "printers set up\r\n");
}

// A log on a share, run after run as the local system account: the file
// server sees the computer account, which the log takes from the share
// folder's permissions. (Wine has no file server that tells accounts apart.)
TEST_F(RunLogAppend, ShareLogOpensAgainForTheComputerAccount) {
  const std::string folder = machine.FullPath("\\\\fs01\\logs");
  machine.MakeDirectory(folder);
  machine.fileSystem.remoteFolders[sim::SimFilesState::Key(folder)] = "S-1-5-21-7-7-7-1105";
  machine.fileSystem.SetSecurity(folder,
                                 "O:BAD:(A;OICI;FA;;;BA)(A;;0x100006;;;DC)(A;OICIIO;FA;;;CO)");
  machine.runAccount = "S-1-5-18";
  const std::string log = "-l\\\\fs01\\logs\\PC01.log";

  const std::string first = RunAndTranscribe({log}, 0);
  const std::string second = RunAndTranscribe({"-u", log}, 0);

  EXPECT_EQ(machine.ReadFile(folder + "\\PC01.log"), first + second);
}

}  // namespace
}  // namespace tolvo::scenario
