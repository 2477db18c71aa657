#include "workflows/uninstall_sequence.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo {
namespace {

using UninstallSequence = scenario::OperationFixture;

const char* const kEveryMonitorFile[] = {"TOLVOVS.DLL",   "TOLVOUI.DLL",    "TolvoCairoLib.DLL",
                                         "TOLVOVS64.DLL", "TOLVO64UI.DLL",  "TolvoCairoLib64.DLL",
                                         "TOLVOE.DLL",    "TOLVOEUI.DLL",   "TolvoECairoLib.DLL",
                                         "TOLVOE64.DLL",  "TOLVOE64UI.DLL", "TolvoECairoLib64.DLL",
                                         "TOLVO.DLL",     "TOLVO64.DLL"};

struct DeletionCase {
  const char* name;
  bool wow64;
  bool enterprise;
  std::set<std::string> deleted;
};

class UninstallDeletion : public UninstallSequence,
                          public ::testing::WithParamInterface<DeletionCase> {};

TEST_P(UninstallDeletion, DeletesExactlyTheFilesOfItsEditionAndBitness) {
  const DeletionCase& c = GetParam();
  machine.version.wow64 = c.wow64;
  if (c.enterprise) {
    UseEnterpriseEdition();
  }
  for (const char* file : kEveryMonitorFile) {
    WriteSystemFile(file, "installed");
  }
  // A read-only file goes as well.
  machine.fileSystem.SetAttributes(SystemFile(*c.deleted.begin()), FILE_ATTRIBUTE_READONLY);

  EXPECT_TRUE(UninstallPortMonitor(context, nullptr, true));

  for (const char* file : kEveryMonitorFile) {
    EXPECT_EQ(InSystemDirectory(file), c.deleted.count(file) == 0) << file;
  }
  EXPECT_TRUE(machine.OpenResources().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachEditionAndBitness, UninstallDeletion,
    ::testing::Values(
        DeletionCase{"Standard64",
                     true,
                     false,
                     {"TOLVOVS64.DLL", "TOLVO64UI.DLL", "TOLVO64.DLL", "TolvoCairoLib64.DLL"}},
        DeletionCase{"Standard32",
                     false,
                     false,
                     {"TOLVOVS.DLL", "TOLVOUI.DLL", "TOLVO.DLL", "TolvoCairoLib.DLL"}},
        DeletionCase{
            "Enterprise64", true, true, {"TOLVOE64.DLL", "TOLVOE64UI.DLL", "TolvoECairoLib64.DLL"}},
        DeletionCase{
            "Enterprise32", false, true, {"TOLVOE.DLL", "TOLVOEUI.DLL", "TolvoECairoLib.DLL"}}),
    [](const ::testing::TestParamInfo<DeletionCase>& info) {
      return std::string(info.param.name);
    });

// How the spooler answers the removal, and what the sequence makes of it.
struct RemovalCase {
  const char* name;
  bool registered;
  DWORD refusal;
  bool result;
  const char* line;  // printed after "  - Removing Old Tolvo Print Monitor\n"
  std::size_t events;
};

class UninstallRemoval : public UninstallSequence,
                         public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(UninstallRemoval, JudgesTheSpoolersAnswer) {
  const RemovalCase& c = GetParam();
  if (c.registered) {
    machine.spooler.remoteMonitors.push_back("Tolvo");
  }
  machine.spooler.deleteMonitorError = c.refusal;
  WriteSystemFile("TOLVOVS64.DLL", "installed");

  EXPECT_EQ(UninstallPortMonitor(context, "\\\\SRV", true), c.result);

  const std::string removal = std::string("  - Removing Old Tolvo Print Monitor\n") + c.line;
  const std::size_t at = machine.console.find(removal);
  ASSERT_NE(at, std::string::npos) << machine.console;
  if (c.result) {
    EXPECT_EQ(machine.console.substr(at + removal.size()),
              "  - Deleting Tolvo Print Monitor Files from System Directory\n");
  } else {
    EXPECT_EQ(at + removal.size(), machine.console.size());
  }
  EXPECT_EQ(InSystemDirectory("TOLVOVS64.DLL"), !c.result);
  EXPECT_EQ(machine.registry.events.size(), c.events);
  if (c.events == 1) {
    EXPECT_EQ(machine.registry.events[0].strings,
              std::vector<std::string>{"Port Monitor Uninstalled Sucessfully"});
  }
  EXPECT_EQ(machine.spooler.serverNames.back(), "DeleteMonitorA \\\\SRV");
  EXPECT_TRUE(machine.OpenResources().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachAnswer, UninstallRemoval,
    ::testing::Values(RemovalCase{"Removed", true, 0, true, "", 1},
                      RemovalCase{"NotFound", false, 0, true, "    (Print Monitor Not Found)\n", 0},
                      RemovalCase{"Busy", true, ERROR_BUSY, false,
                                  "ERROR Print Monitor Is Used By Spooler.\n", 0},
                      RemovalCase{"NotImplemented", true, ERROR_CALL_NOT_IMPLEMENTED, false,
                                  "ERROR This function is not supported on this system.\n", 0},
                      RemovalCase{"OtherError", true, ERROR_ACCESS_DENIED, false,
                                  "ERROR (5) While Removing Print Monitor.\n", 0}),
    [](const ::testing::TestParamInfo<RemovalCase>& info) { return std::string(info.param.name); });

TEST_F(UninstallSequence, UnsupportedSystemTouchesNothing) {
  machine.version.major = 5;
  machine.version.minor = 0;
  machine.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL");

  EXPECT_FALSE(UninstallPortMonitor(context, nullptr, true));

  EXPECT_EQ(machine.console, scenario::Transcript({
                                 "  - Detecting Windows Version\n",
                                 "    (Windows 2000 Detected)\n",
                                 "ERROR: Unsupported Operating System Detected.\n",
                             }));
  EXPECT_EQ(machine.CallCount("DeleteMonitorA"), 0);
  EXPECT_TRUE(machine.processes.starts.empty());
}

}  // namespace
}  // namespace tolvo
