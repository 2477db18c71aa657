// Whole runs of the entry point against the simulated machine, with
// sequences that only record what the driver handed them.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/run_installer.h"
#include "scenarios/machine_fixture.h"
#include "sim/sim_windows.h"

namespace tolvo::scenario {

// What one sequence call received, and what the run looked like then.
struct SequenceCall {
  bool uninstall = false;
  bool check = false;
  bool ignoreErrors = false;
  std::optional<std::string> serverName;
  bool configFromRegistry = false;
  bool copyFiles = false;
  std::string iniPath;
  std::string productWord;
  std::string monitorDll64;
  bool enterpriseEdition = false;
  bool runLogOpen = false;
  std::string currentDirectory;
  bool installationLockHeld = false;
};

// The installation lock, which the run holds alone.
inline constexpr const char* kLockFile = "C:\\Windows\\Kestrum Tolvo Installation.lock";

class RecordingSequences final : public InstallerSequences {
 public:
  explicit RecordingSequences(sim::SimWindows& machine) : machine_(machine) {}

  bool InstallPortMonitor(RunContext& context, const InstallOptions& options) override {
    SequenceCall call = Record(context, options.serverName);
    call.ignoreErrors = options.ignoreErrors;
    call.configFromRegistry = options.configFromRegistry;
    call.copyFiles = options.copyFiles;
    calls.push_back(call);
    context.output.PrintMessage(printed);
    return result;
  }

  CheckOutcome CheckInstallation(RunContext& context, const InstallOptions& options) override {
    InstallPortMonitor(context, options);
    calls.back().check = true;
    return result ? CheckOutcome::kAsConfigured : CheckOutcome::kDifferent;
  }

  bool UninstallPortMonitor(RunContext& context, const char* serverName, bool copyFiles) override {
    SequenceCall call = Record(context, serverName);
    call.uninstall = true;
    call.copyFiles = copyFiles;
    calls.push_back(call);
    context.output.PrintMessage(printed);
    return result;
  }

  bool result = true;   // what every sequence returns
  std::string printed;  // what every sequence prints of its own
  std::vector<SequenceCall> calls;

 private:
  SequenceCall Record(RunContext& context, const char* serverName) {
    SequenceCall call;
    if (serverName != nullptr) {
      call.serverName = serverName;
    }
    call.iniPath = context.settings.iniPath;
    call.productWord = context.profile.productWord;
    call.monitorDll64 = context.profile.monitorDll64;
    call.enterpriseEdition = context.settings.enterpriseEdition;
    call.runLogOpen = context.output.runLogOpen();
    call.currentDirectory = machine_.currentDirectory;
    call.installationLockHeld = machine_.fileSystem.HeldByRun(kLockFile);
    return call;
  }

  sim::SimWindows& machine_;
};

inline constexpr const char* kDefaultLog = "C:\\Windows\\TLPortInstall.log";
inline constexpr const char* kProgram = "C:\\Kit\\Install.exe";

inline const std::string kStandardBanner =
    "\n\nTolvo Client Installer v 2.6\n"
    "Copyright (C) Kestrum Corporation. All rights reserved.\n";
inline const std::string kUsage =
    "\n\nFor installation use 'Install.exe (server)'\n"
    "For uninstallation use 'Install.exe -u'\n"
    "For verification of installation use switch '-v' (changes nothing)\n"
    "For un/installation of Enterprise version use switch '-a'\n"
    "For read configuration from registry use switch '-r'\n"
    "For do not copy files use switch '-c'\n"
    "For silent installation use switch '-s'\n"
    "For specification of install log use switch '-lLogFileName'\n"
    "For specification of INI file use switch '-iINIFileName'\n"
    "For Install and Ignore Errors use 'Install.exe -e' (NOT RECOMMENDED!)\n";
inline const std::string kDotNetMissing = "ERROR: The .NET Framework 2.0 is not installed\n";

// The run log's text as the file holds it: every line feed as CRLF.
inline std::string AsLogText(const std::string& console) {
  std::string text;
  for (char c : console) {
    if (c == '\n') {
      text += '\r';
    }
    text += c;
  }
  return text;
}

class DriverScenario : public ::testing::Test {
 protected:
  DriverScenario() {
    machine.MakeDirectory("C:\\Kit");
    machine.MakeDirectory("C:\\Start");
    machine.currentDirectory = "C:\\Start";  // started from elsewhere
    machine.registry.SetDotNet20Installed();
  }

  int Run(std::vector<std::string> arguments, std::string program = kProgram) {
    arguments.insert(arguments.begin(), std::move(program));
    argumentStorage = std::move(arguments);
    std::vector<char*> argv;
    for (std::string& argument : argumentStorage) {
      argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    const int exitCode =
        RunInstaller(machine, static_cast<int>(argumentStorage.size()), argv.data(), sequences);
    EXPECT_EQ(machine.OpenResources(), std::vector<std::string>{});
    return exitCode;
  }

  std::string Log(const char* path = kDefaultLog) {
    return machine.ReadFile(path).value_or("<no log file>");
  }

  sim::SimWindows machine;
  RecordingSequences sequences{machine};
  std::vector<std::string> argumentStorage;  // argv points into it during a run
};

}  // namespace tolvo::scenario
