// Checks (-v) of an installation on the simulated machine: a clean one, and
// each kind of piece missing after it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "portconfig/printer_assignment.h"
#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

// What happens before the installation, and what is taken away after it.
void None(MachineFixture&) {}
// The printer named under both ports belongs on the second.
void TwoPorts(MachineFixture& f) {
  f.machine.WriteFile(kIniPath, std::string(kTypicalIni) + "[2]\r\nServerIP=10.0.0.2\r\n" +
                                    "AssignPrinter=Office Laser\r\n");
}
void FromRegistry(MachineFixture& f) {
  f.RemoveKitFile("Tolvo.ini");
  const std::string key = "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg\\";
  f.machine.registry.SetString(key + "1", "ServerIP", kServerAddress);
  f.machine.registry.SetString(key + "2", "ServerIP", kServerAddress);
  f.machine.registry.SetString(key + "2", "AssignPrinter", kPrinterName);
}
// One printer named in two letter cases beyond ASCII belongs on the second port.
void OnePrinterTwoCases(MachineFixture& f) {
  f.machine.spooler.AddPrinter("B\xFCro", kPrinterPort);
  f.machine.WriteFile(kIniPath, std::string(kTypicalIni) + "AssignPrinter2=B\xFCro\r\n" +
                                    "[2]\r\nServerIP=10.0.0.2\r\nAssignPrinter=B\xDCRO\r\n");
}
// A value the installation reports and passes over; the check reads only
// the keys it needs.
void UnusableRegistryNumber(MachineFixture& f) {
  FromRegistry(f);
  const std::string key = "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg\\1";
  f.machine.registry.SetValue(key, "ServerPort", REG_MULTI_SZ, {'8', '0', 0, 0});
}
// A password in a key users may read: a line on the error stream, no finding.
void ReadablePassword(MachineFixture& f) {
  FromRegistry(f);
  f.machine.registry.SetString(
      "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg\\2", "AuthText", "Qz");
}
void ThirtyTwoBit(MachineFixture& f) {
  f.UseThirtyTwoBitWindows();
}
void Monitor(MachineFixture& f) {
  f.machine.spooler.monitors.clear();
}
void MonitorDll(MachineFixture& f) {
  f.machine.spooler.FindMonitor("Tolvo")->dllName = "TOLVOVS.DLL";
}
void SecondPort(MachineFixture& f) {
  f.machine.spooler.ports.pop_back();
}
void PrinterPort(MachineFixture& f) {
  f.machine.spooler.FindPrinter(kPrinterName)->ports = kPrinterPort;
}
void StartUpEntry(MachineFixture& f) {
  f.machine.registry.DeleteValue(f.RunKey(), "Tolvo Client");
}
void EventSource(MachineFixture& f) {
  f.machine.registry.DeleteValue(kEventSourceKey, "EventMessageFile");
}
// A printer a failed run released, which an installation would put back.
void PrinterNotBack(MachineFixture& f) {
  f.machine.spooler.AddPrinter("Reception", "FILE:");
  f.machine.registry.SetValue(kReleasedPrinters, "Reception", REG_MULTI_SZ,
                              {'L', 'P', 'T', '1', ':', 0, 'F', 'I', 'L', 'E', ':', 0, 0});
}
// Released to wait for a port the configuration dropped, then moved by the
// administrator: an installation leaves it where it was put.
void PrinterMovedSince(MachineFixture& f) {
  f.machine.spooler.AddPrinter("Hand Set", "LPT1:");
  f.machine.registry.SetValue(
      kReleasedPrinters, "Hand Set", REG_MULTI_SZ,
      {'T', 'o', 'l', 'v', 'o', '0', '0', '2', 0, 'F', 'I', 'L', 'E', ':', 0, 0});
}
void PortListing(MachineFixture& f) {
  f.machine.FailCall("EnumPortsA", ERROR_ACCESS_DENIED);
}
// Machines the kit cannot serve, and a configuration Windows reads as empty.
void Arm64(MachineFixture& f) {
  f.machine.version.nativeMachine = 0xAA64;
}
void StoppedSpooler(MachineFixture& f) {
  f.machine.StopSpooler();
}
void Utf8Mark(MachineFixture& f) {
  f.machine.WriteFile(kIniPath, "\xEF\xBB\xBF" + *f.machine.ReadFile(kIniPath));
}

// An installation with `arguments`, something taken away, and a check with
// the same arguments, which names that one thing.
struct CheckCase {
  const char* name;
  std::vector<std::string> arguments;
  void (*prepare)(MachineFixture&);
  void (*spoil)(MachineFixture&);
  const char* removedFile;  // under C:\, or null
  int exitCode;
  const char* line;  // the start of the line naming it, after its indentation (null:
                     // the removed file's line)
};

const char* const kClient = "Program Files (x86)\\Kestrum\\Tolvo Client\\Client\\Tolvo Client.exe";
const char* const kFont = "Program Files (x86)\\Kestrum\\Tolvo Client\\Font\\TolvoSans.ttf";

