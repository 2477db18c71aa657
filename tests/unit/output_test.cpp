#include "core/output.h"

#include <gtest/gtest.h>

#include <string>

#include "core/edition_profile.h"
#include "core/run_settings.h"
#include "sim/sim_windows.h"
#include "winenv/sized_block.h"
#include "winenv/sized_block.h"

namespace tolvo {
namespace {

using sim::SimWindows;

TEST(RunSettings, SetIniPathKeepsAtMost1023Characters) {
  RunSettings settings;
  const std::string longPath(1100, 'p');
  settings.SetIniPath(longPath.c_str());
  EXPECT_EQ(std::string(settings.iniPath), longPath.substr(0, 1023));
  settings.SetIniPath("C:\\Kit\\Tolvo.ini");
  EXPECT_STREQ(settings.iniPath, "C:\\Kit\\Tolvo.ini");
  // The longer path before is cleared entirely, not just overwritten.
  EXPECT_EQ(std::string(settings.iniPath + 17, 1024 - 17), std::string(1024 - 17, '\0'));
  settings.SetIniPath(nullptr);
  EXPECT_STREQ(settings.iniPath, "");
}

TEST(EditionProfile, EnterpriseSwitchKeepsIniAndOldDlls) {
  EditionProfile profile;
  EXPECT_STREQ(profile.monitorDll32, "TOLVOVS.DLL");
  profile.SwitchToEnterprise();
  EXPECT_STREQ(profile.productWord, "TolvoE");
  EXPECT_STREQ(profile.monitorDll64, "TOLVOE64.DLL");
  EXPECT_STREQ(profile.iniFileName, "Tolvo.ini");
  EXPECT_STREQ(profile.oldMonitorDll32, "TOLVO.DLL");
  EXPECT_STREQ(profile.oldMonitorDll64, "TOLVO64.DLL");
}

class OutputTest : public ::testing::Test {
 protected:
  std::string Log() { return machine.ReadFile("C:\\Windows\\run.log").value_or("<none>"); }
  SimWindows machine;
  Output output{machine};
};

TEST_F(OutputTest, PercentInTextIsPrintedUnchanged) {
  ASSERT_TRUE(output.OpenRunLog("C:\\Windows\\run.log"));
  output.PrintMessage("server \\\\print%s%d%%\n");
  output.PrintFormatted("  - %s\n", "50%");
  output.CloseRunLog();
  EXPECT_EQ(machine.console, "server \\\\print%s%d%%\n  - 50%\n");
  EXPECT_EQ(Log(), "server \\\\print%s%d%%\r\n  - 50%\r\n");
}

TEST_F(OutputTest, MessageOver999CharactersIsCut) {
  ASSERT_TRUE(output.OpenRunLog("C:\\Windows\\run.log"));
  const std::string name(1500, 'n');
  output.PrintFormatted("[%s]", name.c_str());
  output.CloseRunLog();
  const std::string expected = "[" + name.substr(0, 998);
  EXPECT_EQ(machine.console, expected);
  EXPECT_EQ(Log(), expected);
}

TEST_F(OutputTest, AfterTheLogIsClosedOutputReachesTheConsoleOnly) {
  ASSERT_TRUE(output.OpenRunLog("C:\\Windows\\run.log"));
  output.PrintMessage("one\n");
  output.CloseRunLog();
  EXPECT_FALSE(output.runLogOpen());
  output.PrintMessage("two\n");
  output.ReportCopyError("x.dll");
  EXPECT_EQ(machine.console, "one\ntwo\nERROR While Copying File 'x.dll'.\n");
  EXPECT_EQ(Log(), "one\r\n");
  EXPECT_TRUE(machine.OpenResources().empty());
  // A log the run creates is for the system, the administrators and the
  // account the run is (the computer account, on a file server), with the
  // owner left to Windows.
  EXPECT_EQ(machine.fileSystem.security.at("c:\\windows\\run.log"),
            "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;S-1-5-21-1-2-3-500)");
}

TEST_F(OutputTest, ConsoleOnlyNeverReachesTheLog) {
  ASSERT_TRUE(output.OpenRunLog("C:\\Windows\\run.log"));
  output.PrintConsoleOnly("%d\n", 5);
  output.ReportCheckError("Tolvo.ini");
  output.CloseRunLog();
  EXPECT_EQ(machine.console, "5\nERROR While Checking 'Tolvo.ini'.\n");
  EXPECT_EQ(Log(), "ERROR While Checking 'Tolvo.ini'.\r\n");
}

TEST_F(OutputTest, LogIsAppendedToAcrossRuns) {
  machine.WriteFile("C:\\Windows\\run.log", "earlier\r\n");
  ASSERT_TRUE(output.OpenRunLog("C:\\Windows\\run.log"));
  output.PrintMessage("later\n");
  output.CloseRunLog();
  EXPECT_EQ(Log(), "earlier\r\nlater\r\n");
  EXPECT_TRUE(machine.fileSystem.security.empty());  // an existing log keeps its own
}

TEST(AllocZeroed, ZeroFillsAndReleases) {
  SimWindows machine;
  {
    UniqueGlobal block = AllocZeroed(machine, 64);
    ASSERT_TRUE(block);
    const auto* bytes = static_cast<const unsigned char*>(block.get());
    for (int i = 0; i < 64; ++i) {
      ASSERT_EQ(bytes[i], 0) << i;
    }
  }
  EXPECT_TRUE(machine.OpenResources().empty());
  machine.FailCall("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_FALSE(AllocZeroed(machine, 64));
}

}  // namespace
}  // namespace tolvo
