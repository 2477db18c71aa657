#include "portconfig/monitor_channel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Utf16(std::string_view text, bool terminator = true) {
  Bytes bytes;
  for (char c : text) {
    bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(0);
  }
  if (terminator) {
    bytes.push_back(0);
    bytes.push_back(0);
  }
  return bytes;
}

class MonitorChannelTest : public ::testing::Test {
 protected:
  MonitorChannelTest() {
    std::memset(&config, 0, sizeof config);
    std::strcpy(config.ServerIP[0], "10.0.0.1");
    std::strcpy(config.PortName, "Tolvo001");
    sim.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL");
  }

  void UseEnterprise() {
    context.profile.SwitchToEnterprise();
    context.settings.enterpriseEdition = true;
    sim.spooler.AddMonitor("TolvoE", "TOLVOE64.DLL");
    std::strcpy(config.PortName, "TolvoE001");
  }

  // Opens the channel, creates one port, closes the channel.
  bool CreatePort(const char* monitor = "Tolvo") {
    MonitorChannel channel = OpenMonitorChannel(context, nullptr, monitor);
    EXPECT_TRUE(channel.ready());
    const bool created = CreateMonitorPort(context, channel, config);
    CloseMonitorChannel(context, channel);
    EXPECT_TRUE(sim.OpenResources().empty());
    return created;
  }

  sim::SimWindows sim;
  RunContext context{sim};
  PortConfiguration config;
};

// --- The port-data record -----------------------------------------------------

// The wire layout the monitor reads, written out here on its own so that
// the record is checked against it and not against the code that writes it.
struct FieldAt {
  const char* name;
  std::size_t offset;
  bool text;
};
const FieldAt kLayout[] = {
    {"Description", 0, true},
    {"ServerIP", 520, true},
    {"ServerIP2", 1040, true},
    {"ServerIP3", 1560, true},
    {"ServerIP4", 2080, true},
    {"ServerIP5", 2600, true},
    {"ServerIP6", 3120, true},
    {"ServerIP7", 3640, true},
    {"ServerIP8", 4160, true},
    {"ServerIP9", 4680, true},
    {"ServerIP10", 5200, true},
    {"ServerPort", 0x1658, false},
    {"LoadBalancing", 0x165C, false},
    {"RefreshIPList", 0x1660, false},
    {"Queue", 0x1664, true},
    {"AuthType", 0x186C, false},
    {"AuthText", 0x1870, true},
    {"ComPort", 0x1A78, true},
    {"Projects", 0x1C80, false},
    {"Compression", 0x1C84, false},
    {"FaxServer", 0x1C88, false},
    {"LogToFile", 0x1C8C, false},
    {"Encryption", 0x1C90, false},
    {"DefaultProjectID", 0x1C94, false},
    {"DisableServerCommunication", 0x1C98, false},
    {"CurrentUserNameFormat", 0x1C9C, true},
    {"ProtocolLevel", 0x1EA4, false},
    {"JobOwnerMethod", 0x1EA8, false},
    {"LogFilePath", 0x1EAC, true},
    {"NetworkTimeout", 0x20B4, false},
    {"ParserDPI", 0x20B8, false},
    {"PriceEstimation", 0x20BC, false},
    {"PopupsForBWPrint", 0x20C0, false},
    {"BWPrintTempDir", 0x20C4, true},
    {"IPLoadBalancing", 0x22CC, false},
    {"IPLoadBalancing2", 0x22D0, false},
    {"IPLoadBalancing3", 0x22D4, false},
    {"IPLoadBalancing4", 0x22D8, false},
    {"IPLoadBalancing5", 0x22DC, false},
    {"IPLoadBalancing6", 0x22E0, false},
    {"IPLoadBalancing7", 0x22E4, false},
    {"IPLoadBalancing8", 0x22E8, false},
    {"IPLoadBalancing9", 0x22EC, false},
    {"IPLoadBalancing10", 0x22F0, false},
    {"SavePassword", 0x22F4, false},
    {"NoProjectOption", 0x22F8, false},
    {"Note", 0x22FC, true},
    {"LBNetworkTimeout", 0x2504, false},
    {"RedirectToIP", 0x2508, true},
    {"LogFileSizeLimit", 0x2710, false},
    {"LogFileCount", 0x2714, false},
    {"SSLCertificateVerification", 0x2718, false},
};

