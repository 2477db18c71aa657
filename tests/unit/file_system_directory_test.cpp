#include <gtest/gtest.h>

#include <string>

#include "sim/sim_windows.h"
#include "winenv/file_deployment.h"

namespace tolvo {
namespace {

using sim::SimWindows;

constexpr const char* kSystem = "C:\\Windows\\system32\\";

class SystemDirectoryTest : public ::testing::Test {
 protected:
  // As during a run: redirection switched off at start-up.
  void SetUp() override { machine.version.redirectionDisabled = true; }

  SimWindows machine;
  RunContext context{machine};
};

TEST_F(SystemDirectoryTest, CopyReplacesAFileOfTheSameName) {
  machine.WriteFile("C:\\Kit\\TolvoEvent.dll", "new");
  machine.WriteFile(std::string(kSystem) + "TolvoEvent.dll", "old");

  EXPECT_EQ(CopyToSystemDirectory(context, "TolvoEvent.dll"), 1);
  EXPECT_EQ(machine.ReadFile(std::string(kSystem) + "TolvoEvent.dll"), "new");
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(SystemDirectoryTest, CopyOfAMissingFileFails) {
  EXPECT_EQ(CopyToSystemDirectory(context, "TolvoEvent.dll"), 0);
  EXPECT_EQ(machine.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(machine.Exists(std::string(kSystem) + "TolvoEvent.dll"));
}

TEST_F(SystemDirectoryTest, CopyReachesTheNativeFolderOnlyWithRedirectionOff) {
  machine.version.redirectionDisabled = false;
  machine.WriteFile("C:\\Kit\\TolvoEvent.dll", "x");
  EXPECT_EQ(CopyToSystemDirectory(context, "TolvoEvent.dll"), 1);
  EXPECT_TRUE(machine.Exists("C:\\Windows\\SysWOW64\\TolvoEvent.dll"));
  machine.version.redirectionDisabled = true;
  EXPECT_FALSE(machine.Exists(std::string(kSystem) + "TolvoEvent.dll"));
}

TEST_F(SystemDirectoryTest, DestinationBeyond259CharactersIsRefusedNotCut) {
  // "C:\Windows\system32\" is 20 characters.
  const std::string fits(239, 'f');
  const std::string tooLong(240, 'f');
  machine.WriteFile("C:\\Kit\\" + fits, "a");
  machine.WriteFile("C:\\Kit\\" + tooLong, "b");
  // The cut destination of the longer name would be the shorter one.
  machine.WriteFile(std::string(kSystem) + fits, "keep");

  EXPECT_EQ(CopyToSystemDirectory(context, tooLong.c_str()), 0);
  EXPECT_EQ(machine.CallCount("CopyFileA"), 0);
  EXPECT_EQ(machine.ReadFile(std::string(kSystem) + fits), "keep");

  EXPECT_EQ(CopyToSystemDirectory(context, fits.c_str()), 1);
  EXPECT_EQ(machine.ReadFile(std::string(kSystem) + fits), "a");
}

TEST_F(SystemDirectoryTest, CopyWithoutTheSystemDirectoryDoesNothing) {
  machine.WriteFile("C:\\Kit\\TolvoEvent.dll", "x");
  machine.FailCall("GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(CopyToSystemDirectory(context, "TolvoEvent.dll"), 0);
  EXPECT_EQ(machine.CallCount("CopyFileA"), 0);
}

TEST_F(SystemDirectoryTest, DeleteRemovesAReadOnlyFile) {
  const std::string path = std::string(kSystem) + "TOLVOVS.DLL";
  machine.WriteFile(path, "dll");
  machine.fileSystem.SetAttributes(machine.FullPath(path),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

  DeleteFromSystemDirectory(context, "tolvovs.dll");
  EXPECT_FALSE(machine.Exists(path));
  EXPECT_EQ(machine.console, "");
}

TEST_F(SystemDirectoryTest, DeleteOfAMissingOrLockedFileIsSilent) {
  DeleteFromSystemDirectory(context, "TOLVOVS.DLL");
  EXPECT_EQ(machine.CallCount("DeleteFileA"), 1);

  const std::string path = std::string(kSystem) + "TOLVO64UI.DLL";
  machine.WriteFile(path, "dll");
  machine.fileSystem.Lock(machine.FullPath(path));
  DeleteFromSystemDirectory(context, "TOLVO64UI.DLL");
  EXPECT_TRUE(machine.Exists(path));
  EXPECT_EQ(machine.console, "");
}

TEST_F(SystemDirectoryTest, DeleteWithoutTheSystemDirectoryLeavesTheWorkingFolderAlone) {
  machine.WriteFile("C:\\Kit\\TOLVOVS.DLL", "product file");
  machine.FailCall("GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY);
  DeleteFromSystemDirectory(context, "TOLVOVS.DLL");
  EXPECT_EQ(machine.CallCount("DeleteFileA"), 0);
  EXPECT_TRUE(machine.Exists("C:\\Kit\\TOLVOVS.DLL"));
}

// --- Folder paths ----------------------------------------------------------------

// An absolute path of exactly `length` characters below C:\ made of folders
// of at most 100 characters.
std::string PathOfLength(std::size_t length) {
  std::string path = "C:\\T";
  while (path.size() < length) {
    const std::size_t room = length - path.size() - 1;
    path += "\\" + std::string(std::min<std::size_t>(room == 0 ? 1 : room, 100), 'd');
  }
  path.resize(length);
  if (path.back() == '\\') {
    path.back() = 'e';
  }
  return path;
}

TEST_F(SystemDirectoryTest, TreeCreatesTheMissingFolders) {
  machine.MakeDirectory("C:\\A");
  EXPECT_EQ(CreateDirectoryTree(context, "C:\\A\\B\\C"), 1);
  EXPECT_TRUE(machine.IsDirectory("C:\\A\\B"));
  EXPECT_TRUE(machine.IsDirectory("C:\\A\\B\\C"));
  EXPECT_EQ(machine.CallCount("CreateDirectoryA"), 3);

  EXPECT_EQ(CreateDirectoryTree(context, "C:\\A\\B\\C"), 1);
  EXPECT_EQ(CreateDirectoryTree(context, "C:\\A\\B\\D\\"), 1);
  EXPECT_TRUE(machine.IsDirectory("C:\\A\\B\\D"));
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(SystemDirectoryTest, TreeStopsAtAFileWhereAFolderShouldBe) {
  machine.WriteFile("C:\\A", "not a folder");
  EXPECT_EQ(CreateDirectoryTree(context, "C:\\A\\B\\C"), 0);
  EXPECT_EQ(machine.GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(machine.CallCount("CreateDirectoryA"), 2);
  EXPECT_EQ(machine.ReadFile("C:\\A"), "not a folder");
}

TEST_F(SystemDirectoryTest, TreeKeepsTheFoldersMadeBeforeAFailure) {
  machine.FailCall("CreateDirectoryA", ERROR_ACCESS_DENIED, 2);
  EXPECT_EQ(CreateDirectoryTree(context, "C:\\P\\Q\\R"), 0);
  EXPECT_TRUE(machine.IsDirectory("C:\\P"));
  EXPECT_FALSE(machine.Exists("C:\\P\\Q"));
}

TEST_F(SystemDirectoryTest, TreeSeparatesOnBackslashesOnly) {
  EXPECT_EQ(CreateDirectoryTree(context, "C:\\S/T"), 0);
  EXPECT_EQ(machine.GetLastError(), ERROR_INVALID_NAME);
  EXPECT_FALSE(machine.Exists("C:\\S"));
}

TEST_F(SystemDirectoryTest, TreeBeyond503CharactersIsRefusedNotCut) {
  const std::string fits = PathOfLength(503);
  ASSERT_EQ(fits.size(), 503u);
  EXPECT_EQ(CreateDirectoryTree(context, fits.c_str()), 1);
  EXPECT_TRUE(machine.IsDirectory(fits));

  const std::string tooLong = PathOfLength(504);
  const int callsBefore = machine.CallCount("CreateDirectoryA");
  EXPECT_EQ(CreateDirectoryTree(context, tooLong.c_str()), 0);
  EXPECT_EQ(machine.CallCount("CreateDirectoryA"), callsBefore);
}

}  // namespace
}  // namespace tolvo
