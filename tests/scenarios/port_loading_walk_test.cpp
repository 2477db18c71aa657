// The walk that creates the monitor's ports from the numbered configuration.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "portconfig/port_loading.h"
#include "sim/sim_windows.h"

namespace tolvo {
namespace {

constexpr const char* kIni = "C:\\Kit\\Tolvo.ini";
constexpr const char* kLog = "C:\\Windows\\TLPortInstall.log";
constexpr const char* kRegistryRoot32 =
    "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg";

using Names = std::vector<std::string>;

class PortLoadingWalk : public ::testing::Test {
 protected:
  PortLoadingWalk() {
    context.settings.SetIniPath(kIni);
    sim.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL");
  }

  bool Load(PortConfigSource source = PortConfigSource::ConfigFile, const char* server = nullptr) {
    count = -1;
    const bool result = LoadPortConfiguration(context, source, count, server);
    // The run log, when a test opened one, is the only thing left open.
    for (const std::string& open : sim.OpenResources()) {
      EXPECT_EQ(open.rfind("run log", 0), 0u) << open;
    }
    return result;
  }

  std::string Log() {
    context.output.CloseRunLog();
    return sim.ReadFile(kLog).value_or("");
  }

  sim::SimWindows sim;
  RunContext context{sim};
  int count = -1;
};

TEST_F(PortLoadingWalk, StopsAtTheFirstMissingSection) {
  sim.WriteFile(kIni,
                "[1]\nServerIP=10.0.0.1\nDescription=First\nQueue=q1\nAuthText=secret\n"
                "[2]\nServerIP=10.0.0.2\nServerPort=515\nAuthType=3\n"
                "[4]\nServerIP=10.0.0.4\n");
  EXPECT_TRUE(Load());
  EXPECT_EQ(count, 2);
  EXPECT_EQ(sim.spooler.Ports(), (Names{"Tolvo001", "Tolvo002"}));
  EXPECT_EQ(sim.console,
            "    New - IP:10.0.0.1:9100, Desc:First, Queue:q1, Type:1 ********\n"
            "    New - IP:10.0.0.2:515, Desc:, Queue:, Type:3 \n");
  EXPECT_EQ(sim.CallCount("OpenPrinterW"), 1);
  EXPECT_EQ(sim.CallCount("ClosePrinter"), 1);
  // 19 texts for each configured port and 11 for the address check of
  // section [3]; section [4] is never read.
  EXPECT_EQ(sim.CallCount("GetPrivateProfileStringA"), 2 * 19 + 11);
}

TEST_F(PortLoadingWalk, EnterpriseRuleReachesTheRecord) {
  context.profile.SwitchToEnterprise();
  context.settings.enterpriseEdition = true;
  sim.spooler.AddMonitor("TolvoE", "TOLVOE64.DLL");
  sim.WriteFile(kIni,
                "[1]\nServerIP=a\nDisableServerCommunication=1\nEncryption=1\nRefreshIPList=1\n");
  EXPECT_TRUE(Load());
  const auto record = sim.spooler.StoredRecord("TolvoE001");
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ((*record)[0x1C98], 1);  // DisableServerCommunication
  EXPECT_EQ((*record)[0x1C90], 0);  // Encryption
  EXPECT_EQ((*record)[0x1660], 0);  // RefreshIPList
  EXPECT_EQ(sim.spooler.xcvOpens, (Names{",XcvMonitor TolvoE"}));
}

TEST_F(PortLoadingWalk, PortLineGoesToTheRunLogToo) {
  ASSERT_TRUE(context.output.OpenRunLog(kLog));
  sim.WriteFile(kIni, "[1]\nServerIP=10.0.0.1\n");
  EXPECT_TRUE(Load());
  EXPECT_EQ(Log(), "    New - IP:10.0.0.1:9100, Desc:, Queue:, Type:1 \r\n");
}

TEST_F(PortLoadingWalk, NoFirstSectionCreatesNothing) {
  sim.WriteFile(kIni, "[2]\nServerIP=10.0.0.2\n");
  EXPECT_TRUE(Load());
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(sim.spooler.Ports().empty());
  EXPECT_TRUE(sim.spooler.XcvInputs().empty());
  EXPECT_EQ(sim.console, "");
}

TEST_F(PortLoadingWalk, NoConfigurationFileCreatesNothing) {
  EXPECT_TRUE(Load());
  EXPECT_EQ(count, 0);
  EXPECT_EQ(sim.console, "");
}

TEST_F(PortLoadingWalk, RefusedSecondPortEndsTheWalk) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\n[2]\nServerIP=b\n[3]\nServerIP=c\n");
  sim.spooler.SetCommandStatus("AddPort", 1450, 2);
  EXPECT_FALSE(Load());
  EXPECT_EQ(count, 1);
  EXPECT_EQ(sim.spooler.Ports(), (Names{"Tolvo001"}));
  EXPECT_EQ(sim.console,
            "    New - IP:a:9100, Desc:, Queue:, Type:1 \n"
            "Cannot write configuration, error code: 1450\n");
  EXPECT_EQ(sim.spooler.XcvCommands(), (Names{"AddPort", "SetPortData", "AddPort"}));
}

TEST_F(PortLoadingWalk, RejectedSettingsUndoThePortAndEndTheWalk) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\n[2]\nServerIP=b\n");
  sim.spooler.SetCommandStatus("SetPortData", 5);
  EXPECT_FALSE(Load());
  EXPECT_EQ(count, 0);
  EXPECT_EQ(sim.spooler.XcvCommands(), (Names{"AddPort", "SetPortData", "DeletePort"}));
  EXPECT_TRUE(sim.spooler.Ports().empty());
  EXPECT_EQ(sim.console, "Cannot write configuration, error code: 5\n");
}

