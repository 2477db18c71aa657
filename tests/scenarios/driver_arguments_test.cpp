// The command line as the sequences receive it, and the start-up steps.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "scenarios/driver_scenario.h"

namespace tolvo::scenario {
namespace {

using Arguments = DriverScenario;

struct Case {
  std::vector<std::string> arguments;
  bool uninstall;
  bool ignoreErrors;
  std::optional<std::string> server;
  bool fromRegistry;
  bool copyFiles;
  std::string printedAfterBanner;  // up to the sequence's own output
  bool check = false;
};

TEST_F(Arguments, SequencesReceiveWhatTheCommandLineSays) {
  const std::string installing = "\nInstalling Tolvo Port Monitor";
  const std::vector<Case> cases = {
      {{}, false, false, std::nullopt, false, true, installing + " ...\n"},
      {{"-s"}, false, false, std::nullopt, false, true, installing + "...\n"},
      {{"-tC:\\trace.txt"}, false, false, std::nullopt, false, true, installing + " ...\n"},
      {{"-e", "-r", "-c"},
       false,
       true,
       std::nullopt,
       true,
       false,
       installing + "...\n[IGNORE ERRORS Switch is Enabled!]\n" +
           "  (config will be read from registry)\n  No files will be copied\n"},
      {{"-C", "-R"},
       false,
       false,
       std::nullopt,
       true,
       false,
       installing + "...\n  (config will be read from registry)\n  No files will be copied\n"},
      {{"\\\\printsrv"},
       false,
       false,
       "\\\\printsrv",
       false,
       true,
       installing + " on server \\\\printsrv...\n"},
      {{"-x"}, false, false, "-x", false, true, installing + " on server -x...\n"},
      {{"/u"}, false, false, "/u", false, true, installing + " on server /u...\n"},
      {{"-uc"}, false, false, "-uc", false, true, installing + " on server -uc...\n"},
      {{"first", "second"},
       false,
       false,
       "second",
       false,
       true,
       installing + " on server second...\n"},
      {{"-l", "x.log"}, false, false, "x.log", false, true, installing + " on server x.log...\n"},
      {{"-f"},
       false,
       false,
       std::nullopt,
       false,
       true,
       "NOTE: The -f switch is obsolete, the client application is un/installed automaticaly\n" +
           installing + "...\n"},
      {{"-u"}, true, false, std::nullopt, false, true, "\nUninstalling Tolvo Port Monitor...\n"},
      {{"-U", "\\\\srv"},
       true,
       false,
       "\\\\srv",
       false,
       true,
       "\nUninstalling Tolvo Port Monitor on server \\\\srv...\n"},
      // "-e" and "-r" change nothing in an uninstallation.
      {{"-u", "-e", "-r"},
       true,
       false,
       std::nullopt,
       false,
       true,
       "\nUninstalling Tolvo Port Monitor...\n"},
      {{"-e", "-u", "-c"},
       true,
       false,
       std::nullopt,
       false,
       false,
       "\nUninstalling Tolvo Port Monitor...\n"},
      // A check wins over an uninstallation: it changes nothing.
      {{"-u", "-V", "-r", "\\\\srv"},
       false,
       false,
       "\\\\srv",
       true,
       true,
       "\nVerifying Tolvo Port Monitor on server \\\\srv...\n  (config will be read from "
       "registry)\n",
       true},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const std::string& argument : c.arguments) {
      label += "[" + argument + "]";
    }
    SCOPED_TRACE(label);
    machine.console.clear();
    sequences.calls.clear();
    EXPECT_EQ(Run(c.arguments), 0);
    ASSERT_EQ(sequences.calls.size(), 1u);
    const SequenceCall& call = sequences.calls[0];
    EXPECT_EQ(call.uninstall, c.uninstall);
    EXPECT_EQ(call.check, c.check);
    EXPECT_EQ(call.serverName, c.server);
    EXPECT_EQ(call.copyFiles, c.copyFiles);
    if (!c.uninstall) {
      EXPECT_EQ(call.ignoreErrors, c.ignoreErrors);
      EXPECT_EQ(call.configFromRegistry, c.fromRegistry);
    }
    EXPECT_TRUE(call.runLogOpen);
    EXPECT_EQ(machine.console.substr(0, kStandardBanner.size()), kStandardBanner);
    EXPECT_EQ(machine.console.substr(kStandardBanner.size(), c.printedAfterBanner.size()),
              c.printedAfterBanner);
  }
}

TEST_F(Arguments, StartUpRunsInItsOrder) {
  EXPECT_EQ(Run({}), 0);
  // The DLL search path is narrowed before anything else, the redirection
  // switched off next; the version (for Windows 9x, which has no lock) is
  // read and the installation lock taken before the run log is opened and
  // before the first look at the machine.
  const std::vector<std::string> expected = {
      "GetModuleHandleA",     "GetProcAddress",       "SetDefaultDllDirectories",
      "GetModuleHandleA",     "GetProcAddress",       "Wow64DisableWow64FsRedirection",
      "SetCurrentDirectoryA", "GetCurrentDirectoryA", "GetVersionExA",
      "CreateMutexA",         "WaitForSingleObject",  "GetWindowsDirectoryA",
      "GetDriveTypeA",        "OpenRunLog",           "RegOpenKeyExA"};
  std::vector<std::string> calls;  // the security descriptors' calls aside
  std::copy_if(machine.calls().begin(), machine.calls().end(), std::back_inserter(calls),
               [](const std::string& call) {
                 return call.find("Sid") == call.npos && call.find("Secur") == call.npos &&
                        call.find("Token") == call.npos && call != "GetCurrentProcess" &&
                        call != "LocalFree" && call != "CloseHandle";
               });
  ASSERT_GE(calls.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + expected.size()), expected);
  EXPECT_TRUE(machine.version.redirectionDisabled);
}

