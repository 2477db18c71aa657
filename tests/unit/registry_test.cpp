#include "winenv/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

using sim::SimWindows;

constexpr const char* kRoot = "SOFTWARE\\Kestrum Corporation\\Tolvo\\PortInstallCfg";
constexpr const char* kPortKey = "SOFTWARE\\Kestrum Corporation\\Tolvo\\PortInstallCfg\\1";
constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunKey32 = "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { machine.version.wow64 = false; }  // one view unless a test says so

  // Reads kPortKey's value into a buffer pre-filled with 0xEE so that bytes
  // the reader leaves alone show up.
  std::string ReadString(const char* name, const char* defaultValue, DWORD size) {
    buffer.assign(size + 4, '\xEE');
    ReadRegistryString(machine, "1", name, defaultValue, buffer.data(), size, kRoot, 0);
    EXPECT_EQ(std::string(buffer.data() + size, 4), std::string(4, '\xEE'))
        << "written past the buffer";
    EXPECT_NE(std::memchr(buffer.data(), '\0', size), nullptr) << "no NUL within the buffer";
    EXPECT_TRUE(machine.OpenResources().empty());
    return std::string(buffer.data());
  }

  SimWindows machine;
  std::vector<char> buffer;
};

TEST_F(RegistryTest, StringMissingKeyOrValueLeavesExactlyTheDefault) {
  EXPECT_EQ(ReadString("ServerIP", "dflt", 260), "dflt");
  // The rest of the buffer is zero, not what was there before.
  EXPECT_EQ(std::string(buffer.data(), 260), std::string("dflt") + std::string(256, '\0'));
  machine.registry.SetString(kPortKey, "Other", "x");
  EXPECT_EQ(ReadString("ServerIP", "dflt", 260), "dflt");
}

TEST_F(RegistryTest, StringDefaultLongerThanBufferIsCut) {
  EXPECT_EQ(ReadString("ServerIP", "abcdefghij", 5), "abcd");
}

TEST_F(RegistryTest, StringReadsStoredValue) {
  machine.registry.SetString(kPortKey, "serverip", "10.0.0.7");
  EXPECT_EQ(ReadString("ServerIP", "dflt", 260), "10.0.0.7");
}

TEST_F(RegistryTest, StringHoldingOnlyItsNulIsEmptyNotDefault) {
  machine.registry.SetString(kPortKey, "ServerIP", "");
  EXPECT_EQ(ReadString("ServerIP", "dflt", 260), "");
}

TEST_F(RegistryTest, StringThatFitsExactlyWithItsNulIsRead) {
  machine.registry.SetString(kPortKey, "ServerIP", "1234567");  // 8 bytes with NUL
  EXPECT_EQ(ReadString("ServerIP", "dflt", 8), "1234567");
}

TEST_F(RegistryTest, StringStoredWithoutNulThatFillsTheBufferKeepsDefault) {
  machine.registry.SetValue(kPortKey, "ServerIP", REG_SZ, {'1', '2', '3', '4'});
  EXPECT_EQ(ReadString("ServerIP", "dflt", 4), "dfl");
}

TEST_F(RegistryTest, StringStoredWithoutNulShorterThanDefaultIsNotMixedWithIt) {
  machine.registry.SetValue(kPortKey, "ServerIP", REG_SZ, {'a', 'b'});
  EXPECT_EQ(ReadString("ServerIP", "defaultvalue", 260), "ab");
}

TEST_F(RegistryTest, StringLongerThanBufferKeepsDefault) {
  machine.registry.SetString(kPortKey, "ServerIP", std::string(300, 'x'));
  EXPECT_EQ(ReadString("ServerIP", "dflt", 260), "dflt");
  EXPECT_EQ(ReadString("ServerIP", "much too long default", 8), "much to");
}

TEST_F(RegistryTest, StringOfAnyTypeIsTakenByteForByteAndNotExpanded) {
  machine.registry.SetString(kPortKey, "Path", "%SystemRoot%\\x", REG_EXPAND_SZ);
  EXPECT_EQ(ReadString("Path", "", 260), "%SystemRoot%\\x");
  machine.registry.SetDword(kPortKey, "Number", 0x00434241);
  EXPECT_EQ(ReadString("Number", "", 260), "ABC");
}

TEST_F(RegistryTest, StringOverlongKeyNameIsRejected) {
  const std::string subKey(1000 - std::strlen(kRoot) - 1, 'k');  // one too many
  machine.registry.SetString(std::string(kRoot) + "\\" + subKey, "V", "value");
  char out[16];
  ReadRegistryString(machine, subKey.c_str(), "V", "dflt", out, sizeof out, kRoot, 0);
  EXPECT_STREQ(out, "dflt");
  EXPECT_EQ(machine.CallCount("RegOpenKeyExA"), 0);

  const std::string fits = subKey.substr(1);
  machine.registry.SetString(std::string(kRoot) + "\\" + fits, "V", "value");
  ReadRegistryString(machine, fits.c_str(), "V", "dflt", out, sizeof out, kRoot, 0);
  EXPECT_STREQ(out, "value");
}

