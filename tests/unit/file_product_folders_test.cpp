#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sim/sim_windows.h"
#include "winenv/file_deployment.h"

namespace tolvo {
namespace {

using sim::HandleKind;
using sim::SimProgram;
using sim::SimWindows;

// A 32-bit process on 64-bit Windows reads the 32-bit view.
constexpr const char* kProgramFiles = "C:\\Program Files (x86)";
constexpr const char* kFontFolder = "C:\\Program Files (x86)\\Kestrum\\Tolvo Client\\Font";
constexpr const char* kClientRoot = "C:\\Program Files (x86)\\Kestrum\\Tolvo Client";
constexpr const char* kKestrum = "C:\\Program Files (x86)\\Kestrum";
constexpr const char* kWebBrowser = "C:\\Program Files (x86)\\Kestrum\\Tolvo Client\\WebBrowser";

class ProductFoldersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    machine.version.redirectionDisabled = true;
    machine.MakeDirectory(kProgramFiles);
  }

  void SetProgramFiles(const std::string& value) {
    machine.registry.SetString(sim::kCurrentVersionKey32, "ProgramFilesDir", value);
    machine.registry.SetString(sim::kCurrentVersionKey, "ProgramFilesDir", value);
  }

  void RemoveProgramFiles() {
    machine.registry.DeleteValue(sim::kCurrentVersionKey32, "ProgramFilesDir");
    machine.registry.DeleteValue(sim::kCurrentVersionKey, "ProgramFilesDir");
  }

  void ExpectNothingLeftOpen() { EXPECT_TRUE(machine.OpenResources().empty()); }

  SimWindows machine;
  RunContext context{machine};
};

// --- Program Files look-ups ----------------------------------------------------------

