// Environment and processes of the simulated machine.
//
// Test side:
//   environment                 variables by upper-case name; COMSPEC is
//                               "C:\Windows\system32\cmd.exe" to begin with,
//                               erase it to model a machine without it.
//   RegisterProgram(name, p)    makes a program startable. `name` is a full
//                               path ("C:\Kit\Quarvel.exe") or a bare file
//                               name ("Quarvel.exe", any folder). A program
//                               starts only when a file exists at the path
//                               CreateProcessA resolves (write it with
//                               SimWindows::WriteFile) AND it is registered:
//                               no file gives ERROR_FILE_NOT_FOUND (or
//                               ERROR_PATH_NOT_FOUND), a file without a
//                               registration ERROR_BAD_EXE_FORMAT (193).
//   SimProgram::exitStatus      what the program ends with (default 0);
//   SimProgram::behaviour       runs when the program starts, with the
//                               machine and the start record (arguments
//                               parsed as the C runtime would); its result
//                               is the exit status. It may end running
//                               programs (EndPrograms), touch files ...
//   SimProgram::staysRunning    the program keeps running after it started
//                               (the desktop client) until EndPrograms.
//   starts                      every start, in order (see SimProcessStart).
//   RunningCount(name)          running programs of that bare file name.
//   EndPrograms(name, status)   ends the running programs of that name.
//   interpreterPresent          the built-in command interpreter exists as
//                               cmd.exe in the system directory (found on
//                               the search path); it runs "/c rmdir "DIR"
//                               [/S] [/Q]" on the simulated file system
//                               (exit 0; 2 when DIR does not exist),
//                               "/c exit N" (exit N) and
//                               "/c NAME.bat" (the behaviour registered for
//                               the script, else 0 when the file exists and
//                               1 when it does not).
//   hungWaits                   waits without a time limit for a program
//                               that never ends; real Windows would hang
//                               there, so a test expects 0. Such a wait
//                               returns WAIT_FAILED.
//   mutexes                     named mutexes by name (case counts, as for
//                               Windows' object names); {true} is one that
//                               another process holds.
// Process and thread handles are counted as HandleKind::Process/Thread,
// mutex handles as HandleKind::Mutex.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace tolvo::sim {

class SimWindows;

// One CreateProcessA that started a program.
struct SimProcessStart {
  std::string applicationName;  // lpApplicationName as passed ("" when null)
  bool applicationNameGiven = false;
  std::string commandLine;             // as passed
  std::vector<std::string> arguments;  // the command line parsed into argv
  std::string program;                 // full path of the program file that ran
  std::string currentDirectory;        // the directory it ran in
  bool inheritHandles = false;
  bool runLogOpen = false;                  // the installer's run log was open at the start
  std::optional<std::string> dllDirectory;  // the SetDllDirectoryA setting it inherited
  bool waited = false;                      // WaitForSingleObject was called on its process
  DWORD processId = 0;
};

struct SimProgram {
  DWORD exitStatus = 0;
  std::function<DWORD(SimWindows& machine, const SimProcessStart& start)> behaviour;
  bool staysRunning = false;
};

// A named mutex. Initial ownership and recursive waits are not modelled.
struct SimMutex {
  bool heldElsewhere = false;  // another process owns it
  bool ownedByRun = false;
  bool abandoned = false;  // its owner ended without giving it back
  int runHandles = 0;      // while 0 and not held elsewhere, it does not exist
  // Its owner and DACL as SDDL text; the lock's unless it says otherwise.
  std::string security = "O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";
};

struct SimProcessesState {
  SimProcessesState();

  // --- Test side --------------------------------------------------------------
  void RegisterProgram(std::string_view pathOrName, SimProgram program);
  int RunningCount(std::string_view fileName) const;
  void EndPrograms(std::string_view fileName, DWORD exitStatus);

  std::map<std::string, std::string> environment;
  std::vector<SimProcessStart> starts;
  bool interpreterPresent = true;
  int hungWaits = 0;

  // --- For the machine's implementation ----------------------------------------
  struct Process {
    DWORD id = 0;
    std::string program;  // full path
    bool running = false;
    DWORD exitStatus = 0;
    std::size_t start = 0;  // index into `starts`
  };
  // The registration for a full program path, by path first, then by name.
  const SimProgram* FindProgram(std::string_view fullPath) const;

  std::map<std::string, SimProgram> programs;  // by lower-case path or name
  std::map<DWORD, Process> table;              // by process id
  std::map<std::uintptr_t, DWORD> handles;     // process or thread handle -> id
  std::map<std::string, SimMutex> mutexes;
  std::map<std::uintptr_t, std::string> mutexHandles;  // handle -> mutex name
  DWORD nextProcessId = 1000;
};

}  // namespace tolvo::sim