TEST_F(Arguments, StartUpOnWindowsXpRemovesTheCurrentDirectoryFromTheDllSearchPath) {
  machine.SetExportMissing("kernel32.dll", "SetDefaultDllDirectories");
  EXPECT_EQ(Run({}), 0);
  const std::vector<std::string> expected = {"GetModuleHandleA",
                                             "GetProcAddress",
                                             "GetProcAddress",
                                             "SetDllDirectoryA",
                                             "GetModuleHandleA",
                                             "GetProcAddress",
                                             "Wow64DisableWow64FsRedirection"};
  const auto& calls = machine.calls();
  ASSERT_GE(calls.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + expected.size()), expected);
  ASSERT_EQ(sequences.calls.size(), 1u);
}

TEST_F(Arguments, StartUpWithoutAnyDllSearchPathCallRunsOn) {
  machine.SetExportMissing("kernel32.dll", "SetDefaultDllDirectories");
  machine.SetExportMissing("kernel32.dll", "SetDllDirectoryA");
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(machine.CallCount("SetDefaultDllDirectories"), 0);
  EXPECT_EQ(machine.CallCount("SetDllDirectoryA"), 0);
  EXPECT_EQ(machine.CallCount("Wow64DisableWow64FsRedirection"), 1);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(machine.console.substr(0, kStandardBanner.size()), kStandardBanner);
}

TEST_F(Arguments, WithoutTheRedirectionSwitchNothingIsPrinted) {
  machine.version.redirectionPresent = false;
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(machine.CallCount("Wow64DisableWow64FsRedirection"), 0);
  EXPECT_FALSE(machine.version.redirectionDisabled);
  EXPECT_EQ(machine.console.substr(0, kStandardBanner.size()), kStandardBanner);
}

