#include "portconfig/port_configuration.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

constexpr const char* kIni = "C:\\Kit\\Tolvo.ini";
// A 32-bit installer on 64-bit Windows reads the registry's 32-bit view.
constexpr const char* kRegistryRoot32 =
    "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\PortInstallCfg";

// Records the key of every profile read, in order.
class RecordingMachine : public sim::SimWindows {
 public:
  DWORD GetPrivateProfileStringA(LPCSTR app, LPCSTR key, LPCSTR fallback, LPSTR out, DWORD size,
                                 LPCSTR file) override {
    keys.push_back(std::string(key) + (size == 260 ? ":text" : ":text?"));
    return SimWindows::GetPrivateProfileStringA(app, key, fallback, out, size, file);
  }
  UINT GetPrivateProfileIntA(LPCSTR app, LPCSTR key, INT fallback, LPCSTR file) override {
    keys.push_back(std::string(key) + ":" + std::to_string(fallback));
    return SimWindows::GetPrivateProfileIntA(app, key, fallback, file);
  }
  std::vector<std::string> keys;
};

class ReadPortConfigurationTest : public ::testing::Test {
 protected:
  ReadPortConfigurationTest() { context.settings.SetIniPath(kIni); }

  void UseEnterprise() {
    context.profile.SwitchToEnterprise();
    context.settings.enterpriseEdition = true;
  }

  bool Read(int port, PortConfigSource source = PortConfigSource::ConfigFile) {
    std::memset(&config, 0xAB, sizeof config);  // the read must clear it
    return ReadPortConfiguration(context, source, port, config);
  }

  RecordingMachine sim;
  RunContext context{sim};
  PortConfiguration config;
};

void ExpectDefaults(const PortConfiguration& c) {
  EXPECT_EQ(c.ServerPort, 9100);
  EXPECT_EQ(c.LoadBalancing, 1);
  EXPECT_EQ(c.RefreshIPList, 1);
  EXPECT_EQ(c.AuthType, 1);
  EXPECT_EQ(c.ProtocolLevel, 4);
  EXPECT_EQ(c.NetworkTimeout, 60);
  EXPECT_EQ(c.ParserDPI, 72);
  EXPECT_EQ(c.NoProjectOption, 1);
  EXPECT_EQ(c.LBNetworkTimeout, 60);
  EXPECT_EQ(c.LogFileSizeLimit, 20);
  EXPECT_EQ(c.LogFileCount, 3);
  for (std::int32_t zero :
       {c.Projects, c.Compression, c.FaxServer, c.LogToFile, c.Encryption, c.DefaultProjectID,
        c.DisableServerCommunication, c.JobOwnerMethod, c.PriceEstimation, c.PopupsForBWPrint,
        c.SavePassword, c.SSLCertificateVerification}) {
    EXPECT_EQ(zero, 0);
  }
  for (int k = 0; k < kServerAddressCount; ++k) {
    EXPECT_EQ(c.IPLoadBalancing[k], 0);
  }
  for (const char* text : {c.Description, c.Queue, c.AuthText, c.ComPort, c.CurrentUserNameFormat,
                           c.LogFilePath, c.BWPrintTempDir, c.Note, c.RedirectToIP}) {
    EXPECT_STREQ(text, "");
  }
  for (int k = 1; k < kServerAddressCount; ++k) {
    EXPECT_STREQ(c.ServerIP[k], "");
  }
}

TEST_F(ReadPortConfigurationTest, OnlyServerIpGivesEveryDefault) {
  sim.WriteFile(kIni, "[1]\nServerIP=10.1.1.1\n");
  ASSERT_TRUE(Read(1));
  EXPECT_STREQ(config.ServerIP[0], "10.1.1.1");
  EXPECT_STREQ(config.PortName, "Tolvo001");
  ExpectDefaults(config);
}

