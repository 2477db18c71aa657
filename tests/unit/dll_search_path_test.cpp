#include "driver/dll_search_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

// The simulated machine, also keeping what SetDefaultDllDirectories was
// given (it keeps SetDllDirectoryA's setting itself).
class RecordingMachine : public sim::SimWindows {
 public:
  BOOL SetDefaultDllDirectories(DWORD directoryFlags) override {
    defaultDirectoryFlags = directoryFlags;
    return SimWindows::SetDefaultDllDirectories(directoryFlags);
  }

  std::optional<DWORD> defaultDirectoryFlags;
};

constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

class DllSearchPathTest : public ::testing::Test {
 protected:
  void ExpectNothingLeftOpen() { EXPECT_EQ(machine.OpenResources(), std::vector<std::string>{}); }

  RecordingMachine machine;
};

TEST_F(DllSearchPathTest, WhereOfferedOnlyTheSystemDirectoryIsSearched) {
  EXPECT_EQ(RestrictDllSearchPath(machine), DllSearchRestriction::kSystemDirectoryOnly);
  EXPECT_EQ(machine.defaultDirectoryFlags, kLoadLibrarySearchSystem32);
  EXPECT_EQ(machine.CallCount("SetDllDirectoryA"), 0);
  const std::vector<std::string> expected = {"GetModuleHandleA", "GetProcAddress",
                                             "SetDefaultDllDirectories"};
  EXPECT_EQ(machine.calls(), expected);
  ExpectNothingLeftOpen();
}

// Windows XP SP1 and later without the loader update: the current directory
// leaves the search path. An empty string, never null, which would restore
// the default search path instead.
TEST_F(DllSearchPathTest, WithoutSetDefaultDllDirectoriesTheCurrentDirectoryIsRemoved) {
  machine.SetExportMissing("kernel32.dll", "SetDefaultDllDirectories");
  EXPECT_EQ(RestrictDllSearchPath(machine), DllSearchRestriction::kCurrentDirectoryRemoved);
  EXPECT_EQ(machine.CallCount("SetDefaultDllDirectories"), 0);
  EXPECT_EQ(machine.dllDirectory, std::optional<std::string>(""));
  const std::vector<std::string> expected = {"GetModuleHandleA", "GetProcAddress", "GetProcAddress",
                                             "SetDllDirectoryA"};
  EXPECT_EQ(machine.calls(), expected);
  ExpectNothingLeftOpen();
}

TEST_F(DllSearchPathTest, RefusedSetDefaultDllDirectoriesStillRemovesTheCurrentDirectory) {
  machine.FailCall("SetDefaultDllDirectories", ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RestrictDllSearchPath(machine), DllSearchRestriction::kCurrentDirectoryRemoved);
  EXPECT_EQ(machine.dllDirectory, std::optional<std::string>(""));
}

struct AbsentCase {
  const char* name;
  bool exportsMissing;
  bool kernel32Missing;
  bool lookupFails;
};

// Windows XP before SP1 has neither entry point: the program runs on with
// the search path as it is.
TEST_F(DllSearchPathTest, WithNeitherEntryPointNothingIsCalled) {
  const AbsentCase cases[] = {
      {"both exports missing", true, false, false},
      {"no kernel32 handle", false, true, false},
      {"every look-up fails", false, false, true},
  };
  for (const AbsentCase& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingMachine fresh;
    if (c.exportsMissing) {
      fresh.SetExportMissing("kernel32.dll", "SetDefaultDllDirectories");
      fresh.SetExportMissing("kernel32.dll", "SetDllDirectoryA");
    }
    if (c.kernel32Missing) {
      fresh.SetModuleMissing("kernel32.dll");
    }
    if (c.lookupFails) {
      fresh.FailCall("GetProcAddress", ERROR_PROC_NOT_FOUND);
    }
    EXPECT_EQ(RestrictDllSearchPath(fresh), DllSearchRestriction::kUnchanged);
    EXPECT_EQ(fresh.CallCount("SetDefaultDllDirectories"), 0);
    EXPECT_EQ(fresh.CallCount("SetDllDirectoryA"), 0);
    EXPECT_EQ(fresh.CallCount("GetProcAddress"), c.kernel32Missing ? 0 : 2);
    EXPECT_FALSE(fresh.defaultDirectoryFlags.has_value());
    EXPECT_FALSE(fresh.dllDirectory.has_value());
    EXPECT_EQ(fresh.OpenResources(), std::vector<std::string>{});
  }
}

TEST_F(DllSearchPathTest, BothCallsRefusedLeaveThePathUnchanged) {
  machine.FailCall("SetDefaultDllDirectories", ERROR_INVALID_PARAMETER);
  machine.FailCall("SetDllDirectoryA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(RestrictDllSearchPath(machine), DllSearchRestriction::kUnchanged);
  EXPECT_EQ(machine.CallCount("SetDefaultDllDirectories"), 1);
  EXPECT_EQ(machine.CallCount("SetDllDirectoryA"), 1);
}

}  // namespace
}  // namespace tolvo
