#include "workflows/client_application.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scenarios/machine_fixture.h"

namespace tolvo {
namespace {

using scenario::kClientFiles;
using scenario::kCultures;
using scenario::Transcript;

using ClientApplication = scenario::OperationFixture;

TEST_F(ClientApplication, DeploysFilesResourcesStartsAndRegistersTheClient) {
  DeployClientApplication(context);

  EXPECT_EQ(machine.console, Transcript({
                                 "  - Installing Tolvo Client Graphical User Interface\n",
                                 "  - Waiting for all Tolvo Clients to terminate\n",
                                 "  - Executing Tolvo Client\n",
                             }));
  const std::string client = ClientDirectory();
  for (const char* file : kClientFiles) {
    EXPECT_EQ(machine.ReadFile(client + "\\" + file), KitContent(file)) << file;
  }
  for (const char* culture : kCultures) {
    EXPECT_EQ(machine.ListDirectory(client + "\\" + culture),
              std::vector<std::string>{"Tolvo Client.resources.dll"})
        << culture;
  }
  ASSERT_EQ(machine.processes.starts.size(), 2u);
  EXPECT_EQ(machine.processes.starts[1].arguments,
            std::vector<std::string>{client + "\\Tolvo Client.exe"});
  EXPECT_EQ(StartupEntry(), "\"" + client + "\\Tolvo Client.exe\"");
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(ClientApplication, ClientsThatWillNotStopAreReportedAndTheDeploymentGoesOn) {
  sim::SimProgram stubborn;
  stubborn.exitStatus = 3;
  machine.processes.RegisterProgram("Quarvel.exe", stubborn);

  DeployClientApplication(context);

  EXPECT_EQ(machine.console, Transcript({
                                 "  - Installing Tolvo Client Graphical User Interface\n",
                                 "  - Waiting for all Tolvo Clients to terminate\n",
                                 "  ERROR - Cannot stop all Tolvo Client instances\n",
                                 "  - Executing Tolvo Client\n",
                             }));
  EXPECT_TRUE(machine.Exists(ClientDirectory() + "\\Tolvo Client.exe"));
  EXPECT_TRUE(StartupEntry().has_value());
}

// Not shown under Wine, where every process runs as one administrator.
TEST_F(ClientApplication, AsLocalSystemTheClientWaitsForTheLogonAndAHungStopToolIsLeftRunning) {
  sim::SimProgram hung;
  hung.staysRunning = true;
  machine.processes.RegisterProgram("Quarvel.exe", hung);
  machine.runAccount = "S-1-5-18";

  DeployClientApplication(context);

  EXPECT_EQ(machine.console,
            Transcript({
                "  - Installing Tolvo Client Graphical User Interface\n",
                "  - Waiting for all Tolvo Clients to terminate\n",
                "  ERROR - Quarvel.exe did not end within 2 minutes; going on without waiting for "
                "it\n",
                "  ERROR - Cannot stop all Tolvo Client instances\n",
                "  - Tolvo Client will start at the next logon (the installation runs as the "
                "local system account)\n",
            }));
  EXPECT_EQ(machine.processes.hungWaits, 0);
  EXPECT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 0);
  EXPECT_TRUE(StartupEntry().has_value());
}

TEST_F(ClientApplication, FolderThatCannotBeCreatedEndsTheDeployment) {
  machine.WriteFile(ProgramFiles() + "\\Kestrum", "a file in the way");

  DeployClientApplication(context);

  EXPECT_EQ(machine.console,
            Transcript({
                "  - Installing Tolvo Client Graphical User Interface\n",
                "  ERROR - Cannot create directory Kestrum\\Tolvo Client\\Client\n",
            }));
  EXPECT_TRUE(machine.processes.starts.empty());
  EXPECT_EQ(machine.CallCount("CopyFileA"), 0);
  EXPECT_FALSE(StartupEntry().has_value());
}

TEST_F(ClientApplication, LockedClientIsReportedButStillStarted) {
  DeployClientApplication(context);
  machine.console.clear();
  machine.fileSystem.Lock(machine.FullPath(ClientDirectory() + "\\Interop.SHDocVw.dll"));
  machine.fileSystem.Lock(machine.FullPath(ClientDirectory() + "\\Tolvo Client.exe"));

  DeployClientApplication(context);

  EXPECT_EQ(machine.console, Transcript({
                                 "  - Installing Tolvo Client Graphical User Interface\n",
                                 "  - Waiting for all Tolvo Clients to terminate\n",
                                 "  ERROR - Cannot copy Tolvo Client User Interface\n",
                                 "  ERROR - Cannot copy Tolvo Client User Interface DLL\n",
                                 "  - Executing Tolvo Client\n",
                             }));
  EXPECT_EQ(machine.processes.starts.size(), 4u);
}

TEST_F(ClientApplication, RemovalTakesEverythingItPutInPlace) {
  DeployClientApplication(context);
  machine.WriteFile(ProgramFiles() + "\\Kestrum\\Tolvo Client\\WebBrowser\\cache\\page.htm", "x");
  machine.console.clear();

  RemoveClientApplication(context);

  EXPECT_EQ(machine.console, Transcript({
                                 "  - Uninstalling Tolvo Client Graphical User Interface\n",
                                 "  - Waiting for all Tolvo Clients to terminate\n",
                                 "  - Removing Tolvo Client\n",
                             }));
  EXPECT_FALSE(machine.Exists(ClientDirectory()));
  EXPECT_FALSE(machine.Exists(ProgramFiles() + "\\Kestrum\\Tolvo Client\\WebBrowser"));
  EXPECT_FALSE(StartupEntry().has_value());
  EXPECT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 0);
  EXPECT_TRUE(machine.OpenResources().empty());
}

TEST_F(ClientApplication, RemovalWithoutClientFolderDeletesNoFileAndRemovesNoFolder) {
  machine.registry.SetString(RunKey(), "Tolvo Client", "\"C:\\Old\\Tolvo Client.exe\"");
  RemoveProgramFilesFolder();

  RemoveClientApplication(context);

  EXPECT_EQ(machine.console, Transcript({
                                 "  - Uninstalling Tolvo Client Graphical User Interface\n",
                                 "  - Waiting for all Tolvo Clients to terminate\n",
                                 "  - Removing Tolvo Client\n",
                             }));
  EXPECT_EQ(machine.CallCount("DeleteFileA"), 0);
  EXPECT_EQ(machine.CallCount("RemoveDirectoryA"), 0);
  EXPECT_EQ(machine.CallCount("CreateDirectoryA"), 0);
  // Only "Quarvel.exe" ran: no command interpreter for the browser folder.
  ASSERT_EQ(machine.processes.starts.size(), 1u);
  EXPECT_EQ(machine.processes.starts[0].arguments, std::vector<std::string>{"Quarvel.exe"});
  EXPECT_FALSE(StartupEntry().has_value());
}

}  // namespace
}  // namespace tolvo
