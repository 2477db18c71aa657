// Whole runs around the desktop client's deployment and removal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo::scenario {
namespace {

using ClientRun = MachineFixture;

constexpr std::string_view kInstallHead =
    "\n"
    "Installing Tolvo Port Monitor ...\n"
    "  - Detecting Windows Version\n"
    "    (64-bit Windows 7 Detected)\n"
    "  - Checking Files\n"
    "  - Removing Old Tolvo Print Monitor\n"
    "    (Print Monitor Not Found)\n"
    "  - Deleting Tolvo Print Monitor Files from System Directory\n"
    "  - Copying Files to Windows System Directory \n"
    "  - Registering Tolvo Print Monitor\n"
    "  - Adding port configuration\n"
    "    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n"
    "  - Event Log Resources WAS installed\n"
    "    Printer 'Office Laser' assigned to port Tolvo001\n";
constexpr std::string_view kClient =
    "  - Installing Tolvo Client Graphical User Interface\n"
    "  - Waiting for all Tolvo Clients to terminate\n"
    "  - Executing Tolvo Client\n";
constexpr std::string_view kFonts = "  - Installing Font Files\n";
constexpr std::string_view kInstalled = "\nTolvo Port Monitor Installed Sucessfully.\n";

TEST_F(ClientRun, WithoutProgramFilesFolderNothingIsDeployed) {
  RemoveProgramFilesFolder();

  const int exitCode = Run();

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({
      kBanner,
      kInstallHead,
      "  - Installing Tolvo Client Graphical User Interface\n",
      "  ERROR - Cannot create directory Kestrum\\Tolvo Client\\Client\n",
      "  - Installing Font Files\n",
      "  ERROR - Cannot copy Font Files\n",
      kInstalled,
  }));
  EXPECT_TRUE(machine.processes.starts.empty());
  EXPECT_FALSE(StartupEntry().has_value());
  EXPECT_EQ(machine.CallCount("CreateDirectoryA"), 0);
  // Nothing landed at the root of the drive.
  EXPECT_FALSE(machine.Exists("C:\\Kestrum"));
  EXPECT_FALSE(machine.Exists("C:\\Tolvo Client.exe"));
}

TEST_F(ClientRun, MissingLanguageFolderLeavesAnEmptyFolder) {
  RemoveKitFile("de-DE");

  const int exitCode = Run();

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({kBanner, kInstallHead, kClient, kFonts, kInstalled}));
  EXPECT_TRUE(machine.IsDirectory(ClientDirectory() + "\\de-DE"));
  EXPECT_TRUE(machine.ListDirectory(ClientDirectory() + "\\de-DE").empty());
  EXPECT_EQ(machine.ListDirectory(ClientDirectory() + "\\hu-HU"),
            std::vector<std::string>{"Tolvo Client.resources.dll"});
}

TEST_F(ClientRun, StartupEntryIsQuotedAlsoWithoutBlanksInTheFolder) {
  machine.registry.SetString(sim::kCurrentVersionKey32, "ProgramFilesDir", "C:\\Apps");

  const int exitCode = Run();

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({kBanner, kInstallHead, kClient, kFonts, kInstalled}));
  EXPECT_EQ(StartupEntry(), "\"C:\\Apps\\Kestrum\\Tolvo Client\\Client\\Tolvo Client.exe\"");
  EXPECT_TRUE(machine.Exists("C:\\Apps\\Kestrum\\Tolvo Client\\Client\\Tolvo Client.exe"));
}

