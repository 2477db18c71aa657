// Environment, programs and the built-in command interpreter of the
// simulated machine.
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

#include "sim/sim_windows.h"

namespace tolvo::sim {

namespace fs = std::filesystem;

namespace {

constexpr DWORD kErrorBadExeFormat = 193;
constexpr DWORD kErrorDirectory = 267;
constexpr DWORD kWaitTimeout = 258;
constexpr DWORD kErrorNotOwner = 288;

std::uintptr_t Value(HANDLE handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

std::string Upper(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return result;
}

std::string BaseName(std::string_view path) {
  const auto slash = path.find_last_of("\\/");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

HANDLE CurrentProcessPseudoHandle() {
  return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

// The C runtime's argv rules: the program name runs to the next blank, or
// to the closing quote when it starts with one, with no escapes; later
// arguments honour quotes, "" inside quotes, and backslashes that precede
// a quote (2n backslashes give n and a quote mark, 2n+1 give n and a
// literal quote).
std::vector<std::string> ParseArguments(std::string_view line) {
  std::vector<std::string> arguments;
  std::size_t i = 0;
  std::string name;
  if (i < line.size() && line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') {
      name += line[i++];
    }
    if (i < line.size()) {
      ++i;
    }
  } else {
    while (i < line.size() && !IsBlank(line[i])) {
      name += line[i++];
    }
  }
  arguments.push_back(name);
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) {
      ++i;
    }
    if (i >= line.size()) {
      break;
    }
    std::string argument;
    bool inQuotes = false;
    while (i < line.size() && (inQuotes || !IsBlank(line[i]))) {
      std::size_t backslashes = 0;
      while (i < line.size() && line[i] == '\\') {
        ++backslashes;
        ++i;
      }
      if (i < line.size() && line[i] == '"') {
        argument.append(backslashes / 2, '\\');
        if (backslashes % 2 == 1) {
          argument += '"';
          ++i;
        } else if (inQuotes && i + 1 < line.size() && line[i + 1] == '"') {
          argument += '"';
          i += 2;
        } else {
          inQuotes = !inQuotes;
          ++i;
        }
      } else {
        argument.append(backslashes, '\\');
        if (i < line.size() && (inQuotes || !IsBlank(line[i]))) {
          argument += line[i++];
        }
      }
    }
    arguments.push_back(argument);
  }
  return arguments;
}

// The first token of a command line, as CreateProcessA reads it when no
// application name is given.
std::string FirstToken(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) {
    ++i;
  }
  std::string token;
  if (i < line.size() && line[i] == '"') {
    ++i;
    while (i < line.size() && line[i] != '"') {
      token += line[i++];
    }
    return token;
  }
  while (i < line.size() && !IsBlank(line[i])) {
    token += line[i++];
  }
  return token;
}

// The interpreter's own splitting: blanks separate, double quotes group and
// are dropped.
std::vector<std::string> SplitCommand(std::string_view command) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < command.size()) {
    while (i < command.size() && IsBlank(command[i])) {
      ++i;
    }
    if (i >= command.size()) {
      break;
    }
    std::string token;
    bool inQuotes = false;
    while (i < command.size() && (inQuotes || !IsBlank(command[i]))) {
      if (command[i] == '"') {
        inQuotes = !inQuotes;
      } else {
        token += command[i];
      }
      ++i;
    }
    tokens.push_back(token);
  }
  return tokens;
}

bool IsAbsolute(std::string_view path) {
  return (path.size() >= 2 && path[1] == ':') || (!path.empty() && path[0] == '\\');
}

bool HasExtension(std::string_view name) {
  return BaseName(name).find('.') != std::string::npos;
}

}  // namespace

// --- State -------------------------------------------------------------------

SimProcessesState::SimProcessesState() {
  environment["COMSPEC"] = "C:\\Windows\\system32\\cmd.exe";
  environment["PATH"] = "C:\\Windows\\system32;C:\\Windows";
  environment["SYSTEMROOT"] = "C:\\Windows";
}

void SimProcessesState::RegisterProgram(std::string_view pathOrName, SimProgram program) {
  programs[Lower(pathOrName)] = std::move(program);
}

const SimProgram* SimProcessesState::FindProgram(std::string_view fullPath) const {
  auto it = programs.find(Lower(fullPath));
  if (it == programs.end()) {
    it = programs.find(Lower(BaseName(fullPath)));
  }
  return it == programs.end() ? nullptr : &it->second;
}

