// The simulated file system answers as Windows does: the operations above
// it are only as well tested as these answers are right.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

using sim::HandleKind;
using sim::SimWindows;

class SimFilesTest : public ::testing::Test {
 protected:
  void ExpectFailure(BOOL result, DWORD error) {
    EXPECT_FALSE(result);
    EXPECT_EQ(machine.GetLastError(), error);
  }

  // Every name a search returns, in order, with the handle closed.
  std::vector<std::string> Search(const char* pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry{};
    HANDLE find = machine.FindFirstFileA(pattern, &entry);
    if (find == INVALID_HANDLE_VALUE) {
      return names;
    }
    do {
      names.emplace_back(entry.cFileName);
    } while (machine.FindNextFileA(find, &entry));
    EXPECT_EQ(machine.GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(machine.FindClose(find));
    return names;
  }

  SimWindows machine;
};

TEST_F(SimFilesTest, CopyFileErrors) {
  machine.WriteFile("C:\\S\\a.txt", "a");
  ExpectFailure(machine.CopyFileA("C:\\S\\missing.txt", "C:\\S\\b.txt", FALSE),
                ERROR_FILE_NOT_FOUND);
  ExpectFailure(machine.CopyFileA("C:\\Nowhere\\a.txt", "C:\\S\\b.txt", FALSE),
                ERROR_PATH_NOT_FOUND);
  ExpectFailure(machine.CopyFileA("C:\\S\\a.txt", "C:\\Nowhere\\a.txt", FALSE),
                ERROR_PATH_NOT_FOUND);

  machine.WriteFile("C:\\D\\a.txt", "old");
  ExpectFailure(machine.CopyFileA("C:\\S\\a.txt", "C:\\D\\a.txt", TRUE), ERROR_FILE_EXISTS);
  machine.fileSystem.SetAttributes("C:\\D\\a.txt", FILE_ATTRIBUTE_READONLY);
  ExpectFailure(machine.CopyFileA("C:\\S\\a.txt", "C:\\D\\a.txt", FALSE), ERROR_ACCESS_DENIED);
  machine.fileSystem.SetAttributes("C:\\D\\a.txt", 0);
  machine.fileSystem.Lock("C:\\D\\A.TXT");
  ExpectFailure(machine.CopyFileA("C:\\S\\a.txt", "C:\\D\\a.txt", FALSE), ERROR_SHARING_VIOLATION);
  EXPECT_EQ(machine.ReadFile("C:\\D\\a.txt"), "old");
}

TEST_F(SimFilesTest, CopyFileOverwritesWithoutRegardToCaseAndCopiesAttributes) {
  machine.WriteFile("C:\\S\\a.txt", "new");
  machine.WriteFile("C:\\D\\A.TXT", "old");
  machine.fileSystem.SetAttributes("C:\\S\\a.txt", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(machine.CopyFileA("c:\\s\\A.txt", "C:\\d\\a.txt", FALSE));
  EXPECT_EQ(machine.ListDirectory("C:\\D"), std::vector<std::string>{"A.TXT"});
  EXPECT_EQ(machine.ReadFile("C:\\D\\A.TXT"), "new");
  EXPECT_EQ(machine.GetFileAttributesA("C:\\D\\a.txt"), FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(SimFilesTest, DeleteFileErrors) {
  machine.WriteFile("C:\\F\\a.txt", "a");
  machine.fileSystem.SetAttributes("C:\\F\\a.txt", FILE_ATTRIBUTE_READONLY);
  ExpectFailure(machine.DeleteFileA("C:\\F\\a.txt"), ERROR_ACCESS_DENIED);
  ExpectFailure(machine.DeleteFileA("C:\\F"), ERROR_ACCESS_DENIED);
  ExpectFailure(machine.DeleteFileA("C:\\F\\b.txt"), ERROR_FILE_NOT_FOUND);

  EXPECT_TRUE(machine.SetFileAttributesA("C:\\F\\a.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(machine.GetFileAttributesA("C:\\F\\a.txt"), FILE_ATTRIBUTE_NORMAL);
  machine.fileSystem.Lock("C:\\F\\a.txt");
  ExpectFailure(machine.DeleteFileA("C:\\F\\a.txt"), ERROR_SHARING_VIOLATION);
  machine.fileSystem.Unlock("C:\\F\\a.txt");
  EXPECT_TRUE(machine.DeleteFileA("C:\\F\\a.txt"));
  EXPECT_FALSE(machine.Exists("C:\\F\\a.txt"));
}

TEST_F(SimFilesTest, AttributesOfNewFilesAndFolders) {
  machine.WriteFile("C:\\F\\a.txt", "a");
  EXPECT_EQ(machine.GetFileAttributesA("C:\\F\\a.txt"), FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_EQ(machine.GetFileAttributesA("C:\\F"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(machine.GetFileAttributesA("C:\\F\\none"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(machine.GetLastError(), ERROR_FILE_NOT_FOUND);
  ExpectFailure(machine.SetFileAttributesA("C:\\G\\x", FILE_ATTRIBUTE_NORMAL),
                ERROR_PATH_NOT_FOUND);
}

TEST_F(SimFilesTest, CreateAndRemoveDirectoryErrors) {
  machine.WriteFile("C:\\F\\a.txt", "a");
  ExpectFailure(machine.CreateDirectoryA("C:\\F", nullptr), ERROR_ALREADY_EXISTS);
  ExpectFailure(machine.CreateDirectoryA("C:\\F\\a.txt", nullptr), ERROR_ALREADY_EXISTS);
  ExpectFailure(machine.CreateDirectoryA("C:\\X\\Y", nullptr), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(machine.CreateDirectoryA("\\\\?\\C:\\F\\New", nullptr));

  ExpectFailure(machine.RemoveDirectoryA("C:\\F"), ERROR_DIR_NOT_EMPTY);
  ExpectFailure(machine.RemoveDirectoryA("C:\\F\\a.txt"), 267);  // ERROR_DIRECTORY
  ExpectFailure(machine.RemoveDirectoryA("C:\\F\\Gone"), ERROR_FILE_NOT_FOUND);
  ExpectFailure(machine.RemoveDirectoryA("C:\\Kit"), ERROR_SHARING_VIOLATION);  // current
  EXPECT_TRUE(machine.RemoveDirectoryA("C:\\f\\new"));
  EXPECT_FALSE(machine.Exists("C:\\F\\New"));
}

TEST_F(SimFilesTest, SearchListsDotsFirstThenNamesInOrder) {
  machine.WriteFile("C:\\F\\b.ttf", "");
  machine.WriteFile("C:\\F\\A.TTF", "");
  machine.WriteFile("C:\\F\\README", "");
  machine.MakeDirectory("C:\\F\\Sub");

  EXPECT_EQ(Search("C:\\F\\*.*"),
            (std::vector<std::string>{".", "..", "A.TTF", "b.ttf", "README", "Sub"}));
  EXPECT_EQ(Search("C:\\F\\*"),
            (std::vector<std::string>{".", "..", "A.TTF", "b.ttf", "README", "Sub"}));
  EXPECT_EQ(Search("C:\\F\\*.ttf"), (std::vector<std::string>{"A.TTF", "b.ttf"}));
  EXPECT_EQ(Search("C:\\F\\?.ttf"), (std::vector<std::string>{"A.TTF", "b.ttf"}));
  EXPECT_EQ(Search("C:\\F\\readme.*"), std::vector<std::string>{"README"});
  EXPECT_EQ(Search("C:\\F\\sub"), std::vector<std::string>{"Sub"});
  EXPECT_EQ(machine.OpenCount(HandleKind::Find), 0u);
}

TEST_F(SimFilesTest, SearchFailures) {
  machine.MakeDirectory("C:\\Empty");
  WIN32_FIND_DATAA entry{};
  EXPECT_EQ(machine.FindFirstFileA("C:\\Empty\\*.ttf", &entry), INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(machine.FindFirstFileA("C:\\None\\*.*", &entry), INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine.GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(machine.FindFirstFileA("FontFiles", &entry), INVALID_HANDLE_VALUE);
  ExpectFailure(machine.FindClose(INVALID_HANDLE_VALUE), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(machine.OpenResources().empty());

  // A drive root has no "." and ".." entries.
  machine.WriteFile("D:\\only.txt", "");
  EXPECT_EQ(Search("D:\\*"), std::vector<std::string>{"only.txt"});
}

TEST_F(SimFilesTest, OpenSearchIsCountedUntilClosed) {
  machine.WriteFile("C:\\F\\a", "");
  WIN32_FIND_DATAA entry{};
  HANDLE find = machine.FindFirstFileA("C:\\F\\*", &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine.OpenCount(HandleKind::Find), 1u);
  EXPECT_TRUE(machine.FindClose(find));
  EXPECT_EQ(machine.OpenCount(HandleKind::Find), 0u);
  ExpectFailure(machine.FindNextFileA(find, &entry), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace tolvo
