#include "portconfig/printer_assignment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

constexpr const char* kIni = "C:\\Kit\\Tolvo.ini";

class PrinterAssignmentTest : public ::testing::Test {
 protected:
  PrinterAssignmentTest() {
    context.settings.SetIniPath(kIni);
    sim.spooler.AddMonitor("Tolvo");
    sim.spooler.AddPort("LPT1:", "Local Port");
    sim.spooler.AddPort("LPT2:", "Local Port");
    for (const char* port : {"Tolvo001", "Tolvo002", "Tolvo003"}) {
      sim.spooler.AddPort(port, "Tolvo");
    }
  }

  void Assign(int count, PortConfigSource source = PortConfigSource::ConfigFile) {
    AssignPrinters(context, count, source);
    EXPECT_TRUE(sim.OpenResources().empty());
  }

  sim::SimWindows sim;
  RunContext context{sim};
};

TEST_F(PrinterAssignmentTest, CountZeroReadsAndPrintsNothing) {
  sim.WriteFile(kIni, "[1]\nAssignPrinter=Office\n");
  sim.spooler.AddPrinter("Office", "LPT1:");
  Assign(0);
  Assign(-3);
  EXPECT_EQ(sim.CallCount("GetPrivateProfileStringA"), 0);
  EXPECT_EQ(sim.CallCount("OpenPrinterA"), 0);
  EXPECT_EQ(sim.console, "");
}

TEST_F(PrinterAssignmentTest, OnlyTheFifthKeyAssignsOnePrinter) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\nAssignPrinter5=Office\n");
  sim.spooler.AddPrinter("Office", "LPT1:");
  Assign(1);
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "Tolvo001");
  EXPECT_EQ(sim.console, "    Printer 'Office' assigned to port Tolvo001\n");
  EXPECT_EQ(sim.CallCount("GetPrivateProfileStringA"), 10);
  EXPECT_EQ(sim.spooler.printerOpens, (std::vector<std::string>{"Office"}));
}

TEST_F(PrinterAssignmentTest, EveryKeyOfEverySectionIsRead) {
  sim.WriteFile(kIni,
                "[1]\nAssignPrinter=A\nAssignPrinter3=B\nAssignPrinter10=C\nAssignPrinter11=X\n"
                "[2]\nAssignPrinter2=D\n");
  for (const char* name : {"A", "B", "C", "D", "X"}) {
    sim.spooler.AddPrinter(name, "LPT2:");
  }
  Assign(2);
  EXPECT_EQ(sim.console,
            "    Printer 'A' assigned to port Tolvo001\n"
            "    Printer 'B' assigned to port Tolvo001\n"
            "    Printer 'C' assigned to port Tolvo001\n"
            "    Printer 'D' assigned to port Tolvo002\n");
  EXPECT_EQ(sim.spooler.PrinterPorts("X"), "LPT2:");
  EXPECT_EQ(sim.CallCount("GetPrivateProfileStringA"), 20);
}

TEST_F(PrinterAssignmentTest, LaterSectionWinsForTheSamePrinter) {
  sim.WriteFile(kIni, "[1]\nAssignPrinter=Office\n[2]\nAssignPrinter=Office\n");
  sim.spooler.AddPrinter("Office", "LPT1:");
  Assign(2);
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "Tolvo002");
  EXPECT_EQ(sim.console,
            "    Printer 'Office' assigned to port Tolvo001\n"
            "    Printer 'Office' assigned to port Tolvo002\n");
}

TEST_F(PrinterAssignmentTest, MissingPrinterGivesTheErrorLineAndTheWalkGoesOn) {
  sim.WriteFile(kIni, "[1]\nAssignPrinter=Ghost\nAssignPrinter2=Office\n");
  sim.spooler.AddPrinter("Office", "LPT1:");
  Assign(1);
  EXPECT_EQ(sim.console,
            "    ERROR - Printer Ghost NOT assigned to port Tolvo001\n"
            "    Printer 'Office' assigned to port Tolvo001\n");
}

TEST_F(PrinterAssignmentTest, TooLongPrinterNameIsCutAndNotFound) {
  const std::string name(300, 'p');
  sim.WriteFile(kIni, "[1]\nAssignPrinter=" + name + "\n");
  sim.spooler.AddPrinter(name, "LPT1:");
  Assign(1);
  ASSERT_EQ(sim.spooler.printerOpens.size(), 1u);
  EXPECT_EQ(sim.spooler.printerOpens[0], std::string(259, 'p'));
  EXPECT_EQ(sim.console,
            "    ERROR - Printer " + std::string(259, 'p') + " NOT assigned to port Tolvo001\n");
}

