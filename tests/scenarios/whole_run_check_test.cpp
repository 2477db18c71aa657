// Checks (-v) of an installation on the simulated machine: a clean one, and
// each kind of piece missing after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

using CheckRun = MachineFixture;

TEST_F(CheckRun, CleanInstallationChecksCleanAndChangesNothing) {
  ASSERT_EQ(Run(), 0);
  StartNewRun();
  const std::string before = machine.StateText(kRunLogPath);

  EXPECT_EQ(Run({"-v"}), 0);

  const std::string client = "C:\\Program Files (x86)\\Kestrum\\Tolvo Client\\Client\\";
  std::string resources;
  for (const char* culture : kCultures) {
    resources += "    OK - File " + client + culture + "\\Tolvo Client.resources.dll\n";
  }
  ExpectTranscript(
      std::string(kBanner) +
      "\nVerifying Tolvo Port Monitor...\n"
      "  - Detecting Windows Version\n"
      "    (64-bit Windows 7 Detected)\n"
      "  - Checking Tolvo Print Monitor\n"
      "    OK - Monitor Tolvo registered with TOLVOVS64.DLL\n"
      "    OK - File C:\\Windows\\system32\\TOLVOVS64.DLL\n"
      "    OK - File C:\\Windows\\system32\\TOLVO64UI.DLL\n"
      "    OK - File C:\\Windows\\system32\\TolvoCairoLib64.DLL\n"
      "  - Checking Tolvo Ports\n"
      "    OK - Port Tolvo001 of monitor Tolvo\n"
      "  - Checking Event Log Resources\n"
      "    OK - File C:\\Windows\\system32\\TolvoEvent.dll\n"
      "    OK - Event source TolvoPort\n"
      "  - Checking Printers\n"
      "    OK - Printer 'Office Laser' on port Tolvo001\n"
      "  - Checking Tolvo Client\n"
      "    OK - File " +
      client + "Tolvo Client.exe\n    OK - File " + client + "Interop.SHDocVw.dll\n    OK - File " +
      client + "Microsoft.mshtml.dll\n" + resources + "    OK - Start-up entry Tolvo Client \"" +
      client +
      "Tolvo Client.exe\"\n"
      "  - Checking Font Files\n"
      "    OK - File C:\\Program Files (x86)\\Kestrum\\Tolvo Client\\Font\\TolvoMono.ttf\n"
      "    OK - File C:\\Program Files (x86)\\Kestrum\\Tolvo Client\\Font\\TolvoSans.ttf\n"
      "\nTolvo Port Monitor Installed as Configured.\n");
  EXPECT_EQ(machine.StateText(kRunLogPath), before);
}

// An installation with `arguments`, something taken away, and a check
// with the same arguments.
struct CheckCase {
  const char* name;
  std::vector<std::string> arguments;
  void (*prepare)(MachineFixture& f);  // before the installation
  void (*spoil)(MachineFixture& f);    // after it
  int exitCode;
  const char* line;  // one line the check prints
};

void PrintTo(const CheckCase& c, std::ostream* out) {
  *out << c.name;
}

void Nothing(MachineFixture&) {}

void RemoveFile(MachineFixture& f, const std::string& path) {
  std::filesystem::remove(f.machine.HostPath(path));
}

