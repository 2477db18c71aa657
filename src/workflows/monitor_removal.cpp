#include "workflows/monitor_removal.h"

#include <cstring>

#include "core/text.h"
#include "winenv/printer_settings.h"
#include "winenv/sized_block.h"

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

bool LocalMonitorRegistered(RunContext& context) {
  WinApi& api = context.api;
  DWORD needed = 0;
  DWORD returned = 0;
  const auto list = [&](LPBYTE block, DWORD size, LPDWORD sizeNeeded) {
    return api.EnumMonitorsA(nullptr, 2, block, size, sizeNeeded, &returned);
  };
  const UniqueGlobal block = CallWithSizedBlock(api, needed, 0, list);
  if (!block) {
    // A first call that succeeds lists no monitor at all.
    return !(needed == 0 && list(nullptr, 0, &needed));
  }
  const auto* records = static_cast<const BYTE*>(block.get());
  for (DWORD i = 0; i < returned && (i + 1) * sizeof(MONITOR_INFO_2A) <= needed; ++i) {
    MONITOR_INFO_2A monitor;
    std::memcpy(&monitor, records + i * sizeof monitor, sizeof monitor);
    if (monitor.pName != nullptr &&
        SameSpoolerName(api, monitor.pName, context.profile.productWord)) {
      return true;
    }
  }
  return false;
}

}  // namespace tolvo