// A distinct value per field: the field's own name for texts (with a
// Latin-1 letter to see the code page at work), and a number whose four
// bytes differ for integers.
std::string TextValue(const char* name) {
  return std::string(name) + "\xE9";
}
std::int32_t IntegerValue(std::size_t index) {
  return static_cast<std::int32_t>(0x41000000u + (index << 16) + (index << 8) + 0x10 + index);
}

void FillConfiguration(PortConfiguration& c) {
  std::size_t index = 0;
  auto text = [&](char* field) { std::strcpy(field, TextValue(kLayout[index++].name).c_str()); };
  auto integer = [&](std::int32_t& field) {
    field = IntegerValue(index);
    ++index;
  };
  text(c.Description);
  for (int k = 0; k < 10; ++k) {
    text(c.ServerIP[k]);
  }
  integer(c.ServerPort);
  integer(c.LoadBalancing);
  integer(c.RefreshIPList);
  text(c.Queue);
  integer(c.AuthType);
  text(c.AuthText);
  text(c.ComPort);
  integer(c.Projects);
  integer(c.Compression);
  integer(c.FaxServer);
  integer(c.LogToFile);
  integer(c.Encryption);
  integer(c.DefaultProjectID);
  integer(c.DisableServerCommunication);
  text(c.CurrentUserNameFormat);
  integer(c.ProtocolLevel);
  integer(c.JobOwnerMethod);
  text(c.LogFilePath);
  integer(c.NetworkTimeout);
  integer(c.ParserDPI);
  integer(c.PriceEstimation);
  integer(c.PopupsForBWPrint);
  text(c.BWPrintTempDir);
  for (int k = 0; k < 10; ++k) {
    integer(c.IPLoadBalancing[k]);
  }
  integer(c.SavePassword);
  integer(c.NoProjectOption);
  text(c.Note);
  integer(c.LBNetworkTimeout);
  text(c.RedirectToIP);
  integer(c.LogFileSizeLimit);
  integer(c.LogFileCount);
  integer(c.SSLCertificateVerification);
  ASSERT_EQ(index, std::size(kLayout));
}

TEST_F(MonitorChannelTest, EveryFieldSitsAtItsOffset) {
  FillConfiguration(config);
  ASSERT_TRUE(CreatePort());
  const auto stored = sim.spooler.StoredRecord("Tolvo001");
  ASSERT_TRUE(stored.has_value());
  ASSERT_EQ(stored->size(), 10032u);

  Bytes expected(10032, 0);
  for (std::size_t i = 0; i < std::size(kLayout); ++i) {
    const FieldAt& field = kLayout[i];
    if (field.text) {
      const Bytes text = Utf16(TextValue(field.name));
      std::copy(text.begin(), text.end(), expected.begin() + field.offset);
    } else {
      const auto value = static_cast<std::uint32_t>(IntegerValue(i));
      for (int b = 0; b < 4; ++b) {
        expected[field.offset + b] = static_cast<std::uint8_t>(value >> (8 * b));
      }
    }
  }
  const Bytes name = Utf16("Tolvo001");
  std::copy(name.begin(), name.end(), expected.begin() + 10012);

  for (std::size_t i = 0; i < std::size(kLayout); ++i) {
    const std::size_t offset = kLayout[i].offset;
    const std::size_t size = kLayout[i].text ? 520 : 4;
    EXPECT_TRUE(std::equal(expected.begin() + offset, expected.begin() + offset + size,
                           stored->begin() + offset))
        << kLayout[i].name << " at " << offset;
  }
  EXPECT_EQ(*stored, expected);  // and nothing anywhere else
}

TEST_F(MonitorChannelTest, StandardPortNameSlotAndAddPortInput) {
  ASSERT_TRUE(CreatePort());
  const auto& inputs = sim.spooler.XcvInputs();
  ASSERT_EQ(sim.spooler.XcvCommands(), (std::vector<std::string>{"AddPort", "SetPortData"}));
  EXPECT_EQ(inputs[0].data, Utf16("Tolvo001"));
  EXPECT_EQ(inputs[0].data.size(), 18u);
  EXPECT_EQ(inputs[0].monitor, "Tolvo");
  const Bytes slot(inputs[1].data.begin() + 10012, inputs[1].data.end());
  Bytes expected = Utf16("Tolvo001");
  expected.resize(20, 0);
  EXPECT_EQ(slot, expected);
  EXPECT_EQ(sim.spooler.Ports(), (std::vector<std::string>{"Tolvo001"}));
}