TEST_F(ReadPortConfigurationTest, ReadsEveryKeyInTableOrderWithItsDefault) {
  sim.WriteFile(kIni, "[3]\nServerIP=a\n");
  ASSERT_TRUE(Read(3));
  std::vector<std::string> expected = {"Description:text"};
  for (int k = 1; k <= 10; ++k) {
    const std::string suffix = k == 1 ? "" : std::to_string(k);
    expected.push_back("ServerIP" + suffix + ":text");
    expected.push_back("IPLoadBalancing" + suffix + ":0");
  }
  for (const char* key : {"ServerPort:9100",
                          "LoadBalancing:1",
                          "RefreshIPList:1",
                          "Queue:text",
                          "AuthType:1",
                          "AuthText:text",
                          "ComPort:text",
                          "Projects:0",
                          "Compression:0",
                          "FaxServer:0",
                          "LogToFile:0",
                          "Encryption:0",
                          "DefaultProjectID:0",
                          "DisableServerCommunication:0",
                          "ProtocolLevel:4",
                          "JobOwnerMethod:0",
                          "NetworkTimeout:60",
                          "PriceEstimation:0",
                          "PopupsForBWPrint:0",
                          "ParserDPI:72",
                          "SavePassword:0",
                          "NoProjectOption:1",
                          "LBNetworkTimeout:60",
                          "LogFileSizeLimit:20",
                          "LogFileCount:3",
                          "SSLCertificateVerification:0",
                          "CurrentUserNameFormat:text",
                          "LogFilePath:text",
                          "BWPrintTempDir:text",
                          "Note:text",
                          "RedirectToIP:text"}) {
    expected.push_back(key);
  }
  EXPECT_EQ(sim.keys, expected);
}

TEST_F(ReadPortConfigurationTest, EveryKeyLandsInItsOwnField) {
  std::string ini = "[2]\nDescription=desc\n";
  for (int k = 1; k <= 10; ++k) {
    const std::string suffix = k == 1 ? "" : std::to_string(k);
    ini += "ServerIP" + suffix + "=ip" + std::to_string(k) + "\n";
    ini += "IPLoadBalancing" + suffix + "=" + std::to_string(100 + k) + "\n";
  }
  ini +=
      "ServerPort=1\nLoadBalancing=2\nRefreshIPList=3\nQueue=queue\nAuthType=4\n"
      "AuthText=auth\nComPort=COM7\nProjects=5\nCompression=6\nFaxServer=7\nLogToFile=8\n"
      "Encryption=9\nDefaultProjectID=10\nDisableServerCommunication=11\nProtocolLevel=12\n"
      "JobOwnerMethod=13\nNetworkTimeout=14\nPriceEstimation=15\nPopupsForBWPrint=16\n"
      "ParserDPI=17\nSavePassword=18\nNoProjectOption=19\nLBNetworkTimeout=20\n"
      "LogFileSizeLimit=21\nLogFileCount=22\nSSLCertificateVerification=23\n"
      "CurrentUserNameFormat=%u\nLogFilePath=C:\\log\nBWPrintTempDir=C:\\bw\nNote=note\n"
      "RedirectToIP=10.9.9.9\n";
  sim.WriteFile(kIni, ini);
  ASSERT_TRUE(Read(2));
  EXPECT_STREQ(config.Description, "desc");
  for (int k = 1; k <= 10; ++k) {
    EXPECT_EQ(std::string(config.ServerIP[k - 1]), "ip" + std::to_string(k));
    EXPECT_EQ(config.IPLoadBalancing[k - 1], 100 + k);
  }
  const std::int32_t integers[] = {config.ServerPort,
                                   config.LoadBalancing,
                                   config.RefreshIPList,
                                   config.AuthType,
                                   config.Projects,
                                   config.Compression,
                                   config.FaxServer,
                                   config.LogToFile,
                                   config.Encryption,
                                   config.DefaultProjectID,
                                   config.DisableServerCommunication,
                                   config.ProtocolLevel,
                                   config.JobOwnerMethod,
                                   config.NetworkTimeout,
                                   config.PriceEstimation,
                                   config.PopupsForBWPrint,
                                   config.ParserDPI,
                                   config.SavePassword,
                                   config.NoProjectOption,
                                   config.LBNetworkTimeout,
                                   config.LogFileSizeLimit,
                                   config.LogFileCount,
                                   config.SSLCertificateVerification};
  for (std::size_t i = 0; i < std::size(integers); ++i) {
    EXPECT_EQ(integers[i], static_cast<std::int32_t>(i + 1)) << "integer key " << i;
  }
  EXPECT_STREQ(config.Queue, "queue");
  EXPECT_STREQ(config.AuthText, "auth");
  EXPECT_STREQ(config.ComPort, "COM7");
  EXPECT_STREQ(config.CurrentUserNameFormat, "%u");
  EXPECT_STREQ(config.LogFilePath, "C:\\log");
  EXPECT_STREQ(config.BWPrintTempDir, "C:\\bw");
  EXPECT_STREQ(config.Note, "note");
  EXPECT_STREQ(config.RedirectToIP, "10.9.9.9");
  EXPECT_STREQ(config.PortName, "Tolvo002");
}

