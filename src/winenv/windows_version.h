// Classification of the Windows version the installer runs on.
#pragma once

#include "core/run_context.h"

namespace tolvo {

enum OsClass {
  OS_32BIT = 5,
  OS_64BIT = 6,
  OS_UNSUPPORTED = 7,
};

// Prints the line naming the system (and an error line when the version
// cannot be read) and returns its class.
OsClass DetectWindowsVersion(RunContext& context);

// True on Windows 95, 98 and Me. Reads the version and prints nothing, so
// that a run can ask before anything else.
bool IsWindows9x(WinApi& api);

// True when this 32-bit process runs under WOW64 (64-bit Windows).
bool IsRunningUnderWow64(WinApi& api);

// The machine type Windows itself runs on (an IMAGE_FILE_MACHINE_ value).
// Under WOW64 on ARM64 IsWow64Process answers TRUE as on x64: only
// IsWow64Process2 (Windows 10 1709 on) tells them apart. Without it, x64
// under WOW64 and x86 otherwise.
WORD NativeMachine(WinApi& api);

}  // namespace tolvo
