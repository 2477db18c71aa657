// Whole uninstallation runs of Install.exe on the simulated machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

class UninstallRun : public MachineFixture {
 public:
  // A complete installation with the default switches, its transcript
  // forgotten.
  void InstallFirst(std::vector<std::string> arguments = {}) {
    ASSERT_EQ(Run(std::move(arguments)), 0) << machine.console;
    StartNewRun();
  }
};

constexpr std::string_view kHead = "\nUninstalling Tolvo Port Monitor...\n";
constexpr std::string_view kDetect64 =
    "  - Detecting Windows Version\n"
    "    (64-bit Windows 7 Detected)\n";
constexpr std::string_view kRemoveClient =
    "  - Uninstalling Tolvo Client Graphical User Interface\n"
    "  - Waiting for all Tolvo Clients to terminate\n"
    "  - Removing Tolvo Client\n";
constexpr std::string_view kReleasePrinter =
    "  - Port Tolvo001 type Tolvo will be disconnected\n"
    "  - Disconnecting Printer 'Office Laser' from Tolvo Port\n";
constexpr std::string_view kRemove = "  - Removing Old Tolvo Print Monitor\n";
// The printer the installation assigned goes back onto its list from before.
constexpr std::string_view kPutBack = "  - Reconnecting Printer 'Office Laser' to Port LPT1:\n";
constexpr std::string_view kNotFound = "    (Print Monitor Not Found)\n";
constexpr std::string_view kDelete =
    "  - Deleting Tolvo Print Monitor Files from System Directory\n";
constexpr std::string_view kUninstalled = "\nTolvo Port Monitor UnInstalled Sucessfully.\n";
constexpr std::string_view kNotUninstalled = "\n Port Monitor Not Completely UnInstalled!\n";

std::vector<std::string> EventMessages(const sim::SimWindows& machine) {
  std::vector<std::string> messages;
  for (const sim::SimEvent& event : machine.registry.events) {
    EXPECT_EQ(event.source, "TolvoPort");
    EXPECT_EQ(event.eventId, 0xC0020001u);
    EXPECT_EQ(event.type, EVENTLOG_SUCCESS);
    messages.insert(messages.end(), event.strings.begin(), event.strings.end());
  }
  return messages;
}

TEST_F(UninstallRun, RemovesWhatTheInstallationPutInPlace) {
  InstallFirst();

  const int exitCode = Run({"-u"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({kBanner, kHead, kDetect64, kRemoveClient, kReleasePrinter, kRemove,
                               kPutBack, kDelete, kUninstalled}));
  EXPECT_TRUE(machine.spooler.Monitors().empty());
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), kPrinterPort);
  for (const char* file : {"TOLVOVS64.DLL", "TOLVO64UI.DLL", "TolvoCairoLib64.DLL"}) {
    EXPECT_FALSE(InSystemDirectory(file)) << file;
  }
  // The event source stays registered with its message file.
  EXPECT_TRUE(InSystemDirectory("TolvoEvent.dll"));
  EXPECT_TRUE(machine.registry.GetString(kEventSourceKey, "EventMessageFile").has_value());
  // The client, its start-up entry, the fonts and their folders are gone.
  EXPECT_FALSE(machine.Exists(ProgramFiles() + "\\Kestrum"));
  EXPECT_TRUE(machine.Exists(ProgramFiles()));
  EXPECT_FALSE(StartupEntry().has_value());
  EXPECT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 0);
  EXPECT_EQ(EventMessages(machine),
            (std::vector<std::string>{"Port Monitor Installed Sucessfully",
                                      "Port Monitor Uninstalled Sucessfully"}));
  // The configuration stays for the next installation.
  EXPECT_TRUE(machine.Exists(kIniPath));
}