TEST_F(Arguments, WithoutKernel32HandleNothingIsLookedUp) {
  machine.SetModuleMissing("kernel32.dll");
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(machine.CallCount("GetProcAddress"), 0);
  EXPECT_EQ(machine.CallCount("Wow64DisableWow64FsRedirection"), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
}

TEST_F(Arguments, On32BitWindowsTheFailedSwitchIsIgnored) {
  machine.version.wow64 = false;
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(machine.CallCount("Wow64DisableWow64FsRedirection"), 1);
  ASSERT_EQ(sequences.calls.size(), 1u);
}

TEST_F(Arguments, RunsFromTheProgramFolder) {
  EXPECT_EQ(Run({"-e"}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(sequences.calls[0].currentDirectory, "C:\\Kit");
  EXPECT_EQ(sequences.calls[0].iniPath, "C:\\Kit\\Tolvo.ini");
}

TEST_F(Arguments, ProgramPathWithoutBackslashKeepsTheCurrentDirectory) {
  EXPECT_EQ(Run({}, "Install.exe"), 0);
  EXPECT_EQ(machine.CallCount("SetCurrentDirectoryA"), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(sequences.calls[0].currentDirectory, "C:\\Start");
  EXPECT_EQ(sequences.calls[0].iniPath, "C:\\Start\\Tolvo.ini");
}

TEST_F(Arguments, FailedMoveToProgramFolderIsNotExamined) {
  machine.FailCall("SetCurrentDirectoryA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run({}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(sequences.calls[0].iniPath, "C:\\Start\\Tolvo.ini");
}

// The files named without a folder would come from the starting directory.
TEST_F(Arguments, OverlongProgramPathIsRefused) {
  // Its first 259 characters end inside the folder name, after C:\Kit.
  const std::string program = "C:\\Kit\\" + std::string(250, 'd') + "\\Install.exe";
  EXPECT_EQ(Run({}, program), -1);
  EXPECT_EQ(machine.console,
            "ERROR: The path of the installer is longer than 259 characters; move its folder to a "
            "shorter path\n");
  EXPECT_TRUE(sequences.calls.empty());
}

// The profile functions look for a relative file name in the Windows folder,
// so a relative override is made absolute against the program folder.
TEST_F(Arguments, RelativeIniPathIsTakenFromTheProgramFolder) {
  EXPECT_EQ(Run({"-iconf\\site.ini"}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(sequences.calls[0].iniPath, "C:\\Kit\\conf\\site.ini");
  EXPECT_EQ(sequences.calls[0].currentDirectory, "C:\\Kit");
}

TEST_F(Arguments, BareIniFileNameIsTakenFromTheProgramFolder) {
  EXPECT_EQ(Run({"-isite.ini"}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(sequences.calls[0].iniPath, "C:\\Kit\\site.ini");
}

TEST_F(Arguments, RelativeIniPathWithoutCurrentDirectoryStaysInIt) {
  machine.FailCall("GetCurrentDirectoryA", ERROR_ACCESS_DENIED);
  EXPECT_EQ(Run({"-isite.ini"}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(sequences.calls[0].iniPath, ".\\site.ini");
}

TEST_F(Arguments, AbsoluteIniPathsAreUsedAsGiven) {
  for (const std::string path :
       {"D:\\conf\\site.ini", "\\\\server\\share\\site.ini", "\\conf\\site.ini"}) {
    sequences.calls.clear();
    EXPECT_EQ(Run({"-i" + path}), 0);
    ASSERT_EQ(sequences.calls.size(), 1u);
    EXPECT_EQ(sequences.calls[0].iniPath, path);
  }
}

TEST_F(Arguments, EmptyIniOverrideKeepsTheDefault) {
  EXPECT_EQ(Run({"-i"}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(sequences.calls[0].iniPath, "C:\\Kit\\Tolvo.ini");
}

TEST_F(Arguments, OverlongIniOverrideIsCutAt1023) {
  const std::string path = "C:\\" + std::string(1200, 'i');
  EXPECT_EQ(Run({"-i" + path}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_EQ(sequences.calls[0].iniPath, path.substr(0, 1023));
}

TEST_F(Arguments, LogOverride) {
  machine.MakeDirectory("C:\\Logs");
  EXPECT_EQ(Run({"-LC:\\Logs\\site.log"}), 0);
  EXPECT_EQ(Log("C:\\Logs\\site.log"), AsLogText(machine.console));
  EXPECT_FALSE(machine.Exists(kDefaultLog));
}

TEST_F(Arguments, EmptyLogOverrideKeepsTheDefaultLog) {
  EXPECT_EQ(Run({"-l"}), 0);
  EXPECT_EQ(Log(), AsLogText(machine.console));
}

TEST_F(Arguments, SeparateLogNameBecomesTheServerAndTheDefaultLogIsUsed) {
  EXPECT_EQ(Run({"-l", "x.log"}), 0);
  EXPECT_EQ(Log(), AsLogText(machine.console));
  EXPECT_FALSE(machine.Exists("C:\\Kit\\x.log"));
}

TEST_F(Arguments, LogIsAppendedTo) {
  machine.WriteFile(kDefaultLog, "earlier run\r\n");
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(Log(), "earlier run\r\n" + AsLogText(machine.console));
}

TEST_F(Arguments, UsageWithUninstallTouchesNothing) {
  EXPECT_EQ(Run({"-?", "-u"}), -1);
  EXPECT_EQ(machine.console, kStandardBanner + kUsage);
  EXPECT_TRUE(sequences.calls.empty());
  EXPECT_EQ(machine.CallCount("RegOpenKeyExA"), 0);
}

TEST_F(Arguments, SlashUsageAfterOtherSwitches) {
  EXPECT_EQ(Run({"-e", "\\\\srv", "/?"}), -1);
  EXPECT_EQ(machine.console, kStandardBanner + kUsage);
  EXPECT_TRUE(sequences.calls.empty());
}

TEST_F(Arguments, ObsoleteSwitchNoteComesBeforeTheDotNetCheck) {
  machine.registry.SetDotNet20Installed(false);
  EXPECT_EQ(Run({"-f"}), -1);
  EXPECT_EQ(machine.console,
            kStandardBanner +
                "NOTE: The -f switch is obsolete, the client application is un/installed "
                "automaticaly\n" +
                kDotNetMissing);
}

TEST_F(Arguments, EnterpriseSwitchesTheProfileBeforeTheSequence) {
  EXPECT_EQ(Run({"-A"}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  const SequenceCall& call = sequences.calls[0];
  EXPECT_TRUE(call.enterpriseEdition);
  EXPECT_EQ(call.productWord, "TolvoE");
  EXPECT_EQ(call.monitorDll64, "TOLVOE64.DLL");
  EXPECT_EQ(call.iniPath, "C:\\Kit\\Tolvo.ini");
  EXPECT_EQ(call.serverName, std::nullopt);
}

TEST_F(Arguments, StandardProfileWithoutTheSwitch) {
  EXPECT_EQ(Run({"-e"}), 0);
  ASSERT_EQ(sequences.calls.size(), 1u);
  EXPECT_FALSE(sequences.calls[0].enterpriseEdition);
  EXPECT_EQ(sequences.calls[0].productWord, "Tolvo");
  EXPECT_EQ(sequences.calls[0].monitorDll64, "TOLVOVS64.DLL");
}

TEST_F(Arguments, ARunCanBeRepeatedInOneProcess) {
  EXPECT_EQ(Run({"-a"}), 0);
  EXPECT_EQ(Run({"-e"}), 0);
  ASSERT_EQ(sequences.calls.size(), 2u);
  EXPECT_EQ(sequences.calls[0].productWord, "TolvoE");
  EXPECT_EQ(sequences.calls[1].productWord, "Tolvo");
}

}  // namespace
}  // namespace tolvo::scenario
