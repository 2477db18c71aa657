// The names that differ between the Standard and the Enterprise edition.
#pragma once

#include <array>

namespace tolvo {

struct EditionProfile {
  const char* configRegistryKey = "SOFTWARE\\Kestrum Corporation\\Tolvo\\PortInstallCfg";
  const char* productWord = "Tolvo";
  const char* portNameFormat = "Tolvo%03d";
  const char* iniFileName = "Tolvo.ini";
  const char* uiDll32 = "TOLVOUI.DLL";
  const char* uiDll64 = "TOLVO64UI.DLL";
  const char* monitorDll32 = "TOLVOVS.DLL";
  const char* monitorDll64 = "TOLVOVS64.DLL";
  const char* cairoLib32 = "TolvoCairoLib.DLL";
  const char* cairoLib64 = "TolvoCairoLib64.DLL";
  const char* fontSubdirectory = "Kestrum\\Tolvo Client\\Font";
  const char* oldMonitorDll32 = "TOLVO.DLL";
  const char* oldMonitorDll64 = "TOLVO64.DLL";
  // Where runs remember printers' port lists (winenv/remembered_printers.h).
  const char* releasedPrintersKey = "SOFTWARE\\Kestrum Corporation\\Tolvo\\ReleasedPrinters";
  const char* assignedPrintersKey = "SOFTWARE\\Kestrum Corporation\\Tolvo\\AssignedPrinters";

  // Replaces the edition's names by the Enterprise values. Called once by
  // the driver, right after the command line is parsed.
  void SwitchToEnterprise();
};

// Culture folders of the desktop client, in deployment order.
inline constexpr std::array<const char*, 7> clientLanguages = {"cs-CZ", "de-DE", "hu-HU", "ja-JP",
                                                               "pl-PL", "ru-RU", "zh-CN"};

}  // namespace tolvo
