// A typical administrator's machine for whole runs of the installer and for
// the workflow tests: 64-bit Windows 7 with the .NET Framework 2.0, one
// local printer, and the product kit in C:\Kit (the current directory) with
// every file either edition checks for on either bitness, the client's
// culture folders, two font files and a Tolvo.ini whose section [1] has a
// server address and a printer to assign.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_context.h"
#include "core/text.h"
#include "driver/run_installer.h"
#include "sim/sim_image.h"
#include "sim/sim_windows.h"
#include "workflows/workflow_sequences.h"

namespace tolvo::scenario {

inline constexpr const char* kKitFolder = "C:\\Kit";
inline constexpr const char* kInstallerPath = "C:\\Kit\\Install.exe";
inline constexpr const char* kIniPath = "C:\\Kit\\Tolvo.ini";
inline constexpr const char* kRunLogPath = "C:\\Windows\\TLPortInstall.log";
inline constexpr const char* kNativeSystemDirectory = "C:\\Windows\\system32";
inline constexpr const char* kProgramFiles = "C:\\Program Files";
inline constexpr const char* kProgramFilesX86 = "C:\\Program Files (x86)";
inline constexpr const char* kPrinterName = "Office Laser";
inline constexpr const char* kPrinterPort = "LPT1:";
inline constexpr const char* kServerAddress = "192.168.10.5";
inline constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunKey32 =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Run";
// Where a 32-bit run remembers the printers it released.
inline constexpr const char* kReleasedPrinters =
    "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\ReleasedPrinters";
inline constexpr const char* kAssignedPrinters =
    "SOFTWARE\\Wow6432Node\\Kestrum Corporation\\Tolvo\\AssignedPrinters";
inline constexpr const char* kEventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\TolvoPort";

// The banner every run starts with, the copyright line included.
inline constexpr const char* kBanner =
    "\n"
    "\n"
    "Tolvo Client Installer v 2.6\n"
    "Copyright (C) Kestrum Corporation. All rights reserved.\n";
inline constexpr const char* kEnterpriseBanner =
    "\n"
    "\n"
    "Tolvo Client Enterprise Installer v 2.6\n"
    "Copyright (C) Kestrum Corporation. All rights reserved.\n";

// Every monitor file of both editions and bitnesses.
inline constexpr const char* kMonitorFiles[] = {
    "TOLVOVS.DLL",        "TOLVOUI.DLL",         "TolvoCairoLib.DLL", "TOLVOVS64.DLL",
    "TOLVO64UI.DLL",      "TolvoCairoLib64.DLL", "TOLVOE.DLL",        "TOLVOEUI.DLL",
    "TolvoECairoLib.DLL", "TOLVOE64.DLL",        "TOLVOE64UI.DLL",    "TolvoECairoLib64.DLL"};
inline constexpr const char* kClientFiles[] = {"Tolvo Client.exe", "Interop.SHDocVw.dll",
                                               "Microsoft.mshtml.dll"};
inline constexpr const char* kCultures[] = {"cs-CZ", "de-DE", "hu-HU", "ja-JP",
                                            "pl-PL", "ru-RU", "zh-CN"};
inline constexpr const char* kFontFiles[] = {"TolvoSans.ttf", "TolvoMono.ttf"};

inline constexpr const char* kTypicalIni =
    "[1]\r\n"
    "ServerIP=192.168.10.5\r\n"
    "AssignPrinter=Office Laser\r\n";

// The finding printed for each monitor port found in a printer's list: it
// reaches the console only, never the run log.
inline constexpr const char* kConsoleOnlyPrefix = "  - Port ";

// The output lines of a run, one string per line as the installer prints it.
inline std::string Transcript(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) {
    text.append(line);
  }
  return text;
}

// What a text-mode stream writes for `text`: each "\n" as CRLF.
inline std::string WithCrlf(std::string_view text) {
  std::string converted;
  for (char c : text) {
    if (c == '\n') {
      converted += '\r';
    }
    converted += c;
  }
  return converted;
}

// Lines of `text` that start with `prefix`, kept whole.
inline std::string WithoutLinesStartingWith(std::string_view text, std::string_view prefix) {
  std::string kept;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    end = end == std::string_view::npos ? text.size() : end + 1;
    const std::string_view line = text.substr(start, end - start);
    if (line.substr(0, prefix.size()) != prefix) {
      kept.append(line);
    }
    start = end;
  }
  return kept;
}

// A support trace kept in memory, with fixed start-up facts and times.
class MemoryTrace final : public TraceSink {
 public:
  void Write(std::string_view line) override { text.append(line); }
  std::uint32_t MillisecondsSinceStart() override { return 0; }
  TraceProcessFacts ProcessFacts() override { return {kInstallerPath, kKitFolder, "now"}; }
  std::string text;
};