TEST_F(ProductFoldersTest, LookUpsNameTheProductFolders) {
  char buffer[512] = {};
  EXPECT_TRUE(GetFontDirectory(context, context.profile.fontSubdirectory, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, kFontFolder);
  EXPECT_TRUE(GetWebBrowserDirectory(context, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, kWebBrowser);
  EXPECT_TRUE(GetClientDirectory(context, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "C:\\Program Files (x86)\\Kestrum\\Tolvo Client\\Client");
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, On32BitWindowsTheNativeViewIsRead) {
  machine.version.wow64 = false;
  char buffer[512] = {};
  EXPECT_TRUE(GetWebBrowserDirectory(context, buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "C:\\Program Files\\Kestrum\\Tolvo Client\\WebBrowser");
}

TEST_F(ProductFoldersTest, LookUpsFailWithoutProgramFiles) {
  char buffer[64] = "stale";
  EXPECT_FALSE(GetFontDirectory(context, nullptr, buffer, sizeof buffer));
  EXPECT_FALSE(GetClientDirectory(context, nullptr, 64));

  RemoveProgramFiles();
  EXPECT_FALSE(GetFontDirectory(context, "Kestrum\\Tolvo Client\\Font", buffer, sizeof buffer));
  EXPECT_STREQ(buffer, "");
  EXPECT_FALSE(GetWebBrowserDirectory(context, buffer, sizeof buffer));
  EXPECT_FALSE(GetClientDirectory(context, buffer, sizeof buffer));

  SetProgramFiles("");
  EXPECT_FALSE(GetClientDirectory(context, buffer, sizeof buffer));
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, AppendedPartThatDoesNotFitFailsInsteadOfCutting) {
  // 12 + 26 = 38 characters: fits 39 bytes exactly, not 38.
  SetProgramFiles("C:\\ProgFiles");
  const char* font = "Kestrum\\Tolvo Client\\Font";
  std::vector<char> buffer(48, '\xEE');

  EXPECT_TRUE(GetFontDirectory(context, font, buffer.data(), 39));
  EXPECT_STREQ(buffer.data(), "C:\\ProgFiles\\Kestrum\\Tolvo Client\\Font");

  std::fill(buffer.begin(), buffer.end(), '\xEE');
  EXPECT_FALSE(GetFontDirectory(context, font, buffer.data(), 38));
  EXPECT_STREQ(buffer.data(), "");
  EXPECT_EQ(buffer[38], '\xEE') << "written past the buffer";

  EXPECT_FALSE(GetWebBrowserDirectory(context, buffer.data(), 40));
  EXPECT_STREQ(buffer.data(), "");
  EXPECT_FALSE(GetClientDirectory(context, buffer.data(), 30));
  EXPECT_STREQ(buffer.data(), "");
}

// --- Fonts ---------------------------------------------------------------------------

TEST_F(ProductFoldersTest, NoFontFilesMeansNothingToDo) {
  EXPECT_TRUE(InstallFontFiles(context));
  EXPECT_EQ(machine.console, "");
  EXPECT_FALSE(machine.Exists(kFontFolder));
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, FontFilesAreCopiedIntoANewFontFolder) {
  machine.WriteFile("C:\\Kit\\FontFiles\\one.ttf", "1");
  machine.WriteFile("C:\\Kit\\FontFiles\\two.ttf", "2");
  machine.WriteFile("C:\\Kit\\FontFiles\\Extra\\three.ttf", "3");

  EXPECT_TRUE(InstallFontFiles(context));
  EXPECT_EQ(machine.console, "  - Installing Font Files\n");
  EXPECT_EQ(machine.ListDirectory(kFontFolder), (std::vector<std::string>{"one.ttf", "two.ttf"}));
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, EnterpriseFontsGoToTheirOwnFolder) {
  context.profile.SwitchToEnterprise();
  machine.WriteFile("C:\\Kit\\FontFiles\\one.ttf", "1");
  EXPECT_TRUE(InstallFontFiles(context));
  EXPECT_TRUE(
      machine.Exists("C:\\Program Files (x86)\\Kestrum\\Tolvo Client Enterprise\\Font\\one.ttf"));
}

TEST_F(ProductFoldersTest, FontInstallFailsWithoutProgramFilesOrOnACopyError) {
  machine.WriteFile("C:\\Kit\\FontFiles\\one.ttf", "1");
  RemoveProgramFiles();
  EXPECT_FALSE(InstallFontFiles(context));
  EXPECT_EQ(machine.console, "  - Installing Font Files\n");
  EXPECT_EQ(machine.CallCount("CreateDirectoryA"), 0);

  SetProgramFiles(kProgramFiles);
  machine.console.clear();
  machine.WriteFile(std::string(kFontFolder) + "\\one.ttf", "in use");
  machine.fileSystem.Lock(std::string(kFontFolder) + "\\one.ttf");
  EXPECT_FALSE(InstallFontFiles(context));
  EXPECT_EQ(machine.console, "  - Installing Font Files\nERROR While Copying File 'one.ttf'.\n");
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, FontRemovalTakesEmptyParentsOnly) {
  machine.WriteFile(std::string(kFontFolder) + "\\one.ttf", "1");
  machine.WriteFile(std::string(kClientRoot) + "\\Client\\Tolvo Client.exe", "MZ");

  EXPECT_TRUE(RemoveFontDirectory(context));
  EXPECT_FALSE(machine.Exists(kFontFolder));
  EXPECT_TRUE(machine.IsDirectory(kClientRoot));
  EXPECT_TRUE(machine.IsDirectory(kKestrum));
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, FontRemovalTakesAllThreeFoldersWhenEmpty) {
  machine.WriteFile(std::string(kFontFolder) + "\\one.ttf", "1");
  machine.WriteFile(std::string(kFontFolder) + "\\two.ttf", "2");

  EXPECT_TRUE(RemoveFontDirectory(context));
  EXPECT_FALSE(machine.Exists(kKestrum));
  EXPECT_TRUE(machine.IsDirectory(kProgramFiles));
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, FontRemovalKeepsAParentHoldingOtherFolders) {
  machine.WriteFile(std::string(kFontFolder) + "\\one.ttf", "1");
  machine.WriteFile(std::string(kKestrum) + "\\Other Product\\x.dll", "x");

  EXPECT_TRUE(RemoveFontDirectory(context));
  EXPECT_FALSE(machine.Exists(kClientRoot));
  EXPECT_TRUE(machine.Exists(std::string(kKestrum) + "\\Other Product\\x.dll"));
}

TEST_F(ProductFoldersTest, FontRemovalWithACutPathTouchesNothing) {
  // The appended part does not fit: cut, the path would name the
  // "...\Kestrum\Tolvo" folder below, and its files would be deleted.
  std::string programFiles = "C:";
  for (int i = 0; i < 9; ++i) {
    programFiles += "\\" + std::string(97, 'p');
  }
  programFiles += "\\" + std::string(985 - programFiles.size() - 1, 'q');
  SetProgramFiles(programFiles);
  const std::string victim = programFiles + "\\Kestrum\\Tolvo";
  ASSERT_EQ(victim.size(), 999u);  // the whole room of the 1,000-byte buffer
  machine.WriteFile(victim + "\\data.bin", "precious");

  EXPECT_FALSE(RemoveFontDirectory(context));
  EXPECT_EQ(machine.ReadFile(victim + "\\data.bin"), "precious");
  EXPECT_EQ(machine.CallCount("DeleteFileA"), 0);
  EXPECT_EQ(machine.CallCount("RemoveDirectoryA"), 0);
}

TEST_F(ProductFoldersTest, FontRemovalFailsWithoutProgramFiles) {
  RemoveProgramFiles();
  EXPECT_FALSE(RemoveFontDirectory(context));
  EXPECT_EQ(machine.CallCount("RemoveDirectoryA"), 0);
}

// --- Web-browser folder -------------------------------------------------------------------

TEST_F(ProductFoldersTest, WebBrowserRemovalSucceedsWhenTheFolderDidNotExist) {
  EXPECT_TRUE(RemoveWebBrowserDirectory(context));
  EXPECT_FALSE(machine.Exists(kWebBrowser));
  // The folders above it were made for the command and stay.
  EXPECT_TRUE(machine.IsDirectory(kClientRoot));

  ASSERT_EQ(machine.processes.starts.size(), 1u);
  EXPECT_EQ(
      machine.processes.starts[0].commandLine,
      std::string("\"C:\\Windows\\system32\\cmd.exe\" /d /c rmdir \"") + kWebBrowser + "\" /S /Q");
  EXPECT_TRUE(machine.processes.starts[0].waited);
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, WebBrowserRemovalTakesTheWholeTree) {
  machine.WriteFile(std::string(kWebBrowser) + "\\Cache\\page.html", "<p>");
  machine.WriteFile(std::string(kWebBrowser) + "\\settings.xml", "<s/>");
  machine.fileSystem.SetAttributes(std::string(kWebBrowser) + "\\settings.xml",
                                   FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(RemoveWebBrowserDirectory(context));
  EXPECT_FALSE(machine.Exists(kWebBrowser));
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, WebBrowserRemovalFailsWhenTheCommandFails) {
  machine.WriteFile(std::string(kWebBrowser) + "\\in use.dll", "x");
  machine.fileSystem.Lock(std::string(kWebBrowser) + "\\in use.dll");

  EXPECT_FALSE(RemoveWebBrowserDirectory(context));
  EXPECT_TRUE(machine.Exists(kWebBrowser));
  EXPECT_EQ(machine.CallCount("RemoveDirectoryA"), 0);
  ExpectNothingLeftOpen();
}

TEST_F(ProductFoldersTest, WebBrowserRemovalRefusesAFolderWithAQuote) {
  SetProgramFiles("C:\\Prog\" & del /Q C:\\Kit\\* & \"");
  machine.WriteFile("C:\\Kit\\Install.exe", "MZ");

  EXPECT_FALSE(RemoveWebBrowserDirectory(context));
  EXPECT_TRUE(machine.processes.starts.empty());
  EXPECT_EQ(machine.CallCount("CreateDirectoryA"), 0);
  EXPECT_TRUE(machine.Exists("C:\\Kit\\Install.exe"));
}

TEST_F(ProductFoldersTest, WebBrowserRemovalFailsWithoutProgramFiles) {
  RemoveProgramFiles();
  EXPECT_FALSE(RemoveWebBrowserDirectory(context));
  EXPECT_EQ(machine.CallCount("CreateProcessA"), 0);
}

}  // namespace
}  // namespace tolvo