int SimProcessesState::RunningCount(std::string_view fileName) const {
  const std::string wanted = Lower(fileName);
  return static_cast<int>(std::count_if(table.begin(), table.end(), [&](const auto& entry) {
    return entry.second.running && Lower(BaseName(entry.second.program)) == wanted;
  }));
}

void SimProcessesState::EndPrograms(std::string_view fileName, DWORD exitStatus) {
  const std::string wanted = Lower(fileName);
  for (auto& [id, process] : table) {
    if (process.running && Lower(BaseName(process.program)) == wanted) {
      process.running = false;
      process.exitStatus = exitStatus;
    }
  }
}

// --- Environment ------------------------------------------------------------------

DWORD SimWindows::GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size) {
  if (auto error = Enter("GetEnvironmentVariableA")) {
    SetLastError(*error);
    return 0;
  }
  if (name == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const auto it = processes.environment.find(Upper(name));
  if (it == processes.environment.end()) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  const std::string& value = it->second;
  if (buffer == nullptr || size <= value.size()) {
    return static_cast<DWORD>(value.size() + 1);  // the size it needs
  }
  std::memcpy(buffer, value.c_str(), value.size() + 1);
  return static_cast<DWORD>(value.size());
}

// --- The command interpreter -----------------------------------------------------------

namespace {

// What follows "/c" (or "/k") on an interpreter's command line, with the
// interpreter's rule for a command that starts with a quote: the first and
// the last quote are dropped.
bool InterpreterCommand(std::string_view line, std::string& command) {
  std::size_t i = 0;
  if (i < line.size() && line[i] == '"') {
    i = line.find('"', 1);
    i = i == std::string_view::npos ? line.size() : i + 1;
  }
  while (i < line.size() && !IsBlank(line[i]) && line[i] != '/') {
    ++i;
  }
  for (;;) {
    while (i < line.size() && IsBlank(line[i])) {
      ++i;
    }
    if (i + 1 >= line.size() || line[i] != '/') {
      return false;
    }
    const char option = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i + 1])));
    i += 2;
    if (option == 'c' || option == 'k') {
      break;
    }
    while (i < line.size() && !IsBlank(line[i])) {
      ++i;
    }
  }
  while (i < line.size() && IsBlank(line[i])) {
    ++i;
  }
  command = std::string(line.substr(i));
  if (!command.empty() && command.front() == '"') {
    command.erase(0, 1);
    const auto last = command.find_last_of('"');
    if (last != std::string::npos) {
      command.erase(last, 1);
    }
  }
  return true;
}

// Runs the interpreter's command on the machine and returns its exit
// status; what it prints goes to the shared console.
DWORD RunInterpreter(SimWindows& machine, const SimProcessStart& start, bool& staysRunning) {
  std::string command;
  if (!InterpreterCommand(start.commandLine, command)) {
    return 0;  // an interactive interpreter with no input ends at once
  }
  const std::vector<std::string> tokens = SplitCommand(command);
  if (tokens.empty()) {
    return 0;
  }
  auto inFolder = [&](const std::string& path) {
    return machine.FullPath(IsAbsolute(path) ? path : start.currentDirectory + "\\" + path);
  };
  const std::string verb = Lower(tokens[0]);
  if (verb == "exit") {
    return tokens.size() > 1 ? static_cast<DWORD>(std::strtoul(tokens[1].c_str(), nullptr, 10)) : 0;
  }
  if (verb == "rmdir" || verb == "rd") {
    bool tree = false;
    std::string target;
    for (std::size_t i = 1; i < tokens.size(); ++i) {
      const std::string option = Lower(tokens[i]);
      if (option == "/s") {
        tree = true;
      } else if (option != "/q" && target.empty()) {
        target = tokens[i];
      }
    }
    if (target.empty()) {
      machine.console += "The syntax of the command is incorrect.\n";
      return 1;
    }
    const std::string full = inFolder(target);
    if (!machine.Exists(full)) {
      machine.console += "The system cannot find the file specified.\n";
      return 2;
    }
    if (!machine.IsDirectory(full)) {
      machine.console += "The directory name is invalid.\n";
      return 1;
    }
    const std::string key = SimFilesState::Key(full);
    const std::string current = SimFilesState::Key(machine.currentDirectory);
    const bool holdsCurrent =
        current == key || current.rfind(key + (key.back() == '\\' ? "" : "\\"), 0) == 0;
    if (machine.fileSystem.AnyLockedAt(full) || holdsCurrent) {
      machine.console +=
          "The process cannot access the file because it is being used by another process.\n";
      return 32;
    }
    std::error_code error;
    if (!tree && !fs::is_empty(machine.HostPath(full), error)) {
      machine.console += "The directory is not empty.\n";
      return 145;
    }
    fs::remove_all(machine.HostPath(full), error);
    machine.fileSystem.Forget(full);
    return error ? 5 : 0;
  }
  if (verb.size() > 4 && verb.compare(verb.size() - 4, 4, ".bat") == 0) {
    const std::string full = inFolder(tokens[0]);
    if (!machine.Exists(full) || machine.IsDirectory(full)) {
      machine.console += "'" + tokens[0] +
                         "' is not recognized as an internal or external command,\n"
                         "operable program or batch file.\n";
      return 1;
    }
    const SimProgram* script = machine.processes.FindProgram(full);
    if (script == nullptr) {
      return 0;
    }
    staysRunning = script->staysRunning;  // a script that hangs holds its interpreter
    return script->behaviour ? script->behaviour(machine, start) : script->exitStatus;
  }
  machine.console += "'" + tokens[0] +
                     "' is not recognized as an internal or external command,\n"
                     "operable program or batch file.\n";
  return 1;
}

}  // namespace

