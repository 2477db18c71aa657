#include "winenv/printer_disconnection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

constexpr const char* kLog = "C:\\Windows\\TLPortInstall.log";

std::string PortLine(const char* port, const char* monitor = "Tolvo") {
  return std::string("  - Port ") + port + " type " + monitor + " will be disconnected\n";
}

class PrinterDisconnectionTest : public ::testing::Test {
 protected:
  PrinterDisconnectionTest() {
    sim.spooler.AddMonitor("Tolvo");
    sim.spooler.AddMonitor("Other");
    sim.spooler.AddPort("LPT1:", "Local Port");
    sim.spooler.AddPort("Tolvo001", "Tolvo");
    sim.spooler.AddPort("Tolvo002", "Tolvo");
    sim.spooler.AddPort("Foreign1", "Other");
  }

  void Disconnect() {
    DisconnectMonitorPrinters(context, "Tolvo");
    EXPECT_TRUE(sim.OpenResources().empty());
  }

  sim::SimWindows sim;
  RunContext context{sim};
};

TEST_F(PrinterDisconnectionTest, PortListsAreEditedAsExpected) {
  const struct {
    const char* before;
    const char* after;
    const char* consoleLines;
  } cases[] = {
      {"Tolvo001", "FILE:", "  - Port Tolvo001 type Tolvo will be disconnected\n"},
      {"Tolvo001,Tolvo002", "FILE:",
       "  - Port Tolvo001 type Tolvo will be disconnected\n"
       "  - Port Tolvo002 type Tolvo will be disconnected\n"},
      {"Tolvo001,LPT1:", "LPT1:", "  - Port Tolvo001 type Tolvo will be disconnected\n"},
      {"LPT1:,Tolvo001", "LPT1:", "  - Port Tolvo001 type Tolvo will be disconnected\n"},
      {"LPT1:,Tolvo001,Foreign1", "LPT1:,Foreign1",
       "  - Port Tolvo001 type Tolvo will be disconnected\n"},
      {"Foreign1,Tolvo002,Tolvo001", "Foreign1",
       "  - Port Tolvo002 type Tolvo will be disconnected\n"
       "  - Port Tolvo001 type Tolvo will be disconnected\n"},
      {"tOLVO001", "FILE:", "  - Port tOLVO001 type Tolvo will be disconnected\n"},
  };
  for (const auto& c : cases) {
    sim::SimWindows machine;
    machine.spooler.AddMonitor("Tolvo");
    machine.spooler.AddPort("LPT1:", "Local Port");
    machine.spooler.AddPort("Tolvo001", "Tolvo");
    machine.spooler.AddPort("Tolvo002", "Tolvo");
    machine.spooler.AddPort("Foreign1", "Other");
    machine.spooler.AddPrinter("Office", c.before);
    RunContext ctx(machine);
    DisconnectMonitorPrinters(ctx, "Tolvo");
    EXPECT_EQ(machine.spooler.PrinterPorts("Office"), c.after) << c.before;
    EXPECT_EQ(machine.console,
              std::string(c.consoleLines) + "  - Disconnecting Printer 'Office' from Tolvo Port\n")
        << c.before;
    EXPECT_TRUE(machine.OpenResources().empty()) << c.before;
  }
}

TEST_F(PrinterDisconnectionTest, MonitorNameInAnotherCaseStillMatches) {
  sim.spooler.AddPrinter("Office", "Tolvo001");
  DisconnectMonitorPrinters(context, "TOLVO");
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "FILE:");
  EXPECT_EQ(sim.console,
            PortLine("Tolvo001", "TOLVO") + "  - Disconnecting Printer 'Office' from TOLVO Port\n");
}

TEST_F(PrinterDisconnectionTest, SharedConnectionIsNeverOpened) {
  sim.spooler.AddPrinter("\\\\srv\\Shared", "Tolvo001", false);
  sim.spooler.AddPrinter("Office", "Tolvo001");
  Disconnect();
  EXPECT_EQ(sim.spooler.printerOpens, (std::vector<std::string>{"Office"}));
  EXPECT_EQ(sim.spooler.PrinterPorts("\\\\srv\\Shared"), "Tolvo001");
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "FILE:");
}

TEST_F(PrinterDisconnectionTest, PrinterOnOtherPortsIsReadAndLeftAlone) {
  sim.spooler.AddPrinter("Office", "LPT1:,Foreign1");
  Disconnect();
  EXPECT_EQ(sim.spooler.printerOpens, (std::vector<std::string>{"Office"}));
  EXPECT_EQ(sim.CallCount("GetPrinterA"), 2);
  EXPECT_EQ(sim.CallCount("SetPrinterA"), 0);
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "LPT1:,Foreign1");
  EXPECT_EQ(sim.console, "");
}

