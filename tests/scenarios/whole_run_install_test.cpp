// Whole installation runs of Install.exe on the simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

using InstallRun = MachineFixture;

constexpr std::uint32_t kPortDataRecordSize = 10032;

TEST_F(InstallRun, TypicalFirstInstallationOnSixtyFourBitWindowsSeven) {
  const int exitCode = Run();

  const std::string expected = Transcript({
      "\n",
      "\n",
      "Tolvo Client Installer v 2.6\n",
      "Copyright (C) Kestrum Corporation. All rights reserved.\n",
      "\n",
      "Installing Tolvo Port Monitor ...\n",
      "  - Detecting Windows Version\n",
      "    (64-bit Windows 7 Detected)\n",
      "  - Checking Files\n",
      "  - Removing Old Tolvo Print Monitor\n",
      "    (Print Monitor Not Found)\n",
      "  - Deleting Tolvo Print Monitor Files from System Directory\n",
      "  - Copying Files to Windows System Directory \n",
      "  - Registering Tolvo Print Monitor\n",
      "  - Adding port configuration\n",
      "    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n",
      "  - Event Log Resources WAS installed\n",
      "    Printer 'Office Laser' assigned to port Tolvo001\n",
      "  - Installing Tolvo Client Graphical User Interface\n",
      "  - Waiting for all Tolvo Clients to terminate\n",
      "  - Executing Tolvo Client\n",
      "  - Installing Font Files\n",
      "\n",
      "Tolvo Port Monitor Installed Sucessfully.\n",
  });
  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(expected);

  // The monitor, its port with the record the monitor received, the printer.
  const sim::SimMonitor* monitor = machine.spooler.FindMonitor("Tolvo");
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor->environment, "Windows x64");
  EXPECT_EQ(monitor->dllName, "TOLVOVS64.DLL");
  const sim::SimPort* port = machine.spooler.FindPort("Tolvo001");
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(port->monitor, "Tolvo");
  EXPECT_EQ(machine.spooler.FindPort("Tolvo002"), nullptr);
  const auto record = machine.spooler.StoredRecord("Tolvo001");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(record->size(), kPortDataRecordSize);
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "Tolvo001");

  // The 64-bit files replaced in the native system directory, no 32-bit ones.
  for (const char* file :
       {"TOLVOVS64.DLL", "TOLVO64UI.DLL", "TolvoCairoLib64.DLL", "TolvoEvent.dll"}) {
    EXPECT_EQ(SystemFileContent(file), KitContent(file)) << file;
  }
  for (const char* file : {"TOLVOVS.DLL", "TOLVOUI.DLL", "TolvoCairoLib.DLL", "TOLVOE64.DLL"}) {
    EXPECT_FALSE(InSystemDirectory(file)) << file;
  }

  // The event-log source and the success event.
  EXPECT_EQ(machine.registry.GetString(kEventSourceKey, "EventMessageFile"),
            "%SystemRoot%\\System32\\TolvoEvent.dll");
  EXPECT_EQ(machine.registry.GetDword(kEventSourceKey, "TypesSupported"), 7u);
  EXPECT_EQ(machine.registry.GetString(kEventSourceKey, "CategoryMessageFile"),
            "%SystemRoot%\\System32\\TolvoEvent.dll");
  EXPECT_EQ(machine.registry.GetDword(kEventSourceKey, "CategoryCount"), 10u);
  ASSERT_EQ(machine.registry.events.size(), 1u);
  const sim::SimEvent& event = machine.registry.events[0];
  EXPECT_EQ(event.source, "TolvoPort");
  EXPECT_EQ(event.type, EVENTLOG_SUCCESS);
  EXPECT_EQ(event.eventId, 0xC0020001u);
  EXPECT_EQ(event.strings, std::vector<std::string>{"Port Monitor Installed Sucessfully"});

  // The client under the 32-bit Program Files folder, started and registered.
  const std::string client = ClientDirectory();
  for (const char* file : kClientFiles) {
    EXPECT_EQ(machine.ReadFile(client + "\\" + file), KitContent(file)) << file;
  }
  for (const char* culture : kCultures) {
    const std::string resource = std::string(culture) + "\\Tolvo Client.resources.dll";
    EXPECT_EQ(machine.ReadFile(client + "\\" + resource), KitContent(resource)) << culture;
  }
  EXPECT_EQ(StartupEntry(), "\"" + client + "\\Tolvo Client.exe\"");
  EXPECT_FALSE(machine.registry.GetString(kRunKey, "Tolvo Client").has_value());
  ASSERT_EQ(machine.processes.starts.size(), 2u);
  EXPECT_EQ(machine.processes.starts[0].program, KitFile("Quarvel.exe"));
  EXPECT_TRUE(machine.processes.starts[0].waited);
  EXPECT_EQ(machine.processes.starts[1].program, client + "\\Tolvo Client.exe");
  EXPECT_EQ(machine.processes.starts[1].arguments,
            std::vector<std::string>{client + "\\Tolvo Client.exe"});
  EXPECT_FALSE(machine.processes.starts[1].waited);
  EXPECT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 1);

  // The fonts.
  for (const char* font : kFontFiles) {
    EXPECT_EQ(machine.ReadFile(FontDirectory() + "\\" + font), KitContent(font)) << font;
  }
}

