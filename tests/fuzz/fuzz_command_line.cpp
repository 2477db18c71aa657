// Fuzz target: the command line through the driver and the real sequences.
//
// Input: the arguments, separated by zero bytes (at most 32 of them). When
// the first byte's lowest bit is set, the first entry is the program path
// too; otherwise the program is "C:\Kit\Install.exe". Every input runs on a
// fresh simulated machine (64-bit Windows 7 with the .NET Framework 2.0, the
// product kit in C:\Kit with a site script, one printer), so that a finding
// depends on its input alone. Every run is traced, and the trace checked.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/run_installer.h"
#include "fuzz/fuzz_support.h"
#include "workflows/workflow_sequences.h"

namespace {

constexpr const char* kProgramPath = "C:\\Kit\\Install.exe";
constexpr std::size_t kMostArguments = 32;

const char* const kKitFiles[] = {
    "Tolvo.ini",
    "TOLVOVS.DLL",
    "TOLVOUI.DLL",
    "TolvoCairoLib.DLL",
    "TOLVOVS64.DLL",
    "TOLVO64UI.DLL",
    "TolvoCairoLib64.DLL",
    "TOLVOE.DLL",
    "TOLVOEUI.DLL",
    "TolvoECairoLib.DLL",
    "TOLVOE64.DLL",
    "TOLVOE64UI.DLL",
    "TolvoECairoLib64.DLL",
    "Tolvo Client.exe",
    "Interop.SHDocVw.dll",
    "Microsoft.mshtml.dll",
    "Quarvel.exe",
    "TolvoEvent.dll",
    "install_printer.bat",
    "FontFiles\\TolvoSans.ttf",
    "de-DE\\Tolvo Client.resources.dll",
};

void BuildMachine(tolvo::sim::SimWindows& machine) {
  machine.version.platformId = VER_PLATFORM_WIN32_NT;
  machine.version.major = 6;
  machine.version.minor = 1;
  machine.version.productType = VER_NT_WORKSTATION;
  machine.version.wow64 = true;
  machine.MakeDirectory("C:\\Program Files");
  machine.MakeDirectory("C:\\Program Files (x86)");
  machine.registry.SetDotNet20Installed();

  machine.currentDirectory = tolvo::fuzz::kKitFolder;
  machine.MakeDirectory(tolvo::fuzz::kKitFolder);
  for (const char* file : kKitFiles) {
    machine.WriteFile(std::string(tolvo::fuzz::kKitFolder) + "\\" + file, file);
  }
  machine.WriteFile(tolvo::fuzz::kIniPath,
                    "[1]\r\nServerIP=192.168.10.5\r\nAssignPrinter=Office Laser\r\n");

  tolvo::sim::SimProgram quarvel;
  quarvel.behaviour = [](tolvo::sim::SimWindows& m, const tolvo::sim::SimProcessStart&) -> DWORD {
    m.processes.EndPrograms("Tolvo Client.exe", 0);
    return 0;
  };
  machine.processes.RegisterProgram("Quarvel.exe", quarvel);
  tolvo::sim::SimProgram client;
  client.staysRunning = true;
  machine.processes.RegisterProgram("Tolvo Client.exe", client);

  machine.spooler.AddPort("LPT1:", "Local Port");
  machine.spooler.AddPrinter("Office Laser", "LPT1:");
}

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> words;
  const bool programFromInput = size > 0 && (data[0] & 1) != 0;
  if (!programFromInput) {
    words.emplace_back(kProgramPath);
  }
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::size_t start = programFromInput ? 1 : 0;
  while (start < text.size() && words.size() < kMostArguments) {
    std::size_t end = text.find('\0', start);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    words.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<char*> argv;
  for (std::string& word : words) {
    argv.push_back(word.data());
  }
  argv.push_back(nullptr);

  tolvo::fuzz::PasswordSwappingMachine machine;
  BuildMachine(machine);
  tolvo::WorkflowSequences sequences;
  tolvo::fuzz::CheckedTrace trace;
  const int exitCode = tolvo::RunInstallerTraced(machine, &trace, static_cast<int>(words.size()),
                                                 argv.data(), sequences);

  tolvo::fuzz::RequireNothingOpen(machine);
  // A check (-v) has exit codes of its own, 1 to 3.
  const bool checked = machine.console.find("\nVerifying ") != std::string::npos;
  if (exitCode < -1 || exitCode > (checked ? 3 : 0)) {
    tolvo::fuzz::Finding("exit code", std::to_string(exitCode));
  }
  // The success line closes the transcript exactly when the run succeeded.
  const bool successLast = EndsWith(machine.console, " Port Monitor Installed Sucessfully.\n") ||
                           EndsWith(machine.console, " Port Monitor UnInstalled Sucessfully.\n") ||
                           EndsWith(machine.console, " Port Monitor Installed as Configured.\n");
  if (successLast != (exitCode == 0)) {
    tolvo::fuzz::Finding("success line and exit code disagree", machine.console);
  }
  return 0;
}
