#include "winenv/processes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/sim_windows.h"

namespace tolvo {
namespace {

using sim::SimProgram;
using sim::SimWindows;

constexpr WaitLimit kLimit{"the program", 1};
constexpr const char* kWaitingLine = "  - Waiting for all Tolvo Clients to terminate\n";
constexpr const char* kErrorLine = "  ERROR - Cannot stop all Tolvo Client instances\n";
constexpr const char* kClientPath =
    "C:\\Program Files\\Kestrum\\Tolvo Client\\Client\\Tolvo Client.exe";

class ProcessesTest : public ::testing::Test {
 protected:
  void InstallStopTool(DWORD exitStatus) {
    machine.WriteFile("C:\\Kit\\Quarvel.exe", "MZ");
    SimProgram tool;
    tool.exitStatus = exitStatus;
    machine.processes.RegisterProgram("Quarvel.exe", tool);
  }

  void InstallClient() {
    machine.WriteFile(kClientPath, "MZ");
    SimProgram client;
    client.staysRunning = true;
    machine.processes.RegisterProgram(kClientPath, client);
  }

  void ExpectNothingLeftOpen() { EXPECT_TRUE(machine.OpenResources().empty()); }

  SimWindows machine;
  RunContext context{machine};
};

TEST_F(ProcessesTest, StopToolEndingWithZeroPrintsOnlyTheWaitingLine) {
  InstallStopTool(0);
  EXPECT_EQ(StopClientInstances(context), 0);
  EXPECT_EQ(machine.console, kWaitingLine);

  ASSERT_EQ(machine.processes.starts.size(), 1u);
  const auto& start = machine.processes.starts[0];
  EXPECT_TRUE(start.applicationNameGiven);
  EXPECT_EQ(start.applicationName, "Quarvel.exe");
  EXPECT_EQ(start.commandLine, "Quarvel.exe");
  EXPECT_EQ(start.program, "C:\\Kit\\Quarvel.exe");
  EXPECT_FALSE(start.inheritHandles);
  EXPECT_TRUE(start.waited);
  EXPECT_EQ(machine.processes.hungWaits, 0);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, StopToolEndingWithThreePrintsTheErrorLine) {
  InstallStopTool(3);
  EXPECT_EQ(StopClientInstances(context), 3);
  EXPECT_EQ(machine.console, std::string(kWaitingLine) + kErrorLine);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, MissingStopToolPrintsTheErrorLineAndGivesMinusOne) {
  EXPECT_EQ(StopClientInstances(context), -1);
  EXPECT_EQ(machine.console, std::string(kWaitingLine) + kErrorLine);
  EXPECT_EQ(machine.GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_TRUE(machine.processes.starts.empty());
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, StopToolIsTakenFromTheCurrentDirectoryOnly) {
  // A tool of that name elsewhere on the search path is never run.
  machine.WriteFile("C:\\Windows\\system32\\Quarvel.exe", "MZ");
  machine.processes.RegisterProgram("Quarvel.exe", SimProgram{});
  EXPECT_EQ(StopClientInstances(context), -1);
  EXPECT_TRUE(machine.processes.starts.empty());
}

TEST_F(ProcessesTest, StopToolEndsTheRunningClients) {
  InstallClient();
  const char* const clientArguments[] = {kClientPath, nullptr};
  ASSERT_EQ(SpawnDetached(context, kClientPath, clientArguments), 0);
  ASSERT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 1);

  machine.WriteFile("C:\\Kit\\Quarvel.exe", "MZ");
  SimProgram tool;
  tool.behaviour = [](SimWindows& m, const sim::SimProcessStart&) -> DWORD {
    m.processes.EndPrograms("Tolvo Client.exe", 0);
    return m.processes.RunningCount("Tolvo Client.exe") == 0 ? 0 : 1;
  };
  machine.processes.RegisterProgram("C:\\Kit\\Quarvel.exe", tool);

  EXPECT_EQ(StopClientInstances(context), 0);
  EXPECT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 0);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, DetachedProgramIsLeftRunningWithItsHandlesClosed) {
  InstallClient();
  const char* const arguments[] = {kClientPath, nullptr};
  EXPECT_EQ(SpawnDetached(context, kClientPath, arguments), 0);

  ASSERT_EQ(machine.processes.starts.size(), 1u);
  const auto& start = machine.processes.starts[0];
  EXPECT_EQ(start.applicationName, kClientPath);
  EXPECT_EQ(start.commandLine, std::string("\"") + kClientPath + "\"");
  EXPECT_EQ(start.arguments, std::vector<std::string>{kClientPath});
  EXPECT_FALSE(start.waited);
  EXPECT_EQ(machine.processes.RunningCount("Tolvo Client.exe"), 1);
  EXPECT_EQ(machine.CallCount("WaitForSingleObject"), 0);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, DetachedProgramThatDoesNotStartGivesMinusOne) {
  const char* const arguments[] = {kClientPath, nullptr};
  EXPECT_EQ(SpawnDetached(context, kClientPath, arguments), -1);
  EXPECT_EQ(machine.GetLastError(), ERROR_PATH_NOT_FOUND);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, HandlesAreClosedWhenTheWaitOrTheStatusQueryFails) {
  InstallStopTool(0);
  const char* const arguments[] = {"Quarvel.exe", nullptr};

  machine.FailCall("WaitForSingleObject", ERROR_INVALID_HANDLE, 1);
  EXPECT_EQ(SpawnAndWait(context, "Quarvel.exe", arguments, kLimit), -1);
  ExpectNothingLeftOpen();

  machine.FailCall("GetExitCodeProcess", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(SpawnAndWait(context, "Quarvel.exe", arguments, kLimit), -1);
  ExpectNothingLeftOpen();

  EXPECT_EQ(SpawnAndWait(context, "Quarvel.exe", arguments, kLimit), 0);
  EXPECT_EQ(machine.CallCount("CloseHandle"), 6);  // process and thread, three times
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, ExitStatusComesBackWhole) {
  InstallStopTool(0xC0000005u);
  const char* const arguments[] = {"Quarvel.exe", nullptr};
  EXPECT_EQ(SpawnAndWait(context, "Quarvel.exe", arguments, kLimit), static_cast<int>(0xC0000005u));
}

TEST_F(ProcessesTest, SimulatedDetachedProgramIsStillActiveUntilEnded) {
  InstallClient();
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = std::string("\"") + kClientPath + "\"";
  ASSERT_TRUE(machine.CreateProcessA(kClientPath, line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                     nullptr, &startup, &info));
  DWORD code = 0;
  EXPECT_TRUE(machine.GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  // Windows would wait for ever here; the machine counts it instead.
  EXPECT_EQ(machine.WaitForSingleObject(info.hProcess, INFINITE), WAIT_FAILED);
  EXPECT_EQ(machine.processes.hungWaits, 1);

  machine.processes.EndPrograms("tolvo client.exe", 7);
  EXPECT_EQ(machine.WaitForSingleObject(info.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_TRUE(machine.GetExitCodeProcess(info.hProcess, &code));
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(machine.OpenCount(sim::HandleKind::Process), 1u);
  EXPECT_EQ(machine.OpenCount(sim::HandleKind::Thread), 1u);
  EXPECT_TRUE(machine.CloseHandle(info.hThread));
  EXPECT_TRUE(machine.CloseHandle(info.hProcess));
  EXPECT_FALSE(machine.CloseHandle(info.hProcess));
  EXPECT_EQ(machine.GetLastError(), ERROR_INVALID_HANDLE);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, SimulatedFileWithoutAProgramIsNotExecutable) {
  machine.WriteFile("C:\\Kit\\Quarvel.exe", "not a program");
  EXPECT_EQ(StopClientInstances(context), -1);
  EXPECT_EQ(machine.GetLastError(), 193u);  // ERROR_BAD_EXE_FORMAT
}

// --- Argument quoting -------------------------------------------------------------

struct QuotingCase {
  std::vector<const char*> arguments;
  const char* commandLine;
};

TEST(BuildCommandLine, QuotesAsTheRuntimeParsesBack) {
  const QuotingCase cases[] = {
      {{"Quarvel.exe"}, "Quarvel.exe"},
      {{"a.exe", "plain", "two words"}, "a.exe plain \"two words\""},
      {{"a.exe", ""}, "a.exe \"\""},
      {{"a.exe", "tab\there"}, "a.exe \"tab\there\""},
      {{"a.exe", "C:\\path\\"}, "a.exe C:\\path\\"},
      {{"a.exe", "C:\\My Dir\\"}, "a.exe \"C:\\My Dir\\\\\""},
      {{"a.exe", "say \"hi\""}, "a.exe \"say \\\"hi\\\"\""},
      {{"a.exe", "q\"x"}, "a.exe \"q\\\"x\""},
      {{"a.exe", "back\\\\\"quote"}, "a.exe \"back\\\\\\\\\\\"quote\""},
      {{"a.exe", "a\\b c"}, "a.exe \"a\\b c\""},
  };
  for (const QuotingCase& row : cases) {
    std::vector<const char*> list = row.arguments;
    list.push_back(nullptr);
    EXPECT_EQ(BuildCommandLine(list.data()), row.commandLine);
  }
}

TEST_F(ProcessesTest, ProgramReceivesEachArgumentUnchanged) {
  machine.WriteFile("C:\\Kit\\echo.exe", "MZ");
  machine.processes.RegisterProgram("echo.exe", SimProgram{});
  const std::vector<std::string> wanted = {
      "C:\\Kit\\echo.exe", "", "two words", "C:\\My Dir\\", "say \"hi\"", "tail\\\\", "x\\\"y"};
  std::vector<const char*> arguments;
  for (const std::string& argument : wanted) {
    arguments.push_back(argument.c_str());
  }
  arguments.push_back(nullptr);

  EXPECT_EQ(SpawnAndWait(context, "echo.exe", arguments.data(), kLimit), 0);
  ASSERT_EQ(machine.processes.starts.size(), 1u);
  EXPECT_EQ(machine.processes.starts[0].arguments, wanted);
}

// --- The command interpreter --------------------------------------------------------

TEST_F(ProcessesTest, ShellCommandRunsThroughComSpec) {
  machine.MakeDirectory("C:\\Tree\\Sub");
  machine.WriteFile("C:\\Tree\\Sub\\f.txt", "x");

  EXPECT_EQ(RunShellCommand(context, "rmdir \"C:\\Tree\" /S /Q", kLimit), 0);
  EXPECT_FALSE(machine.Exists("C:\\Tree"));

  ASSERT_EQ(machine.processes.starts.size(), 1u);
  const auto& start = machine.processes.starts[0];
  EXPECT_EQ(start.applicationName, "C:\\Windows\\system32\\cmd.exe");
  EXPECT_EQ(start.commandLine, "\"C:\\Windows\\system32\\cmd.exe\" /d /c rmdir \"C:\\Tree\" /S /Q");
  EXPECT_FALSE(start.inheritHandles);
  EXPECT_TRUE(start.waited);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, ShellCommandGivesTheInterpretersExitStatus) {
  EXPECT_EQ(RunShellCommand(context, "rmdir \"C:\\Nowhere\" /S /Q", kLimit), 2);
  EXPECT_EQ(machine.console, "The system cannot find the file specified.\n");
  ExpectNothingLeftOpen();
}

constexpr const char* kSystemInterpreter = "C:\\Windows\\system32\\cmd.exe";
constexpr const char* kRmdirCommand = "rmdir \"C:\\Tree\" /S /Q";
constexpr const char* kRmdirThroughSystemInterpreter =
    "\"C:\\Windows\\system32\\cmd.exe\" /d /c rmdir \"C:\\Tree\" /S /Q";

TEST_F(ProcessesTest, WithoutComSpecTheCommandRunsThroughTheSystemDirectorysCmd) {
  machine.processes.environment.erase("COMSPEC");
  machine.MakeDirectory("C:\\Tree");

  EXPECT_EQ(RunShellCommand(context, kRmdirCommand, kLimit), 0);
  EXPECT_FALSE(machine.Exists("C:\\Tree"));
  EXPECT_EQ(machine.CallCount("CreateProcessA"), 1);
  ASSERT_EQ(machine.processes.starts.size(), 1u);
  const auto& start = machine.processes.starts[0];
  EXPECT_TRUE(start.applicationNameGiven);
  EXPECT_EQ(start.applicationName, kSystemInterpreter);
  EXPECT_EQ(start.commandLine, kRmdirThroughSystemInterpreter);
  EXPECT_EQ(start.program, machine.FullPath(kSystemInterpreter));
  ExpectNothingLeftOpen();
}

// A cmd.exe planted in the installer's folder (the current directory) would
// come first along the search path; the fallback never searches.
TEST_F(ProcessesTest, FallbackNeverRunsACmdPlantedInTheCurrentDirectory) {
  machine.WriteFile("C:\\Kit\\cmd.exe", "MZ");
  SimProgram planted;
  planted.exitStatus = 66;
  machine.processes.RegisterProgram("C:\\Kit\\cmd.exe", planted);
  machine.MakeDirectory("C:\\Tree");

  for (const char* comSpec : {"", "C:\\Missing\\shell.exe", "C:\\Kit"}) {
    SCOPED_TRACE(comSpec);
    machine.processes.starts.clear();
    if (*comSpec == '\0') {
      machine.processes.environment.erase("COMSPEC");
    } else {
      machine.processes.environment["COMSPEC"] = comSpec;
    }
    EXPECT_EQ(RunShellCommand(context, "rmdir \"C:\\Nowhere\" /S /Q", kLimit), 2);
    ASSERT_EQ(machine.processes.starts.size(), 1u);
    EXPECT_EQ(machine.processes.starts[0].program, machine.FullPath(kSystemInterpreter));
  }
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, FallbackWithoutASystemDirectoryStartsNothing) {
  machine.processes.environment.erase("COMSPEC");
  machine.FailCall("GetSystemDirectoryA", ERROR_NOT_ENOUGH_MEMORY);

  EXPECT_EQ(RunShellCommand(context, "install_printer.bat", kLimit), -1);
  EXPECT_EQ(machine.GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(machine.CallCount("CreateProcessA"), 0);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, ComSpecNamingAMissingFileFallsBackToCmd) {
  machine.processes.environment["COMSPEC"] = "C:\\Missing\\shell.exe";
  machine.MakeDirectory("C:\\Tree");

  EXPECT_EQ(RunShellCommand(context, kRmdirCommand, kLimit), 0);
  EXPECT_FALSE(machine.Exists("C:\\Tree"));
  EXPECT_EQ(machine.CallCount("CreateProcessA"), 2);
  ASSERT_EQ(machine.processes.starts.size(), 1u);
  EXPECT_EQ(machine.processes.starts[0].applicationName, kSystemInterpreter);
  EXPECT_EQ(machine.processes.starts[0].commandLine, kRmdirThroughSystemInterpreter);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, ComSpecDeniedFallsBackOtherStartFailuresDoNot) {
  machine.FailCall("CreateProcessA", ERROR_ACCESS_DENIED, 1);
  EXPECT_EQ(RunShellCommand(context, "rmdir \"C:\\Nowhere\" /S /Q", kLimit), 2);
  EXPECT_EQ(machine.CallCount("CreateProcessA"), 2);

  machine.FailCall("CreateProcessA", ERROR_NOT_ENOUGH_MEMORY, 3);
  EXPECT_EQ(RunShellCommand(context, "rmdir \"C:\\Nowhere\" /S /Q", kLimit), -1);
  EXPECT_EQ(machine.CallCount("CreateProcessA"), 3);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, NoInterpreterAtAllGivesMinusOne) {
  machine.processes.environment.erase("COMSPEC");
  machine.processes.interpreterPresent = false;
  EXPECT_EQ(RunShellCommand(context, "install_printer.bat", kLimit), -1);
  EXPECT_EQ(machine.GetLastError(), ERROR_FILE_NOT_FOUND);
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, LongComSpecIsReadWhole) {
  // Longer than MAX_PATH, so it takes the second, sized read.
  const std::string shell =
      "C:\\" + std::string(150, 'S') + "\\" + std::string(150, 'T') + "\\shell.exe";
  machine.WriteFile(shell, "MZ");
  SimProgram program;
  program.exitStatus = 9;
  machine.processes.RegisterProgram(shell, program);
  machine.processes.environment["COMSPEC"] = shell;

  EXPECT_EQ(RunShellCommand(context, "x.bat", kLimit), 9);
  ASSERT_EQ(machine.processes.starts.size(), 1u);
  EXPECT_EQ(machine.processes.starts[0].applicationName, shell);
  EXPECT_EQ(machine.processes.starts[0].commandLine, "\"" + shell + "\" /d /c x.bat");
  ExpectNothingLeftOpen();
}

TEST_F(ProcessesTest, BatchFileRunsItsScriptBehaviourOrEndsWithZero) {
  EXPECT_EQ(RunShellCommand(context, "install_printer.bat", kLimit), 1);

  machine.WriteFile("C:\\Kit\\install_printer.bat", "@echo off\r\n");
  EXPECT_EQ(RunShellCommand(context, "install_printer.bat", kLimit), 0);

  SimProgram script;
  script.behaviour = [](SimWindows& m, const sim::SimProcessStart&) -> DWORD {
    m.console += "script ran\n";
    return 4;
  };
  machine.processes.RegisterProgram("install_printer.bat", script);
  EXPECT_EQ(RunShellCommand(context, "install_printer.bat", kLimit), 4);
  EXPECT_NE(machine.console.find("script ran\n"), std::string::npos);
  ExpectNothingLeftOpen();
}

}  // namespace
}  // namespace tolvo