TEST_F(ReadPortConfigurationTest, SecondAddressWithoutFirstIsNotConfigured) {
  sim.WriteFile(kIni, "[1]\nServerIP2=10.0.0.2\nDescription=x\nServerPort=1\n");
  EXPECT_FALSE(Read(1));
  // Nothing after the address pairs is consulted.
  EXPECT_EQ(sim.keys.size(), 21u);
  EXPECT_EQ(sim.keys.back(), "IPLoadBalancing10:0");
}

TEST_F(ReadPortConfigurationTest, GapInAddressesIsPassedThrough) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\nServerIP3=c\nIPLoadBalancing3=7\n");
  ASSERT_TRUE(Read(1));
  EXPECT_STREQ(config.ServerIP[0], "a");
  EXPECT_STREQ(config.ServerIP[1], "");
  EXPECT_STREQ(config.ServerIP[2], "c");
  EXPECT_EQ(config.IPLoadBalancing[2], 7);
}

TEST_F(ReadPortConfigurationTest, MissingFileOrSectionIsNotConfigured) {
  EXPECT_FALSE(Read(1));
  sim.WriteFile(kIni, "[2]\nServerIP=a\n");
  EXPECT_FALSE(Read(1));
}

TEST_F(ReadPortConfigurationTest, LongTextIsCutTo259Characters) {
  sim.WriteFile(kIni, "[1]\nServerIP=a\nDescription=" + std::string(300, 'd') + "\n");
  ASSERT_TRUE(Read(1));
  EXPECT_EQ(std::string(config.Description), std::string(259, 'd'));
}

constexpr const char* kEnterpriseRuleIni =
    "[1]\nServerIP=a\nDisableServerCommunication=1\nEncryption=1\nRefreshIPList=1\n";

TEST_F(ReadPortConfigurationTest, EnterpriseRuleClearsEncryptionAndRefresh) {
  UseEnterprise();
  sim.WriteFile(kIni, kEnterpriseRuleIni);
  ASSERT_TRUE(Read(1));
  EXPECT_EQ(config.DisableServerCommunication, 1);
  EXPECT_EQ(config.Encryption, 0);
  EXPECT_EQ(config.RefreshIPList, 0);
  EXPECT_STREQ(config.PortName, "TolvoE001");
}

TEST_F(ReadPortConfigurationTest, EnterpriseRuleLeavesOtherCasesAlone) {
  sim.WriteFile(kIni, kEnterpriseRuleIni);
  ASSERT_TRUE(Read(1));  // Standard edition
  EXPECT_EQ(config.Encryption, 1);
  EXPECT_EQ(config.RefreshIPList, 1);

  UseEnterprise();
  sim.WriteFile(kIni, "[1]\nServerIP=a\nDisableServerCommunication=0\nEncryption=1\n");
  ASSERT_TRUE(Read(1));
  EXPECT_EQ(config.Encryption, 1);
  EXPECT_EQ(config.RefreshIPList, 1);
}

