// The simulated spooler's own modelling: connections, refused ports,
// recorded names and scripted monitors. How it answers through the seam is
// checked against Windows' behaviour in tests/conformance/spooler_check.cpp.
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
      {"LPT1:,", false, ERROR_UNKNOWN_PORT},
      {"Tolvo001", false, ERROR_ACCESS_DENIED},
      {"FILE:", true, 0},
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
  EXPECT_EQ(sim.spooler.printerOpens, (std::vector<std::string>{"Ghost"}));
}

TEST_F(SimSpooler, MonitorsRecordTheirServerAndEnvironment) {
  char name[] = "TolvoE";
  char environment[] = "Windows x64";
  char dll[] = "TOLVOE64.DLL";
  char server[] = "\\\\print1";
  MONITOR_INFO_2A info{name, environment, dll};
  EXPECT_TRUE(sim.AddMonitorA(server, 2, reinterpret_cast<LPBYTE>(&info)));
  ASSERT_NE(sim.spooler.FindMonitor("tolvoe"), nullptr);
  EXPECT_EQ(sim.spooler.FindMonitor("TolvoE")->environment, "Windows x64");
  EXPECT_EQ(sim.spooler.serverNames, (std::vector<std::string>{"AddMonitorA \\\\print1"}));

  char tolvo[] = "Tolvo";
  sim.spooler.deleteMonitorError = ERROR_BUSY;
  EXPECT_FALSE(sim.DeleteMonitorA(nullptr, nullptr, tolvo));
  EXPECT_EQ(sim.GetLastError(), ERROR_BUSY);
  sim.spooler.deleteMonitorError = 0;
  EXPECT_TRUE(sim.DeleteMonitorA(nullptr, nullptr, tolvo));
  EXPECT_EQ(sim.spooler.Ports(), (std::vector<std::string>{"LPT1:"}));  // its port went too
}

TEST_F(SimSpooler, TransactionChannelOpensOnlyRegisteredMonitors) {
  std::u16string local = u",XcvMonitor Tolvo";
  std::u16string byPort = u"\\\\srv\\,XcvPort Tolvo001";
  HANDLE handle = nullptr;
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