TEST_F(MonitorChannelTest, EnterprisePortNameFillsTheSlot) {
  UseEnterprise();
  ASSERT_TRUE(CreatePort("TolvoE"));
  const auto& inputs = sim.spooler.XcvInputs();
  ASSERT_EQ(inputs.size(), 2u);
  EXPECT_EQ(inputs[0].data, Utf16("TolvoE001"));
  EXPECT_EQ(inputs[0].data.size(), 20u);
  const Bytes slot(inputs[1].data.begin() + 10012, inputs[1].data.begin() + 10030);
  EXPECT_EQ(slot, Utf16("TolvoE001", false));
  EXPECT_EQ(inputs[1].data[10030], 0);
  EXPECT_EQ(inputs[1].data[10031], 0);
  EXPECT_TRUE(sim.spooler.StoredRecord("TolvoE001").has_value());
}

TEST_F(MonitorChannelTest, LongestDescriptionKeepsItsTerminator) {
  const std::string description(259, 'D');
  std::strcpy(config.Description, description.c_str());
  ASSERT_TRUE(CreatePort());
  const auto stored = sim.spooler.StoredRecord("Tolvo001");
  ASSERT_TRUE(stored.has_value());
  EXPECT_EQ(Bytes(stored->begin(), stored->begin() + 520), Utf16(description));
  EXPECT_EQ(Bytes(stored->begin() + 520, stored->begin() + 538), Utf16("10.0.0.1"));
}

TEST_F(MonitorChannelTest, PortNameLongerThanTheSlotIsNeverSent) {
  static_assert(sizeof config.PortName == 10);
  std::memcpy(config.PortName, "Tolvo1000X", 10);  // all ten bytes, no terminator
  MonitorChannel channel = OpenMonitorChannel(context, nullptr, "Tolvo");
  EXPECT_FALSE(CreateMonitorPort(context, channel, config));
  config.PortName[0] = '\0';
  EXPECT_FALSE(CreateMonitorPort(context, channel, config));
  CloseMonitorChannel(context, channel);
  EXPECT_TRUE(sim.spooler.XcvInputs().empty());
  // No call failed: the error reported is the refusal's own, not a stale one.
  EXPECT_EQ(sim.console,
            "Cannot write configuration, error code: 87\n"
            "Cannot write configuration, error code: 87\n");
  EXPECT_TRUE(sim.OpenResources().empty());
}

// --- Opening and closing ------------------------------------------------------

TEST_F(MonitorChannelTest, OpensLocalChannelFromTheSystemDirectory) {
  MonitorChannel channel = OpenMonitorChannel(context, nullptr, "Tolvo");
  EXPECT_TRUE(channel.ready());
  EXPECT_EQ(sim.loadLibraryArguments,
            (std::vector<std::string>{"C:\\Windows\\system32\\winspool.drv",
                                      "C:\\Windows\\system32\\kernel32.dll"}));
  EXPECT_EQ(sim.spooler.xcvOpens, (std::vector<std::string>{",XcvMonitor Tolvo"}));
  EXPECT_EQ(sim.spooler.xcvOpenAccess, (std::vector<DWORD>{SERVER_ACCESS_ADMINISTER}));
  EXPECT_EQ(sim.OpenCount(sim::HandleKind::Module), 2u);
  EXPECT_EQ(sim.OpenCount(sim::HandleKind::Printer), 1u);
  CloseMonitorChannel(context, channel);
  EXPECT_FALSE(channel.ready());
  EXPECT_TRUE(sim.OpenResources().empty());
  EXPECT_EQ(sim.console, "");
}

TEST_F(MonitorChannelTest, ServerNameIsFollowedByOneBackslash) {
  MonitorChannel channel = OpenMonitorChannel(context, "\\\\print1", "Tolvo");
  EXPECT_TRUE(channel.ready());
  EXPECT_EQ(sim.spooler.xcvOpens, (std::vector<std::string>{"\\\\print1\\,XcvMonitor Tolvo"}));
  CloseMonitorChannel(context, channel);
  EXPECT_TRUE(sim.OpenResources().empty());
}

