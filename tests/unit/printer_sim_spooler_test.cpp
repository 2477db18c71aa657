// The simulated spooler: the printer and port tests rely on it answering
// as Windows' spooler answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo::sim {
namespace {

class SimSpooler : public ::testing::Test {
 protected:
  SimSpooler() {
    sim.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL");
    sim.spooler.AddPort("LPT1:", "Local Port", "Printer Port");
    sim.spooler.AddPort("Tolvo001", "Tolvo");
  }

  // The whole buffer a two-call enumeration fills, checked for the
  // Windows layout: records first, every string after them, inside it.
  std::vector<BYTE> EnumPrinters(DWORD flags, DWORD level, DWORD& returned) {
    DWORD needed = 0;
    EXPECT_FALSE(sim.EnumPrintersA(flags, nullptr, level, nullptr, 0, &needed, &returned));
    EXPECT_EQ(sim.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buffer(needed);
    EXPECT_TRUE(
        sim.EnumPrintersA(flags, nullptr, level, buffer.data(), needed, &needed, &returned));
    return buffer;
  }

  static bool StringAfterRecords(const std::vector<BYTE>& buffer, std::size_t recordsEnd,
                                 const char* text) {
    const auto* begin = reinterpret_cast<const char*>(buffer.data());
    return text >= begin + recordsEnd && text + std::strlen(text) < begin + buffer.size();
  }

  SimWindows sim;
};

TEST_F(SimSpooler, EnumPrintersLevel4ListsLocalPrintersAndConnections) {
  sim.spooler.AddPrinter("Office", "LPT1:");
  sim.spooler.AddPrinter("\\\\srv\\Hall", "Tolvo001", false);
  DWORD returned = 0;
  const std::vector<BYTE> buffer = EnumPrinters(PRINTER_ENUM_LOCAL, 4, returned);
  ASSERT_EQ(returned, 2u);
  PRINTER_INFO_4A records[2];
  std::memcpy(records, buffer.data(), sizeof records);
  EXPECT_STREQ(records[0].pPrinterName, "Office");
  EXPECT_EQ(records[0].pServerName, nullptr);
  EXPECT_EQ(records[0].Attributes, PRINTER_ATTRIBUTE_LOCAL);
  EXPECT_STREQ(records[1].pPrinterName, "\\\\srv\\Hall");
  EXPECT_STREQ(records[1].pServerName, "\\\\srv");
  EXPECT_EQ(records[1].Attributes & PRINTER_ATTRIBUTE_LOCAL, 0u);
  for (const auto& r : records) {
    EXPECT_TRUE(StringAfterRecords(buffer, sizeof records, r.pPrinterName));
  }
  const std::vector<BYTE> connections = EnumPrinters(PRINTER_ENUM_CONNECTIONS, 4, returned);
  EXPECT_EQ(returned, 1u);
}

TEST_F(SimSpooler, NoPrintersIsSuccessWithNothingNeeded) {
  DWORD needed = 99;
  DWORD returned = 99;
  EXPECT_TRUE(sim.EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &returned));
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(returned, 0u);
}

TEST_F(SimSpooler, GetPrinterLevel2WithEveryString) {
  SimPrinter& printer = sim.spooler.AddPrinter("Office", "LPT1:,Tolvo001");
  printer.comment = "c";
  printer.location = "l";
  HANDLE handle = nullptr;
  ASSERT_TRUE(sim.OpenPrinterA(const_cast<LPSTR>("office"), &handle, nullptr));
  DWORD needed = 0;
  EXPECT_FALSE(sim.GetPrinterA(handle, 2, nullptr, 0, &needed));
  EXPECT_EQ(sim.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buffer(needed);
  DWORD shortBy = needed - 1;
  EXPECT_FALSE(sim.GetPrinterA(handle, 2, buffer.data(), shortBy, &shortBy));
  EXPECT_EQ(sim.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  ASSERT_TRUE(sim.GetPrinterA(handle, 2, buffer.data(), needed, &needed));
  PRINTER_INFO_2A info;
  std::memcpy(&info, buffer.data(), sizeof info);
  EXPECT_EQ(info.pServerName, nullptr);
  EXPECT_STREQ(info.pPrinterName, "Office");
  EXPECT_STREQ(info.pPortName, "LPT1:,Tolvo001");
  EXPECT_STREQ(info.pComment, "c");
  EXPECT_STREQ(info.pLocation, "l");
  EXPECT_STREQ(info.pPrintProcessor, "WinPrint");
  EXPECT_EQ(info.pDevMode, nullptr);
  EXPECT_EQ(info.Attributes, PRINTER_ATTRIBUTE_LOCAL);
  for (const char* text :
       {info.pPrinterName, info.pShareName, info.pPortName, info.pDriverName, info.pComment,
        info.pLocation, info.pSepFile, info.pPrintProcessor, info.pDatatype, info.pParameters}) {
    EXPECT_TRUE(StringAfterRecords(buffer, sizeof info, text));
  }
  EXPECT_FALSE(sim.GetPrinterA(handle, 7, buffer.data(), needed, &needed));
  EXPECT_EQ(sim.GetLastError(), 124u);
  EXPECT_TRUE(sim.ClosePrinter(handle));
  EXPECT_FALSE(sim.ClosePrinter(handle));
  EXPECT_EQ(sim.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(sim.OpenResources().empty());
}

TEST_F(SimSpooler, SetPrinterAcceptsOnlyKnownPortsAndFile) {
  sim.spooler.AddPrinter("Office", "LPT1:");
  sim.spooler.RefusePort("Tolvo001", ERROR_ACCESS_DENIED);
  HANDLE handle = nullptr;
  ASSERT_TRUE(sim.OpenPrinterA(const_cast<LPSTR>("Office"), &handle, nullptr));
  DWORD needed = 0;
  sim.GetPrinterA(handle, 2, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(sim.GetPrinterA(handle, 2, buffer.data(), needed, &needed));
  auto* info = reinterpret_cast<PRINTER_INFO_2A*>(buffer.data());
  const struct {
    const char* ports;
    bool accepted;
    DWORD error;
  } cases[] = {
      {"Nowhere", false, ERROR_UNKNOWN_PORT},
      {"LPT1:,", false, ERROR_UNKNOWN_PORT},
      {"Tolvo001", false, ERROR_ACCESS_DENIED},
      {"FILE:", true, 0},
      {"lpt1:", true, 0},
  };
  for (const auto& c : cases) {
    std::string ports = c.ports;
    info->pPortName = ports.data();
    EXPECT_EQ(sim.SetPrinterA(handle, 2, buffer.data(), 0) != FALSE, c.accepted) << c.ports;
    if (!c.accepted) {
      EXPECT_EQ(sim.GetLastError(), c.error) << c.ports;
    } else {
      EXPECT_EQ(sim.spooler.PrinterPorts("Office"), c.ports);
    }
  }
  EXPECT_TRUE(sim.ClosePrinter(handle));
}

TEST_F(SimSpooler, OpenPrinterRecordsEveryName) {
  HANDLE handle = nullptr;
  EXPECT_FALSE(sim.OpenPrinterA(const_cast<LPSTR>("Ghost"), &handle, nullptr));
  EXPECT_EQ(sim.GetLastError(), ERROR_INVALID_PRINTER_NAME);
  EXPECT_EQ(sim.spooler.printerOpens, (std::vector<std::string>{"Ghost"}));
}

TEST_F(SimSpooler, EnumPortsBothLevels) {
  DWORD needed = 0;
  DWORD returned = 0;
  EXPECT_FALSE(sim.EnumPortsA(nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(sim.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<BYTE> buffer(needed);
  ASSERT_TRUE(sim.EnumPortsA(nullptr, 2, buffer.data(), needed, &needed, &returned));
  ASSERT_EQ(returned, 2u);
  PORT_INFO_2A ports[2];
  std::memcpy(ports, buffer.data(), sizeof ports);
  EXPECT_STREQ(ports[0].pPortName, "LPT1:");
  EXPECT_STREQ(ports[0].pMonitorName, "Local Port");
  EXPECT_STREQ(ports[0].pDescription, "Printer Port");
  EXPECT_STREQ(ports[1].pMonitorName, "Tolvo");
  EXPECT_TRUE(StringAfterRecords(buffer, sizeof ports, ports[1].pDescription));

  EXPECT_FALSE(sim.EnumPortsA(nullptr, 1, nullptr, 0, &needed, &returned));
  std::vector<BYTE> names(needed);
  ASSERT_TRUE(sim.EnumPortsA(nullptr, 1, names.data(), needed, &needed, &returned));
  PORT_INFO_1A first;
  std::memcpy(&first, names.data(), sizeof first);
  EXPECT_STREQ(first.pName, "LPT1:");

  sim.spooler.ports.clear();
  EXPECT_TRUE(sim.EnumPortsA(nullptr, 2, nullptr, 0, &needed, &returned));
  EXPECT_EQ(needed, 0u);
  EXPECT_EQ(returned, 0u);
}

TEST_F(SimSpooler, AddAndDeleteMonitor) {
  char name[] = "TolvoE";
  char environment[] = "Windows x64";
  char dll[] = "TOLVOE64.DLL";
  char server[] = "\\\\print1";
  MONITOR_INFO_2A info{name, environment, dll};
  EXPECT_FALSE(sim.AddMonitorA(nullptr, 1, reinterpret_cast<LPBYTE>(&info)));
  EXPECT_EQ(sim.GetLastError(), 124u);
  EXPECT_TRUE(sim.AddMonitorA(server, 2, reinterpret_cast<LPBYTE>(&info)));
  EXPECT_FALSE(sim.AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&info)));
  EXPECT_EQ(sim.GetLastError(), ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
  ASSERT_NE(sim.spooler.FindMonitor("tolvoe"), nullptr);
  EXPECT_EQ(sim.spooler.FindMonitor("TolvoE")->environment, "Windows x64");
  EXPECT_EQ(sim.spooler.serverNames, (std::vector<std::string>{"AddMonitorA \\\\print1"}));
  MONITOR_INFO_2A noDll{name, environment, nullptr};
  EXPECT_FALSE(sim.AddMonitorA(nullptr, 2, reinterpret_cast<LPBYTE>(&noDll)));
  EXPECT_EQ(sim.GetLastError(), ERROR_INVALID_PARAMETER);

  char tolvo[] = "Tolvo";
  sim.spooler.deleteMonitorError = ERROR_BUSY;
  EXPECT_FALSE(sim.DeleteMonitorA(nullptr, nullptr, tolvo));
  EXPECT_EQ(sim.GetLastError(), ERROR_BUSY);
  sim.spooler.deleteMonitorError = 0;
  EXPECT_TRUE(sim.DeleteMonitorA(nullptr, nullptr, tolvo));
  EXPECT_EQ(sim.spooler.Ports(), (std::vector<std::string>{"LPT1:"}));  // its port went too
  EXPECT_FALSE(sim.DeleteMonitorA(nullptr, nullptr, tolvo));
  EXPECT_EQ(sim.GetLastError(), ERROR_UNKNOWN_PRINT_MONITOR);
}

TEST_F(SimSpooler, TransactionChannelOpensOnlyRegisteredMonitors) {
  std::u16string local = u",XcvMonitor Tolvo";
  std::u16string unknown = u",XcvMonitor Nobody";
  std::u16string byPort = u"\\\\srv\\,XcvPort Tolvo001";
  HANDLE handle = nullptr;
  EXPECT_FALSE(sim.OpenPrinterW(unknown.data(), &handle, nullptr));
  EXPECT_EQ(sim.GetLastError(), ERROR_INVALID_PRINTER_NAME);
  ASSERT_TRUE(sim.OpenPrinterW(byPort.data(), &handle, nullptr));
  EXPECT_TRUE(sim.ClosePrinter(handle));
  ASSERT_TRUE(sim.OpenPrinterW(local.data(), &handle, nullptr));

  DWORD needed = 0;
  DWORD status = 0;
  std::u16string command = u"Frobnicate";
  EXPECT_TRUE(sim.XcvDataW(handle, command.c_str(), nullptr, 0, nullptr, 0, &needed, &status));
  EXPECT_EQ(status, ERROR_INVALID_PARAMETER);
  EXPECT_EQ(sim.spooler.XcvCommands(), (std::vector<std::string>{"Frobnicate"}));
  EXPECT_TRUE(sim.ClosePrinter(handle));
  EXPECT_FALSE(sim.XcvDataW(handle, command.c_str(), nullptr, 0, nullptr, 0, &needed, &status));
  EXPECT_EQ(sim.GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(sim.OpenResources().empty());

  // A spooler without the entry point refuses the call.
  sim.SetExportMissing("winspool.drv", "OpenPrinterW");
  EXPECT_FALSE(sim.OpenPrinterW(local.data(), &handle, nullptr));
  EXPECT_EQ(sim.GetLastError(), ERROR_PROC_NOT_FOUND);
}

TEST_F(SimSpooler, MultiByteToWideCharFollowsWindows) {
  WCHAR out[8] = {};
  EXPECT_EQ(sim.MultiByteToWideChar(CP_ACP, 0, "ab\xE9", -1, nullptr, 0), 4);
  EXPECT_EQ(sim.MultiByteToWideChar(CP_ACP, 0, "ab\xE9", -1, out, 8), 4);
  EXPECT_EQ(out[2], 0x00E9);
  EXPECT_EQ(out[3], 0);
  EXPECT_EQ(sim.MultiByteToWideChar(CP_ACP, 0, "abc", 2, out, 8), 2);
  EXPECT_EQ(sim.MultiByteToWideChar(CP_ACP, 0, "abcd", -1, out, 4), 0);
  EXPECT_EQ(sim.GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  sim.SetExportMissing("kernel32.dll", "MultiByteToWideChar");
  EXPECT_EQ(sim.MultiByteToWideChar(CP_ACP, 0, "a", -1, out, 8), 0);
  EXPECT_EQ(sim.GetLastError(), ERROR_PROC_NOT_FOUND);
}

}  // namespace
}  // namespace tolvo::sim
