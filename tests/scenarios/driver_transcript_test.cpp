// The driver's own texts, byte for byte, on the console and in the run log.
#include "scenarios/driver_scenario.h"

namespace tolvo::scenario {
namespace {

using Transcript = DriverScenario;

TEST_F(Transcript, StandardBannerAndUsage) {
  EXPECT_EQ(Run({"-?"}), -1);
  const std::string expected = kStandardBanner + kUsage;
  EXPECT_EQ(machine.console, expected);
  // The log holds the same text with CRLF line ends.
  std::string crlf = expected;
  for (std::size_t at = crlf.find('\n'); at != std::string::npos; at = crlf.find('\n', at + 2)) {
    crlf.insert(at, "\r");
  }
  EXPECT_EQ(Log(), crlf);
}

TEST_F(Transcript, EnterpriseBannerAndUsage) {
  EXPECT_EQ(Run({"-a", "/?"}), -1);
  EXPECT_EQ(machine.console, kEnterpriseBanner + kUsage);
  EXPECT_EQ(Log(), AsLogText(kEnterpriseBanner + kUsage));
}

TEST_F(Transcript, SingleEnterpriseSwitchTakesTheArgumentsPath) {
  EXPECT_EQ(Run({"-a"}), 0);
  EXPECT_EQ(machine.console, std::string(kEnterpriseBanner) +
                                 "\nInstalling TolvoE Port Monitor...\n" +
                                 "\nTolvoE Port Monitor Installed Sucessfully.\n");
  EXPECT_EQ(Log(), AsLogText(machine.console));
}

TEST_F(Transcript, PercentInServerNameIsPrintedUnchanged) {
  EXPECT_EQ(Run({"\\\\print%s%d%n"}), 0);
  const std::string expected = kStandardBanner +
                               "\nInstalling Tolvo Port Monitor on server \\\\print%s%d%n...\n" +
                               "\nTolvo Port Monitor Installed Sucessfully.\n";
  EXPECT_EQ(machine.console, expected);
  EXPECT_EQ(Log(), AsLogText(expected));
}

TEST_F(Transcript, PercentInUninstallServerName) {
  EXPECT_EQ(Run({"-u", "\\\\100%"}), 0);
  EXPECT_EQ(machine.console, kStandardBanner +
                                 "\nUninstalling Tolvo Port Monitor on server \\\\100%...\n" +
                                 "\nTolvo Port Monitor UnInstalled Sucessfully.\n");
}

TEST_F(Transcript, VeryLongServerNameIsPrintedWhole) {
  // Printed as it is, not composed in the 1000-byte message buffer.
  const std::string server = "\\\\" + std::string(1500, 's');
  EXPECT_EQ(Run({server}), 0);
  EXPECT_NE(machine.console.find(" on server " + server + "...\n"), std::string::npos);
}

TEST_F(Transcript, AllSwitchLinesInTheirOrder) {
  EXPECT_EQ(Run({"-c", "-r", "-e", "-s", "\\\\srv"}), 0);
  EXPECT_EQ(machine.console, kStandardBanner +
                                 "\nInstalling Tolvo Port Monitor on server \\\\srv...\n"
                                 "[IGNORE ERRORS Switch is Enabled!]\n"
                                 "  (config will be read from registry)\n"
                                 "  No files will be copied\n"
                                 "\nTolvo Port Monitor Installed Sucessfully.\n");
  EXPECT_EQ(Log(), AsLogText(machine.console));
}

TEST_F(Transcript, SequenceOutputLandsBetweenTheDriversLines) {
  sequences.printed = "  - Checking Files\n    (64-bit Windows 7 Detected)\n";
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(machine.console, kStandardBanner + "\nInstalling Tolvo Port Monitor ...\n" +
                                 sequences.printed +
                                 "\nTolvo Port Monitor Installed Sucessfully.\n");
  EXPECT_EQ(Log(), AsLogText(machine.console));
}

}  // namespace
}  // namespace tolvo::scenario
