// The port monitor's transaction channel and the port-data record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/run_context.h"
#include "portconfig/port_configuration.h"

namespace tolvo {

inline constexpr std::size_t kPortDataRecordSize = 10032;

// The 10032-byte little-endian wire record sent with "SetPortData".
struct PortDataRecord {
  std::array<std::uint8_t, kPortDataRecordSize> bytes{};
};

struct MonitorChannel {
  HMODULE winspool = nullptr;
  HMODULE kernel32 = nullptr;
  FARPROC openPrinterW = nullptr;
  FARPROC xcvDataW = nullptr;
  FARPROC multiByteToWideChar = nullptr;
  HANDLE handle = nullptr;

  bool ready() const {
    return handle != nullptr && xcvDataW != nullptr && multiByteToWideChar != nullptr;
  }
};

// serverName is null for the local machine. The channel may come back not ready.
MonitorChannel OpenMonitorChannel(RunContext& context, const char* serverName,
                                  const char* monitorName);
void CloseMonitorChannel(RunContext& context, MonitorChannel& channel);

// Adds the port, writes its settings, and deletes it again when the write
// is refused. True when the port was added and its settings written.
bool CreateMonitorPort(RunContext& context, const MonitorChannel& channel,
                       const PortConfiguration& config);

}  // namespace tolvo