TEST_F(RegistryTest, StringFailingOpenOrQueryKeepsDefault) {
  machine.registry.SetString(kPortKey, "ServerIP", "10.0.0.7");
  machine.FailCall("RegOpenKeyExA", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(ReadString("ServerIP", "dflt", 260), "dflt");
  machine.FailCall("RegQueryValueExA", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(ReadString("ServerIP", "dflt", 260), "dflt");
  EXPECT_EQ(ReadString("ServerIP", "dflt", 260), "10.0.0.7");
}

TEST_F(RegistryTest, StringProgramFilesDirFollowsTheRequestedView) {
  machine.version.wow64 = true;
  char out[260];
  ReadRegistryString(machine, "Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "", out,
                     sizeof out - 1, "SOFTWARE", KEY_WOW64_32KEY);
  EXPECT_STREQ(out, "C:\\Program Files (x86)");
  ReadRegistryString(machine, "Microsoft\\Windows\\CurrentVersion", "ProgramFilesDir", "", out,
                     sizeof out - 1, "SOFTWARE", KEY_WOW64_64KEY);
  EXPECT_STREQ(out, "C:\\Program Files");
  EXPECT_TRUE(machine.OpenResources().empty());
}

struct DwordCase {
  const char* name;
  DWORD type;
  std::vector<BYTE> stored;  // empty: no value
  DWORD expected;
  RegistryRead outcome;
};

class RegistryDwordTest : public RegistryTest, public ::testing::WithParamInterface<DwordCase> {};

TEST_P(RegistryDwordTest, ReadsOverTheDefault) {
  const DwordCase& c = GetParam();
  machine.registry.CreateKey(kPortKey);
  if (!c.stored.empty()) {
    machine.registry.SetValue(kPortKey, "Port", c.type, c.stored);
  }
  RegistryRead outcome = RegistryRead::Read;
  EXPECT_EQ(ReadRegistryDword(machine, "1", "Port", 0x11223344u, kRoot, &outcome), c.expected);
  EXPECT_EQ(outcome, c.outcome);
  EXPECT_TRUE(machine.OpenResources().empty());
  // A text gives the number that the same text gives in the configuration file.
  if (c.type == REG_SZ || c.type == REG_EXPAND_SZ) {
    const std::string text(c.stored.begin(), std::find(c.stored.begin(), c.stored.end(), 0));
    machine.WriteFile("C:\\Tolvo.ini", "[1]\r\nPort=" + text + "\r\n");
    EXPECT_EQ(machine.GetPrivateProfileIntA("1", "Port", 0x11223344, "C:\\Tolvo.ini"), c.expected);
  }
}

constexpr RegistryRead kRead = RegistryRead::Read;
constexpr RegistryRead kUnusable = RegistryRead::Unusable;

INSTANTIATE_TEST_SUITE_P(
    Cases, RegistryDwordTest,
    ::testing::Values(
        DwordCase{"Missing", REG_DWORD, {}, 0x11223344u, RegistryRead::Missing},
        DwordCase{"Full", REG_DWORD, {0x0A, 0x00, 0x00, 0x00}, 10u, kRead},
        DwordCase{"TwoBytes", REG_DWORD, {0xAA, 0xBB}, 0x1122BBAAu, kRead},
        DwordCase{"Empty", REG_DWORD, {0x00}, 0x11223300u, kRead},
        DwordCase{"TooLong", REG_DWORD, {1, 2, 3, 4, 5}, 0x11223344u, kUnusable},
        DwordCase{"DecimalText", REG_SZ, {' ', '8', '0', ' ', 0}, 80u, kRead},
        DwordCase{"NegativeExpandText", REG_EXPAND_SZ, {'-', '7'}, 0xFFFFFFF9u, kRead},
        DwordCase{"HexText", REG_SZ, {'0', 'x', '5', '0', 0}, 80u, kRead},
        DwordCase{"QuotedTextWithLetters", REG_SZ, {'"', '8', '0', 'x', '"', 0}, 80u, kRead},
        DwordCase{"Letters", REG_SZ, {'a', 'b', 'c', 0}, 0u, kRead},
        DwordCase{"EmptyText", REG_SZ, {0}, 0x11223344u, kRead},
        DwordCase{"TextBeyond32Bits", REG_SZ, std::vector<BYTE>(10, '9'), 1410065407u, kRead},
        DwordCase{"Binary", REG_BINARY, {0x0A, 0x00, 0x00, 0x00}, 10u, kRead},
        DwordCase{"MultiText", REG_MULTI_SZ, {'8', '0', 0, 0}, 0x11223344u, kUnusable}),
    [](const auto& info) { return info.param.name; });

TEST_F(RegistryTest, DwordMissingKeyReturnsDefault) {
  EXPECT_EQ(ReadRegistryDword(machine, "9", "Port", 515, kRoot), 515u);
}

TEST_F(RegistryTest, DwordStoredAsRegDword) {
  machine.registry.SetDword(kPortKey, "Port", 9100);
  EXPECT_EQ(ReadRegistryDword(machine, "1", "Port", 515, kRoot), 9100u);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(RegistryTest, DwordOverlongKeyNameIsRejected) {
  const std::string subKey(1000 - std::strlen(kRoot) - 1, 'k');
  machine.registry.SetDword(std::string(kRoot) + "\\" + subKey, "V", 7);
  EXPECT_EQ(ReadRegistryDword(machine, subKey.c_str(), "V", 3, kRoot), 3u);
  EXPECT_EQ(machine.CallCount("RegOpenKeyExA"), 0);
}

TEST_F(RegistryTest, QueryValueReportsSuccessOnlyWhenRead) {
  machine.registry.SetDword("SOFTWARE\\A", "V", 5);
  BYTE out[4] = {};
  EXPECT_TRUE(QueryRegistryValue(machine, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "V", out, 4));
  EXPECT_EQ(out[0], 5);
  EXPECT_FALSE(QueryRegistryValue(machine, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "W", out, 4));
  EXPECT_FALSE(QueryRegistryValue(machine, HKEY_LOCAL_MACHINE, "SOFTWARE\\B", "V", out, 4));
  machine.registry.SetString("SOFTWARE\\A", "S", "long text");
  EXPECT_FALSE(QueryRegistryValue(machine, HKEY_LOCAL_MACHINE, "SOFTWARE\\A", "S", out, 4));
  EXPECT_TRUE(machine.OpenResources().empty());
}

constexpr const char* kDotNetKey = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";

struct DotNetCase {
  const char* name;
  bool keyPresent;
  DWORD type;
  std::vector<BYTE> stored;  // empty with keyPresent: no value
  bool expected;
};

class DotNetTest : public RegistryTest, public ::testing::WithParamInterface<DotNetCase> {};

TEST_P(DotNetTest, CountsOnlyTheNumberOne) {
  const DotNetCase& c = GetParam();
  if (c.keyPresent) {
    machine.registry.CreateKey(kDotNetKey);
  }
  if (!c.stored.empty()) {
    machine.registry.SetValue(kDotNetKey, "Install", c.type, c.stored);
  }
  EXPECT_EQ(IsDotNet20Installed(machine), c.expected);
  EXPECT_TRUE(machine.OpenResources().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DotNetTest,
    ::testing::Values(DotNetCase{"MissingKey", false, REG_NONE, {}, false},
                      DotNetCase{"MissingValue", true, REG_NONE, {}, false},
                      DotNetCase{"Zero", true, REG_DWORD, {0, 0, 0, 0}, false},
                      DotNetCase{"StringOne", true, REG_SZ, {'1', 0}, false},
                      DotNetCase{"DwordTwo", true, REG_DWORD, {2, 0, 0, 0}, false},
                      DotNetCase{"DwordOne", true, REG_DWORD, {1, 0, 0, 0}, true}),
    [](const auto& info) { return info.param.name; });

TEST_F(RegistryTest, DotNetIsReadInThe32BitViewOnA64BitMachine) {
  machine.version.wow64 = true;
  machine.registry.SetDword(kDotNetKey, "Install", 1);  // native view only
  EXPECT_FALSE(IsDotNet20Installed(machine));
  machine.registry.SetDotNet20Installed();
  EXPECT_TRUE(IsDotNet20Installed(machine));
}

TEST_F(RegistryTest, RunEntrySetAndDelete) {
  SetClientRunEntry(machine, "\"C:\\Program Files\\Kestrum\\Tolvo Client\\Tolvo Client.exe\"");
  const auto value = machine.registry.GetValue(kRunKey, "Tolvo Client");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->type, REG_SZ);
  const std::string expected = "\"C:\\Program Files\\Kestrum\\Tolvo Client\\Tolvo Client.exe\"";
  EXPECT_EQ(std::string(value->data.begin(), value->data.end()), expected + '\0');
  EXPECT_TRUE(machine.OpenResources().empty());

  DeleteClientRunEntry(machine);
  EXPECT_FALSE(machine.registry.GetValue(kRunKey, "Tolvo Client"));
  DeleteClientRunEntry(machine);  // absent: silent
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(RegistryTest, RunEntryGoesToThe32BitRunKeyOnA64BitMachine) {
  machine.version.wow64 = true;
  SetClientRunEntry(machine, "x");
  EXPECT_EQ(machine.registry.GetString(kRunKey32, "Tolvo Client"), "x");
  EXPECT_FALSE(machine.registry.GetValue(kRunKey, "Tolvo Client"));
}

TEST_F(RegistryTest, RunKeyNotWritableDoesNothing) {
  machine.registry.DenyWrite(kRunKey);
  SetClientRunEntry(machine, "x");
  EXPECT_FALSE(machine.registry.GetValue(kRunKey, "Tolvo Client"));
  EXPECT_EQ(machine.CallCount("RegSetValueExA"), 0);
  DeleteClientRunEntry(machine);
  EXPECT_EQ(machine.CallCount("RegDeleteValueA"), 0);
  EXPECT_TRUE(machine.OpenResources().empty());
}

}  // namespace
}  // namespace tolvo