class MachineFixture : public ::testing::Test {
 public:
  MachineFixture() { BuildTypicalMachine(); }

  // Runs Install.exe from the kit folder with `arguments`, traced into
  // `trace` when one is given, and returns its exit code.
  int Run(std::vector<std::string> arguments = {}, TraceSink* trace = nullptr) {
    std::vector<std::string> words;
    words.emplace_back(kInstallerPath);
    for (std::string& argument : arguments) {
      words.push_back(std::move(argument));
    }
    std::vector<char*> argv;
    for (std::string& word : words) {
      argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    WorkflowSequences sequences;
    return RunInstallerTraced(machine, trace, static_cast<int>(words.size()), argv.data(),
                              sequences);
  }

  std::string RunLog() const { return machine.ReadFile(kRunLogPath).value_or("<no run log>"); }

  // The console shows `expected` byte for byte; the run log holds the same
  // with CRLF line ends, less the port findings that go to the console only.
  void ExpectTranscript(const std::string& expected) const {
    EXPECT_EQ(machine.console, expected);
    EXPECT_EQ(RunLog(), WithCrlf(WithoutLinesStartingWith(expected, kConsoleOnlyPrefix)));
    EXPECT_TRUE(machine.OpenResources().empty())
        << ::testing::PrintToString(machine.OpenResources());
  }

  // Forgets the console and the run log of earlier runs, so the next run's
  // transcript can be compared on its own.
  void StartNewRun() {
    machine.console.clear();
    machine.SetLastError(0xDEADBEEF);
    std::error_code ignored;
    std::filesystem::remove(machine.HostPath(kRunLogPath), ignored);
  }

  // The Program Files folder a 32-bit process sees.
  std::string ProgramFiles() const {
    return machine.version.wow64 ? kProgramFilesX86 : kProgramFiles;
  }
  std::string ClientDirectory() const { return ProgramFiles() + "\\Kestrum\\Tolvo Client\\Client"; }
  std::string FontDirectory(bool enterprise = false) const {
    return ProgramFiles() + (enterprise ? "\\Kestrum\\Tolvo Client Enterprise\\Font"
                                        : "\\Kestrum\\Tolvo Client\\Font");
  }
  // The Run key where a 32-bit process's start-up entry lands.
  std::string RunKey() const { return machine.version.wow64 ? kRunKey32 : kRunKey; }
  std::optional<std::string> StartupEntry() const {
    return machine.registry.GetString(RunKey(), "Tolvo Client");
  }

  // Files in the native system directory, where the installer's copies land
  // once it has switched WOW64 redirection off. Looked at on the host side,
  // so the look-up itself is never redirected.
  static std::string SystemFile(std::string_view name) {
    return std::string(kNativeSystemDirectory) + "\\" + std::string(name);
  }
  std::optional<std::string> SystemFileContent(std::string_view name) const {
    const std::filesystem::path folder = NativeSystemHostFolder();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      if (EqualsIgnoreCase(entry.path().filename().string(), name)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream content;
        content << in.rdbuf();
        return content.str();
      }
    }
    return std::nullopt;
  }
  void WriteSystemFile(std::string_view name, std::string_view content) {
    std::ofstream out(NativeSystemHostFolder() / std::string(name),
                      std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  bool InSystemDirectory(std::string_view name) const {
    return SystemFileContent(name).has_value();
  }

  void UseThirtyTwoBitWindows() {
    machine.version.wow64 = false;
    machine.registry.SetString(sim::kCurrentVersionKey, "ProgramFilesDir", kProgramFiles);
  }

  // What a working installation left behind: the monitor registered, its
  // port, the printer printing to it and the monitor's files in place.
  void InstallPreviousVersion() {
    machine.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL", "Windows x64");
    machine.spooler.AddPort("Tolvo001", "Tolvo");
    machine.spooler.FindPrinter(kPrinterName)->ports = "Tolvo001";
    for (const char* file :
         {"TOLVOVS64.DLL", "TOLVO64UI.DLL", "TolvoCairoLib64.DLL", "TOLVO64.DLL"}) {
      WriteSystemFile(file, "old " + std::string(file));
    }
  }

  // A machine whose registry names no Program Files folder.
  void RemoveProgramFilesFolder() {
    machine.registry.DeleteValue(sim::kCurrentVersionKey, "ProgramFilesDir");
    machine.registry.DeleteValue(sim::kCurrentVersionKey32, "ProgramFilesDir");
  }

  void RemoveKitFile(std::string_view name) {
    std::filesystem::remove_all(machine.HostPath(KitFile(name)));
  }

  static std::string KitFile(std::string_view name) {
    return std::string(kKitFolder) + "\\" + std::string(name);
  }

  // The content a kit file was given: its own name, so copies can be told
  // apart; a monitor file is a DLL of its bitness, a monitor's exporting
  // the spooler's entry point.
  static std::string KitContent(std::string_view name) {
    const std::string tag = "kit:" + std::string(name);
    const auto isNamed = [&](const auto& names) {
      return std::find(std::begin(names), std::end(names), name) != std::end(names);
    };
    if (!isNamed(kMonitorFiles)) {
      return tag;
    }
    const bool monitor = isNamed(std::initializer_list<std::string_view>{
        "TOLVOVS.DLL", "TOLVOVS64.DLL", "TOLVOE.DLL", "TOLVOE64.DLL"});
    return sim::WindowsDllImage(
        name.find("64") != name.npos ? 0x8664 : 0x14C,
        monitor ? std::vector<std::string>{"InitializePrintMonitor2"} : std::vector<std::string>{},
        tag);
  }

  sim::SimWindows machine;

 private:
  std::filesystem::path NativeSystemHostFolder() const {
    return machine.hostRoot() / "C" / "Windows" / "system32";
  }

  void BuildTypicalMachine() {
    // 64-bit Windows 7 workstation, the installer running under WOW64.
    machine.version.platformId = VER_PLATFORM_WIN32_NT;
    machine.version.major = 6;
    machine.version.minor = 1;
    machine.version.productType = VER_NT_WORKSTATION;
    machine.version.wow64 = true;

    // The machine's constructor made its folders through WOW64 redirection,
    // so the native system directory has to be made on the host side.
    std::filesystem::create_directories(NativeSystemHostFolder());

    machine.registry.SetDotNet20Installed();
    machine.registry.SetString(sim::kCurrentVersionKey, "ProgramFilesDir", kProgramFiles);
    machine.registry.SetString(sim::kCurrentVersionKey32, "ProgramFilesDir", kProgramFilesX86);

    machine.currentDirectory = kKitFolder;
    machine.MakeDirectory(kKitFolder);
    machine.WriteFile(kInstallerPath, "kit:Install.exe");
    machine.WriteFile(kIniPath, kTypicalIni);
    for (const char* file : kMonitorFiles) {
      machine.WriteFile(KitFile(file), KitContent(file));
    }
    for (const char* file : kClientFiles) {
      machine.WriteFile(KitFile(file), KitContent(file));
    }
    machine.WriteFile(KitFile("Quarvel.exe"), KitContent("Quarvel.exe"));
    machine.WriteFile(KitFile("TolvoEvent.dll"), KitContent("TolvoEvent.dll"));
    for (const char* culture : kCultures) {
      const std::string resource = std::string(culture) + "\\Tolvo Client.resources.dll";
      machine.WriteFile(KitFile(resource), KitContent(resource));
    }
    for (const char* font : kFontFiles) {
      machine.WriteFile(KitFile(std::string("FontFiles\\") + font), KitContent(font));
    }

    // "Quarvel.exe" ends every running client; the client keeps running
    // until it is ended.
    sim::SimProgram quarvel;
    quarvel.behaviour = [](sim::SimWindows& m, const sim::SimProcessStart&) -> DWORD {
      m.processes.EndPrograms("Tolvo Client.exe", 0);
      return 0;
    };
    machine.processes.RegisterProgram("Quarvel.exe", quarvel);
    sim::SimProgram client;
    client.staysRunning = true;
    machine.processes.RegisterProgram("Tolvo Client.exe", client);

    machine.spooler.AddPort("FILE:", "Local Port");
    machine.spooler.AddPort(kPrinterPort, "Local Port");
    machine.spooler.AddPrinter(kPrinterName, kPrinterPort);
  }
};

// The same machine for calling one operation directly, with the run's
// context set up as the driver leaves it: redirection off, the kit's
// configuration file, no run log.
class OperationFixture : public MachineFixture {
 public:
  OperationFixture() : context(machine) {
    machine.version.redirectionDisabled = true;
    context.settings.SetIniPath(kIniPath);
  }

  void UseEnterpriseEdition() {
    context.settings.enterpriseEdition = true;
    context.profile.SwitchToEnterprise();
  }

  // Console lines that start with `prefix`, in order.
  std::vector<std::string> ConsoleLinesStartingWith(std::string_view prefix) const {
    std::vector<std::string> lines;
    std::size_t start = 0;
    const std::string& text = machine.console;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      end = end == std::string::npos ? text.size() : end + 1;
      if (text.compare(start, prefix.size(), prefix) == 0) {
        lines.push_back(text.substr(start, end - start));
      }
      start = end;
    }
    return lines;
  }

  RunContext context;
};

}  // namespace tolvo::scenario
