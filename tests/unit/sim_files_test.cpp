// The simulated file system's accounting of open searches. How it answers
// through the seam is checked against Windows' behaviour in
// tests/conformance/files_check.cpp.
#include <gtest/gtest.h>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

using sim::HandleKind;
using sim::SimWindows;

TEST(SimFilesTest, OpenSearchIsCountedUntilClosed) {
  SimWindows machine;
  machine.WriteFile("C:\\F\\a", "");
  WIN32_FIND_DATAA entry{};
  HANDLE find = machine.FindFirstFileA("C:\\F\\*", &entry);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(machine.OpenCount(HandleKind::Find), 1u);
  EXPECT_TRUE(machine.FindClose(find));
  EXPECT_EQ(machine.OpenCount(HandleKind::Find), 0u);
  EXPECT_FALSE(machine.FindNextFileA(find, &entry));
  EXPECT_EQ(machine.GetLastError(), ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace tolvo
