// Starting other programs: waited for, left running, or through the command
// interpreter; and stopping the desktop client with "Quarvel.exe".
#pragma once

#include <string>

#include "core/run_context.h"

namespace tolvo {

// How long the run waits for a program it started before it says so in one
// line and goes on, leaving the program running: a program that hangs must
// not keep an installation (and Windows Installer with it) waiting for ever.
struct WaitLimit {
  const char* program;  // as the line names it
  DWORD minutes;
};
inline constexpr DWORD kStopToolMinutes = 2;
inline constexpr DWORD kShellCommandMinutes = 10;

// Runs "Quarvel.exe" from the current directory and returns its exit status
// (-1 when it did not start); prints an error line for any status but 0.
int StopClientInstances(RunContext& context);

// `arguments` is a null-terminated list whose first entry is the program's
// own name. The program file is started directly (a bare name is taken from
// the current directory, never from the search path), sharing the console
// but inheriting no handle, and with Windows' default DLL search path,
// whatever the installer narrowed its own to. Returns the exit status, or
// -1 when the program did not start or did not end within `limit`.
int SpawnAndWait(RunContext& context, const char* programFile, const char* const* arguments,
                 WaitLimit limit);
// Starts the program as SpawnAndWait does and returns at once: 0 when it
// started, -1 otherwise.
int SpawnDetached(RunContext& context, const char* programFile, const char* const* arguments);
// Runs `commandLine` through %COMSPEC% /d /c, or through the system
// directory's cmd.exe (by its full path, never along the search path) when
// COMSPEC is unset or names a program that is missing or denied, waits for
// it within `limit` and returns the interpreter's exit status, or -1 when it
// did not start or end.
int RunShellCommand(RunContext& context, const char* commandLine, WaitLimit limit);

// The command line that a program started with `arguments` parses back into
// the same list under Windows' argv rules: an argument that is empty or holds
// a blank, tab or double quote is quoted, with embedded quotes and the
// backslashes before them escaped.
std::string BuildCommandLine(const char* const* arguments);

}  // namespace tolvo