TEST_F(UninstallRun, NoCopySwitchLeavesSystemFilesAndFonts) {
  InstallFirst();

  const int exitCode = Run({"-u", "-c"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({kBanner, kHead, kDetect64, kRemoveClient, kReleasePrinter, kRemove,
                               kPutBack, kUninstalled}));
  EXPECT_TRUE(machine.spooler.Monitors().empty());
  for (const char* file : {"TOLVOVS64.DLL", "TOLVO64UI.DLL", "TolvoCairoLib64.DLL"}) {
    EXPECT_TRUE(InSystemDirectory(file)) << file;
  }
  EXPECT_TRUE(machine.Exists(FontDirectory() + "\\" + kFontFiles[0]));
  EXPECT_FALSE(machine.Exists(ClientDirectory()));
  EXPECT_FALSE(StartupEntry().has_value());
}

TEST_F(UninstallRun, IgnoreErrorsAndRegistrySwitchesChangeNothing) {
  InstallFirst();

  const int exitCode = Run({"-u", "-e", "-r"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({kBanner, kHead, kDetect64, kRemoveClient, kReleasePrinter, kRemove,
                               kPutBack, kDelete, kUninstalled}));
}

TEST_F(UninstallRun, EnterpriseEditionLeavesTheStandardClientAndOldDll) {
  InstallFirst();  // the Standard edition with its client
  InstallFirst({"-a"});
  WriteSystemFile("TOLVO64.DLL", "old TOLVO64.DLL");
  const std::size_t startsBefore = machine.processes.starts.size();

  const int exitCode = Run({"-u", "-a"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({
      kEnterpriseBanner,
      "\n",
      "Uninstalling TolvoE Port Monitor...\n",
      kDetect64,
      "  - Port TolvoE001 type TolvoE will be disconnected\n",
      "  - Disconnecting Printer 'Office Laser' from TolvoE Port\n",
      "  - Removing Old TolvoE Print Monitor\n",
      // Back onto the Standard edition's port it was on before.
      "  - Reconnecting Printer 'Office Laser' to Port Tolvo001\n",
      "  - Deleting TolvoE Print Monitor Files from System Directory\n",
      "\n",
      "TolvoE Port Monitor UnInstalled Sucessfully.\n",
  }));
  EXPECT_EQ(machine.spooler.Monitors(), std::vector<std::string>{"Tolvo"});
  for (const char* file : {"TOLVOE64.DLL", "TOLVOE64UI.DLL", "TolvoECairoLib64.DLL"}) {
    EXPECT_FALSE(InSystemDirectory(file)) << file;
  }
  for (const char* file : {"TOLVOVS64.DLL", "TOLVO64UI.DLL", "TolvoCairoLib64.DLL"}) {
    EXPECT_TRUE(InSystemDirectory(file)) << file;
  }
  EXPECT_EQ(SystemFileContent("TOLVO64.DLL"), "old TOLVO64.DLL");
  // The Standard client is untouched: not stopped, not removed.
  EXPECT_EQ(machine.processes.starts.size(), startsBefore);
  EXPECT_TRUE(machine.Exists(ClientDirectory() + "\\Tolvo Client.exe"));
  EXPECT_TRUE(StartupEntry().has_value());
  EXPECT_FALSE(machine.Exists(ProgramFiles() + "\\Kestrum\\Tolvo Client Enterprise"));
  EXPECT_TRUE(machine.Exists(FontDirectory() + "\\" + kFontFiles[0]));
}

TEST_F(UninstallRun, SecondUninstallationFindsNoMonitorAndSucceeds) {
  InstallFirst();
  InstallFirst({"-u"});
  // A font folder that came back is removed all the same.
  machine.WriteFile(FontDirectory() + "\\" + kFontFiles[0], "font");

  const int exitCode = Run({"-u"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript(
      {kBanner, kHead, kDetect64, kRemoveClient, kRemove, kNotFound, kDelete, kUninstalled}));
  // No event for a monitor that was not there.
  EXPECT_EQ(EventMessages(machine),
            (std::vector<std::string>{"Port Monitor Installed Sucessfully",
                                      "Port Monitor Uninstalled Sucessfully"}));
  EXPECT_FALSE(machine.Exists(FontDirectory()));
}

// Each printer an installation assigned goes back onto the list it had
// before the first assignment, also after re-installations; one moved
// since is released as it is.
TEST_F(UninstallRun, AssignedPrintersGoBackOntoTheirListsFromBefore) {
  machine.spooler.AddPort("COM1:", "Local Port");
  machine.spooler.AddPort("LPT2:", "Local Port");
  machine.spooler.FindPrinter(kPrinterName)->ports = "LPT1:,COM1:";
  machine.spooler.AddPrinter("Reception", "COM1:");
  machine.WriteFile(kIniPath, std::string(kTypicalIni) + "AssignPrinter2=Reception\r\n");
  InstallFirst();
  InstallFirst();
  machine.spooler.FindPrinter("Reception")->ports = "Tolvo001,LPT2:";

  EXPECT_EQ(Run({"-u"}), 0);

  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "LPT1:,COM1:");
  EXPECT_EQ(machine.spooler.PrinterPorts("Reception"), "LPT2:");
  EXPECT_TRUE(machine.registry.ValueNames(kReleasedPrinters).empty());
  EXPECT_TRUE(machine.registry.ValueNames(kAssignedPrinters).empty());
}

// A removal, then a plain one: a put-back the spooler refuses keeps the
// printer's record for the next removal; a removal on another server leaves
// the local monitor's printers and records alone; no key is left empty, also
// where the product never was.
struct RemovalCase {
  const char* name;
  void (*prepare)(UninstallRun&);
  std::vector<std::string> arguments;
  const char* ports;  // the printer's after the first removal
  bool assignmentKept;
};

class RemovalRecords : public UninstallRun, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(RemovalRecords, DropARecordOnlyOnceItsPrinterIsBack) {
  GetParam().prepare(*this);
  EXPECT_EQ(Run(GetParam().arguments), 0) << machine.console;
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), GetParam().ports);
  EXPECT_EQ(machine.registry.GetValue(kAssignedPrinters, kPrinterName).has_value(),
            GetParam().assignmentKept);
  machine.spooler.refusedPorts.clear();
  StartNewRun();
  EXPECT_EQ(Run({"-u"}), 0) << machine.console;
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), kPrinterPort);
  EXPECT_FALSE(machine.registry.KeyExists("SOFTWARE\\Wow6432Node\\Kestrum Corporation"));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(RefusedElsewhereNeverThere, RemovalRecords, ::testing::Values(
    RemovalCase{"PutBackRefused", [](UninstallRun& f) { f.InstallFirst(); f.machine.spooler.RefusePort(kPrinterPort); }, {"-u"}, "FILE:", true},
    RemovalCase{"OnAnotherServer", [](UninstallRun& f) { f.InstallFirst(); f.machine.spooler.remoteMonitors = {"Tolvo"}; }, {"-u", "-c", "\\\\printsrv01"}, "Tolvo001", true},
    RemovalCase{"NeverInstalled", [](UninstallRun&) {}, {"-u"}, kPrinterPort, false}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(UninstallRun, MonitorInUseEndsItAfterTheClientIsGone) {
  InstallFirst();
  machine.spooler.deleteMonitorError = ERROR_BUSY;

  const int exitCode = Run({"-u"});

  EXPECT_EQ(exitCode, -1);
  // The monitor's port is still there: the printer goes back onto it at once.
  ExpectTranscript(
      Transcript({kBanner, kHead, kDetect64, kRemoveClient, kReleasePrinter, kRemove,
                  "ERROR Print Monitor Is Used By Spooler.\n",
                  "  - Reconnecting Printer 'Office Laser' to Port Tolvo001\n", kNotUninstalled}));
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "Tolvo001");
  EXPECT_EQ(machine.spooler.Monitors(), std::vector<std::string>{"Tolvo"});
  EXPECT_TRUE(InSystemDirectory("TOLVOVS64.DLL"));
  EXPECT_TRUE(machine.Exists(FontDirectory() + "\\" + kFontFiles[0]));
  EXPECT_FALSE(machine.Exists(ClientDirectory()));
  EXPECT_EQ(EventMessages(machine), std::vector<std::string>{"Port Monitor Installed Sucessfully"});
}

TEST_F(UninstallRun, UnsupportedSystemChangesNothing) {
  InstallFirst();
  machine.version.major = 10;
  machine.version.minor = 0;

  const int exitCode = Run({"-u"});

  EXPECT_EQ(exitCode, -1);
  ExpectTranscript(
      Transcript({kBanner, kHead, "  - Detecting Windows Version\n",
                  "    (Unknown Win32NT OS Detected ver.10.0)\n",
                  "ERROR: Unsupported Operating System Detected.\n", kNotUninstalled}));
  EXPECT_TRUE(machine.Exists(ClientDirectory() + "\\Tolvo Client.exe"));
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "Tolvo001");
}

