#include "winenv/processes.h"

#include <cstring>
#include <vector>

#include "platform/started_programs.h"
#include "platform/unique_handles.h"
#include "winenv/system_directory.h"

namespace tolvo {

namespace {

// One argument under the C runtime's argv rules: backslashes are literal
// except in a run that ends at a double quote, where each one is doubled
// and the quote escaped; before the closing quote they are doubled too.
void AppendArgument(std::string& line, std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    line += argument;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (const char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      line.append(backslashes * 2 + 1, '\\');
    } else {
      line.append(backslashes, '\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

struct StartResult {
  bool started = false;
  DWORD error = ERROR_SUCCESS;
};

// Starts a program sharing the console. It inherits no handle of the run
// (the run reads no child's output): nothing the run holds open, such as its
// log, its trace or the lock, outlives the run in a child, and a pipe the
// run writes to ends with the run. A program left running gets no standard
// handles at all: without them, a system may still hand it the run's own
// (Wine does). The process and thread handles are handed to their owners,
// so they are closed on every path.
StartResult StartProcess(RunContext& context, const char* applicationName, std::string commandLine,
                         bool leftRunning, UniqueKernelHandle& process) {
  WinApi& api = context.api;
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (leftRunning) {
    startup.dwFlags = STARTF_USESTDHANDLES;  // each of them null
  }
  PROCESS_INFORMATION info;
  std::memset(&info, 0, sizeof info);
  // CreateProcessA may write into the command line, so it gets its own copy.
  std::vector<char> writable(commandLine.begin(), commandLine.end());
  writable.push_back('\0');
  // The started program would inherit SetDllDirectoryA(""): it gets the
  // default search path, and the installer its own narrowed one back.
  const bool narrowed = context.settings.currentDirectoryOutOfDllSearch;
  if (narrowed) {
    api.SetDllDirectoryA(nullptr);
  }
  const BOOL created = api.CreateProcessA(applicationName, writable.data(), nullptr, nullptr, FALSE,
                                          0, nullptr, nullptr, &startup, &info);
  const DWORD createError = api.GetLastError();
  if (narrowed) {
    api.SetDllDirectoryA("");
  }
  if (!created) {
    return {false, createError};
  }
  process.reset(info.hProcess);
  UniqueKernelHandle thread(api, info.hThread);
  return {true, ERROR_SUCCESS};
}

// Waits for at most `limit` and returns the exit status, or -1 when the
// wait or the status query fails, or after one line when the program is
// still running at the limit (it is left running).
int WaitForExitStatus(RunContext& context, const UniqueKernelHandle& process, WaitLimit limit) {
  WinApi& api = context.api;
  const DWORD waited = api.WaitForSingleObject(process.get(), limit.minutes * 60 * 1000);
  if (waited == WAIT_TIMEOUT) {
    context.output.PrintFormatted(
        "  ERROR - %s did not end within %u minutes; going on without waiting for it\n",
        limit.program, static_cast<unsigned>(limit.minutes));
    return -1;
  }
  if (waited == WAIT_FAILED) {
    return -1;
  }
  DWORD exitCode = 0;
  if (!api.GetExitCodeProcess(process.get(), &exitCode)) {
    return -1;
  }
  return static_cast<int>(exitCode);
}

// COMSPEC's value, or an empty string when it is unset or empty.
std::string ReadComSpec(WinApi& api) {
  std::string value(MAX_PATH, '\0');
  DWORD length =
      api.GetEnvironmentVariableA("COMSPEC", value.data(), static_cast<DWORD>(value.size()));
  if (length >= value.size()) {
    // Too long for the first buffer: `length` is the size it needs.
    value.assign(length, '\0');
    length = api.GetEnvironmentVariableA("COMSPEC", value.data(), static_cast<DWORD>(value.size()));
    if (length >= value.size()) {
      return std::string();
    }
  }
  value.resize(length);
  return value;
}

// The failures after which the system directory's cmd.exe is tried instead
// of the interpreter that COMSPEC names.
bool InterpreterMissing(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_ACCESS_DENIED;
}

int RunInterpreter(RunContext& context, const char* applicationName, std::string commandLine,
                   WaitLimit limit, DWORD& startError) {
  WinApi& api = context.api;
  UniqueKernelHandle process(api);
  const StartResult start =
      StartProcess(context, applicationName, std::move(commandLine), false, process);
  if (!start.started) {
    startError = start.error;
    return -1;
  }
  return WaitForExitStatus(context, process, limit);
}

// The system directory's cmd.exe, by its full path: a bare "cmd.exe" would
// be looked for in the installer's own folder first, where anyone able to
// write there could have put a program of that name to run elevated. Empty
// when the system directory cannot be read.
std::string SystemInterpreterPath(WinApi& api) {
  char path[MAX_PATH + 8] = {};
  return SystemDirectoryPath(api, "cmd.exe", path, sizeof path) ? path : std::string();
}

// Runs `commandLine` through the interpreter at `interpreterPath`, which is
// also the command line's first word, quoted. /d: no AutoRun command of the
// registry runs with the run's rights.
int RunThroughInterpreter(RunContext& context, const std::string& interpreterPath,
                          const char* commandLine, WaitLimit limit, DWORD& startError) {
  // The interpreter takes everything after /c as its command, unchanged.
  std::string line = "\"" + interpreterPath + "\" /d /c " + commandLine;
  return RunInterpreter(context, interpreterPath.c_str(), std::move(line), limit, startError);
}

}  // namespace

std::string BuildCommandLine(const char* const* arguments) {
  std::string line;
  if (arguments == nullptr) {
    return line;
  }
  for (const char* const* argument = arguments; *argument != nullptr; ++argument) {
    if (argument != arguments) {
      line += ' ';
    }
    AppendArgument(line, *argument);
  }
  return line;
}

int SpawnAndWait(RunContext& context, const char* programFile, const char* const* arguments,
                 WaitLimit limit) {
  if (programFile == nullptr || arguments == nullptr) {
    return -1;
  }
  WinApi& api = context.api;
  UniqueKernelHandle process(api);
  if (!StartProcess(context, programFile, BuildCommandLine(arguments), false, process).started) {
    return -1;
  }
  return WaitForExitStatus(context, process, limit);
}

int SpawnDetached(RunContext& context, const char* programFile, const char* const* arguments) {
  if (programFile == nullptr || arguments == nullptr) {
    return -1;
  }
  UniqueKernelHandle process(context.api);
  return StartProcess(context, programFile, BuildCommandLine(arguments), true, process).started
             ? 0
             : -1;
}

int RunShellCommand(RunContext& context, const char* commandLine, WaitLimit limit) {
  if (commandLine == nullptr) {
    return -1;
  }
  WinApi& api = context.api;
  const std::string comSpec = ReadComSpec(api);
  if (!comSpec.empty()) {
    DWORD startError = ERROR_SUCCESS;
    const int status = RunThroughInterpreter(context, comSpec, commandLine, limit, startError);
    if (startError == ERROR_SUCCESS || !InterpreterMissing(startError)) {
      return status;
    }
  }
  const std::string systemInterpreter = SystemInterpreterPath(api);
  if (systemInterpreter.empty()) {
    return -1;
  }
  DWORD startError = ERROR_SUCCESS;
  return RunThroughInterpreter(context, systemInterpreter, commandLine, limit, startError);
}

int StopClientInstances(RunContext& context) {
  context.output.PrintMessage("  - Waiting for all Tolvo Clients to terminate\n");
  const char* const arguments[] = {kStopTool, nullptr};
  const int status = SpawnAndWait(context, kStopTool, arguments, {kStopTool, kStopToolMinutes});
  if (status != 0) {
    context.output.PrintMessage("  ERROR - Cannot stop all Tolvo Client instances\n");
  }
  return status;
}

}  // namespace tolvo
