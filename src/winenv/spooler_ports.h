// The local spooler's ports, listed once.
#pragma once

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

class SpoolerPorts {
 public:
  // Lists the ports with EnumPortsA at level 2 by the two-call size
  // pattern; a listing that fails holds no port.
  explicit SpoolerPorts(WinApi& api);

  // True when a port of that name is listed (of `monitorName`, when one is
  // given), both compared as the spooler compares names (SameSpoolerName).
  bool Has(const char* portName, const char* monitorName = nullptr) const;

 private:
  WinApi& api_;
  UniqueGlobal block_;
  DWORD count_ = 0;
};

}  // namespace tolvo