TEST_F(MonitorChannelTest, ServerNameTooLongForTheOpenTextIsRefused) {
  // "\\" + 239 characters + "\,XcvMonitor Tolvo" is exactly 259 characters.
  const std::string longest = "\\\\" + std::string(239, 's');
  MonitorChannel fits = OpenMonitorChannel(context, longest.c_str(), "Tolvo");
  EXPECT_TRUE(fits.ready());
  CloseMonitorChannel(context, fits);
  ASSERT_EQ(sim.spooler.xcvOpens.size(), 1u);
  EXPECT_EQ(sim.spooler.xcvOpens[0].size(), 259u);

  const std::string tooLong = longest + "s";
  MonitorChannel refused = OpenMonitorChannel(context, tooLong.c_str(), "Tolvo");
  EXPECT_FALSE(refused.ready());
  EXPECT_EQ(sim.CallCount("OpenPrinterW"), 1);
  EXPECT_EQ(sim.console,
            "    ERROR - Cannot open port monitor: the server name is longer than 241 "
            "characters\n");
  CloseMonitorChannel(context, refused);
  EXPECT_TRUE(sim.OpenResources().empty());
}

TEST_F(MonitorChannelTest, UnknownMonitorCannotBeOpened) {
  MonitorChannel channel = OpenMonitorChannel(context, nullptr, "Other");
  EXPECT_FALSE(channel.ready());
  EXPECT_EQ(sim.console, "Cannot open port monitor, error code: 1796\n");
  CloseMonitorChannel(context, channel);
  EXPECT_TRUE(sim.OpenResources().empty());
}

TEST_F(MonitorChannelTest, MissingXcvDataKeepsTheHandleButIsNotReady) {
  sim.SetExportMissing("winspool.drv", "XcvDataW");
  MonitorChannel channel = OpenMonitorChannel(context, nullptr, "Tolvo");
  EXPECT_FALSE(channel.ready());
  EXPECT_TRUE(channel.handle.valid());
  EXPECT_FALSE(CreateMonitorPort(context, channel, config));
  CloseMonitorChannel(context, channel);
  EXPECT_EQ(sim.CallCount("ClosePrinter"), 1);
  EXPECT_TRUE(sim.OpenResources().empty());
  EXPECT_EQ(sim.console, "");
}

TEST_F(MonitorChannelTest, MissingModulesOrEntryPointsLeaveNoTrace) {
  struct Case {
    const char* what;
    void (*arrange)(sim::SimWindows&);
    int openPrinterCalls;
  };
  const Case cases[] = {
      {"winspool missing", [](sim::SimWindows& s) { s.SetModuleMissing("winspool.drv"); }, 0},
      {"kernel32 missing", [](sim::SimWindows& s) { s.SetModuleMissing("kernel32.dll"); }, 0},
      {"first load fails",
       [](sim::SimWindows& s) { s.FailCall("LoadLibraryA", ERROR_MOD_NOT_FOUND, 1); }, 0},
      {"second load fails",
       [](sim::SimWindows& s) { s.FailCall("LoadLibraryA", ERROR_MOD_NOT_FOUND, 2); }, 0},
      {"OpenPrinterW missing",
       [](sim::SimWindows& s) { s.SetExportMissing("winspool.drv", "OpenPrinterW"); }, 0},
      {"MultiByteToWideChar missing",
       [](sim::SimWindows& s) { s.SetExportMissing("kernel32.dll", "MultiByteToWideChar"); }, 0},
      {"no system directory",
       [](sim::SimWindows& s) { s.FailCall("GetSystemDirectoryA", ERROR_ACCESS_DENIED); }, 0},
  };
  for (const Case& c : cases) {
    sim::SimWindows machine;
    machine.spooler.AddMonitor("Tolvo");
    RunContext ctx(machine);
    c.arrange(machine);
    MonitorChannel channel = OpenMonitorChannel(ctx, nullptr, "Tolvo");
    EXPECT_FALSE(channel.ready()) << c.what;
    EXPECT_EQ(machine.CallCount("OpenPrinterW"), c.openPrinterCalls) << c.what;
    CloseMonitorChannel(ctx, channel);
    EXPECT_TRUE(machine.OpenResources().empty()) << c.what;
    EXPECT_EQ(machine.console, "") << c.what;
    for (const std::string& loaded : machine.loadLibraryArguments) {
      EXPECT_EQ(loaded.rfind("C:\\Windows\\system32\\", 0), 0u) << c.what << ": " << loaded;
    }
  }
}

