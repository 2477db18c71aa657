// Starting other programs: waited for, left running, or through the command
// interpreter; and stopping the desktop client with "Quarvel.exe".
#pragma once

#include <string>

#include "core/run_context.h"

namespace tolvo {

// Runs "Quarvel.exe" from the current directory and returns its exit status
// (-1 when it did not start); prints an error line for any status but 0.
int StopClientInstances(RunContext& context);

// `arguments` is a null-terminated list whose first entry is the program's
// own name. The program file is started directly (a bare name is taken from
// the current directory, never from the search path), inheriting the
// console, and with Windows' default DLL search path, whatever the
// installer narrowed its own to. Returns the exit status, or -1 when the program did not start.
int SpawnAndWait(RunContext& context, const char* programFile, const char* const* arguments);
// Starts the program as SpawnAndWait does and returns at once: 0 when it
// started, -1 otherwise.
int SpawnDetached(RunContext& context, const char* programFile, const char* const* arguments);
// Runs `commandLine` through %COMSPEC% /c, or through the system
// directory's cmd.exe (by its full path, never along the search path) when
// COMSPEC is unset or names a program that is missing or denied, waits for
// it and returns the interpreter's exit status, or -1 when it did not start.
int RunShellCommand(RunContext& context, const char* commandLine);

// The command line that a program started with `arguments` parses back into
// the same list under Windows' argv rules: an argument that is empty or holds
// a blank, tab or double quote is quoted, with embedded quotes and the
// backslashes before them escaped.
std::string BuildCommandLine(const char* const* arguments);

}  // namespace tolvo