TEST_F(PrinterAssignmentTest, PooledPrinterKeepsOnlyTheNewPortAndEverythingElse) {
  sim.WriteFile(kIni, "[1]\nAssignPrinter=Pool\n");
  sim::SimPrinter& pool = sim.spooler.AddPrinter("Pool", "LPT1:,Tolvo003");
  pool.comment = "second floor";
  pool.location = "Room 12";
  pool.shareName = "pool";
  pool.priority = 7;
  Assign(1);
  const sim::SimPrinter* after = sim.spooler.FindPrinter("Pool");
  ASSERT_NE(after, nullptr);
  EXPECT_EQ(after->ports, "Tolvo001");
  EXPECT_EQ(after->comment, "second floor");
  EXPECT_EQ(after->location, "Room 12");
  EXPECT_EQ(after->shareName, "pool");
  EXPECT_EQ(after->priority, 7u);
  EXPECT_EQ(after->driverName, "Generic / Text Only");
  EXPECT_EQ(after->attributes, PRINTER_ATTRIBUTE_LOCAL);
}

TEST_F(PrinterAssignmentTest, RefusedPortGivesTheErrorLine) {
  sim.WriteFile(kIni, "[1]\nAssignPrinter=Office\n");
  sim.spooler.AddPrinter("Office", "LPT1:");
  sim.spooler.RefusePort("Tolvo001");
  Assign(1);
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "LPT1:");
  EXPECT_EQ(sim.console, "    ERROR - Printer Office NOT assigned to port Tolvo001\n");
}

TEST_F(PrinterAssignmentTest, RegistrySourceReadsTheSubkeys) {
  const std::string root = "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg\\";
  sim.registry.SetString(root + "2", "AssignPrinter4", "Office");
  sim.WriteFile(kIni, "[1]\nAssignPrinter=Office\n");  // not consulted
  sim.spooler.AddPrinter("Office", "LPT1:");
  Assign(2, PortConfigSource::Registry);
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "Tolvo002");
  EXPECT_EQ(sim.console, "    Printer 'Office' assigned to port Tolvo002\n");
  EXPECT_EQ(sim.CallCount("GetPrivateProfileStringA"), 0);
}

TEST_F(PrinterAssignmentTest, EnterprisePortNames) {
  context.profile.SwitchToEnterprise();
  sim.spooler.AddPort("TolvoE001", "TolvoE");
  sim.WriteFile(kIni, "[1]\nAssignPrinter=Office\n");
  sim.spooler.AddPrinter("Office", "LPT1:");
  Assign(1);
  EXPECT_EQ(sim.spooler.PrinterPorts("Office"), "TolvoE001");
}

// Every failure on the way gives 0, and leaves no handle or buffer behind;
// a record that cannot be read (or its key opened) is no empty record.
TEST_F(PrinterAssignmentTest, FailuresReleaseEverything) {
  const struct {
    const char* function;
    DWORD error;
    int occurrence;
  } faults[] = {
      {"OpenPrinterA", ERROR_ACCESS_DENIED, 1},     {"GetPrinterA", ERROR_ACCESS_DENIED, 1},
      {"GetPrinterA", ERROR_INVALID_HANDLE, 2},     {"GlobalAlloc", ERROR_NOT_ENOUGH_MEMORY, 1},
      {"SetPrinterA", ERROR_ACCESS_DENIED, 1},      {"RegCreateKeyExA", ERROR_ACCESS_DENIED, 1},
      {"RegQueryValueExA", ERROR_ACCESS_DENIED, 1},
  };
  for (const auto& fault : faults) {
    sim::SimWindows machine;
    machine.spooler.AddPort("Tolvo001", "Tolvo");
    machine.spooler.AddPort("LPT1:", "Local Port");
    machine.spooler.AddPrinter("Office", "LPT1:");
    RunContext ctx(machine);
    machine.FailCall(fault.function, fault.error, fault.occurrence);
    EXPECT_EQ(AssignPrinterToPort(ctx, "Office", "Tolvo001"), 0) << fault.function;
    EXPECT_EQ(machine.spooler.PrinterPorts("Office"), "LPT1:") << fault.function;
    EXPECT_TRUE(machine.OpenResources().empty()) << fault.function;
    EXPECT_EQ(machine.CallCount("ClosePrinter"),
              fault.occurrence == 1 && std::string(fault.function) == "OpenPrinterA" ? 0 : 1)
        << fault.function;
  }
}

// The size query must fail with 122; a query that succeeds is not trusted.
class SizeQuerySucceeds : public sim::SimWindows {
 public:
  BOOL GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD size,
                   LPDWORD needed) override {
    if (buffer == nullptr) {
      Enter("GetPrinterA");
      *needed = 0;
      return TRUE;
    }
    return SimWindows::GetPrinterA(printer, level, buffer, size, needed);
  }
};

TEST(PrinterAssignmentSizeQuery, MustFailWithInsufficientBuffer) {
  SizeQuerySucceeds machine;
  machine.spooler.AddPort("Tolvo001", "Tolvo");
  machine.spooler.AddPrinter("Office", "LPT1:");
  RunContext ctx(machine);
  EXPECT_EQ(AssignPrinterToPort(ctx, "Office", "Tolvo001"), 0);
  EXPECT_EQ(machine.CallCount("GlobalAlloc"), 0);
  EXPECT_EQ(machine.CallCount("SetPrinterA"), 0);
  EXPECT_TRUE(machine.OpenResources().empty());
}

}  // namespace
}  // namespace tolvo
