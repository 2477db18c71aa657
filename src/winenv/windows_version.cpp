#include "winenv/windows_version.h"

#include <cstring>

#include "winenv/windows_image.h"

namespace tolvo {

namespace {

// The record sizes Windows tells the two query forms apart by.
constexpr DWORD kVersionInfoSize = 148;
constexpr DWORD kVersionInfoExSize = 156;

static_assert(sizeof(OSVERSIONINFOA) == kVersionInfoSize, "OSVERSIONINFOA layout");
static_assert(sizeof(OSVERSIONINFOEXA) == kVersionInfoExSize, "OSVERSIONINFOEXA layout");

struct VersionFacts {
  DWORD platformId = 0;
  DWORD major = 0;
  DWORD minor = 0;
  bool server = false;
  bool wow64 = false;
};

// Reads platform and version numbers with the plain record, retried once:
// on failure the record stays zero-filled, so the platform reads as 0.
bool QueryPlainVersion(WinApi& api, VersionFacts& facts) {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = kVersionInfoSize;
  bool succeeded = api.GetVersionExA(&info) != FALSE;
  if (!succeeded) {
    info.dwOSVersionInfoSize = kVersionInfoSize;
    succeeded = api.GetVersionExA(&info) != FALSE;
  }
  facts.platformId = info.dwPlatformId;
  facts.major = info.dwMajorVersion;
  facts.minor = info.dwMinorVersion;
  return succeeded;
}

// A system whose extended record cannot be read counts as a workstation.
bool QueryIsServer(WinApi& api) {
  OSVERSIONINFOEXA info;
  std::memset(&info, 0, sizeof info);
  info.dwOSVersionInfoSize = kVersionInfoExSize;
  if (!api.GetVersionExA(reinterpret_cast<LPOSVERSIONINFOA>(&info))) {
    return false;
  }
  return info.wProductType != VER_NT_WORKSTATION;
}

OsClass BySupport(bool wow64) {
  return wow64 ? OS_64BIT : OS_32BIT;
}

OsClass ReportUnknownNt(Output& output, DWORD major, DWORD minor) {
  output.PrintFormatted("    (Unknown Win32NT OS Detected ver.%d.%d)\n", static_cast<int>(major),
                        static_cast<int>(minor));
  return OS_UNSUPPORTED;
}

OsClass ClassifyVersion5(Output& output, const VersionFacts& facts) {
  switch (facts.minor) {
    case 0:
      output.PrintMessage("    (Windows 2000 Detected)\n");
      return OS_UNSUPPORTED;
    case 1:
      output.PrintMessage("    (Windows XP Detected)\n");
      return BySupport(facts.wow64);
    case 2:
      // Version 5.2 under WOW64 can only be the 64-bit edition of XP.
      output.PrintMessage(facts.wow64 ? "    (64-bit Windows XP Detected)\n"
                                      : "    (Windows 2003 Detected)\n");
      return BySupport(facts.wow64);
    default:
      return ReportUnknownNt(output, facts.major, facts.minor);
  }
}

OsClass ClassifyVersion6(Output& output, const VersionFacts& facts) {
  if (facts.server) {
    output.PrintMessage(facts.wow64 ? "    (64-bit Windows 2008 Server Detected)\n"
                                    : "    (32-bit Windows 2008 Server Detected)\n");
    return BySupport(facts.wow64);
  }
  switch (facts.minor) {
    case 0:
      output.PrintMessage(facts.wow64 ? "    (64-bit Windows Vista Detected)\n"
                                      : "    (32-bit Windows Vista Detected)\n");
      return BySupport(facts.wow64);
    case 1:
      output.PrintMessage(facts.wow64 ? "    (64-bit Windows 7 Detected)\n"
                                      : "    (32-bit Windows 7 Detected)\n");
      return BySupport(facts.wow64);
    case 2:
      output.PrintMessage(facts.wow64 ? "    (64-bit Windows 8 Detected)\n"
                                      : "    (32-bit Windows 8 Detected)\n");
      return BySupport(facts.wow64);
    default:
      return ReportUnknownNt(output, facts.major, facts.minor);
  }
}

OsClass ClassifyNt(Output& output, const VersionFacts& facts) {
  switch (facts.major) {
    case 3:
      output.PrintMessage("    (Windows NT 3.51 Detected)\n");
      return OS_UNSUPPORTED;
    case 4:
      output.PrintMessage("    (Windows NT 4.0 Detected)\n");
      return OS_UNSUPPORTED;
    case 5:
      return ClassifyVersion5(output, facts);
    case 6:
      return ClassifyVersion6(output, facts);
    default:
      return ReportUnknownNt(output, facts.major, facts.minor);
  }
}

// The Windows 9x line is named by its minor version alone.
OsClass ClassifyWindows9x(Output& output, const VersionFacts& facts) {
  switch (facts.minor) {
    case 0:
      output.PrintMessage("    (Windows 95 Detected)\n");
      break;
    case 10:
      output.PrintMessage("    (Windows 98 Detected)\n");
      break;
    case 90:
      output.PrintMessage("    (Windows Me Detected)\n");
      break;
    default:
      output.PrintFormatted("    (Unknown Win32 OS Detected ver.%d.%d)\n",
                            static_cast<int>(facts.major), static_cast<int>(facts.minor));
      break;
  }
  return OS_UNSUPPORTED;
}

}  // namespace

bool IsWindows9x(WinApi& api) {
  VersionFacts facts;
  return QueryPlainVersion(api, facts) && facts.platformId == VER_PLATFORM_WIN32_WINDOWS;
}

bool IsRunningUnderWow64(WinApi& api) {
  const HMODULE kernel = api.GetModuleHandleA("kernel32");
  if (kernel == nullptr) {
    return false;
  }
  if (!api.HasEntryPoint(kernel, WinApi::EntryPoint::kIsWow64Process)) {
    return false;  // older than XP SP2: no WOW64 to speak of
  }
  // A failed probe leaves the flag FALSE, which reads as 32-bit Windows.
  BOOL wow64 = FALSE;
  api.IsWow64Process(api.GetCurrentProcess(), &wow64);
  return wow64 != FALSE;
}

WORD NativeMachine(WinApi& api) {
  const HMODULE kernel = api.GetModuleHandleA("kernel32");
  if (kernel != nullptr && api.HasEntryPoint(kernel, WinApi::EntryPoint::kIsWow64Process2)) {
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (api.IsWow64Process2(api.GetCurrentProcess(), &processMachine, &nativeMachine) &&
        nativeMachine != 0) {
      return nativeMachine;
    }
  }
  return IsRunningUnderWow64(api) ? kImageMachineAmd64 : kImageMachineI386;
}

OsClass DetectWindowsVersion(RunContext& context) {
  VersionFacts facts;
  if (!QueryPlainVersion(context.api, facts)) {
    context.output.PrintMessage("ERROR Unable to Detect Windows Version.\n");
  }
  facts.server = QueryIsServer(context.api);
  facts.wow64 = IsRunningUnderWow64(context.api);

  switch (facts.platformId) {
    case VER_PLATFORM_WIN32_NT:
      return ClassifyNt(context.output, facts);
    case VER_PLATFORM_WIN32_WINDOWS:
      return ClassifyWindows9x(context.output, facts);
    default:
      return OS_UNSUPPORTED;
  }
}

}  // namespace tolvo