TEST_F(PrinterDisconnectionTest, EveryLocalPrinterIsVisitedInOrder) {
  sim.spooler.AddPrinter("A", "Tolvo001");
  sim.spooler.AddPrinter("B", "LPT1:");
  sim.spooler.AddPrinter("C", "Tolvo002,LPT1:");
  Disconnect();
  EXPECT_EQ(sim.spooler.printerOpens, (std::vector<std::string>{"A", "B", "C"}));
  EXPECT_EQ(sim.spooler.PrinterPorts("A"), "FILE:");
  EXPECT_EQ(sim.spooler.PrinterPorts("C"), "LPT1:");
  EXPECT_EQ(sim.console, PortLine("Tolvo001") + "  - Disconnecting Printer 'A' from Tolvo Port\n" +
                             PortLine("Tolvo002") +
                             "  - Disconnecting Printer 'C' from Tolvo Port\n");
}

TEST_F(PrinterDisconnectionTest, PortLineReachesTheConsoleButNotTheRunLog) {
  ASSERT_TRUE(context.output.OpenRunLog(kLog));
  sim.spooler.AddPrinter("Office", "Tolvo001");
  DisconnectMonitorPrinters(context, "Tolvo");
  context.output.CloseRunLog();
  EXPECT_TRUE(sim.OpenResources().empty());
  EXPECT_EQ(sim.console,
            PortLine("Tolvo001") + "  - Disconnecting Printer 'Office' from Tolvo Port\n");
  EXPECT_EQ(sim.ReadFile(kLog), "  - Disconnecting Printer 'Office' from Tolvo Port\r\n");
}

TEST_F(PrinterDisconnectionTest, RefusedChangeEndsTheLineWithError) {
  sim.spooler.AddPrinter("Office", "Tolvo001");
  sim.spooler.AddPrinter("Second", "Tolvo002");
  sim.spooler.RefusePort("FILE:");
  sim.FailCall("SetPrinterA", ERROR_ACCESS_DENIED, 1);
  Disconnect();
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "Tolvo001");
  EXPECT_EQ(sim.spooler.PrinterPorts("Second"), "Tolvo002");
  EXPECT_EQ(sim.console, PortLine("Tolvo001") +
                             "  - Disconnecting Printer 'Office' from Tolvo Port Error\n" +
                             PortLine("Tolvo002") +
                             "  - Disconnecting Printer 'Second' from Tolvo Port Error\n");
}

TEST_F(PrinterDisconnectionTest, NoPrintersMeansNothingToDo) {
  Disconnect();
  EXPECT_EQ(sim.CallCount("EnumPrintersA"), 1);
  EXPECT_EQ(sim.CallCount("GlobalAlloc"), 0);
  EXPECT_EQ(sim.console, "");
}

TEST_F(PrinterDisconnectionTest, EmptyPortListIsLeftAlone) {
  sim.spooler.AddPrinter("Office", "");
  Disconnect();
  EXPECT_EQ(sim.CallCount("EnumPortsA"), 0);
  EXPECT_EQ(sim.CallCount("SetPrinterA"), 0);
}

TEST_F(PrinterDisconnectionTest, OverlongNameInTheListMatchesNothing) {
  const std::string longName = std::string(259, 'T') + "olvo001";
  sim.spooler.AddPort(std::string(259, 'T'), "Tolvo");  // the name's first 259 bytes
  sim.spooler.AddPort(longName, "Local Port");
  sim.spooler.AddPrinter("Office", longName + ",Tolvo001");
  Disconnect();
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), longName);
}

TEST_F(PrinterDisconnectionTest, IsMonitorPortAnswers) {
  EXPECT_TRUE(IsMonitorPort(context, "tolvo002", "tolvo"));
  EXPECT_FALSE(IsMonitorPort(context, "Foreign1", "Tolvo"));
  EXPECT_FALSE(IsMonitorPort(context, "Tolvo00", "Tolvo"));
  EXPECT_FALSE(IsMonitorPort(context, "", "Tolvo"));
  EXPECT_EQ(sim.console, PortLine("tolvo002", "tolvo"));
  EXPECT_EQ(sim.CallCount("EnumPortsA"), 8);
  EXPECT_TRUE(sim.OpenResources().empty());
}