// Pieces of the transcripts below, one literal per line of output.
constexpr std::string_view kDefaultHead = "\nInstalling Tolvo Port Monitor ...\n";
constexpr std::string_view kIgnoreErrorsHead =
    "\n"
    "Installing Tolvo Port Monitor...\n"
    "[IGNORE ERRORS Switch is Enabled!]\n";
constexpr std::string_view kDetect64 =
    "  - Detecting Windows Version\n"
    "    (64-bit Windows 7 Detected)\n";
constexpr std::string_view kCheck = "  - Checking Files\n";
constexpr std::string_view kReleasePrinter =
    "  - Port Tolvo001 type Tolvo will be disconnected\n"
    "  - Disconnecting Printer 'Office Laser' from Tolvo Port\n";
constexpr std::string_view kRemove = "  - Removing Old Tolvo Print Monitor\n";
constexpr std::string_view kNotFound = "    (Print Monitor Not Found)\n";
constexpr std::string_view kDelete =
    "  - Deleting Tolvo Print Monitor Files from System Directory\n";
constexpr std::string_view kCopy = "  - Copying Files to Windows System Directory \n";
constexpr std::string_view kRegister = "  - Registering Tolvo Print Monitor\n";
constexpr std::string_view kPorts =
    "  - Adding port configuration\n"
    "    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n";
constexpr std::string_view kMonitorMissingForPorts =
    "  - Adding port configuration\n"
    "Cannot open port monitor, error code: 1796\n"
    "ERROR While adding port configuration\n";
constexpr std::string_view kEventSource = "  - Event Log Resources WAS installed\n";
constexpr std::string_view kAssigned = "    Printer 'Office Laser' assigned to port Tolvo001\n";
constexpr std::string_view kClient =
    "  - Installing Tolvo Client Graphical User Interface\n"
    "  - Waiting for all Tolvo Clients to terminate\n"
    "  - Executing Tolvo Client\n";
constexpr std::string_view kFonts = "  - Installing Font Files\n";
constexpr std::string_view kInstalled = "\nTolvo Port Monitor Installed Sucessfully.\n";
constexpr std::string_view kNotInstalled = "\nTolvo Port Monitor Not Installed!\n";

TEST_F(InstallRun, ReinstallationReleasesThePrinterAndAssignsItAgain) {
  InstallPreviousVersion();

  const int exitCode = Run();

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(
      Transcript({kBanner, kDefaultHead, kDetect64, kCheck, kReleasePrinter, kRemove, kDelete,
                  kCopy, kRegister, kPorts, kEventSource, kAssigned, kClient, kFonts, kInstalled}));
  // Released to "FILE:" before the old monitor went, then put on the new port.
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "Tolvo001");
  EXPECT_EQ(machine.CallCount("SetPrinterA"), 2);
  EXPECT_EQ(machine.spooler.Monitors(), std::vector<std::string>{"Tolvo"});
  ASSERT_NE(machine.spooler.FindPort("Tolvo001"), nullptr);
  EXPECT_EQ(machine.spooler.FindPort("Tolvo001")->monitor, "Tolvo");
  // The old files replaced; the old-named monitor DLL of this bitness gone.
  EXPECT_EQ(SystemFileContent("TOLVOVS64.DLL"), KitContent("TOLVOVS64.DLL"));
  EXPECT_EQ(SystemFileContent("TOLVO64UI.DLL"), KitContent("TOLVO64UI.DLL"));
  EXPECT_EQ(SystemFileContent("TolvoCairoLib64.DLL"), KitContent("TolvoCairoLib64.DLL"));
  EXPECT_FALSE(InSystemDirectory("TOLVO64.DLL"));
}

TEST_F(InstallRun, ReadOnlyOldFilesAreReplaced) {
  InstallPreviousVersion();
  machine.fileSystem.SetAttributes(SystemFile("TOLVOVS64.DLL"), FILE_ATTRIBUTE_READONLY);

  EXPECT_EQ(Run(), 0);

  EXPECT_EQ(SystemFileContent("TOLVOVS64.DLL"), KitContent("TOLVOVS64.DLL"));
}

// One way for the sequence to fail, run once without and once with "-e".
struct StopCase {
  const char* name;
  void (*prepare)(MachineFixture& fixture);
  const char* const* stoppedLines;  // from "  - Checking Files" on, ending at the stop
  const char* const* ignoredLines;  // with "-e": from "  - Checking Files" on, to the end
};

class InstallStop : public MachineFixture, public ::testing::WithParamInterface<StopCase> {};

std::string JoinLines(const char* const* lines) {
  std::string text;
  for (; *lines != nullptr; ++lines) {
    text += *lines;
  }
  return text;
}