TEST_F(ClientRun, ClientThatCannotBeCopiedIsStillStartedAndRegistered) {
  // An older client already in place; the kit lacks the executable and the
  // check is switched off with "-c".
  machine.WriteFile(ClientDirectory() + "\\Tolvo Client.exe", "older client");
  RemoveKitFile("Tolvo Client.exe");
  RemoveKitFile("Microsoft.mshtml.dll");

  const int exitCode = Run({"-c"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({
      kBanner,
      "\n",
      "Installing Tolvo Port Monitor...\n",
      "  No files will be copied\n",
      "  - Detecting Windows Version\n",
      "    (64-bit Windows 7 Detected)\n",
      "  - Checking Files\n",
      "  - Removing Old Tolvo Print Monitor\n",
      "    (Print Monitor Not Found)\n",
      "  - Registering Tolvo Print Monitor\n",
      "  - Adding port configuration\n",
      "    New - IP:192.168.10.5:9100, Desc:, Queue:, Type:1 \n",
      "  - Event Log Resources WAS installed\n",
      "    Printer 'Office Laser' assigned to port Tolvo001\n",
      "  - Installing Tolvo Client Graphical User Interface\n",
      "  - Waiting for all Tolvo Clients to terminate\n",
      "  ERROR - Cannot copy Tolvo Client User Interface\n",
      "  ERROR - Cannot copy Tolvo Client User Interface DLL\n",
      "  - Executing Tolvo Client\n",
      kInstalled,
  }));
  EXPECT_EQ(machine.ReadFile(ClientDirectory() + "\\Tolvo Client.exe"), "older client");
  EXPECT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 1);
  EXPECT_TRUE(StartupEntry().has_value());
}

TEST_F(ClientRun, RunningClientIsStoppedBeforeItsFilesAreReplaced) {
  ASSERT_EQ(Run(), 0);
  ASSERT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 1);
  StartNewRun();

  ASSERT_EQ(Run(), 0);

  // The first client was ended by "Quarvel.exe"; the new one runs alone.
  EXPECT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 1);
  ASSERT_EQ(machine.processes.starts.size(), 4u);
  EXPECT_TRUE(machine.processes.starts[2].waited);
  EXPECT_EQ(machine.processes.starts[2].arguments, std::vector<std::string>{"Quarvel.exe"});
}

TEST_F(ClientRun, RemovalWithoutClientFolderTouchesNothingAtTheDriveRoot) {
  // Files of the client's names at the root of the drive, as a removal
  // relative to an empty folder would reach them.
  machine.WriteFile("C:\\Tolvo Client.exe", "not ours");
  machine.WriteFile("C:\\Interop.SHDocVw.dll", "not ours");
  machine.WriteFile("C:\\cs-CZ\\Tolvo Client.resources.dll", "not ours");
  machine.MakeDirectory("C:\\zh-CN");
  machine.registry.SetString(kRunKey32, "Tolvo Client", "\"C:\\Old\\Tolvo Client.exe\"");
  RemoveProgramFilesFolder();

  const int exitCode = Run({"-u"});

  EXPECT_EQ(exitCode, 0);
  ExpectTranscript(Transcript({
      kBanner,
      "\n",
      "Uninstalling Tolvo Port Monitor...\n",
      "  - Detecting Windows Version\n",
      "    (64-bit Windows 7 Detected)\n",
      "  - Uninstalling Tolvo Client Graphical User Interface\n",
      "  - Waiting for all Tolvo Clients to terminate\n",
      "  - Removing Tolvo Client\n",
      "  - Removing Old Tolvo Print Monitor\n",
      "    (Print Monitor Not Found)\n",
      "  - Deleting Tolvo Print Monitor Files from System Directory\n",
      "\n",
      "Tolvo Port Monitor UnInstalled Sucessfully.\n",
  }));
  EXPECT_EQ(machine.ReadFile("C:\\Tolvo Client.exe"), "not ours");
  EXPECT_EQ(machine.ReadFile("C:\\Interop.SHDocVw.dll"), "not ours");
  EXPECT_EQ(machine.ReadFile("C:\\cs-CZ\\Tolvo Client.resources.dll"), "not ours");
  EXPECT_TRUE(machine.IsDirectory("C:\\zh-CN"));
  EXPECT_EQ(machine.CallCount("RemoveDirectoryA"), 0);
  // The clients were still stopped and the start-up entry still deleted.
  ASSERT_EQ(machine.processes.starts.size(), 1u);
  EXPECT_EQ(machine.processes.starts[0].arguments, std::vector<std::string>{"Quarvel.exe"});
  EXPECT_FALSE(StartupEntry().has_value());
}

}  // namespace
}  // namespace tolvo::scenario