TEST_F(ReadPortConfigurationTest, PortNamesAndTheNineCharacterLimit) {
  const struct {
    bool enterprise;
    int port;
    const char* name;
  } cases[] = {
      {false, 7, "Tolvo007"},     {false, 12, "Tolvo012"}, {false, 1000, "Tolvo1000"},
      {false, 9999, "Tolvo9999"}, {false, 10000, ""},      {true, 7, "TolvoE007"},
      {true, 999, "TolvoE999"},   {true, 1000, ""},
  };
  for (const auto& c : cases) {
    if (c.enterprise) {
      UseEnterprise();
    }
    sim.WriteFile(kIni, "[" + std::to_string(c.port) + "]\nServerIP=a\n");
    ASSERT_TRUE(Read(c.port)) << c.port;
    EXPECT_STREQ(config.PortName, c.name) << c.port;
  }
}

TEST_F(ReadPortConfigurationTest, RegistrySubkeyGivesTheSameRecordAsTheFile) {
  sim.WriteFile(kIni, "[1]\nServerIP=10.1.1.1\n");
  ASSERT_TRUE(Read(1));
  const PortConfiguration fromFile = config;

  sim.registry.SetString(std::string(kRegistryRoot32) + "\\1", "ServerIP", "10.1.1.1");
  ASSERT_TRUE(Read(1, PortConfigSource::Registry));
  EXPECT_EQ(std::memcmp(&fromFile, &config, sizeof config), 0);
  EXPECT_TRUE(sim.OpenResources().empty());
}

TEST_F(ReadPortConfigurationTest, RegistryValuesFillTheRecord) {
  const std::string key = std::string(kRegistryRoot32) + "\\4";
  sim.registry.SetString(key, "ServerIP", "srv");
  sim.registry.SetString(key, "ServerIP3", "srv3");
  sim.registry.SetDword(key, "IPLoadBalancing3", 5);
  sim.registry.SetString(key, "Queue", "q");
  sim.registry.SetDword(key, "ServerPort", 631);
  sim.registry.SetDword(key, "AuthType", 0xFFFFFFFFu);
  ASSERT_TRUE(Read(4, PortConfigSource::Registry));
  EXPECT_STREQ(config.ServerIP[0], "srv");
  EXPECT_STREQ(config.ServerIP[2], "srv3");
  EXPECT_EQ(config.IPLoadBalancing[2], 5);
  EXPECT_STREQ(config.Queue, "q");
  EXPECT_EQ(config.ServerPort, 631);
  EXPECT_EQ(config.AuthType, -1);
  EXPECT_EQ(config.ParserDPI, 72);
  EXPECT_STREQ(config.PortName, "Tolvo004");
  EXPECT_TRUE(sim.OpenResources().empty());
}

TEST_F(ReadPortConfigurationTest, RegistryWithoutSubkeyIsNotConfigured) {
  sim.WriteFile(kIni, "[1]\nServerIP=from the file\n");
  EXPECT_FALSE(Read(1, PortConfigSource::Registry));
  EXPECT_TRUE(sim.keys.empty());  // the file is not consulted
}

TEST_F(ReadPortConfigurationTest, EnterpriseRegistryKey) {
  UseEnterprise();
  sim.registry.SetString("SOFTWARE\\Wow6432Node\\Kestrum Corporation\\TolvoE\\PortInstallCfg\\1",
                         "ServerIP", "e");
  ASSERT_TRUE(Read(1, PortConfigSource::Registry));
  EXPECT_STREQ(config.ServerIP[0], "e");
}

}  // namespace
}  // namespace tolvo
