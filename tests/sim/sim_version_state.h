// Windows version facts and the WOW64 probe of the simulated machine.
//
// Tests set these fields before the run:
//   platformId, major, minor, build, productType: what GetVersionExA reports
//     (the product type only through the 156-byte OSVERSIONINFOEXA form);
//   plainQueryFails / extendedQueryFails: that form of GetVersionExA fails
//     (ERROR_INVALID_PARAMETER) on every call; to fail a single call use
//     FailCall("GetVersionExA", error, n) instead;
//   wow64: the process runs under WOW64 (IsWow64Process answers TRUE, and
//     the system directory is redirected to SysWOW64 until the redirection
//     is switched off);
//   isWow64ProcessPresent / redirectionPresent: kernel32 exports
//     IsWow64Process / Wow64DisableWow64FsRedirection (absent on old systems);
//   nativeMachine: the machine IsWow64Process2 reports Windows runs on
//     (0x8664 x64, 0xAA64 ARM64, ...); 0 when kernel32 lacks the function,
//     as before Windows 10 1709;
//   redirectionDisabled: set by Wow64DisableWow64FsRedirection; a test may
//     read it, or set it to start with redirection already off.
#pragma once

#include "platform/win_types.h"

namespace tolvo::sim {

struct SimVersionState {
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD major = 6;
  DWORD minor = 1;
  DWORD build = 7601;
  BYTE productType = VER_NT_WORKSTATION;
  bool wow64 = true;                  // the process runs under WOW64
  bool isWow64ProcessPresent = true;  // kernel32 exports IsWow64Process
  bool redirectionPresent = true;     // kernel32 exports Wow64DisableWow64FsRedirection
  WORD nativeMachine = 0;             // IsWow64Process2's answer; 0: no such function
  bool redirectionDisabled = false;   // set once the installer switched it off
  bool plainQueryFails = false;       // GetVersionExA with the 148-byte record
  bool extendedQueryFails = false;    // GetVersionExA with the 156-byte record
};

}  // namespace tolvo::sim