// --- Starting programs ---------------------------------------------------------------

namespace {

struct Resolution {
  std::string program;  // full path
  DWORD error = ERROR_SUCCESS;
};

}  // namespace

BOOL SimWindows::CreateProcessA(LPCSTR applicationName, LPSTR commandLine,
                                LPSECURITY_ATTRIBUTES /*processAttributes*/,
                                LPSECURITY_ATTRIBUTES /*threadAttributes*/, BOOL inheritHandles,
                                DWORD /*creationFlags*/, LPVOID /*environment*/,
                                LPCSTR currentDirectory, LPSTARTUPINFOA startupInfo,
                                LPPROCESS_INFORMATION processInformation) {
  if (auto error = Enter("CreateProcessA")) {
    return Fail(*error);
  }
  if (processInformation == nullptr || startupInfo == nullptr ||
      (applicationName == nullptr && commandLine == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const std::string interpreter = FullPath(systemDirectory + "\\cmd.exe");
  auto isInterpreter = [&](const std::string& full) {
    return processes.interpreterPresent && Lower(full) == Lower(interpreter);
  };
  auto isFile = [&](const std::string& full) {
    return isInterpreter(full) || (Exists(full) && !IsDirectory(full));
  };

  // Which program file runs: the application name alone when it is given
  // (no search path, no extension added), else the command line's first
  // token along the search path.
  Resolution resolved;
  if (applicationName != nullptr) {
    const std::string full = FullPath(applicationName);
    if (IsDirectory(full)) {
      resolved.error = ERROR_ACCESS_DENIED;
    } else if (!isFile(full)) {
      const auto slash = full.find_last_of('\\');
      resolved.error = IsDirectory(full.substr(0, std::max<std::size_t>(slash, 3)))
                           ? ERROR_FILE_NOT_FOUND
                           : ERROR_PATH_NOT_FOUND;
    } else {
      resolved.program = full;
    }
  } else {
    const std::string token = FirstToken(commandLine);
    std::vector<std::string> candidates;
    auto addCandidate = [&](const std::string& path) {
      candidates.push_back(path);
      if (!HasExtension(path)) {
        candidates.push_back(path + ".exe");
      }
    };
    if (token.find_first_of("\\/:") != std::string::npos) {
      addCandidate(token);
    } else {
      addCandidate(this->currentDirectory + "\\" + token);
      addCandidate(systemDirectory + "\\" + token);
      addCandidate(windowsDirectory + "\\" + token);
      const auto path = processes.environment.find("PATH");
      if (path != processes.environment.end()) {
        std::size_t begin = 0;
        while (begin <= path->second.size()) {
          const std::size_t end = std::min(path->second.find(';', begin), path->second.size());
          if (end > begin) {
            addCandidate(path->second.substr(begin, end - begin) + "\\" + token);
          }
          begin = end + 1;
        }
      }
    }
    resolved.error = ERROR_FILE_NOT_FOUND;
    for (const std::string& candidate : candidates) {
      if (isFile(FullPath(candidate))) {
        resolved = {FullPath(candidate), ERROR_SUCCESS};
        break;
      }
    }
  }
  if (resolved.error != ERROR_SUCCESS) {
    return Fail(resolved.error);
  }
  const SimProgram* program =
      isInterpreter(resolved.program) ? nullptr : processes.FindProgram(resolved.program);
  if (!isInterpreter(resolved.program) && program == nullptr) {
    return Fail(kErrorBadExeFormat);
  }
  std::string directory = this->currentDirectory;
  if (currentDirectory != nullptr) {
    directory = FullPath(currentDirectory);
    if (!IsDirectory(directory)) {
      return Fail(kErrorDirectory);
    }
  }

  SimProcessStart start;
  start.applicationNameGiven = applicationName != nullptr;
  start.applicationName = applicationName != nullptr ? applicationName : "";
  start.commandLine = commandLine != nullptr ? commandLine : applicationName;
  start.arguments = ParseArguments(start.commandLine);
  start.program = resolved.program;
  start.currentDirectory = directory;
  start.inheritHandles = inheritHandles != FALSE;
  start.runLogOpen = RunLogOpen();
  start.dllDirectory = dllDirectory;
  start.processId = processes.nextProcessId;
  processes.nextProcessId += 4;

  SimProcessesState::Process process;
  process.id = start.processId;
  process.program = resolved.program;
  process.running = true;
  process.start = processes.starts.size();
  processes.starts.push_back(start);
  processes.table[process.id] = process;

  // The program runs at once; its behaviour sees a copy of its start, as
  // it may start programs itself.
  DWORD status = 0;
  bool staysRunning = false;
  if (program == nullptr) {
    status = RunInterpreter(*this, start, staysRunning);
  } else {
    status = program->behaviour ? program->behaviour(*this, start) : program->exitStatus;
    staysRunning = program->staysRunning;
  }
  SimProcessesState::Process& entry = processes.table[start.processId];
  if (!staysRunning && entry.running) {
    entry.running = false;
    entry.exitStatus = status;
  }

  HANDLE processHandle = NewHandle(HandleKind::Process);
  HANDLE threadHandle = NewHandle(HandleKind::Thread);
  processes.handles[reinterpret_cast<std::uintptr_t>(processHandle)] = start.processId;
  processes.handles[reinterpret_cast<std::uintptr_t>(threadHandle)] = start.processId;
  processInformation->hProcess = processHandle;
  processInformation->hThread = threadHandle;
  processInformation->dwProcessId = start.processId;
  processInformation->dwThreadId = start.processId + 1;
  return TRUE;
}

DWORD SimWindows::WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  if (auto error = Enter("WaitForSingleObject")) {
    SetLastError(*error);
    return WAIT_FAILED;
  }
  if (IsHandle(handle, HandleKind::Mutex)) {
    SimMutex& mutex = processes.mutexes[processes.mutexHandles[Value(handle)]];
    if (mutex.heldElsewhere) {
      processes.hungWaits += milliseconds == INFINITE ? 1 : 0;
      return milliseconds == INFINITE ? WAIT_FAILED : kWaitTimeout;
    }
    mutex.ownedByRun = true;
    return std::exchange(mutex.abandoned, false) ? WAIT_ABANDONED : WAIT_OBJECT_0;
  }
  const auto it = processes.handles.find(reinterpret_cast<std::uintptr_t>(handle));
  if (handle == CurrentProcessPseudoHandle()) {
    ++processes.hungWaits;  // waiting for oneself never ends
    SetLastError(ERROR_INVALID_FUNCTION);
    return WAIT_FAILED;
  }
  if (it == processes.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  SimProcessesState::Process& process = processes.table[it->second];
  processes.starts[process.start].waited = true;
  if (!process.running) {
    return WAIT_OBJECT_0;
  }
  if (milliseconds != INFINITE) {
    return kWaitTimeout;
  }
  ++processes.hungWaits;
  SetLastError(ERROR_INVALID_FUNCTION);
  return WAIT_FAILED;
}

BOOL SimWindows::GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  if (auto error = Enter("GetExitCodeProcess")) {
    return Fail(*error);
  }
  if (exitCode == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (process == CurrentProcessPseudoHandle()) {
    *exitCode = STILL_ACTIVE;
    return TRUE;
  }
  const auto it = processes.handles.find(reinterpret_cast<std::uintptr_t>(process));
  if (!IsHandle(process, HandleKind::Process) || it == processes.handles.end()) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  const SimProcessesState::Process& entry = processes.table[it->second];
  *exitCode = entry.running ? STILL_ACTIVE : entry.exitStatus;
  return TRUE;
}

HANDLE SimWindows::CreateMutexA(LPSECURITY_ATTRIBUTES mutexAttributes, BOOL initialOwner,
                                LPCSTR name) {
  if (auto error = Enter("CreateMutexA")) {
    SetLastError(*error);
    return nullptr;
  }
  if (name == nullptr || initialOwner) {
    SetLastError(ERROR_INVALID_PARAMETER);  // not modelled
    return nullptr;
  }
  const bool existed = processes.mutexes.count(name) != 0;
  SimMutex& mutex = processes.mutexes[name];
  if (!existed) {
    // The descriptor given, or else the default one of the run's account.
    const std::string security =
        mutexAttributes != nullptr ? LocalText(mutexAttributes->lpSecurityDescriptor) : "";
    mutex.security =
        !security.empty() ? security : "O:" + runAccount + "D:(A;;GA;;;" + runAccount + ")";
  }
  ++mutex.runHandles;
  HANDLE handle = NewHandle(HandleKind::Mutex);
  processes.mutexHandles[Value(handle)] = name;
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

DWORD SimWindows::GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE /*type*/,
                                  SECURITY_INFORMATION /*parts*/, PSID* owner, PSID* /*group*/,
                                  PACL* /*dacl*/, PACL* /*sacl*/,
                                  PSECURITY_DESCRIPTOR* descriptor) {
  if (auto error = Enter("GetSecurityInfo")) {
    return *error;
  }
  // A mutex's and a registry key's descriptors are modelled, each as a whole.
  if (IsHandle(handle, HandleKind::RegKey)) {
    const auto open = registry.openKeys.find(Value(handle));
    const SimRegistryKey* key =
        open == registry.openKeys.end() ? nullptr : registry.FindKey(open->second.path);
    if (key == nullptr) {
      return ERROR_INVALID_HANDLE;
    }
    *descriptor = NewLocalBlock(key->security.empty() ? kDefaultKeySecurity : key->security);
  } else if (IsHandle(handle, HandleKind::Mutex)) {
    *descriptor = NewLocalBlock(processes.mutexes[processes.mutexHandles[Value(handle)]].security);
  } else {
    return ERROR_INVALID_HANDLE;
  }
  if (owner != nullptr) {
    *owner = *descriptor;
  }
  return ERROR_SUCCESS;
}

BOOL SimWindows::ReleaseMutex(HANDLE handle) {
  if (auto error = Enter("ReleaseMutex")) {
    return Fail(*error);
  }
  if (!IsHandle(handle, HandleKind::Mutex)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  SimMutex& mutex = processes.mutexes[processes.mutexHandles[Value(handle)]];
  return std::exchange(mutex.ownedByRun, false) ? TRUE : Fail(kErrorNotOwner);
}

BOOL SimWindows::CloseHandle(HANDLE handle) {
  if (auto error = Enter("CloseHandle")) {
    return Fail(*error);
  }
  if (handle == CurrentProcessPseudoHandle()) {
    return TRUE;
  }
  if (ReleaseHandle(handle, HandleKind::Mutex)) {
    const std::string name = processes.mutexHandles.extract(Value(handle)).mapped();
    SimMutex& mutex = processes.mutexes[name];
    if (mutex.runHandles-- == 1 && !mutex.heldElsewhere) {
      processes.mutexes.erase(name);
    }
    return TRUE;
  }
  if (ReleaseHandle(handle, HandleKind::File)) {
    fileSystem.openFiles.erase(Value(handle));
    return TRUE;
  }
  if (!ReleaseHandle(handle, HandleKind::Process) && !ReleaseHandle(handle, HandleKind::Thread) &&
      !ReleaseHandle(handle, HandleKind::Token)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  processes.handles.erase(reinterpret_cast<std::uintptr_t>(handle));
  return TRUE;
}

}  // namespace tolvo::sim
