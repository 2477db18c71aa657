#include "workflows/uninstall_sequence.h"

#include "winenv/event_log.h"
#include "winenv/file_deployment.h"
#include "winenv/kit_guard.h"
#include "winenv/printer_disconnection.h"
#include "winenv/remembered_printers.h"
#include "winenv/windows_version.h"
#include "workflows/client_application.h"
#include "workflows/monitor_removal.h"
#include "workflows/run_preconditions.h"
#include "workflows/server_name.h"

namespace tolvo {

namespace {

void DeleteMonitorFiles(RunContext& context, OsClass os) {
  const EditionProfile& profile = context.profile;
  const bool standardEdition = !context.settings.enterpriseEdition;
  context.output.PrintFormatted("  - Deleting %s Print Monitor Files from System Directory\n",
                                profile.productWord);
  const bool is64 = os == OS_64BIT;
  DeleteFromSystemDirectory(context, is64 ? profile.monitorDll64 : profile.monitorDll32);
  DeleteFromSystemDirectory(context, is64 ? profile.uiDll64 : profile.uiDll32);
  if (standardEdition) {
    DeleteFromSystemDirectory(context, is64 ? profile.oldMonitorDll64 : profile.oldMonitorDll32);
  }
  DeleteFromSystemDirectory(context, is64 ? profile.cairoLib64 : profile.cairoLib32);
}

}  // namespace

bool UninstallPortMonitor(RunContext& context, const char* serverName, bool copyFiles) {
  Output& output = context.output;

  if (!CheckServerName(context, serverName)) {
    return false;
  }
  output.PrintMessage("  - Detecting Windows Version\n");
  const OsClass os = DetectWindowsVersion(context);
  if (os == OS_UNSUPPORTED) {
    output.PrintMessage("ERROR: Unsupported Operating System Detected.\n");
    return false;
  }
  // The removal starts "Quarvel.exe" from the product folder.
  const bool standardEdition = !context.settings.enterpriseEdition;
  if (!KitFilesGuarded(context, {standardEdition ? kStopTool : nullptr}) ||
      !CheckSpoolerAnswers(context, serverName)) {
    return false;
  }
  if (PrepareRememberedPrinters(context) != RememberedKeys::kReady) {
    return false;
  }

  if (!context.settings.enterpriseEdition) {
    RemoveClientApplication(context);
  }

  DisconnectMonitorPrinters(context, context.profile.productWord);

  const MonitorRemoval removal = RemoveMonitor(context, serverName);
  // A monitor that stays keeps its ports, and the printers go back onto them
  // at once; once it is gone, they go back onto their lists from before.
  // The printers and their records are this machine's: another server's
  // answer says nothing about the monitor here.
  const bool monitorStays =
      serverName == nullptr ? removal == MonitorRemoval::Failed : LocalMonitorRegistered(context);
  PutBackPrinters(context, monitorStays ? PutBack::kWhenPortsExist : PutBack::kMonitorRemoved);
  DeleteEmptyRememberedKeys(context);
  switch (removal) {
    case MonitorRemoval::Removed:
      ReportSuccessToEventLog(context.api, "Port Monitor Uninstalled Sucessfully");
      break;
    case MonitorRemoval::NotFound:
      break;
    case MonitorRemoval::Failed:
      return false;
  }

  if (!copyFiles) {
    return true;
  }
  DeleteMonitorFiles(context, os);
  RemoveFontDirectory(context);
  return true;
}

}  // namespace tolvo
