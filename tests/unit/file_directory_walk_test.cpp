#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_windows.h"
#include "winenv/file_deployment.h"

namespace tolvo {
namespace {

using sim::HandleKind;
using sim::SimWindows;

class DirectoryWalkTest : public ::testing::Test {
 protected:
  void ExpectSearchesClosed() {
    EXPECT_EQ(machine.OpenCount(HandleKind::Find), 0u);
    EXPECT_TRUE(machine.OpenResources().empty());
  }

  SimWindows machine;
  RunContext context{machine};
};

struct Visits {
  std::vector<std::string> names;
  std::size_t refuseAt = static_cast<std::size_t>(-1);
};

bool RecordingVisitor(RunContext&, const WIN32_FIND_DATAA& entry, void* visitorContext) {
  auto* visits = static_cast<Visits*>(visitorContext);
  visits->names.emplace_back(entry.cFileName);
  return visits->names.size() != visits->refuseAt;
}

// A long-path folder ("\\?\C:\W\...\") of exactly `length` characters,
// created on the machine.
std::string LongFolder(SimWindows& machine, std::size_t length) {
  std::string folder = "\\\\?\\C:\\W";
  while (folder.size() + 1 < length) {
    const std::size_t room = length - folder.size() - 2;
    folder += "\\" + std::string(std::min<std::size_t>(std::max<std::size_t>(room, 1), 100), 'd');
  }
  folder += "\\";
  EXPECT_EQ(folder.size(), length);
  machine.MakeDirectory(folder);
  return folder;
}

TEST_F(DirectoryWalkTest, VisitsOnlyTheFilesOfTheFolder) {
  machine.WriteFile("C:\\F\\b.ttf", "b");
  machine.WriteFile("C:\\F\\A.ttf", "a");
  machine.WriteFile("C:\\F\\Sub\\inner.ttf", "i");

  Visits visits;
  EXPECT_TRUE(ForEachFileInDirectory(context, "C:\\F\\", "*.*", RecordingVisitor, &visits));
  EXPECT_EQ(visits.names, (std::vector<std::string>{"A.ttf", "b.ttf"}));
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, MissingFolderVisitsNothingAndSucceeds) {
  Visits visits;
  EXPECT_TRUE(ForEachFileInDirectory(context, "C:\\None\\", "*.*", RecordingVisitor, &visits));
  EXPECT_TRUE(visits.names.empty());
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, RefusingVisitorEndsTheWalk) {
  machine.WriteFile("C:\\F\\1.ttf", "");
  machine.WriteFile("C:\\F\\2.ttf", "");
  machine.WriteFile("C:\\F\\3.ttf", "");
  Visits visits;
  visits.refuseAt = 2;
  EXPECT_FALSE(ForEachFileInDirectory(context, "C:\\F\\", "*.ttf", RecordingVisitor, &visits));
  EXPECT_EQ(visits.names, (std::vector<std::string>{"1.ttf", "2.ttf"}));
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, AFailingNextEntryEndsTheWalkSuccessfully) {
  machine.WriteFile("C:\\F\\1.ttf", "");
  machine.WriteFile("C:\\F\\2.ttf", "");
  machine.FailCall("FindNextFileA", ERROR_NOT_ENOUGH_MEMORY, 3);  // after "." and ".."
  Visits visits;
  EXPECT_TRUE(ForEachFileInDirectory(context, "C:\\F\\", "*", RecordingVisitor, &visits));
  EXPECT_EQ(visits.names, std::vector<std::string>{"1.ttf"});
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, MissingArgumentsFail) {
  Visits visits;
  EXPECT_FALSE(ForEachFileInDirectory(context, nullptr, "*.*", RecordingVisitor, &visits));
  EXPECT_FALSE(ForEachFileInDirectory(context, "C:\\F\\", nullptr, RecordingVisitor, &visits));
  EXPECT_FALSE(CopyDirectoryFiles(context, nullptr, "C:\\D", "*.*"));
  EXPECT_FALSE(CopyDirectoryFiles(context, "C:\\F", nullptr, "*.*"));
  EXPECT_FALSE(DeleteDirectoryFiles(context, "C:\\F", nullptr));
  EXPECT_EQ(machine.CallCount("FindFirstFileA"), 0);
}

TEST_F(DirectoryWalkTest, SearchPathBeyond1499CharactersIsRefused) {
  const std::string fits = LongFolder(machine, 1496);  // + "*.*" = 1499
  machine.WriteFile(fits + "x.ttf", "");
  Visits visits;
  EXPECT_TRUE(ForEachFileInDirectory(context, fits.c_str(), "*.*", RecordingVisitor, &visits));
  EXPECT_EQ(visits.names, std::vector<std::string>{"x.ttf"});

  EXPECT_FALSE(ForEachFileInDirectory(context, fits.c_str(), "*.ttf", RecordingVisitor, &visits));
  EXPECT_EQ(machine.CallCount("FindFirstFileA"), 1);
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, CopyTakesFolderWithOrWithoutTrailingBackslash) {
  for (const char* source : {"C:\\Src", "C:\\Src\\"}) {
    SimWindows fresh;
    RunContext freshContext(fresh);
    fresh.WriteFile("C:\\Src\\a.ttf", "new a");
    fresh.WriteFile("C:\\Src\\b.ttf", "new b");
    fresh.WriteFile("C:\\Src\\Sub\\c.ttf", "c");
    fresh.WriteFile("C:\\Dst\\a.ttf", "old a");
    fresh.WriteFile("C:\\Dst\\keep.ttf", "k");

    EXPECT_TRUE(CopyDirectoryFiles(freshContext, source, "C:\\Dst", "*.*")) << source;
    EXPECT_EQ(fresh.ListDirectory("C:\\Dst"),
              (std::vector<std::string>{"a.ttf", "b.ttf", "keep.ttf"}))
        << source;
    EXPECT_EQ(fresh.ReadFile("C:\\Dst\\a.ttf"), "new a");
    EXPECT_EQ(fresh.console, "");
    EXPECT_TRUE(fresh.OpenResources().empty());
  }
}

TEST_F(DirectoryWalkTest, FailingCopyIsReportedWithTheBareName) {
  machine.WriteFile("C:\\Src\\a.ttf", "a");
  machine.WriteFile("C:\\Src\\b.ttf", "b");
  machine.WriteFile("C:\\Src\\c.ttf", "c");
  machine.WriteFile("C:\\Dst\\b.ttf", "read-only");
  machine.fileSystem.SetAttributes("C:\\Dst\\b.ttf", FILE_ATTRIBUTE_READONLY);

  EXPECT_FALSE(CopyDirectoryFiles(context, "C:\\Src", "C:\\Dst\\", "*.ttf"));
  EXPECT_EQ(machine.console, "ERROR While Copying File 'b.ttf'.\n");
  EXPECT_EQ(machine.ReadFile("C:\\Dst\\a.ttf"), "a");
  EXPECT_EQ(machine.ReadFile("C:\\Dst\\b.ttf"), "read-only");
  EXPECT_FALSE(machine.Exists("C:\\Dst\\c.ttf"));
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, CopyIntoAMissingFolderFailsAtTheFirstFile) {
  machine.WriteFile("C:\\Src\\a.ttf", "a");
  EXPECT_FALSE(CopyDirectoryFiles(context, "C:\\Src", "C:\\NoSuchFolder", "*.*"));
  EXPECT_EQ(machine.console, "ERROR While Copying File 'a.ttf'.\n");
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, DeleteStopsAtTheFirstFileThatStays) {
  machine.WriteFile("C:\\F\\1.ttf", "");
  machine.WriteFile("C:\\F\\2.ttf", "");
  machine.WriteFile("C:\\F\\3.ttf", "");
  machine.fileSystem.SetAttributes("C:\\F\\2.ttf", FILE_ATTRIBUTE_READONLY);

  EXPECT_FALSE(DeleteDirectoryFiles(context, "C:\\F", "*.*"));
  EXPECT_EQ(machine.ListDirectory("C:\\F"), (std::vector<std::string>{"2.ttf", "3.ttf"}));
  EXPECT_EQ(machine.console, "");
  ExpectSearchesClosed();

  machine.fileSystem.SetAttributes("C:\\F\\2.ttf", 0);
  machine.fileSystem.Lock("C:\\F\\3.ttf");
  EXPECT_FALSE(DeleteDirectoryFiles(context, "C:\\F\\", "*.*"));
  EXPECT_EQ(machine.ListDirectory("C:\\F"), std::vector<std::string>{"3.ttf"});
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, DeleteRefusesAFilePathThatWouldBeCut) {
  // The folder and "keepme" take exactly 1499 characters, so the path of
  // "keepmeXXXX" cut to the buffer would name "keepme".
  const std::string folder = LongFolder(machine, 1493);
  machine.WriteFile(folder + "keepme", "other file");
  machine.WriteFile(folder + "keepmeXXXX", "long name");

  EXPECT_FALSE(DeleteDirectoryFiles(context, folder.c_str(), "*X"));
  EXPECT_EQ(machine.ReadFile(folder + "keepme"), "other file");
  EXPECT_TRUE(machine.Exists(folder + "keepmeXXXX"));
  EXPECT_EQ(machine.CallCount("DeleteFileA"), 0);
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, CopyRefusesADestinationPathThatWouldBeCut) {
  const std::string destination = LongFolder(machine, 1493);
  machine.WriteFile(destination + "keepme", "other file");
  machine.WriteFile("C:\\Src\\keepmeXXXX", "long name");

  EXPECT_FALSE(CopyDirectoryFiles(context, "C:\\Src", destination.c_str(), "*.*"));
  EXPECT_EQ(machine.console, "ERROR While Copying File 'keepmeXXXX'.\n");
  EXPECT_EQ(machine.ReadFile(destination + "keepme"), "other file");
  EXPECT_EQ(machine.CallCount("CopyFileA"), 0);
  ExpectSearchesClosed();
}

TEST_F(DirectoryWalkTest, FolderWithoutRoomForItsBackslashIsRefused) {
  const std::string folder = "C:\\" + std::string(1496, 'f');  // 1499 characters
  EXPECT_FALSE(DeleteDirectoryFiles(context, folder.c_str(), "*"));
  EXPECT_FALSE(CopyDirectoryFiles(context, folder.c_str(), "C:\\Dst", "*"));
  EXPECT_FALSE(CopyDirectoryFiles(context, "C:\\Src", folder.c_str(), "*"));
  EXPECT_EQ(machine.CallCount("FindFirstFileA"), 0);
}

}  // namespace
}  // namespace tolvo
