// Files and folders as the deployment steps use them: the operations above
// the seam are only as well tested as these answers are right.
#include <algorithm>
#include <string>
#include <vector>

#include "conformance/check.h"
#include "platform/run_account.h"
#include "winenv/access_rules.h"

namespace tolvo::checks {
namespace {

constexpr const char* kReadOnlyTarget =
    "CopyFile fails with ERROR_ACCESS_DENIED onto an existing read-only or hidden file "
    "(Microsoft's CopyFile page); Wine overwrites a read-only one whenever the host lets "
    "its user write the host file (as root), and refuses as Windows does otherwise";

class FilesCheck : public Check {
 protected:
  // Every name a search returns, "." and ".." first as Windows lists them,
  // the rest sorted (their order depends on the file system).
  std::vector<std::string> Search(const std::string& pattern) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry{};
    HANDLE find = api.FindFirstFileA(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
      return names;
    }
    do {
      names.emplace_back(entry.cFileName);
    } while (api.FindNextFileA(find, &entry));
    EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    EXPECT_TRUE(api.FindClose(find));
    const auto dots = std::find_if(names.begin(), names.end(),
                                   [](const std::string& n) { return n != "." && n != ".."; });
    std::sort(dots, names.end(), [](const std::string& a, const std::string& b) {
      return std::lexicographical_compare(
          a.begin(), a.end(), b.begin(), b.end(),
          [](char x, char y) { return std::tolower(x) < std::tolower(y); });
    });
    return names;
  }
};

// A file read whole: in pieces, then 0 bytes at its end.
TEST_F(FilesCheck, ReadFileToItsEnd) {
  scratch.WriteFile(Path("image.dll"), "MZ123");
  EXPECT_FAILS(
      ERROR_FILE_NOT_FOUND,
      api.CreateFileA(Path("missing.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr) != INVALID_HANDLE_VALUE);
  HANDLE file = api.CreateFileA(Path("image.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  char buffer[8] = {};
  for (const DWORD expected : {4u, 1u, 0u}) {
    DWORD read = 99;
    EXPECT_TRUE(api.ReadFile(file, buffer + (expected == 1 ? 4 : 0), 4, &read, nullptr));
    EXPECT_EQ(read, expected);
  }
  EXPECT_STREQ(buffer, "MZ123");
  EXPECT_TRUE(api.CloseHandle(file));
}

TEST_F(FilesCheck, CopyFileErrors) {
  scratch.WriteFile(Path("a.txt"), "a");
  EXPECT_FAILS(ERROR_FILE_NOT_FOUND,
               api.CopyFileA(Path("missing.txt").c_str(), Path("b.txt").c_str(), FALSE));
  EXPECT_FAILS(ERROR_PATH_NOT_FOUND,
               api.CopyFileA(Path("Nowhere\\a.txt").c_str(), Path("b.txt").c_str(), FALSE));
  EXPECT_FAILS(ERROR_PATH_NOT_FOUND,
               api.CopyFileA(Path("a.txt").c_str(), Path("Nowhere\\a.txt").c_str(), FALSE));

  scratch.WriteFile(Path("d.txt"), "old");
  EXPECT_FAILS(ERROR_FILE_EXISTS,
               api.CopyFileA(Path("a.txt").c_str(), Path("d.txt").c_str(), TRUE));
  EXPECT_EQ(scratch.ReadFile(Path("d.txt")), "old");
  EXPECT_TRUE(api.SetFileAttributesA(Path("d.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  const bool hostWrites = scratch.WritableThoughReadOnly(Path("d.txt"));
  EXPECT_FAILS_UNLESS(hostWrites, ERROR_ACCESS_DENIED,
                      api.CopyFileA(Path("a.txt").c_str(), Path("d.txt").c_str(), FALSE),
                      kReadOnlyTarget);
  EXPECT_EQ(scratch.ReadFile(Path("d.txt")), hostWrites ? "a" : "old");
  EXPECT_TRUE(api.SetFileAttributesA(Path("d.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  scratch.HoldOpen(Path("D.TXT"));
  EXPECT_FAILS(ERROR_SHARING_VIOLATION,
               api.CopyFileA(Path("a.txt").c_str(), Path("d.txt").c_str(), FALSE));
}

TEST_F(FilesCheck, CopyFileOverwritesWithoutRegardToCaseAndCopiesAttributes) {
  scratch.WriteFile(Path("a.txt"), "new");
  api.CreateDirectoryA(Path("D").c_str(), nullptr);
  scratch.WriteFile(Path("D\\A.TXT"), "old");
  EXPECT_TRUE(api.SetFileAttributesA(Path("a.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  EXPECT_TRUE(api.CopyFileA(Path("A.txt").c_str(), Path("d\\a.txt").c_str(), FALSE));
  EXPECT_EQ(Search(Path("D\\*")), (std::vector<std::string>{".", "..", "A.TXT"}));
  EXPECT_EQ(scratch.ReadFile(Path("D\\A.TXT")), "new");
  WINE_DEPARTS(api.GetFileAttributesA(Path("D\\a.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN,
               DWORD{FILE_ATTRIBUTE_HIDDEN}, 0u,
               "CopyFile: \"File attributes for the existing file are copied to the new file\" "
               "(Microsoft's CopyFile page); Wine's copy onto an existing file does not get it");
}

TEST_F(FilesCheck, DeleteFileErrors) {
  scratch.WriteFile(Path("a.txt"), "a");
  EXPECT_TRUE(api.SetFileAttributesA(Path("a.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FAILS(ERROR_ACCESS_DENIED, api.DeleteFileA(Path("a.txt").c_str()));
  EXPECT_FAILS(ERROR_ACCESS_DENIED, api.DeleteFileA(scratch.folder().c_str()));
  EXPECT_FAILS(ERROR_FILE_NOT_FOUND, api.DeleteFileA(Path("b.txt").c_str()));

  EXPECT_TRUE(api.SetFileAttributesA(Path("a.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  WINE_DEPARTS(api.GetFileAttributesA(Path("a.txt").c_str()), DWORD{FILE_ATTRIBUTE_NORMAL},
               DWORD{FILE_ATTRIBUTE_ARCHIVE},
               "FILE_ATTRIBUTE_NORMAL: \"a file that does not have other attributes set\" "
               "(Microsoft's file attribute constants); Wine reports such a file as archive");
  scratch.HoldOpen(Path("a.txt"));
  EXPECT_FAILS(ERROR_SHARING_VIOLATION, api.DeleteFileA(Path("a.txt").c_str()));
}

TEST_F(FilesCheck, AttributesOfNewFilesAndFolders) {
  scratch.WriteFile(Path("a.txt"), "a");
  EXPECT_EQ(api.GetFileAttributesA(Path("a.txt").c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(api.GetFileAttributesA(scratch.folder().c_str()),
            static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  api.SetLastError(kStale);
  EXPECT_EQ(api.GetFileAttributesA(Path("none").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_FAILS(ERROR_PATH_NOT_FOUND,
               api.SetFileAttributesA(Path("G\\x").c_str(), FILE_ATTRIBUTE_NORMAL));
}

// A file's owner and DACL as the installer judges them: a file made by an
// administrator's run is no lesser account's to change, and users may read
// it (Wine maps the host's permission bits to grants: Everyone reads a file
// of mode 644; Windows' folders hand Users read down).
TEST_F(FilesCheck, NamedSecurityOfAFile) {
  scratch.WriteFile(Path("a.txt"), "a");
  char run[kSidTextSize];
  ASSERT_TRUE(RunAccountSid(api, run));
  UniqueLocal text(api);
  ASSERT_EQ(ReadFileSecurity(api, Path("a.txt").c_str(), text), static_cast<DWORD>(ERROR_SUCCESS));
  const std::string_view sddl(static_cast<const char*>(text.get()));
  EXPECT_EQ(LesserAccountWith(sddl, Access::Change, run), "") << sddl;
  EXPECT_NE(LesserAccountWith(sddl, Access::Read, run), "") << sddl;
  EXPECT_EQ(ReadFileSecurity(api, Path("none.txt").c_str(), text),
            static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ReadFileSecurity(api, Path("G\\x").c_str(), text),
            static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

TEST_F(FilesCheck, CreateAndRemoveDirectoryErrors) {
  scratch.WriteFile(Path("a.txt"), "a");
  EXPECT_FAILS(ERROR_ALREADY_EXISTS, api.CreateDirectoryA(scratch.folder().c_str(), nullptr));
  EXPECT_FAILS(ERROR_ALREADY_EXISTS, api.CreateDirectoryA(Path("a.txt").c_str(), nullptr));
  EXPECT_FAILS(ERROR_PATH_NOT_FOUND, api.CreateDirectoryA(Path("X\\Y").c_str(), nullptr));
  EXPECT_TRUE(api.CreateDirectoryA(("\\\\?\\" + Path("New")).c_str(), nullptr));

  EXPECT_FAILS(ERROR_DIR_NOT_EMPTY, api.RemoveDirectoryA(scratch.folder().c_str()));
  EXPECT_FAILS(267, api.RemoveDirectoryA(Path("a.txt").c_str()));  // ERROR_DIRECTORY
  EXPECT_FAILS(ERROR_FILE_NOT_FOUND, api.RemoveDirectoryA(Path("Gone").c_str()));
  EXPECT_TRUE(api.CreateDirectoryA(Path("Current").c_str(), nullptr));
  EXPECT_TRUE(api.SetCurrentDirectoryA(Path("Current").c_str()));
  EXPECT_FAILS(ERROR_SHARING_VIOLATION, api.RemoveDirectoryA(Path("Current").c_str()));
  EXPECT_TRUE(api.SetCurrentDirectoryA(scratch.folder().c_str()));
  EXPECT_TRUE(api.RemoveDirectoryA(Path("new").c_str()));
  EXPECT_EQ(api.GetFileAttributesA(Path("New").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FilesCheck, SearchListsDotsFirst) {
  scratch.WriteFile(Path("b.ttf"), "");
  scratch.WriteFile(Path("A.TTF"), "");
  scratch.WriteFile(Path("README"), "");
  api.CreateDirectoryA(Path("Sub").c_str(), nullptr);

  const std::vector<std::string> all{".", "..", "A.TTF", "b.ttf", "README", "Sub"};
  EXPECT_EQ(Search(Path("*.*")), all);
  EXPECT_EQ(Search(Path("*")), all);
  EXPECT_EQ(Search("\\\\?\\" + Path("*")), all);
  EXPECT_EQ(Search(Path("*.ttf")), (std::vector<std::string>{"A.TTF", "b.ttf"}));
  EXPECT_EQ(Search(Path("?.ttf")), (std::vector<std::string>{"A.TTF", "b.ttf"}));
  EXPECT_EQ(Search(Path("readme.*")), std::vector<std::string>{"README"});
  EXPECT_EQ(Search(Path("sub")), std::vector<std::string>{"Sub"});
  EXPECT_EQ(Search(Path("Sub\\*")), (std::vector<std::string>{".", ".."}));
}

TEST_F(FilesCheck, SearchFailures) {
  api.CreateDirectoryA(Path("Empty").c_str(), nullptr);
  WIN32_FIND_DATAA entry{};
  EXPECT_FAILS(ERROR_FILE_NOT_FOUND,
               api.FindFirstFileA(Path("Empty\\*.ttf").c_str(), &entry) != INVALID_HANDLE_VALUE);
  EXPECT_FAILS(ERROR_PATH_NOT_FOUND,
               api.FindFirstFileA(Path("None\\*.*").c_str(), &entry) != INVALID_HANDLE_VALUE);
  EXPECT_FAILS(ERROR_FILE_NOT_FOUND,
               api.FindFirstFileA("FontFiles", &entry) != INVALID_HANDLE_VALUE);
  EXPECT_FAILS(ERROR_INVALID_HANDLE, api.FindClose(INVALID_HANDLE_VALUE));
}

TEST_F(FilesCheck, ADriveRootHasNoDots) {
  const std::string root = scratch.folder().substr(0, 3);  // "C:\"
  const std::vector<std::string> names = Search(root + "*");
  ASSERT_FALSE(names.empty());
  EXPECT_NE(names.front(), ".");
  EXPECT_EQ(std::count(names.begin(), names.end(), ".."), 0);
}

}  // namespace
}  // namespace tolvo::checks
