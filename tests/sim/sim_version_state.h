// Windows version facts and the WOW64 probe of the simulated machine.
#pragma once

#include "platform/win_types.h"

namespace tolvo::sim {

struct SimVersionState {
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD major = 6;
  DWORD minor = 1;
  BYTE productType = VER_NT_WORKSTATION;
  bool wow64 = true;                   // the process runs under WOW64
  bool isWow64ProcessPresent = true;   // kernel32 exports IsWow64Process
  bool redirectionPresent = true;      // kernel32 exports Wow64DisableWow64FsRedirection
  bool redirectionDisabled = false;    // set once the installer switched it off
  bool plainQueryFails = false;        // GetVersionExA with the 148-byte record
  bool extendedQueryFails = false;     // GetVersionExA with the 156-byte record
};

}  // namespace tolvo::sim
