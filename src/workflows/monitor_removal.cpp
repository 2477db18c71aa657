#include "workflows/monitor_removal.h"

#include "core/text.h"

namespace tolvo {

MonitorRemoval RemoveMonitor(RunContext& context, const char* serverName) {
  Output& output = context.output;
  output.PrintFormatted("  - Removing Old %s Print Monitor\n", context.profile.productWord);

  // DeleteMonitorA takes writable strings but only reads them.
  char monitorName[MAX_PATH] = {};
  CopyBounded(monitorName, sizeof monitorName, context.profile.productWord);
  if (context.api.DeleteMonitorA(const_cast<LPSTR>(serverName), nullptr, monitorName)) {
    return MonitorRemoval::Removed;
  }

  const DWORD error = context.api.GetLastError();
  switch (error) {
    case ERROR_UNKNOWN_PRINT_MONITOR:
      output.PrintMessage("    (Print Monitor Not Found)\n");
      return MonitorRemoval::NotFound;
    case ERROR_BUSY:
      output.PrintMessage("ERROR Print Monitor Is Used By Spooler.\n");
      break;
    case ERROR_CALL_NOT_IMPLEMENTED:
      output.PrintMessage("ERROR This function is not supported on this system.\n");
      break;
    default:
      output.PrintFormatted("ERROR (%d) While Removing Print Monitor.\n", static_cast<int>(error));
      break;
  }
  return MonitorRemoval::Failed;
}

}  // namespace tolvo