TEST_F(PortLoadingWalk, ChannelNotOpenedFailsAtTheFirstConfiguredPort) {
  sim.spooler.monitors.clear();
  sim.WriteFile(kIni, "[1]\nServerIP=a\n");
  EXPECT_FALSE(Load());
  EXPECT_EQ(count, 0);
  EXPECT_EQ(sim.console, "Cannot open port monitor, error code: 1796\n");
}

TEST_F(PortLoadingWalk, ChannelNotOpenedWithoutConfigurationSucceeds) {
  sim.spooler.monitors.clear();
  EXPECT_TRUE(Load());
  EXPECT_EQ(count, 0);
  EXPECT_EQ(sim.console, "Cannot open port monitor, error code: 1796\n");
}

TEST_F(PortLoadingWalk, MissingXcvDataFailsSilentlyAtTheFirstConfiguredPort) {
  sim.SetExportMissing("winspool.drv", "XcvDataW");
  sim.WriteFile(kIni, "[1]\nServerIP=a\n");
  EXPECT_FALSE(Load());
  EXPECT_EQ(count, 0);
  EXPECT_EQ(sim.console, "");
  EXPECT_EQ(sim.CallCount("OpenPrinterW"), 1);
  EXPECT_EQ(sim.CallCount("ClosePrinter"), 1);
}

TEST_F(PortLoadingWalk, MissingXcvDataWithoutConfigurationSucceeds) {
  sim.SetExportMissing("winspool.drv", "XcvDataW");
  EXPECT_TRUE(Load());
  EXPECT_EQ(count, 0);
  EXPECT_EQ(sim.console, "");
}

TEST_F(PortLoadingWalk, RegistryGivesTheSamePortsAsTheFile) {
  sim.WriteFile(kIni,
                "[1]\nServerIP=10.0.0.1\nDescription=Hall\nServerPort=9200\n"
                "[2]\nServerIP=10.0.0.2\nQueue=color\nAuthType=2\nAuthText=pin\n");
  EXPECT_TRUE(Load());
  const std::string fileConsole = sim.console;
  const auto fileRecord1 = sim.spooler.StoredRecord("Tolvo001");
  const auto fileRecord2 = sim.spooler.StoredRecord("Tolvo002");
  ASSERT_EQ(count, 2);

  sim::SimWindows other;
  other.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL");
  RunContext otherContext(other);
  ASSERT_TRUE(other.registry.LoadRegText("[HKEY_LOCAL_MACHINE\\" + std::string(kRegistryRoot32) +
                                         "\\1]\n"
                                         "\"ServerIP\"=\"10.0.0.1\"\n"
                                         "\"Description\"=\"Hall\"\n"
                                         "\"ServerPort\"=dword:000023f0\n"
                                         "[HKEY_LOCAL_MACHINE\\" +
                                         std::string(kRegistryRoot32) +
                                         "\\2]\n"
                                         "\"ServerIP\"=\"10.0.0.2\"\n"
                                         "\"Queue\"=\"color\"\n"
                                         "\"AuthType\"=dword:00000002\n"
                                         "\"AuthText\"=\"pin\"\n"));
  int registryCount = -1;
  EXPECT_TRUE(
      LoadPortConfiguration(otherContext, PortConfigSource::Registry, registryCount, nullptr));
  EXPECT_EQ(registryCount, 2);
  EXPECT_EQ(other.console, fileConsole);
  EXPECT_EQ(other.spooler.StoredRecord("Tolvo001"), fileRecord1);
  EXPECT_EQ(other.spooler.StoredRecord("Tolvo002"), fileRecord2);
  EXPECT_TRUE(other.OpenResources().empty());
}

// With the password masked, the longest line fits the message buffer.
TEST_F(PortLoadingWalk, LongestPortLineIsWhole) {
  const std::string text(259, 'x');
  sim.WriteFile(kIni, "[1]\nServerIP=" + text + "\nDescription=" + text + "\nQueue=" + text +
                          "\nAuthType=-2147483648\nAuthText=" + text + "\n");
  EXPECT_TRUE(Load());
  EXPECT_EQ(sim.console, "    New - IP:" + text + ":9100, Desc:" + text + ", Queue:" + text +
                             ", Type:-2147483648 ********\n");
}