const CheckCase kCases[] = {
    {"Clean", {}, None, None, nullptr, 0, "OK - Monitor Tolvo registered with TOLVOVS64.DLL"},
    {"Monitor", {}, None, Monitor, nullptr, 1, "ERROR - Monitor Tolvo NOT registered"},
    {"MonitorDll", {}, None, MonitorDll, nullptr, 1, "ERROR - Monitor Tolvo registered with"},
    {"OneOfTwoPorts", {}, TwoPorts, SecondPort, nullptr, 1, "ERROR - Port Tolvo002 NOT found"},
    {"PrinterOffItsPort", {}, None, PrinterPort, nullptr, 1, "ERROR - Printer 'Office Laser' on"},
    {"Client", {}, None, None, kClient, 1, nullptr},
    {"StartUpEntry", {}, None, StartUpEntry, nullptr, 1, "ERROR - Start-up entry Tolvo Client NOT"},
    {"EventSource", {}, None, EventSource, nullptr, 1, "ERROR - Event source TolvoPort NOT"},
    {"Fonts", {}, None, None, kFont, 1, nullptr},
    {"Enterprise32Bit", {"-a"}, ThirtyTwoBit, None, "Windows\\system32\\TOLVOE.DLL", 1, nullptr},
    {"FromRegistry", {"-r"}, FromRegistry, None, nullptr, 0, "OK - Printer 'Office Laser' on port"},
    {"OnePrinterTwoCases",
     {},
     OnePrinterTwoCases,
     None,
     nullptr,
     0,
     "OK - Printer 'B\xDCRO' on port Tolvo002\n"},
    {"UnusableRegistryNumber",
     {"-r"},
     UnusableRegistryNumber,
     None,
     nullptr,
     0,
     "OK - Port Tolvo001 of monitor Tolvo\n"},
    {"WithoutFiles", {"-c"}, None, None, nullptr, 0, "OK - Start-up entry Tolvo Client"},
    {"ReadablePassword", {"-r"}, ReadablePassword, None, nullptr, 0, "OK - Port Tolvo002 of"},
    {"PortsNotListed", {}, None, PortListing, nullptr, 2, "ERROR (5) While Checking Ports"},
    {"PrinterNotBack",
     {},
     None,
     PrinterNotBack,
     nullptr,
     1,
     "ERROR - Printer 'Reception' on port FILE:, NOT back on LPT1:"},
    {"PrinterMovedSince",
     {},
     None,
     PrinterMovedSince,
     nullptr,
     0,
     "OK - Printer 'Hand Set' on port LPT1:, moved there since its release"},
    {"Arm64", {}, None, Arm64, nullptr, 2, "ERROR: This kit cannot serve Windows on ARM64: its"},
    {"StoppedSpooler", {}, None, StoppedSpooler, nullptr, 2, "ERROR: The print spooler is not"},
    {"Utf8Mark", {}, None, Utf8Mark, nullptr, 2, "ERROR: 'C:\\Kit\\Tolvo.ini' begins with a UTF-8"},
};

class CheckAfterInstallation : public MachineFixture,
                               public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckAfterInstallation, NamesWhatIsMissingAndChangesNothing) {
  const CheckCase& c = GetParam();
  c.prepare(*this);
  ASSERT_EQ(Run(c.arguments), 0) << machine.console;
  c.spoil(*this);
  std::string line;
  if (c.removedFile != nullptr) {
    const std::string path = std::string("C:\\") + c.removedFile;
    ASSERT_TRUE(std::filesystem::remove(machine.HostPath(path))) << path;
    line = "    ERROR - File " + path + " NOT found\n";
  } else {
    line = c.line;
  }
  StartNewRun();
  machine.standardError.clear();
  machine.ClearCallLog();
  const std::string before = machine.StateText(kRunLogPath);
  std::vector<std::string> arguments = c.arguments;
  arguments.emplace_back("-v");

  EXPECT_EQ(Run(arguments), c.exitCode) << machine.console;
  EXPECT_EQ(machine.standardError.find("PortInstallCfg\\2\" can be read by BUILTIN\\Users") !=
                std::string::npos,
            c.prepare == ReadablePassword)
      << machine.standardError;

  // That line names what was taken away, and it is the only error.
  EXPECT_NE(machine.console.find(line), std::string::npos) << machine.console;
  int errors = 0;
  for (auto at = machine.console.find("ERROR"); at != std::string::npos;
       at = machine.console.find("ERROR", at + 1)) {
    ++errors;
  }
  EXPECT_EQ(errors, c.exitCode == 0 ? 0 : 1) << machine.console;
  // Of the configuration, one ServerIP per port number tried, the AuthText
  // of the two configured ports and the printer keys.
  EXPECT_LE(machine.CallCount("GetPrivateProfileStringA"), 3 + 2 + 2 * kAssignPrinterKeys);
  ExpectTranscript(machine.console);  // the run log holds it too, nothing is left open
  EXPECT_EQ(machine.StateText(kRunLogPath), before);
  // A machine the kit cannot serve ("ERROR:") refuses an installation too,
  // "-e" or not, before its first change.
  if (std::string_view(c.line ? c.line : "").rfind("ERROR:", 0) == 0) {
    EXPECT_EQ(Run({"-e"}), -1);
    EXPECT_EQ(machine.StateText(kRunLogPath), before) << machine.console;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CheckAfterInstallation, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvo::scenario
