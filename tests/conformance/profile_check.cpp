// Profile files as the port configuration reads them: every port
// configuration test relies on the simulated machine reading them as
// Windows reads them.
#include <cstring>
#include <string>

#include "conformance/check.h"
#include "core/text.h"

namespace tolvo::checks {
namespace {

class ProfileCheck : public Check {
 protected:
  std::string Read(const char* section, const char* key, const char* fallback = "dflt",
                   DWORD size = 64, DWORD* length = nullptr) {
    char buffer[300];
    std::memset(buffer, 'X', sizeof buffer);
    const DWORD result =
        api.GetPrivateProfileStringA(section, key, fallback, buffer, size, ini_.c_str());
    if (length != nullptr) {
      *length = result;
    }
    EXPECT_EQ(result, std::strlen(buffer));
    return buffer;
  }
  UINT ReadInt(const char* section, const char* key, INT fallback = 42) {
    return api.GetPrivateProfileIntA(section, key, fallback, ini_.c_str());
  }

  const std::string ini_ = Path("Tolvo.ini");
};

TEST_F(ProfileCheck, CaseInsensitiveNamesTrimmedValuesAndQuotes) {
  scratch.WriteFile(ini_,
                    "; comment\r\n"
                    "  [ Port ]  \r\n"
                    "  ServerIP =  10.0.0.1  \r\n"
                    "Quoted=\"  spaced  \"\r\n"
                    "Single='x'\r\n"
                    "Unbalanced=\"x'\r\n"
                    "Lonely=\"\r\n"
                    "NoEquals\r\n"
                    "Empty=\r\n"
                    ";Commented=1\r\n"
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
  EXPECT_EQ(Read("Port", ";Commented"), "1");  // no comments within a section
  EXPECT_EQ(Read("Port", "Other"), "dflt");    // the first [port] section wins
  EXPECT_EQ(Read("Missing", "ServerIP"), "dflt");
  EXPECT_EQ(Read("Port", "Missing", "trailing   "), "trailing");
  EXPECT_EQ(Read("Port", "Missing", nullptr), "");
}

TEST_F(ProfileCheck, TruncatesToSizeMinusOne) {
  scratch.WriteFile(ini_, "[1]\nKey=abcdefghij\n");
  DWORD length = 0;
  EXPECT_EQ(Read("1", "Key", "", 5, &length), "abcd");
  EXPECT_EQ(length, 4u);
  EXPECT_EQ(Read("1", "Key", "", 10, &length), "abcdefghi");
  EXPECT_EQ(length, 9u);
  EXPECT_EQ(Read("1", "Key", "", 11, &length), "abcdefghij");
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(Read("1", "Key", "", 12, &length), "abcdefghij");
  EXPECT_EQ(length, 10u);
  EXPECT_EQ(Read("1", "Missing", "0123456789", 4, &length), "012");
  EXPECT_EQ(length, 3u);
}

TEST_F(ProfileCheck, VeryLongLinesAreReadWhole) {
  const std::string value(5000, 'v');
  scratch.WriteFile(ini_, "[1]\r\nLong=" + value + "\r\nAfter=1\r\n");
  char buffer[6000];
  EXPECT_EQ(api.GetPrivateProfileStringA("1", "Long", "", buffer, sizeof buffer, ini_.c_str()),
            5000u);
  EXPECT_EQ(std::string(buffer), value);
  EXPECT_EQ(ReadInt("1", "After"), 1u);
}

TEST_F(ProfileCheck, Utf16FileWithByteOrderMarkIsRead) {
  const std::string text = "[1]\r\nServerIP=10.0.0.7\r\nPort=9100\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : text) {
    utf16 += c;
    utf16 += '\0';
  }
  scratch.WriteFile(ini_, utf16);
  EXPECT_EQ(Read("1", "ServerIP"), "10.0.0.7");
  EXPECT_EQ(ReadInt("1", "Port"), 9100u);
}

TEST_F(ProfileCheck, ZeroByteEndsTheLine) {
  scratch.WriteFile(ini_, std::string("[1]\r\nKey=hunter22\0x\r\nNext=n\r\n", 29));
  DWORD length = 0;
  EXPECT_EQ(Read("1", "Key", "", 64, &length), "hunter22");
  EXPECT_EQ(length, 8u);
  EXPECT_EQ(Read("1", "Next"), "n");
}

TEST_F(ProfileCheck, MissingFileGivesDefaults) {
  EXPECT_EQ(Read("1", "Key"), "dflt");
  EXPECT_EQ(ReadInt("1", "Key", 9100), 9100u);
}

TEST_F(ProfileCheck, FileNameWithoutFolderIsInWindowsDirectory) {
  char windows[MAX_PATH];
  ASSERT_GT(api.GetWindowsDirectoryA(windows, MAX_PATH), 0u);
  scratch.WriteFile(std::string(windows) + "\\tolvo-check.ini", "[a]\nb=c\n");
  char buffer[16];
  EXPECT_EQ(api.GetPrivateProfileStringA("a", "b", "", buffer, sizeof buffer, "tolvo-check.ini"),
            1u);
  EXPECT_STREQ(buffer, "c");
}

// The installer reads a number from a registry text by the same rules
// (ProfileInteger): each row holds both to what Windows gives.
TEST_F(ProfileCheck, IntegersParseAsWindowsDoes) {
  const struct {
    const char* key;
    const char* text;
    UINT expected;
  } cases[] = {
      {"Negative", "-7", 4294967289u},
      {"Hex", "0x10", 16u},
      {"CapitalHex", "0X10", 0u},
      {"Octal", "0o17", 15u},
      {"Binary", "0b101", 5u},
      {"Trailing", "12abc", 12u},
      {"Text", "abc", 0u},
      {"Empty", "", 42u},
      {"Plus", "+5", 5u},
      {"Quoted", "\"33\"", 33u},
      {"QuotedBlanks", "\" 44 \"", 44u},
      {"Spaced", "  8  ", 8u},
      {"Huge", "4294967297", 1u},
      {"BeyondTheBuffer", "000000000000000000000000000009", 0u},
  };
  std::string ini = "[1]\n";
  for (const auto& c : cases) {
    ini += std::string(c.key) + "=" + c.text + "\n";
  }
  scratch.WriteFile(ini_, ini);
  for (const auto& c : cases) {
    EXPECT_EQ(ReadInt("1", c.key), c.expected) << c.key;
    EXPECT_EQ(ProfileInteger(c.text, 42), c.expected) << c.key;
  }
  EXPECT_EQ(ReadInt("1", "Missing"), 42u);
  EXPECT_EQ(ReadInt("2", "Hex"), 42u);
}

}  // namespace
}  // namespace tolvo::checks