TEST_P(InstallStop, EndsTheInstallationWithoutIgnoreErrors) {
  GetParam().prepare(*this);

  const int exitCode = Run();

  EXPECT_EQ(exitCode, -1);
  ExpectTranscript(Transcript({kBanner, kDefaultHead}) + JoinLines(GetParam().stoppedLines) +
                   std::string(kNotInstalled));
  EXPECT_TRUE(machine.registry.events.empty());
}

TEST_P(InstallStop, IsReportedAndPassedOverWithIgnoreErrors) {
  GetParam().prepare(*this);

  const int exitCode = Run({"-e"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({kBanner, kIgnoreErrorsHead}) + JoinLines(GetParam().ignoredLines) +
                   std::string(kInstalled));
  ASSERT_EQ(machine.registry.events.size(), 1u);
  EXPECT_EQ(machine.registry.events[0].strings,
            std::vector<std::string>{"Port Monitor Installed Sucessfully"});
}

const char* const kUnsupportedStopped[] = {
    "  - Detecting Windows Version\n", "    (Unknown Win32NT OS Detected ver.6.3)\n",
    "ERROR: Unsupported Operating System Detected.\n", nullptr};
const char* const kUnsupportedIgnored[] = {
    "  - Detecting Windows Version\n",
    "    (Unknown Win32NT OS Detected ver.6.3)\n",
    "ERROR: Unsupported Operating System Detected.\n",
    "  - Checking Files\n",
    "  - Removing Old Tolvo Print Monitor\n",
    "    (Print Monitor Not Found)\n",
    "  - Deleting Tolvo Print Monitor Files from System Directory\n",
    "  - Copying Files to Windows System Directory \n",
    "  - Registering Tolvo Print Monitor\n",
    "ERROR (87) While Registering Print Monitor.\n",
    "  - Adding port configuration\n",
    "Cannot open port monitor, error code: 1796\n",
    "ERROR While adding port configuration\n",
    "  - Event Log Resources WAS installed\n",
    "  - Installing Tolvo Client Graphical User Interface\n",
    "  - Waiting for all Tolvo Clients to terminate\n",
    "  - Executing Tolvo Client\n",
    "  - Installing Font Files\n",
    nullptr};

const char* const kMissingFileStopped[] = {
    "  - Detecting Windows Version\n", "    (64-bit Windows 7 Detected)\n", "  - Checking Files\n",
    "ERROR While Checking 'TOLVO64UI.DLL'.\n", nullptr};
const char* const kMissingFileIgnored[] = {
    "  - Detecting Windows Version\n",
    "    (64-bit Windows 7 Detected)\n",
    "  - Checking Files\n",
    "ERROR While Checking 'TOLVO64UI.DLL'.\n",
    "  - Removing Old Tolvo Print Monitor\n",
    "    (Print Monitor Not Found)\n",
    "  - Deleting Tolvo Print Monitor Files from System Directory\n",
    "  - Copying Files to Windows System Directory \n",
    "ERROR While Copying File 'TOLVO64UI.DLL'.\n",
    "  - Registering Tolvo Print Monitor\n",
    "  - Adding port configuration\n",
    "    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n",
    "  - Event Log Resources WAS installed\n",
    "    Printer 'Office Laser' assigned to port Tolvo001\n",
    "  - Installing Tolvo Client Graphical User Interface\n",
    "  - Waiting for all Tolvo Clients to terminate\n",
    "  - Executing Tolvo Client\n",
    "  - Installing Font Files\n",
    nullptr};

constexpr const char* kReconnectPrinter =
    "  - Reconnecting Printer 'Office Laser' to Port Tolvo001\n";
#define REMOVAL_STOPPED(errorLine)                                                      \
  {                                                                                     \
    "  - Detecting Windows Version\n", "    (64-bit Windows 7 Detected)\n",             \
        "  - Checking Files\n", "  - Port Tolvo001 type Tolvo will be disconnected\n",  \
        "  - Disconnecting Printer 'Office Laser' from Tolvo Port\n",                   \
        "  - Removing Old Tolvo Print Monitor\n", errorLine, kReconnectPrinter, nullptr \
  }
// The old monitor stays registered with its port: the registration and the
// port are refused, and the printer goes back onto the port at the end.
#define REMOVAL_IGNORED(errorLine)                                                            \
  {                                                                                           \
    "  - Detecting Windows Version\n", "    (64-bit Windows 7 Detected)\n",                   \
        "  - Checking Files\n", "  - Port Tolvo001 type Tolvo will be disconnected\n",        \
        "  - Disconnecting Printer 'Office Laser' from Tolvo Port\n",                         \
        "  - Removing Old Tolvo Print Monitor\n", errorLine,                                  \
        "  - Deleting Tolvo Print Monitor Files from System Directory\n",                     \
        "  - Copying Files to Windows System Directory \n",                                   \
        "  - Registering Tolvo Print Monitor\n",                                              \
        "ERROR (3006) While Registering Print Monitor.\n", "  - Adding port configuration\n", \
        "Cannot write configuration, error code: 183\n",                                      \
        "ERROR While adding port configuration\n", "  - Event Log Resources WAS installed\n", \
        "  - Installing Tolvo Client Graphical User Interface\n",                             \
        "  - Waiting for all Tolvo Clients to terminate\n", "  - Executing Tolvo Client\n",   \
        "  - Installing Font Files\n", kReconnectPrinter, nullptr                             \
  }

const char* const kBusyStopped[] = REMOVAL_STOPPED("ERROR Print Monitor Is Used By Spooler.\n");
const char* const kBusyIgnored[] = REMOVAL_IGNORED("ERROR Print Monitor Is Used By Spooler.\n");
const char* const kNotSupportedStopped[] =
    REMOVAL_STOPPED("ERROR This function is not supported on this system.\n");
const char* const kNotSupportedIgnored[] =
    REMOVAL_IGNORED("ERROR This function is not supported on this system.\n");
const char* const kDeniedStopped[] = REMOVAL_STOPPED("ERROR (5) While Removing Print Monitor.\n");
const char* const kDeniedIgnored[] = REMOVAL_IGNORED("ERROR (5) While Removing Print Monitor.\n");

const char* const kCopyFailedStopped[] = {
    "  - Detecting Windows Version\n",
    "    (64-bit Windows 7 Detected)\n",
    "  - Checking Files\n",
    "  - Removing Old Tolvo Print Monitor\n",
    "    (Print Monitor Not Found)\n",
    "  - Deleting Tolvo Print Monitor Files from System Directory\n",
    "  - Copying Files to Windows System Directory \n",
    "ERROR While Copying File 'TOLVO64UI.DLL'.\n",
    nullptr};
const char* const kCopyFailedIgnored[] = {
    "  - Detecting Windows Version\n",
    "    (64-bit Windows 7 Detected)\n",
    "  - Checking Files\n",
    "  - Removing Old Tolvo Print Monitor\n",
    "    (Print Monitor Not Found)\n",
    "  - Deleting Tolvo Print Monitor Files from System Directory\n",
    "  - Copying Files to Windows System Directory \n",
    "ERROR While Copying File 'TOLVO64UI.DLL'.\n",
    "  - Registering Tolvo Print Monitor\n",
    "  - Adding port configuration\n",
    "    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n",
    "  - Event Log Resources WAS installed\n",
    "    Printer 'Office Laser' assigned to port Tolvo001\n",
    "  - Installing Tolvo Client Graphical User Interface\n",
    "  - Waiting for all Tolvo Clients to terminate\n",
    "  - Executing Tolvo Client\n",
    "  - Installing Font Files\n",
    nullptr};

const char* const kRegistrationStopped[] = {
    "  - Detecting Windows Version\n",
    "    (64-bit Windows 7 Detected)\n",
    "  - Checking Files\n",
    "  - Removing Old Tolvo Print Monitor\n",
    "    (Print Monitor Not Found)\n",
    "  - Deleting Tolvo Print Monitor Files from System Directory\n",
    "  - Copying Files to Windows System Directory \n",
    "  - Registering Tolvo Print Monitor\n",
    "ERROR (5) While Registering Print Monitor.\n",
    nullptr};
const char* const kRegistrationIgnored[] = {
    "  - Detecting Windows Version\n",
    "    (64-bit Windows 7 Detected)\n",
    "  - Checking Files\n",
    "  - Removing Old Tolvo Print Monitor\n",
    "    (Print Monitor Not Found)\n",
    "  - Deleting Tolvo Print Monitor Files from System Directory\n",
    "  - Copying Files to Windows System Directory \n",
    "  - Registering Tolvo Print Monitor\n",
    "ERROR (5) While Registering Print Monitor.\n",
    "  - Adding port configuration\n",
    "Cannot open port monitor, error code: 1796\n",
    "ERROR While adding port configuration\n",
    "  - Event Log Resources WAS installed\n",
    "  - Installing Tolvo Client Graphical User Interface\n",
    "  - Waiting for all Tolvo Clients to terminate\n",
    "  - Executing Tolvo Client\n",
    "  - Installing Font Files\n",
    nullptr};

void RemovalRefusedWith(MachineFixture& fixture, DWORD error) {
  fixture.InstallPreviousVersion();
  fixture.machine.spooler.deleteMonitorError = error;
}

INSTANTIATE_TEST_SUITE_P(
    EachStop, InstallStop,
    ::testing::Values(
        StopCase{"UnsupportedSystem", [](MachineFixture& f) { f.machine.version.minor = 3; },
                 kUnsupportedStopped, kUnsupportedIgnored},
        StopCase{"MissingFile", [](MachineFixture& f) { f.RemoveKitFile("TOLVO64UI.DLL"); },
                 kMissingFileStopped, kMissingFileIgnored},
        StopCase{"MonitorBusy", [](MachineFixture& f) { RemovalRefusedWith(f, ERROR_BUSY); },
                 kBusyStopped, kBusyIgnored},
        StopCase{"RemovalNotSupported",
                 [](MachineFixture& f) { RemovalRefusedWith(f, ERROR_CALL_NOT_IMPLEMENTED); },
                 kNotSupportedStopped, kNotSupportedIgnored},
        StopCase{"RemovalDenied",
                 [](MachineFixture& f) { RemovalRefusedWith(f, ERROR_ACCESS_DENIED); },
                 kDeniedStopped, kDeniedIgnored},
        StopCase{"CopyFailed",
                 [](MachineFixture& f) { f.machine.FailCall("CopyFileA", ERROR_ACCESS_DENIED, 2); },
                 kCopyFailedStopped, kCopyFailedIgnored},
        StopCase{"RegistrationFailed",
                 [](MachineFixture& f) { f.machine.FailCall("AddMonitorA", ERROR_ACCESS_DENIED); },
                 kRegistrationStopped, kRegistrationIgnored}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

TEST_F(InstallRun, MonitorBusyPutsThePrinterBackAndLeavesTheOldMonitorInPlace) {
  RemovalRefusedWith(*this, ERROR_BUSY);

  EXPECT_EQ(Run(), -1);

  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "Tolvo001");
  EXPECT_EQ(machine.spooler.Monitors(), std::vector<std::string>{"Tolvo"});
  EXPECT_EQ(SystemFileContent("TOLVOVS64.DLL"), "old TOLVOVS64.DLL");
  EXPECT_FALSE(machine.Exists(ClientDirectory()));
}

// The installation lock's file, which the first run of this version makes.
void MakeLockFile(sim::SimWindows& machine) {
  machine.WriteFile("C:\\Windows\\Kestrum Tolvo Installation.lock", "");
  machine.fileSystem.SetSecurity("C:\\Windows\\Kestrum Tolvo Installation.lock",
                                 kAdministratorsOnlySecurity);
}

// What can be known to fail fails before the first change: a monitor DLL of
// the other bitness, or a name that is no server (an unknown switch).
TEST_F(InstallRun, RefusalsBeforeTheFirstChangeLeaveTheMachineAsItWas) {
  InstallPreviousVersion();
  MakeLockFile(machine);
  const std::string kit = KitContent("TOLVOVS64.DLL");
  const std::pair<std::string, const char*> brokenKits[] = {
      {KitContent("TOLVOVS.DLL"), "'TOLVOVS64.DLL': Not a 64-bit Windows DLL.\n"},
      {sim::WindowsDllImage(0x8664, {}, "kit"),
       "'TOLVOVS64.DLL': No InitializePrintMonitor2 Entry Point.\n"}};
  for (const auto& [image, line] : brokenKits) {
    machine.WriteFile(KitFile("TOLVOVS64.DLL"), image);
    const std::string before = machine.StateText(kRunLogPath);
    EXPECT_EQ(Run(), -1);
    EXPECT_NE(machine.console.find("ERROR While Checking " + (line + std::string(kNotInstalled))),
              std::string::npos)
        << machine.console;
    EXPECT_EQ(machine.StateText(kRunLogPath), before);
  }
  EXPECT_EQ(Run({"-e"}), 0);  // reported and passed over

  machine.WriteFile(KitFile("TOLVOVS64.DLL"), kit);
  const std::string before = machine.StateText(kRunLogPath);
  for (const char* server : {"/u", "-x", "\\\\", "\\\\srv\\share", "\\\\srv,XcvMonitor Other"}) {
    StartNewRun();
    EXPECT_EQ(Run({server}), -1) << server;
    ExpectTranscript(Transcript(
        {kBanner, "\nInstalling Tolvo Port Monitor on server ", server, "...\nERROR: '", server,
         "' Is Not a Server Name (give \\\\NAME, at most 241 characters).\n", kNotInstalled}));
    EXPECT_EQ(machine.StateText(kRunLogPath), before);
  }
}

// A kit file (the client's resources and the fonts included), or the kit
// folder, that an account short of an administrator
// may change ends the run before the first change, "-e" or not, and "-v"
// cannot be made. Accounts other than Everyone are the simulated Windows'
// (under Wine a file's mode bits show as Everyone's grant).
TEST_F(InstallRun, KitThatALesserAccountMayChangeIsRefusedBeforeTheFirstChange) {
  InstallPreviousVersion();
  MakeLockFile(machine);
  const std::string before = machine.StateText(kRunLogPath);
  const std::string guarded = sim::SimFilesState::kDefaultSecurity;
  const std::pair<std::string, std::string> planted[] = {
      {KitFile("TolvoEvent.dll"), "ERROR: BUILTIN\\Users can change 'C:\\Kit\\TolvoEvent.dll'"},
      {KitFile("de-DE\\Tolvo Client.resources.dll"),
       "ERROR: BUILTIN\\Users can change 'C:\\Kit\\de-DE\\Tolvo Client.resources.dll'"},
      {KitFile("FontFiles\\TolvoMono.ttf"),
       "ERROR: BUILTIN\\Users can change 'C:\\Kit\\FontFiles\\TolvoMono.ttf'"},
      {"C:\\Kit", "ERROR: NT AUTHORITY\\Authenticated Users can change 'C:\\Kit'"}};
  for (const auto& [path, line] : planted) {
    const char* account = path == "C:\\Kit" ? "AU" : "BU";
    machine.fileSystem.SetSecurity(path, guarded + "(A;OICI;0x1301bf;;;" + account + ")");
    for (const std::string run : {"-e", "-v"}) {
      StartNewRun();
      EXPECT_EQ(Run({run}), run == "-v" ? 2 : -1);
      EXPECT_NE(machine.console.find(line), std::string::npos) << machine.console;
      EXPECT_EQ(machine.StateText(kRunLogPath), before);
    }
    machine.fileSystem.SetSecurity(path, guarded);
  }
}

// Printers on the monitor's ports keep them through a re-installation (0),
// also after one that failed half-way and left them waiting (1); one moved
// by hand meanwhile stays where it was put (2); a pooled one that the
// spooler lists in another order meanwhile still counts as left alone (3).
class PrintersKeepTheirPorts : public MachineFixture, public ::testing::WithParamInterface<int> {};

TEST_P(PrintersKeepTheirPorts, ThroughReinstallations) {
  machine.WriteFile(kIniPath, std::string(kTypicalIni) +
                                  "[2]\r\nServerIP=10.0.0.2\r\n[3]\r\nServerIP=10.0.0.3\r\n");
  ASSERT_EQ(Run(), 0);
  machine.spooler.AddPort("LPT2:", "Local Port");
  machine.spooler.AddPrinter("Hand Set", "Tolvo002");
  machine.spooler.AddPrinter("Pooled", "LPT1:,LPT2:,Tolvo003");
  machine.spooler.AddPrinter("Bystander", "LPT2:");
  if (GetParam() > 0) {
    machine.FailCall("AddMonitorA", ERROR_ACCESS_DENIED);
    EXPECT_EQ(Run(), -1);
    machine.ClearFaults();
    EXPECT_EQ(machine.spooler.PrinterPorts("Hand Set"), "FILE:");
    EXPECT_NE(machine.console.find("    (Printer 'Hand Set' Waits for Port Tolvo002)\n"),
              std::string::npos);
  }
  if (GetParam() == 2) {
    machine.spooler.FindPrinter("Hand Set")->ports = "LPT2:";
  }
  if (GetParam() == 3) {
    machine.spooler.FindPrinter("Pooled")->ports = "lpt2:,LPT1:";
  }
  StartNewRun();

  EXPECT_EQ(Run(), 0);

  EXPECT_NE(
      machine.console.find("  - Reconnecting Printer 'Pooled' to Port LPT1:,LPT2:,Tolvo003\n"),
      std::string::npos)
      << machine.console;
  EXPECT_EQ(machine.spooler.PrinterPorts("Hand Set"), GetParam() == 2 ? "LPT2:" : "Tolvo002");
  EXPECT_EQ(machine.spooler.PrinterPorts("Pooled"), "LPT1:,LPT2:,Tolvo003");
  EXPECT_EQ(machine.spooler.PrinterPorts("Bystander"), "LPT2:");
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "Tolvo001");
  EXPECT_TRUE(machine.registry.ValueNames(kReleasedPrinters).empty());
  EXPECT_EQ(machine.registry.FindKey(kReleasedPrinters)->security, kAdministratorsOnlySecurity);
  // The maker's keys above it keep what users may read.
  const std::string_view released = kReleasedPrinters;
  EXPECT_EQ(machine.registry.FindKey(released.substr(0, released.rfind('\\')))->security, "");
}

INSTANTIATE_TEST_SUITE_P(AfterNothingAFailureAMoveAReordering, PrintersKeepTheirPorts,
                         ::testing::Values(0, 1, 2, 3));

// "AddPort" refuses the second port: the printer of the first section goes
// on its port, the one named in the second section keeps its own.
TEST_F(InstallRun, RefusedSecondPortLeavesItsPrinterAlone) {
  machine.WriteFile(kIniPath, std::string(kTypicalIni) +
                                  "[2]\r\nServerIP=192.168.10.7\r\nAssignPrinter=Reception\r\n");
  machine.spooler.AddPrinter("Reception", "LPT2:");
  machine.spooler.SetCommandStatus("AddPort", ERROR_ACCESS_DENIED, 2);

  EXPECT_EQ(Run(), 0) << machine.console;

  ExpectTranscript(
      Transcript({kBanner, kDefaultHead, kDetect64, kCheck, kRemove, kNotFound, kDelete, kCopy,
                  kRegister, kPorts, "Cannot write configuration, error code: 5\n",
                  "ERROR While adding port configuration\n", kEventSource, kAssigned, kClient,
                  kFonts, kInstalled}));
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "Tolvo001");
  EXPECT_EQ(machine.spooler.PrinterPorts("Reception"), "LPT2:");
}

