// Checks (-v) of an installation on the simulated machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

using CheckRun = MachineFixture;

TEST_F(CheckRun, CleanInstallationChecksCleanAndChangesNothing) {
  ASSERT_EQ(Run(), 0);
  StartNewRun();
  const std::string before = machine.StateText(kRunLogPath);

  EXPECT_EQ(Run({"-v"}), 0);

  std::cout << machine.console;
  EXPECT_EQ(machine.StateText(kRunLogPath), before);
}

}  // namespace
}  // namespace tolvo::scenario
