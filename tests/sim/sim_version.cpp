// Version queries and the WOW64 entry points of the simulated machine.
#include <cstring>

#include "sim/sim_windows.h"

namespace tolvo::sim {

namespace {

constexpr DWORD kVersionInfoSize = 148;
constexpr DWORD kVersionInfoExSize = 156;

// GetCurrentProcess's pseudo handle: never counted, never needs closing.
HANDLE CurrentProcessPseudoHandle() {
  return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}

}  // namespace

BOOL SimWindows::GetVersionExA(LPOSVERSIONINFOA info) {
  if (auto error = Enter("GetVersionExA")) {
    return Fail(*error);
  }
  if (info == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  const DWORD size = info->dwOSVersionInfoSize;
  if (size != kVersionInfoSize && size != kVersionInfoExSize) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  const bool extended = size == kVersionInfoExSize;
  if ((extended && version.extendedQueryFails) || (!extended && version.plainQueryFails)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  info->dwMajorVersion = version.major;
  info->dwMinorVersion = version.minor;
  info->dwBuildNumber = version.build;
  info->dwPlatformId = version.platformId;
  std::memset(info->szCSDVersion, 0, sizeof info->szCSDVersion);
  if (extended) {
    // Only a caller that said it passed the larger record gets these fields.
    auto* ex = reinterpret_cast<OSVERSIONINFOEXA*>(info);
    ex->wServicePackMajor = 0;
    ex->wServicePackMinor = 0;
    ex->wSuiteMask = 0;
    ex->wProductType = version.productType;
    ex->wReserved = 0;
  }
  return TRUE;
}

HANDLE SimWindows::GetCurrentProcess() {
  Enter("GetCurrentProcess");
  return CurrentProcessPseudoHandle();
}

BOOL SimWindows::IsWow64Process(HANDLE process, PBOOL wow64) {
  if (auto error = EnterEntryPoint(EntryPoint::kIsWow64Process)) {
    return Fail(*error);
  }
  if (process != CurrentProcessPseudoHandle() && !IsHandle(process, HandleKind::Process)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (wow64 == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *wow64 = version.wow64 ? TRUE : FALSE;
  return TRUE;
}

BOOL SimWindows::IsWow64Process2(HANDLE process, USHORT* processMachine, USHORT* nativeMachine) {
  if (auto error = EnterEntryPoint(EntryPoint::kIsWow64Process2)) {
    return Fail(*error);
  }
  if (process != CurrentProcessPseudoHandle() || !processMachine || !nativeMachine) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *processMachine = version.wow64 ? 0x014C : 0;  // x86, or not under WOW64
  *nativeMachine = version.nativeMachine;
  return TRUE;
}

BOOL SimWindows::Wow64DisableWow64FsRedirection(PVOID* oldValue) {
  if (auto error = EnterEntryPoint(EntryPoint::kWow64DisableWow64FsRedirection)) {
    return Fail(*error);
  }
  if (oldValue == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (!version.wow64) {
    // 32-bit Windows exports the function but has nothing to switch off.
    return Fail(ERROR_INVALID_FUNCTION);
  }
  *oldValue =
      reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(version.redirectionDisabled ? 1 : 0));
  version.redirectionDisabled = true;
  return TRUE;
}

}  // namespace tolvo::sim