TEST_F(InstallRun, NoCopySwitchSkipsTheFilesButNotTheEventSourceOrTheClient) {
  // Nothing in the kit is tested: even a missing monitor DLL goes unnoticed.
  RemoveKitFile("TOLVOVS64.DLL");

  const int exitCode = Run({"-c"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({kBanner, "\n", "Installing Tolvo Port Monitor...\n",
                               "  No files will be copied\n", kDetect64, kCheck, kRemove, kNotFound,
                               kRegister, kPorts, kEventSource, kAssigned, kClient, kInstalled}));
  for (const char* file : kMonitorFiles) {
    EXPECT_FALSE(InSystemDirectory(file)) << file;
  }
  EXPECT_EQ(SystemFileContent("TolvoEvent.dll"), KitContent("TolvoEvent.dll"));
  EXPECT_TRUE(machine.Exists(ClientDirectory() + "\\Tolvo Client.exe"));
  EXPECT_FALSE(machine.Exists(FontDirectory()));
  EXPECT_EQ(machine.spooler.FindMonitor("Tolvo")->dllName, "TOLVOVS64.DLL");
}

TEST_F(InstallRun, RegistrySwitchNeedsNoConfigurationFile) {
  std::filesystem::remove(machine.HostPath(kIniPath));
  const std::string key = "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg\\1";
  machine.registry.SetString(key, "ServerIP", "10.1.2.3");
  machine.registry.SetDword(key, "ServerPort", 515);
  machine.registry.SetString(key, "AssignPrinter3", kPrinterName);

  const int exitCode = Run({"-r"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(
      Transcript({kBanner, "\n", "Installing Tolvo Port Monitor...\n",
                  "  (config will be read from registry)\n", kDetect64, kCheck, kRemove, kNotFound,
                  kDelete, kCopy, kRegister, "  - Adding port configuration\n",
                  "    New - IP:10.1.2.3:515, Desc:, Queue:, Type:1 \n", kEventSource, kAssigned,
                  kClient, kFonts, kInstalled}));
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "Tolvo001");
}

TEST_F(InstallRun, MissingConfigurationFileIsReportedUnderItsKitName) {
  const int exitCode = Run({"-iC:\\Sites\\Branch.ini"});

  EXPECT_EQ(exitCode, -1);
  ExpectTranscript(Transcript({kBanner, "\n", "Installing Tolvo Port Monitor...\n", kDetect64,
                               kCheck, "ERROR While Checking 'Tolvo.ini'.\n", kNotInstalled}));
  EXPECT_TRUE(machine.spooler.Monitors().empty());
}

TEST_F(InstallRun, ConfigurationFileNamedBySwitchIsUsed) {
  machine.WriteFile("C:\\Kit\\Sites\\Branch.ini",
                    "[1]\r\nServerIP=172.16.0.9\r\nDescription=Branch\r\n");

  const int exitCode = Run({"-iSites\\Branch.ini"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(
      Transcript({kBanner, "\n", "Installing Tolvo Port Monitor...\n", kDetect64, kCheck, kRemove,
                  kNotFound, kDelete, kCopy, kRegister, "  - Adding port configuration\n",
                  "    New - IP:172.16.0.9:9100, Desc:Branch, Queue:, Type:1 \n", kEventSource,
                  kClient, kFonts, kInstalled}));
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), kPrinterPort);
}

TEST_F(InstallRun, PrintServerReceivesTheMonitorAndItsPorts) {
  const int exitCode = Run({"\\\\PRINTSRV"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(
      Transcript({kBanner, "\n", "Installing Tolvo Port Monitor on server \\\\PRINTSRV...\n",
                  kDetect64, kCheck, kRemove, kNotFound, kDelete, kCopy, kRegister, kPorts,
                  kEventSource, kAssigned, kClient, kFonts, kInstalled}));
  const std::vector<std::string>& servers = machine.spooler.serverNames;
  EXPECT_NE(std::find(servers.begin(), servers.end(), "DeleteMonitorA \\\\PRINTSRV"),
            servers.end());
  EXPECT_NE(std::find(servers.begin(), servers.end(), "AddMonitorA \\\\PRINTSRV"), servers.end());
  EXPECT_NE(std::find(servers.begin(), servers.end(), "OpenPrinterW \\\\PRINTSRV"), servers.end());
  // The printers examined and the files copied are the local machine's.
  EXPECT_EQ(std::count_if(servers.begin(), servers.end(),
                          [](const std::string& s) { return s.rfind("EnumPortsA", 0) == 0; }),
            0);
  EXPECT_EQ(SystemFileContent("TOLVOVS64.DLL"), KitContent("TOLVOVS64.DLL"));
}

TEST_F(InstallRun, EnterpriseEditionOnSixtyFourBitWindows) {
  // The Enterprise edition needs none of the client's files.
  for (const char* file : kClientFiles) {
    RemoveKitFile(file);
  }
  RemoveKitFile("Quarvel.exe");
  WriteSystemFile("TOLVO64.DLL", "old TOLVO64.DLL");

  const int exitCode = Run({"-a"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({
      kEnterpriseBanner,
      "\n",
      "Installing TolvoE Port Monitor...\n",
      kDetect64,
      kCheck,
      "  - Removing Old TolvoE Print Monitor\n",
      kNotFound,
      "  - Deleting TolvoE Print Monitor Files from System Directory\n",
      kCopy,
      "  - Registering TolvoE Print Monitor\n",
      "  - Adding port configuration\n",
      "    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n",
      kEventSource,
      "    Printer 'Office Laser' assigned to port TolvoE001\n",
      kFonts,
      "\n",
      "TolvoE Port Monitor Installed Sucessfully.\n",
  }));
  const sim::SimMonitor* monitor = machine.spooler.FindMonitor("TolvoE");
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor->environment, "Windows x64");
  EXPECT_EQ(monitor->dllName, "TOLVOE64.DLL");
  EXPECT_EQ(machine.spooler.PrinterPorts(kPrinterName), "TolvoE001");
  for (const char* file : {"TOLVOE64.DLL", "TOLVOE64UI.DLL", "TolvoECairoLib64.DLL"}) {
    EXPECT_EQ(SystemFileContent(file), KitContent(file)) << file;
  }
  EXPECT_EQ(SystemFileContent("TOLVO64.DLL"), "old TOLVO64.DLL");
  EXPECT_FALSE(machine.Exists(ClientDirectory()));
  EXPECT_FALSE(StartupEntry().has_value());
  EXPECT_TRUE(machine.processes.starts.empty());
  EXPECT_TRUE(machine.Exists(FontDirectory(true) + "\\" + kFontFiles[0]));
}

TEST_F(InstallRun, EnterpriseEditionOnThirtyTwoBitWindows) {
  UseThirtyTwoBitWindows();
  WriteSystemFile("TOLVO.DLL", "old TOLVO.DLL");

  const int exitCode = Run({"-a"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({
      kEnterpriseBanner,
      "\n",
      "Installing TolvoE Port Monitor...\n",
      "  - Detecting Windows Version\n",
      "    (32-bit Windows 7 Detected)\n",
      kCheck,
      "  - Removing Old TolvoE Print Monitor\n",
      kNotFound,
      "  - Deleting TolvoE Print Monitor Files from System Directory\n",
      kCopy,
      "  - Registering TolvoE Print Monitor\n",
      "  - Adding port configuration\n",
      "    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n",
      kEventSource,
      "    Printer 'Office Laser' assigned to port TolvoE001\n",
      kFonts,
      "\n",
      "TolvoE Port Monitor Installed Sucessfully.\n",
  }));
  const sim::SimMonitor* monitor = machine.spooler.FindMonitor("TolvoE");
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor->environment, "");
  EXPECT_EQ(monitor->dllName, "TOLVOE.DLL");
  for (const char* file : {"TOLVOE.DLL", "TOLVOEUI.DLL", "TolvoECairoLib.DLL"}) {
    EXPECT_EQ(SystemFileContent(file), KitContent(file)) << file;
  }
  for (const char* file : {"TOLVOE64.DLL", "TOLVOE64UI.DLL", "TolvoECairoLib64.DLL"}) {
    EXPECT_FALSE(InSystemDirectory(file)) << file;
  }
  EXPECT_EQ(SystemFileContent("TOLVO.DLL"), "old TOLVO.DLL");
  EXPECT_TRUE(machine.Exists(std::string(kProgramFiles) +
                             "\\Kestrum\\Tolvo Client Enterprise\\Font\\" + kFontFiles[1]));
}

TEST_F(InstallRun, StandardEditionOnThirtyTwoBitWindows) {
  UseThirtyTwoBitWindows();
  WriteSystemFile("TOLVO.DLL", "old TOLVO.DLL");

  const int exitCode = Run();

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(
      Transcript({kBanner, kDefaultHead, "  - Detecting Windows Version\n",
                  "    (32-bit Windows 7 Detected)\n", kCheck, kRemove, kNotFound, kDelete, kCopy,
                  kRegister, kPorts, kEventSource, kAssigned, kClient, kFonts, kInstalled}));
  EXPECT_EQ(machine.spooler.FindMonitor("Tolvo")->environment, "");
  EXPECT_EQ(machine.spooler.FindMonitor("Tolvo")->dllName, "TOLVOVS.DLL");
  EXPECT_FALSE(InSystemDirectory("TOLVO.DLL"));
  EXPECT_EQ(StartupEntry(),
            "\"C:\\Program Files\\Kestrum\\Tolvo Client\\Client\\Tolvo Client.exe\"");
}

}  // namespace
}  // namespace tolvo::scenario