// "Quarvel.exe" missing from a folder a lesser account may change could be
// put there before the removal starts it: the folder is refused all the
// same (an account only the simulated Windows has).
TEST_F(UninstallRun, KitFolderALesserAccountMayChangeIsRefusedWithoutTheStopTool) {
  InstallFirst();
  machine.DeleteFileA(KitFile("Quarvel.exe").c_str());
  machine.fileSystem.SetSecurity(
      "C:\\Kit", std::string(sim::SimFilesState::kDefaultSecurity) + "(A;OICI;0x1301bf;;;AU)");

  EXPECT_EQ(Run({"-u"}), -1);
  EXPECT_NE(machine.console.find("ERROR: NT AUTHORITY\\Authenticated Users can change 'C:\\Kit'"),
            std::string::npos)
      << machine.console;
  EXPECT_TRUE(machine.Exists(ClientDirectory() + "\\Tolvo Client.exe"));
}

TEST_F(UninstallRun, ClientFolderWithForeignFilesStays) {
  InstallFirst();
  const std::string notes = ClientDirectory() + "\\notes.txt";
  const std::string settings = ClientDirectory() + "\\de-DE\\user.config";
  machine.WriteFile(notes, "mine");
  machine.WriteFile(settings, "mine too");

  const int exitCode = Run({"-u"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({kBanner, kHead, kDetect64, kRemoveClient, kReleasePrinter, kRemove,
                               kPutBack, kDelete, kUninstalled}));
  EXPECT_EQ(machine.ListDirectory(ClientDirectory()),
            (std::vector<std::string>{"de-DE", "notes.txt"}));
  EXPECT_EQ(machine.ListDirectory(ClientDirectory() + "\\de-DE"),
            std::vector<std::string>{"user.config"});
  EXPECT_FALSE(machine.Exists(FontDirectory()));
  EXPECT_FALSE(StartupEntry().has_value());
}

}  // namespace
}  // namespace tolvo::scenario
