#include "core/edition_profile.h"

namespace tolvo {

void EditionProfile::SwitchToEnterprise() {
  configRegistryKey = "SOFTWARE\\Kestrum Corporation\\TolvoE\\PortInstallCfg";
  productWord = "TolvoE";
  portNameFormat = "TolvoE%03d";
  iniFileName = "Tolvo.ini";
  uiDll32 = "TOLVOEUI.DLL";
  uiDll64 = "TOLVOE64UI.DLL";
  monitorDll32 = "TOLVOE.DLL";
  monitorDll64 = "TOLVOE64.DLL";
  cairoLib32 = "TolvoECairoLib.DLL";
  cairoLib64 = "TolvoECairoLib64.DLL";
  fontSubdirectory = "Kestrum\\Tolvo Client Enterprise\\Font";
  releasedPrintersKey = "SOFTWARE\\Kestrum Corporation\\TolvoE\\ReleasedPrinters";
  assignedPrintersKey = "SOFTWARE\\Kestrum Corporation\\TolvoE\\AssignedPrinters";
}

}  // namespace tolvo
