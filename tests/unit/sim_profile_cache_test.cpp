// The simulated machine keeps parsed profile files between calls; every
// change to a file must still be seen by the next call, however soon it
// follows and whatever its size.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "sim/sim_windows.h"

namespace tolvo::sim {
namespace {

constexpr const char* kIni = "C:\\Kit\\Tolvo.ini";

std::string Read(SimWindows& machine, const char* section, const char* key,
                 const char* file = kIni) {
  char value[64] = {};
  machine.GetPrivateProfileStringA(section, key, "dflt", value, sizeof value, file);
  return value;
}

void Backdate(SimWindows& machine, const char* path) {
  std::filesystem::last_write_time(
      machine.HostPath(path),
      std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
}

TEST(SimProfileCache, RewriteOfTheSameSizeRightAfterAReadIsSeen) {
  SimWindows machine;
  machine.WriteFile(kIni, "[1]\r\nServerIP=10.0.0.1\r\n");
  const auto written = std::filesystem::last_write_time(machine.HostPath(kIni));
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "10.0.0.1");
  // Same size and, as within one step of the file system's clock, the same
  // time stamp: only the content tells the two apart.
  machine.WriteFile(kIni, "[1]\r\nServerIP=10.0.0.2\r\n");
  std::filesystem::last_write_time(machine.HostPath(kIni), written);
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "10.0.0.2");
  EXPECT_EQ(machine.GetPrivateProfileIntA("1", "Missing", 7, kIni), 7u);
}

TEST(SimProfileCache, RewriteOfAnOldFileIsSeen) {
  SimWindows machine;
  machine.WriteFile(kIni, "[1]\r\nServerIP=10.0.0.1\r\n");
  Backdate(machine, kIni);
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "10.0.0.1");
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "10.0.0.1");
  machine.WriteFile(kIni, "[1]\r\nServerIP=10.0.0.9\r\n");
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "10.0.0.9");
  // An old file put back with an old time stamp of its own.
  machine.WriteFile(kIni, "[1]\r\nServerIP=10.0.0.7\r\n");
  Backdate(machine, kIni);
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "10.0.0.7");
}

TEST(SimProfileCache, DeletedFileOrAFolderInItsPlaceGivesDefaults) {
  SimWindows machine;
  machine.WriteFile(kIni, "[1]\r\nServerIP=10.0.0.1\r\n");
  Backdate(machine, kIni);
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "10.0.0.1");
  std::filesystem::remove(machine.HostPath(kIni));
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "dflt");
  machine.MakeDirectory(kIni);
  EXPECT_EQ(Read(machine, "1", "ServerIP"), "dflt");
  char names[64] = {};
  EXPECT_EQ(machine.GetPrivateProfileStringA(nullptr, nullptr, "", names, sizeof names, kIni), 0u);
}

TEST(SimProfileCache, MachinesAndFilesDoNotShareEntries) {
  SimWindows first;
  SimWindows second;
  first.WriteFile(kIni, "[1]\r\nServerIP=first\r\n");
  second.WriteFile(kIni, "[1]\r\nServerIP=second\r\n");
  first.WriteFile("C:\\Kit\\Other.ini", "[1]\r\nServerIP=other\r\n");
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(Read(first, "1", "ServerIP"), "first");
    EXPECT_EQ(Read(second, "1", "ServerIP"), "second");
    EXPECT_EQ(Read(first, "1", "ServerIP", "C:\\Kit\\Other.ini"), "other");
  }
}

TEST(SimProfileCache, ManySectionsFirstOfANameWinsWithoutRegardToCase) {
  SimWindows machine;
  std::string ini;
  for (int n = 1; n <= 500; ++n) {
    ini += "[Port" + std::to_string(n) + "]\r\nValue=" + std::to_string(n) + "\r\n";
  }
  ini += "[PORT7]\r\nValue=duplicate\r\nOnlyHere=x\r\n";
  machine.WriteFile(kIni, ini);
  Backdate(machine, kIni);
  EXPECT_EQ(Read(machine, "port7", "Value"), "7");
  EXPECT_EQ(Read(machine, "Port500", "value"), "500");
  EXPECT_EQ(Read(machine, "Port7", "OnlyHere"), "dflt");
  EXPECT_EQ(Read(machine, "Port501", "Value"), "dflt");
}

TEST(SimProfile, FaultInjectionReachesProfileCalls) {
  SimWindows sim;
  sim.WriteFile(kIni, "[1]\nKey=v\n");
  sim.FailCall("GetPrivateProfileStringA", ERROR_ACCESS_DENIED, 1);
  char buffer[8] = "keep";
  EXPECT_EQ(sim.GetPrivateProfileStringA("1", "Key", "", buffer, sizeof buffer, kIni), 0u);
  EXPECT_EQ(sim.GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(sim.GetPrivateProfileStringA("1", "Key", "", buffer, sizeof buffer, kIni), 1u);
  EXPECT_STREQ(buffer, "v");
}

}  // namespace
}  // namespace tolvo::sim