// Names compare as _mbsicmp compares them in the ANSI code page.
TEST_F(PrinterDisconnectionTest, IsMonitorPortComparesInTheAnsiCodePage) {
  const struct {
    UINT codePage;
    const char* created;  // by the monitor's own interface
    const char* listed;   // in the printer's port list
    bool matches;
  } cases[] = {
      {1252,
       "Tolv\xE9"
       "1",
       "TOLV\xC9"
       "1",
       true},
      {1252, "Tolvo\x9A", "TOLVO\x8A", true},
      {1252,
       "Tolv\xE9"
       "1",
       "Tolv\xC8"
       "1",
       false},
      {932, "Tolvo\x83\x41", "TOLVO\x83\x41", true},
      {932, "Tolvo\x83\x61", "Tolvo\x83\x41", false},  // trail bytes are no letters
  };
  for (const auto& c : cases) {
    sim::SimWindows machine;
    machine.ansiCodePage = c.codePage;
    machine.spooler.AddMonitor("Tolvo");
    machine.spooler.AddPort(c.created, "Tolvo");
    RunContext ctx(machine);
    EXPECT_EQ(IsMonitorPort(ctx, c.listed, "TOLVO"), c.matches) << c.codePage << " " << c.listed;
  }
}

// A spooler that reports a size smaller than the printer record itself.
class ShortRecordMachine : public sim::SimWindows {
 public:
  BOOL GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                   LPDWORD needed) override {
    const BOOL result = SimWindows::GetPrinterA(printer, level, buffer, size, needed);
    *needed = sizeof(PRINTER_INFO_2A) - 1;
    return result;
  }
};

TEST(PrinterDisconnection, ReportedSizeBelowTheRecordIsNotRead) {
  ShortRecordMachine machine;
  machine.spooler.AddMonitor("Tolvo");
  machine.spooler.AddPort("Tolvo001", "Tolvo");
  machine.spooler.AddPrinter("Office", "Tolvo001");
  RunContext ctx(machine);
  DisconnectMonitorPrinters(ctx, "Tolvo");
  EXPECT_EQ(machine.CallCount("GetPrinterA"), 1);  // never read into a short buffer
  EXPECT_EQ(machine.spooler.PrinterPorts("Office"), "Tolvo001");
}

TEST_F(PrinterDisconnectionTest, IsMonitorPortWithoutPortsIsFalse) {
  sim.spooler.ports.clear();
  EXPECT_FALSE(IsMonitorPort(context, "Tolvo001", "Tolvo"));
  EXPECT_EQ(sim.CallCount("EnumPortsA"), 1);
  EXPECT_TRUE(sim.OpenResources().empty());
}

// Any failure along the way leaves the printers as they were and nothing open.
TEST_F(PrinterDisconnectionTest, FailuresReleaseEverything) {
  const struct {
    const char* function;
    DWORD error;
    int occurrence;
  } faults[] = {
      {"EnumPrintersA", ERROR_ACCESS_DENIED, 1},   {"EnumPrintersA", ERROR_ACCESS_DENIED, 2},
      {"GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1}, {"OpenPrinterA", ERROR_ACCESS_DENIED, 1},
      {"GetPrinterA", ERROR_ACCESS_DENIED, 1},     {"GetPrinterA", ERROR_ACCESS_DENIED, 2},
      {"GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 2},
  };
  for (const auto& fault : faults) {
    sim::SimWindows machine;
    machine.spooler.AddPort("Tolvo001", "Tolvo");
    machine.spooler.AddPrinter("Office", "Tolvo001");
    RunContext ctx(machine);
    machine.FailCall(fault.function, fault.error, fault.occurrence);
    DisconnectMonitorPrinters(ctx, "Tolvo");
    EXPECT_EQ(machine.spooler.PrinterPorts("Office"), "Tolvo001")
        << fault.function << " " << fault.occurrence;
    EXPECT_EQ(machine.console, "") << fault.function << " " << fault.occurrence;
    EXPECT_TRUE(machine.OpenResources().empty()) << fault.function << " " << fault.occurrence;
  }
}

TEST_F(PrinterDisconnectionTest, FailedPortEnumerationCountsAsNotTheMonitors) {
  for (const int occurrence : {1, 2}) {
    sim::SimWindows machine;
    machine.spooler.AddPort("Tolvo001", "Tolvo");
    machine.spooler.AddPrinter("Office", "Tolvo001");
    RunContext ctx(machine);
    machine.FailCall("EnumPortsA", ERROR_ACCESS_DENIED, occurrence);
    DisconnectMonitorPrinters(ctx, "Tolvo");
    EXPECT_EQ(machine.spooler.PrinterPorts("Office"), "Tolvo001");
    EXPECT_EQ(machine.CallCount("SetPrinterA"), 0);
    EXPECT_TRUE(machine.OpenResources().empty());
  }
  // The third allocation is the port list's buffer.
  sim::SimWindows machine;
  machine.spooler.AddPort("Tolvo001", "Tolvo");
  machine.spooler.AddPrinter("Office", "Tolvo001");
  RunContext ctx(machine);
  machine.FailCall("GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 3);
  DisconnectMonitorPrinters(ctx, "Tolvo");
  EXPECT_EQ(machine.spooler.PrinterPorts("Office"), "Tolvo001");
  EXPECT_TRUE(machine.OpenResources().empty());
}

}  // namespace
}  // namespace tolvo