const CheckCase kCases[] = {
    {"Monitor",
     {},
     Nothing,
     [](MachineFixture& f) { f.machine.spooler.monitors.clear(); },
     1,
     "    ERROR - Monitor Tolvo NOT registered\n"},
    {"OneOfTwoPorts",
     {},
     [](MachineFixture& f) {
       f.machine.WriteFile(kIniPath, "[1]\r\nServerIP=10.0.0.1\r\n[2]\r\nServerIP=10.0.0.2\r\n");
     },
     [](MachineFixture& f) {
       auto& ports = f.machine.spooler.ports;
       ports.erase(std::remove_if(ports.begin(), ports.end(),
                                  [](const sim::SimPort& p) { return p.name == "Tolvo002"; }),
                   ports.end());
     },
     1,
     "    ERROR - Port Tolvo002 NOT found\n"},
    {"PrinterMovedOffItsPort",
     {},
     Nothing,
     [](MachineFixture& f) { f.machine.spooler.FindPrinter(kPrinterName)->ports = kPrinterPort; },
     1,
     "    ERROR - Printer 'Office Laser' on port LPT1:, NOT on Tolvo001\n"},
    {"Client",
     {},
     Nothing,
     [](MachineFixture& f) { RemoveFile(f, f.ClientDirectory() + "\\Tolvo Client.exe"); },
     1,
     "    ERROR - File C:\\Program Files (x86)\\Kestrum\\Tolvo Client\\Client\\Tolvo Client.exe "
     "NOT found\n"},
    {"StartUpEntry",
     {},
     Nothing,
     [](MachineFixture& f) { f.machine.registry.DeleteValue(f.RunKey(), "Tolvo Client"); },
     1,
     "    ERROR - Start-up entry Tolvo Client NOT found\n"},
    {"EventSource",
     {},
     Nothing,
     [](MachineFixture& f) { f.machine.registry.DeleteValue(kEventSourceKey, "EventMessageFile"); },
     1,
     "    ERROR - Event source TolvoPort NOT registered\n"},
    {"Fonts",
     {},
     Nothing,
     [](MachineFixture& f) { RemoveFile(f, f.FontDirectory() + "\\TolvoSans.ttf"); },
     1,
     "    ERROR - File C:\\Program Files (x86)\\Kestrum\\Tolvo Client\\Font\\TolvoSans.ttf NOT "
     "found\n"},
    {"EnterpriseOnThirtyTwoBitWindows",
     {"-a"},
     [](MachineFixture& f) { f.UseThirtyTwoBitWindows(); },
     Nothing,
     0,
     "    OK - Monitor TolvoE registered with TOLVOE.DLL\n"},
    {"EnterpriseMonitorFile",
     {"-a"},
     Nothing,
     [](MachineFixture& f) { RemoveFile(f, MachineFixture::SystemFile("TOLVOE64.DLL")); },
     1,
     "    ERROR - File C:\\Windows\\system32\\TOLVOE64.DLL NOT found\n"},
    {"ConfigurationFromTheRegistry",
     {"-r"},
     [](MachineFixture& f) {
       RemoveFile(f, kIniPath);
       const std::string key =
           "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg\\";
       f.machine.registry.SetString(key + "1", "ServerIP", kServerAddress);
       f.machine.registry.SetString(key + "2", "ServerIP", kServerAddress);
       f.machine.registry.SetString(key + "2", "AssignPrinter", kPrinterName);
     },
     Nothing,
     0,
     "    OK - Printer 'Office Laser' on port Tolvo002\n"},
    {"WithoutFiles", {"-c"}, Nothing, Nothing, 0, "  - Checking Tolvo Client\n"},
    {"PortsCannotBeListed",
     {},
     Nothing,
     [](MachineFixture& f) { f.machine.FailCall("EnumPortsA", ERROR_ACCESS_DENIED); },
     2,
     "    ERROR (5) While Checking Ports\n"},
};

class CheckAfterInstallation : public MachineFixture,
                               public ::testing::WithParamInterface<CheckCase> {};

TEST_P(CheckAfterInstallation, NamesWhatIsMissingAndChangesNothing) {
  const CheckCase& c = GetParam();
  c.prepare(*this);
  ASSERT_EQ(Run(c.arguments), 0) << machine.console;
  c.spoil(*this);
  StartNewRun();
  const std::string before = machine.StateText(kRunLogPath);
  std::vector<std::string> arguments = c.arguments;
  arguments.emplace_back("-v");

  EXPECT_EQ(Run(arguments), c.exitCode) << machine.console;

  EXPECT_NE(machine.console.find(c.line), std::string::npos) << machine.console;
  ExpectTranscript(machine.console);  // the run log holds it too, nothing is left open
  EXPECT_EQ(machine.StateText(kRunLogPath), before);
}

INSTANTIATE_TEST_SUITE_P(Table, CheckAfterInstallation, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvo::scenario