TEST_F(MonitorChannelTest, ChannelReleasesEverythingWhenDroppedUnclosed) {
  {
    MonitorChannel channel = OpenMonitorChannel(context, nullptr, "Tolvo");
    EXPECT_TRUE(channel.ready());
  }
  EXPECT_TRUE(sim.OpenResources().empty());
}

// --- Creating a port ------------------------------------------------------------

TEST_F(MonitorChannelTest, RefusedAddPortSendsNothingMore) {
  sim.spooler.SetCommandStatus("AddPort", 1796);
  EXPECT_FALSE(CreatePort());
  EXPECT_EQ(sim.spooler.XcvCommands(), (std::vector<std::string>{"AddPort"}));
  EXPECT_EQ(sim.console, "Cannot write configuration, error code: 1796\n");
}

TEST_F(MonitorChannelTest, ExistingPortIsRefusedByTheMonitor) {
  sim.spooler.AddPort("Tolvo001", "Tolvo");
  EXPECT_FALSE(CreatePort());
  EXPECT_EQ(sim.spooler.XcvCommands(), (std::vector<std::string>{"AddPort"}));
  EXPECT_EQ(sim.console, "Cannot write configuration, error code: 183\n");
  EXPECT_EQ(sim.spooler.Ports(), (std::vector<std::string>{"Tolvo001"}));
}

TEST_F(MonitorChannelTest, FailedAddPortCallReportsItsError) {
  sim.FailCall("XcvDataW", 1722, 1);
  EXPECT_FALSE(CreatePort());
  EXPECT_EQ(sim.CallCount("XcvDataW"), 1);
  EXPECT_EQ(sim.console, "Cannot write configuration, error code: 1722\n");

  // A failure without a last error is still one.
  sim.console.clear();
  sim.FailCall("XcvDataW", ERROR_SUCCESS, 2);
  EXPECT_FALSE(CreatePort());
  EXPECT_EQ(sim.console, "Cannot write configuration, error code: 1\n");
}

TEST_F(MonitorChannelTest, RejectedSettingsDeleteThePortAgain) {
  sim.spooler.SetCommandStatus("SetPortData", 5);
  sim.spooler.SetCommandStatus("DeletePort", 31);  // its answer does not matter
  EXPECT_FALSE(CreatePort());
  EXPECT_EQ(sim.spooler.XcvCommands(),
            (std::vector<std::string>{"AddPort", "SetPortData", "DeletePort"}));
  EXPECT_EQ(sim.spooler.XcvInputs()[2].data, Utf16("Tolvo001"));
  EXPECT_EQ(sim.console, "Cannot write configuration, error code: 5\n");
}

TEST_F(MonitorChannelTest, DeletePortRemovesThePortTheWriteFailedFor) {
  sim.spooler.SetCommandStatus("SetPortData", 5);
  EXPECT_FALSE(CreatePort());
  EXPECT_TRUE(sim.spooler.Ports().empty());
}

TEST_F(MonitorChannelTest, FailedSettingsCallReportsItsOwnError) {
  sim.FailCall("XcvDataW", ERROR_INVALID_HANDLE, 2);
  EXPECT_FALSE(CreatePort());
  EXPECT_EQ(sim.spooler.XcvCommands(), (std::vector<std::string>{"AddPort", "DeletePort"}));
  EXPECT_EQ(sim.console, "Cannot write configuration, error code: 6\n");
  EXPECT_TRUE(sim.spooler.Ports().empty());
}

TEST_F(MonitorChannelTest, FailedConversionSendsNoCommand) {
  sim.FailCall("MultiByteToWideChar", ERROR_NOT_ENOUGH_MEMORY, 6);  // a server address
  EXPECT_FALSE(CreatePort());
  EXPECT_TRUE(sim.spooler.XcvInputs().empty());
  EXPECT_EQ(sim.console, "Cannot write configuration, error code: 8\n");
}

}  // namespace
}  // namespace tolvo
