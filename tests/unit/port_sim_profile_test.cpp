// The simulated machine's profile files: every port configuration test
// relies on them reading as Windows reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/sim_windows.h"

namespace tolvo::sim {
namespace {

constexpr const char* kIni = "C:\\Kit\\Tolvo.ini";

class SimProfile : public ::testing::Test {
 protected:
  std::string Read(const char* section, const char* key, const char* fallback = "dflt",
                   DWORD size = 64, DWORD* length = nullptr) {
    char buffer[300];
    std::memset(buffer, 'X', sizeof buffer);
    const DWORD result = sim.GetPrivateProfileStringA(section, key, fallback, buffer, size, kIni);
    if (length != nullptr) {
      *length = result;
    }
    EXPECT_EQ(result, std::strlen(buffer));
    return buffer;
  }
  UINT ReadInt(const char* section, const char* key, INT fallback = 42) {
    return sim.GetPrivateProfileIntA(section, key, fallback, kIni);
  }

  SimWindows sim;
};

TEST_F(SimProfile, CaseInsensitiveNamesTrimmedValuesAndQuotes) {
  sim.WriteFile(kIni,
                "; comment\r\n"
                "  [ Port ]  \r\n"
                "  ServerIP =  10.0.0.1  \r\n"
                "Quoted=\"  spaced  \"\r\n"
                "Single='x'\r\n"
                "Unbalanced=\"x'\r\n"
                "Lonely=\"\r\n"
                "NoEquals\r\n"
                "Empty=\r\n"
                "ServerIP=second wins never\r\n"
                "[port]\r\n"
                "Other=from duplicate section\r\n");
  EXPECT_EQ(Read("PORT", "serverip"), "10.0.0.1");
  EXPECT_EQ(Read("Port", "Quoted"), "  spaced  ");
  EXPECT_EQ(Read("Port", "Single"), "x");
  EXPECT_EQ(Read("Port", "Unbalanced"), "\"x'");
  EXPECT_EQ(Read("Port", "Lonely"), "\"");
  EXPECT_EQ(Read("Port", "NoEquals"), "dflt");
  EXPECT_EQ(Read("Port", "Empty"), "");
  EXPECT_EQ(Read("Port", "Other"), "dflt");  // the first [port] section wins
  EXPECT_EQ(Read("Missing", "ServerIP"), "dflt");
  EXPECT_EQ(Read("Port", "Missing", "trailing   "), "trailing");
  EXPECT_EQ(Read("Port", "Missing", nullptr), "");
}

TEST_F(SimProfile, TruncatesToSizeMinusOne) {
  sim.WriteFile(kIni, "[1]\nKey=abcdefghij\n");
  DWORD length = 0;
  EXPECT_EQ(Read("1", "Key", "", 5, &length), "abcd");
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(Read("1", "Key", "", 11, &length), "abcdefghij");
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(Read("1", "Missing", "0123456789", 4, &length), "012");
  EXPECT_EQ(length, 3u);
}

TEST_F(SimProfile, MissingFileGivesDefaults) {
  EXPECT_EQ(Read("1", "Key"), "dflt");
  EXPECT_EQ(ReadInt("1", "Key", 9100), 9100u);
}

TEST_F(SimProfile, FileNameWithoutFolderIsInWindowsDirectory) {
  sim.WriteFile("C:\\Windows\\win.ini", "[a]\nb=c\n");
  char buffer[16];
  EXPECT_EQ(sim.GetPrivateProfileStringA("a", "b", "", buffer, sizeof buffer, "win.ini"), 1u);
  EXPECT_STREQ(buffer, "c");
}

TEST_F(SimProfile, IntegersParseAsWindowsDoes) {
  sim.WriteFile(kIni,
                "[1]\n"
                "Negative=-7\n"
                "Hex=0x10\n"
                "Trailing=12abc\n"
                "Text=abc\n"
                "Empty=\n"
                "Plus=+5\n"
                "Quoted=\"33\"\n"
                "Spaced=  8  \n");
  const struct {
    const char* key;
    UINT expected;
  } cases[] = {
      {"Negative", 4294967289u},
      {"Hex", 16u},
      {"Trailing", 12u},
      {"Text", 0u},
      {"Empty", 0u},
      {"Plus", 5u},
      {"Quoted", 33u},
      {"Spaced", 8u},
      {"Missing", 42u},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ReadInt("1", c.key), c.expected) << c.key;
  }
  EXPECT_EQ(ReadInt("2", "Hex"), 42u);
}

TEST_F(SimProfile, FaultInjectionReachesProfileCalls) {
  sim.WriteFile(kIni, "[1]\nKey=v\n");
  sim.FailCall("GetPrivateProfileStringA", ERROR_ACCESS_DENIED, 1);
  char buffer[8] = "keep";
  EXPECT_EQ(sim.GetPrivateProfileStringA("1", "Key", "", buffer, sizeof buffer, kIni), 0u);
  EXPECT_EQ(sim.GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(sim.GetPrivateProfileStringA("1", "Key", "", buffer, sizeof buffer, kIni), 1u);
  EXPECT_STREQ(buffer, "v");
}

}  // namespace
}  // namespace tolvo::sim