TEST_F(PortLoadingWalk, ServerNameReachesTheChannel) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\n");
  EXPECT_TRUE(Load(PortConfigSource::ConfigFile, "\\\\print1"));
  EXPECT_EQ(sim.spooler.xcvOpens, (Names{"\\\\print1\\,XcvMonitor Tolvo"}));
  EXPECT_EQ(count, 1);
}

TEST_F(PortLoadingWalk, TooLongServerNameIsRefused) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\n");
  const std::string server = "\\\\" + std::string(400, 'n');
  EXPECT_FALSE(Load(PortConfigSource::ConfigFile, server.c_str()));
  EXPECT_EQ(count, 0);
  EXPECT_EQ(sim.CallCount("OpenPrinterW"), 0);
  EXPECT_EQ(sim.console,
            "    ERROR - Cannot open port monitor: the server name is longer than 241 "
            "characters\n");
}

// Answers every section up to `sections` with a server address and every
// other key with its default, without parsing a file of a thousand sections
// some sixty times per port.
class ManySectionsMachine : public sim::SimWindows {
 public:
  explicit ManySectionsMachine(int sections) : sections_(sections) {}

  DWORD GetPrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR fallback, LPSTR out, DWORD size,
                                 LPCSTR /*file*/) override {
    Enter("GetPrivateProfileStringA");
    const std::string value =
        std::atoi(app) <= sections_ && std::strcmp(key, "ServerIP") == 0 ? "10.0.0.9" : fallback;
    std::snprintf(out, size, "%s", value.c_str());
    return static_cast<DWORD>(std::strlen(out));
  }
  UINT GetPrivateProfileIntA(LPCSTR /*app*/, LPCSTR /*key*/, INT fallback,
                             LPCSTR /*file*/) override {
    Enter("GetPrivateProfileIntA");
    return static_cast<UINT>(fallback);
  }

 private:
  int sections_;
};

// Ports TolvoE001 to TolvoE999 fit the nine-character port field; port
// 1000 would be cut to "TolvoE100" and overwrite that port's settings.
TEST(PortLoadingNameLimit, EnterpriseWalkStopsBeforeAPortNameLongerThanNine) {
  ManySectionsMachine machine(1001);
  RunContext context(machine);
  context.settings.SetIniPath(kIni);
  context.profile.SwitchToEnterprise();
  context.settings.enterpriseEdition = true;
  machine.spooler.AddMonitor("TolvoE", "TOLVOE64.DLL");
  int count = -1;
  EXPECT_FALSE(LoadPortConfiguration(context, PortConfigSource::ConfigFile, count, nullptr));
  EXPECT_EQ(count, 999);
  const Names ports = machine.spooler.Ports();
  ASSERT_EQ(ports.size(), 999u);
  EXPECT_EQ(ports.back(), "TolvoE999");
  EXPECT_EQ(machine.spooler.XcvInputs().size(), 999u * 2);
  const std::string lastLines =
      "    New - IP:10.0.0.9:9100, Desc:, Queue:, Type:1 \n"
      "    ERROR - Cannot create port TolvoE1000: the port name is longer than 9 characters\n";
  ASSERT_GE(machine.console.size(), lastLines.size());
  EXPECT_EQ(machine.console.substr(machine.console.size() - lastLines.size()), lastLines);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(PortLoadingWalk, StandardNameFormatOverTheLimitStopsTheWalk) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\n[2]\nServerIP=b\n");
  context.profile.portNameFormat = "TolvoLong%d";  // "TolvoLong1" has ten characters
  EXPECT_FALSE(Load());
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(sim.spooler.XcvInputs().empty());
  EXPECT_TRUE(sim.spooler.Ports().empty());
  EXPECT_EQ(sim.console,
            "    ERROR - Cannot create port TolvoLong1: the port name is longer than 9 "
            "characters\n");
}

TEST_F(PortLoadingWalk, FaultsLeaveNothingOpen) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\n[2]\nServerIP=b\n");
  const struct {
    const char* function;
    int occurrence;
  } faults[] = {
      {"LoadLibraryA", 1}, {"LoadLibraryA", 2}, {"GetProcAddress", 1},       {"GetProcAddress", 3},
      {"OpenPrinterW", 1}, {"XcvDataW", 3},     {"MultiByteToWideChar", 40},
  };
  for (const auto& fault : faults) {
    sim::SimWindows machine;
    machine.spooler.AddMonitor("Tolvo");
    machine.WriteFile(kIni, "[1]\nServerIP=a\n[2]\nServerIP=b\n");
    RunContext ctx(machine);
    ctx.settings.SetIniPath(kIni);
    machine.FailCall(fault.function, ERROR_ACCESS_DENIED, fault.occurrence);
    int ports = -1;
    EXPECT_FALSE(LoadPortConfiguration(ctx, PortConfigSource::ConfigFile, ports, nullptr))
        << fault.function << " " << fault.occurrence;
    EXPECT_GE(ports, 0);
    EXPECT_EQ(static_cast<std::size_t>(ports), machine.spooler.Ports().size())
        << fault.function << " " << fault.occurrence;
    EXPECT_TRUE(machine.OpenResources().empty()) << fault.function << " " << fault.occurrence;
  }
}

}  // namespace
}  // namespace tolvo
