// The port monitor's transaction channel and the port-data record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/run_context.h"
#include "platform/unique_handles.h"
#include "portconfig/port_configuration.h"

namespace tolvo {

inline constexpr std::size_t kPortDataRecordSize = 10032;

// The 10032-byte little-endian wire record sent with "SetPortData".
struct PortDataRecord {
  std::array<std::uint8_t, kPortDataRecordSize> bytes{};
};

// Byte offsets of the port-data record's fields.
namespace port_data {
inline constexpr std::size_t kDescription = 0;
inline constexpr std::size_t kServerIP = 520;  // entry k at kServerIP + (k - 1) * kTextBytes
inline constexpr std::size_t kServerPort = 5720;
inline constexpr std::size_t kLoadBalancing = 5724;
inline constexpr std::size_t kRefreshIPList = 5728;
inline constexpr std::size_t kQueue = 5732;
inline constexpr std::size_t kAuthType = 6252;
inline constexpr std::size_t kAuthText = 6256;
inline constexpr std::size_t kComPort = 6776;
inline constexpr std::size_t kProjects = 7296;
inline constexpr std::size_t kCompression = 7300;
inline constexpr std::size_t kFaxServer = 7304;
inline constexpr std::size_t kLogToFile = 7308;
inline constexpr std::size_t kEncryption = 7312;
inline constexpr std::size_t kDefaultProjectID = 7316;
inline constexpr std::size_t kDisableServerCommunication = 7320;
inline constexpr std::size_t kCurrentUserNameFormat = 7324;
inline constexpr std::size_t kProtocolLevel = 7844;
inline constexpr std::size_t kJobOwnerMethod = 7848;
inline constexpr std::size_t kLogFilePath = 7852;
inline constexpr std::size_t kNetworkTimeout = 8372;
inline constexpr std::size_t kParserDPI = 8376;
inline constexpr std::size_t kPriceEstimation = 8380;
inline constexpr std::size_t kPopupsForBWPrint = 8384;
inline constexpr std::size_t kBWPrintTempDir = 8388;
inline constexpr std::size_t kIPLoadBalancing = 8908;  // entry k at + (k - 1) * 4
inline constexpr std::size_t kSavePassword = 8948;
inline constexpr std::size_t kNoProjectOption = 8952;
inline constexpr std::size_t kNote = 8956;
inline constexpr std::size_t kLBNetworkTimeout = 9476;
inline constexpr std::size_t kRedirectToIP = 9480;
inline constexpr std::size_t kLogFileSizeLimit = 10000;
inline constexpr std::size_t kLogFileCount = 10004;
inline constexpr std::size_t kSSLCertificateVerification = 10008;
inline constexpr std::size_t kPortName = 10012;  // nine units, then the reserved zero unit
inline constexpr std::size_t kReserved = 10030;

inline constexpr std::size_t kTextUnits = 260;
inline constexpr std::size_t kTextBytes = kTextUnits * 2;
inline constexpr std::size_t kPortNameUnits = 9;
}  // namespace port_data

// The open transaction channel. It owns its handle and both modules and
// releases whatever is still held when it goes out of scope.
struct MonitorChannel {
  explicit MonitorChannel(WinApi& api) : kernel32(api), winspool(api), handle(api) {}

  UniqueModule kernel32;
  UniqueModule winspool;
  bool hasOpenPrinterW = false;
  bool hasXcvDataW = false;
  bool hasMultiByteToWideChar = false;
  UniquePrinter handle;

  bool ready() const { return handle.valid() && hasXcvDataW && hasMultiByteToWideChar; }
};

// Fills `record` from `config`, converting texts with the looked-up
// MultiByteToWideChar. False, with the last error set, when a text cannot
// be converted or the port name is empty or longer than nine characters.
bool BuildPortDataRecord(WinApi& api, const PortConfiguration& config, PortDataRecord& record);

// The longest server name whose channel to `monitorName` can be opened.
std::size_t LongestServerName(const char* monitorName);

// serverName is null for the local machine. The channel may come back not ready.
MonitorChannel OpenMonitorChannel(RunContext& context, const char* serverName,
                                  const char* monitorName);
void CloseMonitorChannel(RunContext& context, MonitorChannel& channel);

// Adds the port, writes its settings, and deletes it again when the write
// is refused. True when the port was added and its settings written.
bool CreateMonitorPort(RunContext& context, const MonitorChannel& channel,
                       const PortConfiguration& config);

}  // namespace tolvo
