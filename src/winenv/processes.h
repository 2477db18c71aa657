// Starting other programs: waited for, left running, or through the command
// interpreter; and stopping the desktop client with "Quarvel.exe".
#pragma once

#include "core/run_context.h"

namespace tolvo {

// Runs "Quarvel.exe" and returns its exit status (-1 when it did not start).
int StopClientInstances(RunContext& context);

// `arguments` is a null-terminated list whose first entry is the program's
// own name. Returns the exit status, or -1 when the program did not start.
int SpawnAndWait(WinApi& api, const char* programFile, const char* const* arguments);
// Starts the program and returns at once: 0 when it started, -1 otherwise.
int SpawnDetached(WinApi& api, const char* programFile, const char* const* arguments);
// Runs `commandLine` through %COMSPEC% /c (or cmd.exe) and returns the
// interpreter's exit status, or -1 when it did not start.
int RunShellCommand(WinApi& api, const char* commandLine);

}  // namespace tolvo
