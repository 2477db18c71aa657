#include "workflows/install_sequence.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo {
namespace {

using scenario::kPrinterName;
using scenario::kPrinterPort;

class InstallSequence : public scenario::OperationFixture {
 public:
  void EmptyTheKit() {
    std::filesystem::remove_all(machine.HostPath(scenario::kKitFolder));
    machine.MakeDirectory(scenario::kKitFolder);
  }
};

// Which files the check asks for, and which the copy then fails on, in order:
// every file is missing and errors are ignored, so each one is reported.
struct CheckCase {
  const char* name;
  bool wow64;
  bool supported;
  bool enterprise;
  bool configFromRegistry;
  std::vector<std::string> reported;
};

class InstallCheckAndCopyOrder : public InstallSequence,
                                 public ::testing::WithParamInterface<CheckCase> {};

TEST_P(InstallCheckAndCopyOrder, ReportsEachMissingFileInOrder) {
  const CheckCase& c = GetParam();
  machine.version.wow64 = c.wow64;
  if (!c.supported) {
    machine.version.minor = 3;
  }
  if (c.enterprise) {
    UseEnterpriseEdition();
  }
  EmptyTheKit();

  EXPECT_TRUE(InstallPortMonitor(context, {true, c.configFromRegistry}));

  EXPECT_EQ(ConsoleLinesStartingWith("ERROR While "), c.reported);
  EXPECT_TRUE(machine.OpenResources().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachSystemAndEdition, InstallCheckAndCopyOrder,
    ::testing::Values(
        CheckCase{
            "Standard64",
            true,
            true,
            false,
            false,
            {"ERROR While Checking 'Tolvo.ini'.\n", "ERROR While Checking 'TolvoCairoLib64.DLL'.\n",
             "ERROR While Checking 'TOLVOVS64.DLL'.\n", "ERROR While Checking 'TOLVO64UI.DLL'.\n",
             "ERROR While Checking 'Tolvo Client.exe'.\n",
             "ERROR While Checking 'Interop.SHDocVw.dll'.\n",
             "ERROR While Checking 'Microsoft.mshtml.dll'.\n",
             "ERROR While Checking 'Quarvel.exe'.\n", "ERROR While Copying File 'TOLVOVS64.DLL'.\n",
             "ERROR While Copying File 'TOLVO64UI.DLL'.\n",
             "ERROR While Copying File 'TolvoCairoLib64.DLL'.\n"}},
        CheckCase{
            "Standard32FromRegistry",
            false,
            true,
            false,
            true,
            {"ERROR While Checking 'TolvoCairoLib.DLL'.\n", "ERROR While Checking 'TOLVOVS.DLL'.\n",
             "ERROR While Checking 'TOLVOUI.DLL'.\n", "ERROR While Checking 'Tolvo Client.exe'.\n",
             "ERROR While Checking 'Interop.SHDocVw.dll'.\n",
             "ERROR While Checking 'Microsoft.mshtml.dll'.\n",
             "ERROR While Checking 'Quarvel.exe'.\n", "ERROR While Copying File 'TOLVOVS.DLL'.\n",
             "ERROR While Copying File 'TOLVOUI.DLL'.\n",
             "ERROR While Copying File 'TolvoCairoLib.DLL'.\n"}},
        CheckCase{
            "Enterprise64",
            true,
            true,
            true,
            false,
            {"ERROR While Checking 'Tolvo.ini'.\n",
             "ERROR While Checking 'TolvoECairoLib64.DLL'.\n",
             "ERROR While Checking 'TOLVOE64.DLL'.\n", "ERROR While Checking 'TOLVOE64UI.DLL'.\n",
             "ERROR While Copying File 'TOLVOE64.DLL'.\n",
             "ERROR While Copying File 'TOLVOE64UI.DLL'.\n",
             "ERROR While Copying File 'TolvoECairoLib64.DLL'.\n"}},
        // Only the 32-bit graphics library is looked for, and nothing is copied.
        CheckCase{"UnsupportedEnterprise",
                  true,
                  false,
                  true,
                  false,
                  {"ERROR While Checking 'Tolvo.ini'.\n",
                   "ERROR While Checking 'TolvoECairoLib.DLL'.\n"}}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return std::string(info.param.name); });

TEST_F(InstallSequence, StopsAtTheFirstMissingFileWithoutIgnoreErrors) {
  EmptyTheKit();

  EXPECT_FALSE(InstallPortMonitor(context, {}));

  EXPECT_EQ(ConsoleLinesStartingWith("ERROR"),
            std::vector<std::string>{"ERROR While Checking 'Tolvo.ini'.\n"});
  EXPECT_EQ(machine.CallCount("EnumPrintersA"), 0);
  EXPECT_EQ(machine.CallCount("DeleteMonitorA"), 0);
}

TEST_F(InstallSequence, ServerNameReachesTheSpoolerUnchanged) {
  const char* server = "\\\\PRINT%SRV";

  EXPECT_TRUE(InstallPortMonitor(context, {false, false, true, server}));

  const std::vector<std::string>& servers = machine.spooler.serverNames;
  EXPECT_NE(std::find(servers.begin(), servers.end(), "DeleteMonitorA \\\\PRINT%SRV"),
            servers.end());
  EXPECT_NE(std::find(servers.begin(), servers.end(), "AddMonitorA \\\\PRINT%SRV"), servers.end());
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(InstallSequence, RefusedPortIsReportedAndTheSequenceGoesOn) {
  machine.spooler.SetCommandStatus("AddPort", ERROR_ACCESS_DENIED);

  EXPECT_TRUE(InstallPortMonitor(context, {}));

  const std::string& console = machine.console;
  const std::size_t ports = console.find("  - Adding port configuration\n");
  const std::size_t failed = console.find("ERROR While adding port configuration\n");
  const std::size_t eventSource = console.find("  - Event Log Resources WAS installed\n");
  ASSERT_NE(ports, std::string::npos);
  ASSERT_NE(failed, std::string::npos);
  EXPECT_LT(ports, failed);
  EXPECT_LT(failed, eventSource);
  EXPECT_EQ(console.find("assigned to port"), std::string::npos);
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), kPrinterPort);
  EXPECT_NE(console.find("  - Installing Font Files\n"), std::string::npos);
}

TEST_F(InstallSequence, EventMessageFileThatCannotBeCopiedSkipsTheRegistration) {
  scenario::MachineFixture::RemoveKitFile("TolvoEvent.dll");

  EXPECT_TRUE(InstallPortMonitor(context, {}));

  EXPECT_NE(machine.console.find("    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n"
                                 "  ERROR - Event Log Resources file was NOT copied!\n"
                                 "    Printer 'Office Laser' assigned to port Tolvo001\n"),
            std::string::npos);
  EXPECT_FALSE(machine.registry.KeyExists(scenario::kEventSourceKey));
}

TEST_F(InstallSequence, EventSourceThatCannotBeRegisteredIsReported) {
  machine.registry.DenyWrite(scenario::kEventSourceKey);

  EXPECT_TRUE(InstallPortMonitor(context, {}));

  EXPECT_NE(machine.console.find("  ERROR - Event Log Resources was NOT installed!\n"
                                 "    Printer 'Office Laser' assigned to port Tolvo001\n"),
            std::string::npos);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(InstallSequence, FontsThatCannotBeCopiedAreReportedLast) {
  machine.WriteFile(FontDirectory(), "a file where the font folder belongs");

  EXPECT_TRUE(InstallPortMonitor(context, {}));

  const std::string tail = scenario::Transcript({
      "  - Executing Tolvo Client\n",
      "  - Installing Font Files\n",
      "ERROR While Copying File '",
  });
  EXPECT_NE(machine.console.find(tail), std::string::npos) << machine.console;
  const std::string last = "  ERROR - Cannot copy Font Files\n";
  ASSERT_GE(machine.console.size(), last.size());
  EXPECT_EQ(machine.console.substr(machine.console.size() - last.size()), last);
}

TEST_F(InstallSequence, EnterpriseEditionLeavesTheClientAlone) {
  UseEnterpriseEdition();

  EXPECT_TRUE(InstallPortMonitor(context, {false, false, false}));

  EXPECT_EQ(machine.console.find("Tolvo Client"), std::string::npos);
  EXPECT_TRUE(machine.processes.starts.empty());
  EXPECT_FALSE(StartupEntry().has_value());
  EXPECT_TRUE(InSystemDirectory("TolvoEvent.dll"));
}

}  // namespace
}  // namespace tolvo
