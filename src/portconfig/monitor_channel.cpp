#include "portconfig/monitor_channel.h"

#include <cstring>

#include "core/text.h"
#include "core/wiped.h"
#include "winenv/system_directory.h"
#include "workflows/server_name_rule.h"

namespace tolvo {

namespace {

constexpr std::size_t kSystemDirectorySize = 1000;
constexpr std::size_t kOpenTextSize = MAX_PATH;
constexpr int kOpenTextUnits = 520;

// Loads a system DLL from the system directory by its full path: the
// installer runs elevated from a folder that others may be able to write
// to, so a bare name could pick up a planted copy.
void LoadSystemModule(WinApi& api, const char* name, UniqueModule& module) {
  char path[kSystemDirectorySize + MAX_PATH];
  if (SystemDirectoryPath(api, name, path, sizeof path)) {
    module.reset(api.LoadLibraryA(path));
  }
}

void OpenTransactionHandle(RunContext& context, MonitorChannel& channel, const char* serverName,
                           const char* monitorName) {
  WinApi& api = context.api;
  char openText[kOpenTextSize];
  const bool fits =
      serverName == nullptr
          ? FormatBounded(openText, sizeof openText, ",XcvMonitor %s", monitorName)
          : FormatBounded(openText, sizeof openText, "%s\\,XcvMonitor %s", serverName, monitorName);
  if (!fits) {
    // A cut text would name another machine or another monitor.
    context.output.PrintFormatted(
        "    ERROR - Cannot open port monitor: the server name is longer than %d characters\n",
        static_cast<int>(LongestServerName(monitorName)));
    return;
  }
  WCHAR wideText[kOpenTextUnits];
  if (api.MultiByteToWideChar(CP_ACP, 0, openText, -1, wideText, kOpenTextUnits) == 0) {
    context.output.PrintFormatted("Cannot open port monitor, error code: %i\n",
                                  static_cast<int>(api.GetLastError()));
    return;
  }
  PRINTER_DEFAULTSW defaults{};
  defaults.pDatatype = nullptr;
  defaults.pDevMode = nullptr;
  defaults.DesiredAccess = SERVER_ACCESS_ADMINISTER;
  HANDLE handle = nullptr;
  if (!api.OpenPrinterW(wideText, &handle, &defaults)) {
    context.output.PrintFormatted("Cannot open port monitor, error code: %i\n",
                                  static_cast<int>(api.GetLastError()));
    return;
  }
  channel.handle.reset(handle);
}

// Converts a zero-terminated ANSI text (at most textSize bytes are looked
// at) into a full buffer first and then copies at most slotUnits units of
// it, little-endian, into the record at `offset`. MultiByteToWideChar's
// output is not relied on when its buffer is too small, so the slot is
// never filled by a failed conversion. Both copies are wiped: one of the
// texts is the password.
bool WriteText(WinApi& api, PortDataRecord& record, std::size_t offset, const char* text,
               std::size_t textSize, std::size_t slotUnits) {
  Wiped<char[kConfigTextSize]> source;
  CopyBounded(*source, kConfigTextSize, std::string_view(text, strnlen(text, textSize)));
  Wiped<WCHAR[kConfigTextSize]> wide;
  const int units = api.MultiByteToWideChar(CP_ACP, 0, *source, -1, *wide, kConfigTextSize);
  if (units <= 0) {
    return false;
  }
  const std::size_t count =
      static_cast<std::size_t>(units) < slotUnits ? static_cast<std::size_t>(units) : slotUnits;
  for (std::size_t i = 0; i < count; ++i) {
    const auto unit = static_cast<std::uint16_t>((*wide)[i]);
    record.bytes[offset + 2 * i] = static_cast<std::uint8_t>(unit & 0xFF);
    record.bytes[offset + 2 * i + 1] = static_cast<std::uint8_t>(unit >> 8);
  }
  return true;
}

void WriteInteger(PortDataRecord& record, std::size_t offset, std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (std::size_t i = 0; i < 4; ++i) {
    record.bytes[offset + i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
}

struct TextSlot {
  std::size_t offset;
  const char* text;
};
struct IntegerSlot {
  std::size_t offset;
  std::int32_t value;
};

// Sends one command; the result is its error code, 0 when the monitor
// accepted it.
DWORD SendCommand(WinApi& api, const MonitorChannel& channel, const WCHAR* command, PBYTE input,
                  DWORD inputSize) {
  DWORD needed = 0;
  DWORD status = 0;
  if (!api.XcvDataW(channel.handle.get(), command, input, inputSize, nullptr, 0, &needed,
                    &status)) {
    const DWORD error = api.GetLastError();
    // A failed call never counts as an accepted command.
    return error != 0 ? error : ERROR_INVALID_FUNCTION;
  }
  return status;
}

}  // namespace

bool BuildPortDataRecord(WinApi& api, const PortConfiguration& config, PortDataRecord& record) {
  using namespace port_data;
  record.bytes.fill(0);
  const std::size_t nameLength = strnlen(config.PortName, sizeof config.PortName);
  if (nameLength == 0 || nameLength > kPortNameUnits) {
    // No call failed, so no last error tells why.
    api.SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!WriteText(api, record, kPortName, config.PortName, sizeof config.PortName, kPortNameUnits) ||
      !WriteText(api, record, kDescription, config.Description, kConfigTextSize, kTextUnits)) {
    return false;
  }
  for (std::size_t entry = 0; entry < kServerAddressCount; ++entry) {
    if (!WriteText(api, record, kServerIP + entry * kTextBytes, config.ServerIP[entry],
                   kConfigTextSize, kTextUnits)) {
      return false;
    }
    WriteInteger(record, kIPLoadBalancing + entry * 4, config.IPLoadBalancing[entry]);
  }

  const IntegerSlot integers[] = {
      {kServerPort, config.ServerPort},
      {kLoadBalancing, config.LoadBalancing},
      {kRefreshIPList, config.RefreshIPList},
      {kAuthType, config.AuthType},
      {kProjects, config.Projects},
      {kCompression, config.Compression},
      {kFaxServer, config.FaxServer},
      {kLogToFile, config.LogToFile},
      {kEncryption, config.Encryption},
      {kDefaultProjectID, config.DefaultProjectID},
      {kDisableServerCommunication, config.DisableServerCommunication},
      {kProtocolLevel, config.ProtocolLevel},
      {kJobOwnerMethod, config.JobOwnerMethod},
      {kNetworkTimeout, config.NetworkTimeout},
      {kParserDPI, config.ParserDPI},
      {kPriceEstimation, config.PriceEstimation},
      {kPopupsForBWPrint, config.PopupsForBWPrint},
      {kSavePassword, config.SavePassword},
      {kNoProjectOption, config.NoProjectOption},
      {kLBNetworkTimeout, config.LBNetworkTimeout},
      {kLogFileSizeLimit, config.LogFileSizeLimit},
      {kLogFileCount, config.LogFileCount},
      {kSSLCertificateVerification, config.SSLCertificateVerification},
  };
  for (const IntegerSlot& slot : integers) {
    WriteInteger(record, slot.offset, slot.value);
  }

  const TextSlot texts[] = {
      {kQueue, config.Queue},
      {kAuthText, config.AuthText},
      {kComPort, config.ComPort},
      {kCurrentUserNameFormat, config.CurrentUserNameFormat},
      {kLogFilePath, config.LogFilePath},
      {kBWPrintTempDir, config.BWPrintTempDir},
      {kNote, config.Note},
      {kRedirectToIP, config.RedirectToIP},
  };
  for (const TextSlot& slot : texts) {
    if (!WriteText(api, record, slot.offset, slot.text, kConfigTextSize, kTextUnits)) {
      return false;
    }
  }
  return true;
}

std::size_t LongestServerName(const char* monitorName) {
  static_assert(kOpenTextSize == kTolvoOpenTextSize, "the open text's buffer");
  return TolvoLongestServerName(monitorName);
}

MonitorChannel OpenMonitorChannel(RunContext& context, const char* serverName,
                                  const char* monitorName) {
  WinApi& api = context.api;
  MonitorChannel channel(api);
  LoadSystemModule(api, "winspool.drv", channel.winspool);
  LoadSystemModule(api, "kernel32.dll", channel.kernel32);
  if (!channel.winspool || !channel.kernel32) {
    return channel;
  }
  using Entry = WinApi::EntryPoint;
  channel.hasOpenPrinterW = api.HasEntryPoint(channel.winspool.get(), Entry::kOpenPrinterW);
  channel.hasXcvDataW = api.HasEntryPoint(channel.winspool.get(), Entry::kXcvDataW);
  channel.hasMultiByteToWideChar =
      api.HasEntryPoint(channel.kernel32.get(), Entry::kMultiByteToWideChar);
  if (channel.hasOpenPrinterW && channel.hasMultiByteToWideChar) {
    OpenTransactionHandle(context, channel, serverName, monitorName);
  }
  return channel;
}

void CloseMonitorChannel(RunContext& /*context*/, MonitorChannel& channel) {
  channel.handle.reset();
  channel.winspool.reset();
  channel.kernel32.reset();
  channel.hasOpenPrinterW = false;
  channel.hasXcvDataW = false;
  channel.hasMultiByteToWideChar = false;
}

bool CreateMonitorPort(RunContext& context, const MonitorChannel& channel,
                       const PortConfiguration& config) {
  if (!channel.ready()) {
    return false;
  }
  WinApi& api = context.api;

  // The record holds the password: wiped however the port's creation ends.
  Wiped<PortDataRecord> wipedRecord;
  PortDataRecord& record = *wipedRecord;
  if (!BuildPortDataRecord(api, config, record)) {
    const DWORD error = api.GetLastError();
    context.output.PrintFormatted("Cannot write configuration, error code: %i\n",
                                  static_cast<int>(error != 0 ? error : ERROR_INVALID_PARAMETER));
    return false;
  }

  WCHAR addPort[8];
  WCHAR setPortData[12];
  WCHAR deletePort[11];
  if (api.MultiByteToWideChar(CP_ACP, 0, "AddPort", -1, addPort, 8) == 0 ||
      api.MultiByteToWideChar(CP_ACP, 0, "SetPortData", -1, setPortData, 12) == 0 ||
      api.MultiByteToWideChar(CP_ACP, 0, "DeletePort", -1, deletePort, 11) == 0) {
    context.output.PrintFormatted("Cannot write configuration, error code: %i\n",
                                  static_cast<int>(api.GetLastError()));
    return false;
  }

  // The port name from its slot with its terminating zero unit; the
  // reserved unit after the slot ends a nine-character name.
  PBYTE portName = record.bytes.data() + port_data::kPortName;
  std::size_t nameUnits = 0;
  while (nameUnits < port_data::kPortNameUnits &&
         (portName[2 * nameUnits] != 0 || portName[2 * nameUnits + 1] != 0)) {
    ++nameUnits;
  }
  const auto portNameSize = static_cast<DWORD>((nameUnits + 1) * 2);

  DWORD error = SendCommand(api, channel, addPort, portName, portNameSize);
  if (error == 0) {
    error = SendCommand(api, channel, setPortData, record.bytes.data(),
                        static_cast<DWORD>(record.bytes.size()));
    if (error != 0) {
      // Undo the port whose settings could not be written; whatever the
      // monitor answers, the write's own error is the one reported.
      SendCommand(api, channel, deletePort, portName, portNameSize);
    }
  }
  if (error != 0) {
    context.output.PrintFormatted("Cannot write configuration, error code: %i\n",
                                  static_cast<int>(error));
    return false;
  }
  return true;
}

}  // namespace tolvo
