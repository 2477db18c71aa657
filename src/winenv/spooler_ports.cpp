#include "winenv/spooler_ports.h"

#include <algorithm>
#include <cstring>

#include "winenv/printer_settings.h"
#include "winenv/sized_block.h"

namespace tolvo {

SpoolerPorts::SpoolerPorts(WinApi& api) : api_(api), block_(api) {
  DWORD needed = 0;
  DWORD returned = 0;
  block_ = CallWithSizedBlock(api, needed, 0, [&](LPBYTE block, DWORD size, LPDWORD sizeNeeded) {
    return api.EnumPortsA(nullptr, 2, block, size, sizeNeeded, &returned);
  });
  // Never more records than the block holds.
  count_ = block_ ? std::min<DWORD>(returned, needed / sizeof(PORT_INFO_2A)) : 0;
}

bool SpoolerPorts::Has(const char* portName, const char* monitorName) const {
  const auto* records = static_cast<const BYTE*>(block_.get());
  for (DWORD i = 0; i < count_; ++i) {
    PORT_INFO_2A port;
    std::memcpy(&port, records + i * sizeof port, sizeof port);
    if (port.pPortName == nullptr || port.pMonitorName == nullptr) {
      continue;
    }
    if (api_.CompareTextIgnoreCase(port.pPortName, portName) == 0 &&
        (monitorName == nullptr ||
         api_.CompareTextIgnoreCase(port.pMonitorName, monitorName) == 0)) {
      return true;
    }
  }
  return false;
}

}  // namespace tolvo
