// Print spooler of the simulated machine: monitors, ports, printers, the
// monitors' transaction channel and MultiByteToWideChar, which the channel's
// callers look up next to it.
#include <algorithm>
#include <cstring>
#include <limits>

#include "sim/sim_windows.h"

namespace tolvo::sim {

namespace {

constexpr DWORD kErrorInvalidLevel = 124;
constexpr DWORD kErrorInvalidFlags = 1004;
constexpr std::size_t kPortDataSize = 10032;
constexpr std::size_t kPortNameOffset = 10012;
constexpr std::size_t kPortNameSlotUnits = 10;  // nine name units and the reserved zero

// The spooler matches names without regard to case, letters beyond ASCII
// included (the ANSI names are modelled in code page 1252).
char LowerChar(char c) {
  return static_cast<char>(LowerIn1252(static_cast<unsigned char>(c)));
}

std::string Lower(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    c = LowerChar(c);
  }
  return result;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerChar(a[i]) != LowerChar(b[i])) {
      return false;
    }
  }
  return true;
}

std::string Text(LPCSTR text) {
  return text == nullptr ? std::string() : std::string(text);
}

std::vector<std::string> SplitPortList(std::string_view list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = list.find(',', start);
    names.emplace_back(
        list.substr(start, comma == std::string_view::npos ? list.npos : comma - start));
    if (comma == std::string_view::npos) {
      return names;
    }
    start = comma + 1;
  }
}

// Lays records out as the spooler does: all fixed-size records from the
// start of the caller's buffer, then the strings they point to.
class RecordLayout {
 public:
  RecordLayout(std::size_t recordSize, std::size_t recordCount)
      : stringsStart_(recordSize * recordCount) {
    needed_ = stringsStart_;
  }

  void CountString(const std::string& text) { needed_ += text.size() + 1; }
  std::size_t needed() const { return needed_; }

  void Begin(LPBYTE buffer) {
    buffer_ = buffer;
    next_ = stringsStart_;
  }
  LPSTR PlaceString(const std::string& text) {
    auto* target = reinterpret_cast<LPSTR>(buffer_ + next_);
    std::memcpy(target, text.c_str(), text.size() + 1);
    next_ += text.size() + 1;
    return target;
  }
  template <typename Record>
  void PlaceRecord(std::size_t index, const Record& record) {
    std::memcpy(buffer_ + index * sizeof(Record), &record, sizeof(Record));
  }

 private:
  std::size_t stringsStart_;
  std::size_t needed_ = 0;
  LPBYTE buffer_ = nullptr;
  std::size_t next_ = 0;
};

std::vector<const std::string*> PrinterInfo2Strings(const SimPrinter& p) {
  return {&p.name,     &p.shareName, &p.ports,          &p.driverName, &p.comment,
          &p.location, &p.sepFile,   &p.printProcessor, &p.datatype,   &p.parameters};
}

// The size a record of `level` needs, or 0 for an unknown level.
std::size_t PrinterRecordSize(DWORD level) {
  switch (level) {
    case 2:
      return sizeof(PRINTER_INFO_2A);
    case 4:
      return sizeof(PRINTER_INFO_4A);
    default:
      return 0;
  }
}

void CountPrinter(RecordLayout& layout, const SimPrinter& p, DWORD level) {
  if (!p.serverName.empty()) {
    layout.CountString(p.serverName);
  }
  if (level == 4) {
    layout.CountString(p.name);
    return;
  }
  for (const std::string* text : PrinterInfo2Strings(p)) {
    layout.CountString(*text);
  }
}

void PlacePrinter(RecordLayout& layout, std::size_t index, const SimPrinter& p, DWORD level) {
  LPSTR server = p.serverName.empty() ? nullptr : layout.PlaceString(p.serverName);
  if (level == 4) {
    PRINTER_INFO_4A record{};
    record.pPrinterName = layout.PlaceString(p.name);
    record.pServerName = server;
    record.Attributes = p.attributes;
    layout.PlaceRecord(index, record);
    return;
  }
  PRINTER_INFO_2A record{};
  record.pServerName = server;
  record.pPrinterName = layout.PlaceString(p.name);
  record.pShareName = layout.PlaceString(p.shareName);
  record.pPortName = layout.PlaceString(p.ports);
  record.pDriverName = layout.PlaceString(p.driverName);
  record.pComment = layout.PlaceString(p.comment);
  record.pLocation = layout.PlaceString(p.location);
  record.pSepFile = layout.PlaceString(p.sepFile);
  record.pPrintProcessor = layout.PlaceString(p.printProcessor);
  record.pDatatype = layout.PlaceString(p.datatype);
  record.pParameters = layout.PlaceString(p.parameters);
  record.Attributes = p.attributes;
  record.Priority = p.priority;
  record.DefaultPriority = p.defaultPriority;
  record.StartTime = p.startTime;
  record.UntilTime = p.untilTime;
  record.Status = p.status;
  record.cJobs = p.jobs;
  record.AveragePPM = p.averagePPM;
  layout.PlaceRecord(index, record);
}

bool KnownEnvironment(std::string_view environment) {
  for (const char* known : {"Windows NT x86", "Windows x64", "Windows IA64", "Windows 4.0"}) {
    if (SameName(environment, known)) {
      return true;
    }
  }
  return false;
}

// Whether a printer's port list names a port of `monitor`.
bool MonitorPortInUse(const SimSpoolerState& spooler, const std::string& monitor) {
  for (const SimPrinter& printer : spooler.printers) {
    std::string_view list = printer.ports;
    while (!list.empty()) {
      const std::size_t comma = list.find(',');
      const std::string_view name = list.substr(0, comma);
      for (const SimPort& port : spooler.ports) {
        if (SameName(port.name, name) && SameName(port.monitor, monitor)) {
          return true;
        }
      }
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    }
  }
  return false;
}

}  // namespace

// --- Helpers and test-side API --------------------------------------------------

std::string NarrowFromUtf16(const std::uint8_t* bytes, std::size_t maxUnits) {
  std::string text;
  for (std::size_t i = 0; i < maxUnits; ++i) {
    const unsigned unit = bytes[2 * i] | (static_cast<unsigned>(bytes[2 * i + 1]) << 8);
    if (unit == 0) {
      break;
    }
    text += unit <= 0xFF ? static_cast<char>(unit) : '?';
  }
  return text;
}

std::string NarrowFromUtf16(const WCHAR* text, std::size_t maxUnits) {
  std::string narrow;
  for (std::size_t i = 0; i < maxUnits && text[i] != 0; ++i) {
    const auto unit = static_cast<unsigned>(text[i]);
    narrow += unit <= 0xFF ? static_cast<char>(unit) : '?';
  }
  return narrow;
}

bool SimPrinter::local() const {
  return (attributes & PRINTER_ATTRIBUTE_LOCAL) != 0;
}

SimMonitor& SimSpoolerState::AddMonitor(std::string name, std::string dllName,
                                        std::string environment) {
  monitors.push_back({std::move(name), std::move(environment), std::move(dllName)});
  return monitors.back();
}

SimPort& SimSpoolerState::AddPort(std::string name, std::string monitor, std::string description) {
  SimPort port;
  port.name = std::move(name);
  port.monitor = std::move(monitor);
  port.description = std::move(description);
  ports.push_back(std::move(port));
  return ports.back();
}

SimPrinter& SimSpoolerState::AddPrinter(std::string name, std::string portList, bool local) {
  SimPrinter printer;
  printer.name = std::move(name);
  printer.ports = std::move(portList);
  printer.attributes = local ? PRINTER_ATTRIBUTE_LOCAL : PRINTER_ATTRIBUTE_NETWORK;
  if (!local && printer.name.rfind("\\\\", 0) == 0) {
    const std::size_t slash = printer.name.find('\\', 2);
    printer.serverName = printer.name.substr(0, slash);
    if (slash != std::string::npos) {
      printer.shareName = printer.name.substr(slash + 1);
    }
  }
  printers.push_back(std::move(printer));
  return printers.back();
}

void SimSpoolerState::SetCommandStatus(std::string command, DWORD status, int occurrence) {
  commandScripts.push_back({std::move(command), occurrence, status});
}

void SimSpoolerState::RefusePort(std::string port, DWORD error) {
  refusedPorts[Lower(port)] = error;
}

std::optional<std::string> SimSpoolerState::PrinterPorts(std::string_view printer) const {
  for (const SimPrinter& p : printers) {
    if (SameName(p.name, printer)) {
      return p.ports;
    }
  }
  return std::nullopt;
}

std::vector<std::string> SimSpoolerState::Ports() const {
  std::vector<std::string> names;
  for (const SimPort& p : ports) {
    names.push_back(p.name);
  }
  return names;
}

std::vector<std::string> SimSpoolerState::Monitors() const {
  std::vector<std::string> names;
  for (const SimMonitor& m : monitors) {
    names.push_back(m.name);
  }
  return names;
}

std::vector<std::string> SimSpoolerState::XcvCommands() const {
  std::vector<std::string> names;
  for (const SimXcvInput& input : xcvInputs) {
    names.push_back(input.command);
  }
  return names;
}

std::optional<std::vector<std::uint8_t>> SimSpoolerState::StoredRecord(
    std::string_view port) const {
  const auto it = storedRecords.find(Lower(port));
  if (it == storedRecords.end()) {
    return std::nullopt;
  }
  return it->second;
}

SimMonitor* SimSpoolerState::FindMonitor(std::string_view name) {
  for (SimMonitor& m : monitors) {
    if (SameName(m.name, name)) {
      return &m;
    }
  }
  return nullptr;
}

SimPort* SimSpoolerState::FindPort(std::string_view name) {
  for (SimPort& p : ports) {
    if (SameName(p.name, name)) {
      return &p;
    }
  }
  return nullptr;
}

SimPrinter* SimSpoolerState::FindPrinter(std::string_view name) {
  for (SimPrinter& p : printers) {
    if (SameName(p.name, name)) {
      return &p;
    }
  }
  return nullptr;
}

// --- MultiByteToWideChar -----------------------------------------------------------

// CP_ACP is modelled as Latin-1: every byte becomes the code unit of the
// same value.
int SimWindows::MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte,
                                    int multiByteCount, LPWSTR wideChar, int wideCharCount) {
  if (auto error = EnterEntryPoint(EntryPoint::kMultiByteToWideChar)) {
    SetLastError(*error);
    return 0;
  }
  if (codePage != CP_ACP || multiByte == nullptr || multiByteCount == 0 || multiByteCount < -1 ||
      wideCharCount < 0 || (wideCharCount > 0 && wideChar == nullptr)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (flags != 0) {
    SetLastError(kErrorInvalidFlags);
    return 0;
  }
  const std::size_t units =
      multiByteCount == -1 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(multiByteCount);
  if (units > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (wideCharCount == 0) {
    return static_cast<int>(units);
  }
  if (units > static_cast<std::size_t>(wideCharCount)) {
    // Windows leaves a partial conversion behind here; callers must not
    // rely on it, so the simulated machine writes nothing at all.
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (std::size_t i = 0; i < units; ++i) {
    wideChar[i] = static_cast<WCHAR>(static_cast<unsigned char>(multiByte[i]));
  }
  return static_cast<int>(units);
}

// --- Transaction channel -------------------------------------------------------------

BOOL SimWindows::OpenPrinterW(LPWSTR printerName, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults) {
  if (auto error = EnterEntryPoint(EntryPoint::kOpenPrinterW)) {
    return Fail(*error);
  }
  if (printer == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *printer = nullptr;
  if (printerName == nullptr) {
    return Fail(ERROR_INVALID_PRINTER_NAME);
  }
  const std::string text = NarrowFromUtf16(printerName, std::numeric_limits<std::size_t>::max());
  spooler.xcvOpens.push_back(text);
  spooler.xcvOpenAccess.push_back(defaults == nullptr ? 0 : defaults->DesiredAccess);

  std::string_view local = text;
  if (local.rfind("\\\\", 0) == 0) {
    const std::size_t slash = local.find('\\', 2);
    if (slash == std::string_view::npos) {
      return Fail(ERROR_INVALID_PRINTER_NAME);
    }
    spooler.serverNames.push_back("OpenPrinterW " + std::string(local.substr(0, slash)));
    local.remove_prefix(slash + 1);
  }
  std::string monitor;
  constexpr std::string_view kXcvMonitor = ",XcvMonitor ";
  constexpr std::string_view kXcvPort = ",XcvPort ";
  if (local.rfind(kXcvMonitor, 0) == 0) {
    const SimMonitor* found = spooler.FindMonitor(local.substr(kXcvMonitor.size()));
    if (found == nullptr) {
      return Fail(ERROR_UNKNOWN_PORT);  // as Wine answers; Windows documents none
    }
    monitor = found->name;
  } else if (local.rfind(kXcvPort, 0) == 0) {
    const SimPort* found = spooler.FindPort(local.substr(kXcvPort.size()));
    if (found == nullptr || spooler.FindMonitor(found->monitor) == nullptr) {
      return Fail(ERROR_INVALID_PRINTER_NAME);
    }
    monitor = found->monitor;
  } else {
    return Fail(ERROR_INVALID_PRINTER_NAME);
  }
  HANDLE handle = NewHandle(HandleKind::Printer);
  spooler.openTargets[reinterpret_cast<std::uintptr_t>(handle)] = {true, monitor};
  *printer = handle;
  return TRUE;
}

BOOL SimWindows::XcvDataW(HANDLE xcv, LPCWSTR dataName, PBYTE inputData, DWORD inputSize,
                          PBYTE /*outputData*/, DWORD /*outputSize*/, PDWORD outputNeeded,
                          PDWORD status) {
  if (auto error = EnterEntryPoint(EntryPoint::kXcvDataW)) {
    return Fail(*error);
  }
  const auto target = spooler.openTargets.find(reinterpret_cast<std::uintptr_t>(xcv));
  if (!IsHandle(xcv, HandleKind::Printer) || target == spooler.openTargets.end() ||
      !target->second.xcv) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (dataName == nullptr || outputNeeded == nullptr || status == nullptr ||
      (inputSize > 0 && inputData == nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  SimXcvInput input;
  input.monitor = target->second.name;
  input.command = NarrowFromUtf16(dataName, std::numeric_limits<std::size_t>::max());
  if (inputSize > 0) {
    input.data.assign(inputData, inputData + inputSize);
  }
  spooler.xcvInputs.push_back(input);
  *outputNeeded = 0;

  const int received = ++spooler.commandCounts[input.command];
  for (const auto& script : spooler.commandScripts) {
    if (script.command == input.command &&
        (script.occurrence == 0 || script.occurrence == received)) {
      *status = script.status;
      return TRUE;
    }
  }

  const std::size_t units = input.data.size() / 2;
  if (input.command == "AddPort") {
    const std::string port = NarrowFromUtf16(input.data.data(), units);
    if (port.empty()) {
      *status = ERROR_INVALID_PARAMETER;
    } else if (spooler.FindPort(port) != nullptr) {
      *status = ERROR_ALREADY_EXISTS;
    } else {
      spooler.AddPort(port, input.monitor, input.monitor + " Port");
      *status = ERROR_SUCCESS;
    }
  } else if (input.command == "SetPortData") {
    if (input.data.size() != kPortDataSize) {
      *status = ERROR_INVALID_PARAMETER;
    } else {
      const std::string port =
          NarrowFromUtf16(input.data.data() + kPortNameOffset, kPortNameSlotUnits);
      if (spooler.FindPort(port) == nullptr) {
        *status = ERROR_UNKNOWN_PORT;
      } else {
        spooler.storedRecords[Lower(port)] = input.data;
        *status = ERROR_SUCCESS;
      }
    }
  } else if (input.command == "DeletePort") {
    const std::string port = NarrowFromUtf16(input.data.data(), units);
    const auto it = std::find_if(spooler.ports.begin(), spooler.ports.end(),
                                 [&](const SimPort& p) { return SameName(p.name, port); });
    if (it == spooler.ports.end()) {
      *status = ERROR_UNKNOWN_PORT;
    } else {
      spooler.ports.erase(it);
      spooler.storedRecords.erase(Lower(port));
      *status = ERROR_SUCCESS;
    }
  } else {
    *status = ERROR_INVALID_PARAMETER;
  }
  return TRUE;
}

// --- Monitors ----------------------------------------------------------------------------

void SimWindows::StopSpooler() {
  for (const char* call : {"AddMonitorA", "DeleteMonitorA", "OpenPrinterA", "OpenPrinterW",
                           "EnumPrintersA", "EnumPortsA", "EnumMonitorsA"}) {
    FailCall(call, RPC_S_SERVER_UNAVAILABLE);
  }
}

BOOL SimWindows::AddMonitorA(LPSTR serverName, DWORD level, LPBYTE monitors) {
  if (auto error = Enter("AddMonitorA")) {
    return Fail(*error);
  }
  if (serverName != nullptr) {
    spooler.serverNames.push_back("AddMonitorA " + std::string(serverName));
  }
  if (level != 2) {
    return Fail(kErrorInvalidLevel);
  }
  if (monitors == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  MONITOR_INFO_2A info;
  std::memcpy(&info, monitors, sizeof info);
  if (info.pName == nullptr || info.pDLLName == nullptr || *info.pName == '\0' ||
      *info.pDLLName == '\0') {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (info.pEnvironment != nullptr && !KnownEnvironment(info.pEnvironment)) {
    return Fail(ERROR_INVALID_ENVIRONMENT);
  }
  if (spooler.FindMonitor(info.pName) != nullptr) {
    return Fail(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
  }
  spooler.AddMonitor(info.pName, info.pDLLName, Text(info.pEnvironment));
  return TRUE;
}

BOOL SimWindows::DeleteMonitorA(LPSTR serverName, LPSTR /*environment*/, LPSTR monitorName) {
  if (auto error = Enter("DeleteMonitorA")) {
    return Fail(*error);
  }
  if (serverName != nullptr) {
    spooler.serverNames.push_back("DeleteMonitorA " + std::string(serverName));
  }
  if (monitorName == nullptr || *monitorName == '\0') {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if (serverName != nullptr) {
    auto& remote = spooler.remoteMonitors;
    const auto named = std::find_if(remote.begin(), remote.end(),
                                    [&](const std::string& m) { return SameName(m, monitorName); });
    if (named == remote.end()) {
      return Fail(ERROR_UNKNOWN_PRINT_MONITOR);
    }
    if (spooler.deleteMonitorError != 0) {
      return Fail(spooler.deleteMonitorError);
    }
    remote.erase(named);
    return TRUE;
  }
  auto& monitors = spooler.monitors;
  const auto it = std::find_if(monitors.begin(), monitors.end(),
                               [&](const SimMonitor& m) { return SameName(m.name, monitorName); });
  if (it == monitors.end()) {
    return Fail(ERROR_UNKNOWN_PRINT_MONITOR);
  }
  if (spooler.deleteMonitorError != 0) {
    return Fail(spooler.deleteMonitorError);
  }
  if (MonitorPortInUse(spooler, it->name)) {
    ++spooler.monitorInUseRefusals;
    return Fail(ERROR_PRINT_MONITOR_IN_USE);
  }
  const std::string removed = it->name;
  monitors.erase(it);
  // The monitor's ports go with it.
  auto& ports = spooler.ports;
  for (auto port = ports.begin(); port != ports.end();) {
    if (SameName(port->monitor, removed)) {
      spooler.storedRecords.erase(Lower(port->name));
      port = ports.erase(port);
    } else {
      ++port;
    }
  }
  return TRUE;
}

// --- Printers ----------------------------------------------------------------------------

BOOL SimWindows::OpenPrinterA(LPSTR printerName, LPHANDLE printer,
                              LPPRINTER_DEFAULTSA /*defaults*/) {
  spooler.printerOpens.push_back(Text(printerName));
  if (auto error = Enter("OpenPrinterA")) {
    return Fail(*error);
  }
  if (printer == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *printer = nullptr;
  if (printerName == nullptr) {
    // The local print server itself.
    HANDLE handle = NewHandle(HandleKind::Printer);
    spooler.openTargets[reinterpret_cast<std::uintptr_t>(handle)] = {false, ""};
    *printer = handle;
    return TRUE;
  }
  const SimPrinter* found = spooler.FindPrinter(printerName);
  if (found == nullptr) {
    return Fail(ERROR_INVALID_PRINTER_NAME);
  }
  HANDLE handle = NewHandle(HandleKind::Printer);
  spooler.openTargets[reinterpret_cast<std::uintptr_t>(handle)] = {false, found->name};
  *printer = handle;
  return TRUE;
}

BOOL SimWindows::GetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD bufferSize,
                             LPDWORD needed) {
  if (auto error = Enter("GetPrinterA")) {
    return Fail(*error);
  }
  const auto target = spooler.openTargets.find(reinterpret_cast<std::uintptr_t>(printer));
  if (!IsHandle(printer, HandleKind::Printer) || target == spooler.openTargets.end() ||
      target->second.xcv) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  const SimPrinter* found = spooler.FindPrinter(target->second.name);
  if (found == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);  // the server handle, or a printer since deleted
  }
  const std::size_t recordSize = PrinterRecordSize(level);
  if (recordSize == 0) {
    return Fail(kErrorInvalidLevel);
  }
  if (needed == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  RecordLayout layout(recordSize, 1);
  CountPrinter(layout, *found, level);
  *needed = static_cast<DWORD>(layout.needed());
  if (buffer == nullptr || bufferSize < layout.needed()) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  layout.Begin(buffer);
  PlacePrinter(layout, 0, *found, level);
  return TRUE;
}

BOOL SimWindows::SetPrinterA(HANDLE printer, DWORD level, LPBYTE buffer, DWORD command) {
  if (auto error = Enter("SetPrinterA")) {
    return Fail(*error);
  }
  const auto target = spooler.openTargets.find(reinterpret_cast<std::uintptr_t>(printer));
  if (!IsHandle(printer, HandleKind::Printer) || target == spooler.openTargets.end() ||
      target->second.xcv) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  SimPrinter* found = spooler.FindPrinter(target->second.name);
  if (found == nullptr) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  if (level != 2) {
    return Fail(kErrorInvalidLevel);
  }
  if (buffer == nullptr || command != 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  PRINTER_INFO_2A info;
  std::memcpy(&info, buffer, sizeof info);
  if (info.pPortName == nullptr) {
    return Fail(ERROR_UNKNOWN_PORT);
  }
  for (const std::string& port : SplitPortList(info.pPortName)) {
    const auto refused = spooler.refusedPorts.find(Lower(port));
    if (refused != spooler.refusedPorts.end()) {
      return Fail(refused->second);
    }
    if (!SameName(port, "FILE:") && (port.empty() || spooler.FindPort(port) == nullptr)) {
      return Fail(ERROR_UNKNOWN_PORT);
    }
  }
  found->ports = info.pPortName;
  found->shareName = Text(info.pShareName);
  found->driverName = Text(info.pDriverName);
  found->comment = Text(info.pComment);
  found->location = Text(info.pLocation);
  found->sepFile = Text(info.pSepFile);
  found->printProcessor = Text(info.pPrintProcessor);
  found->datatype = Text(info.pDatatype);
  found->parameters = Text(info.pParameters);
  found->attributes = info.Attributes;
  found->priority = info.Priority;
  found->defaultPriority = info.DefaultPriority;
  found->startTime = info.StartTime;
  found->untilTime = info.UntilTime;
  return TRUE;
}

BOOL SimWindows::ClosePrinter(HANDLE printer) {
  if (auto error = Enter("ClosePrinter")) {
    return Fail(*error);
  }
  if (!ReleaseHandle(printer, HandleKind::Printer)) {
    return Fail(ERROR_INVALID_HANDLE);
  }
  spooler.openTargets.erase(reinterpret_cast<std::uintptr_t>(printer));
  return TRUE;
}

// Local printers and connections both come back for PRINTER_ENUM_LOCAL;
// PRINTER_ENUM_CONNECTIONS alone lists the connections.
BOOL SimWindows::EnumPrintersA(DWORD flags, LPSTR /*name*/, DWORD level, LPBYTE buffer,
                               DWORD bufferSize, LPDWORD needed, LPDWORD returned) {
  if (auto error = Enter("EnumPrintersA")) {
    return Fail(*error);
  }
  const std::size_t recordSize = PrinterRecordSize(level);
  if (recordSize == 0) {
    return Fail(kErrorInvalidLevel);
  }
  if (needed == nullptr || returned == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *returned = 0;
  std::vector<const SimPrinter*> listed;
  for (const SimPrinter& p : spooler.printers) {
    if ((flags & PRINTER_ENUM_LOCAL) != 0 ||
        ((flags & PRINTER_ENUM_CONNECTIONS) != 0 && !p.local())) {
      listed.push_back(&p);
    }
  }
  RecordLayout layout(recordSize, listed.size());
  for (const SimPrinter* p : listed) {
    CountPrinter(layout, *p, level);
  }
  *needed = static_cast<DWORD>(layout.needed());
  if (layout.needed() > bufferSize || (layout.needed() > 0 && buffer == nullptr)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (!listed.empty()) {
    layout.Begin(buffer);
    for (std::size_t i = 0; i < listed.size(); ++i) {
      PlacePrinter(layout, i, *listed[i], level);
    }
  }
  *returned = static_cast<DWORD>(listed.size());
  return TRUE;
}

BOOL SimWindows::EnumPortsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                            LPDWORD needed, LPDWORD returned) {
  if (auto error = Enter("EnumPortsA")) {
    return Fail(*error);
  }
  if (name != nullptr) {
    spooler.serverNames.push_back("EnumPortsA " + std::string(name));
  }
  if (level != 1 && level != 2) {
    return Fail(kErrorInvalidLevel);
  }
  if (needed == nullptr || returned == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *returned = 0;
  const auto& ports = spooler.ports;
  RecordLayout layout(level == 1 ? sizeof(PORT_INFO_1A) : sizeof(PORT_INFO_2A), ports.size());
  for (const SimPort& p : ports) {
    layout.CountString(p.name);
    if (level == 2) {
      layout.CountString(p.monitor);
      layout.CountString(p.description);
    }
  }
  *needed = static_cast<DWORD>(layout.needed());
  if (layout.needed() > bufferSize || (layout.needed() > 0 && buffer == nullptr)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (!ports.empty()) {
    layout.Begin(buffer);
    for (std::size_t i = 0; i < ports.size(); ++i) {
      if (level == 1) {
        PORT_INFO_1A record{};
        record.pName = layout.PlaceString(ports[i].name);
        layout.PlaceRecord(i, record);
      } else {
        PORT_INFO_2A record{};
        record.pPortName = layout.PlaceString(ports[i].name);
        record.pMonitorName = layout.PlaceString(ports[i].monitor);
        record.pDescription = layout.PlaceString(ports[i].description);
        record.fPortType = ports[i].type;
        record.Reserved = 0;
        layout.PlaceRecord(i, record);
      }
    }
  }
  *returned = static_cast<DWORD>(ports.size());
  return TRUE;
}

BOOL SimWindows::EnumMonitorsA(LPSTR name, DWORD level, LPBYTE buffer, DWORD bufferSize,
                               LPDWORD needed, LPDWORD returned) {
  if (auto error = Enter("EnumMonitorsA")) {
    return Fail(*error);
  }
  if (name != nullptr) {
    spooler.serverNames.push_back("EnumMonitorsA " + std::string(name));
  }
  if (level != 2) {
    return Fail(kErrorInvalidLevel);
  }
  if (needed == nullptr || returned == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  *returned = 0;
  // A monitor registered without an environment has the spooler's own.
  const auto environment = [&](const SimMonitor& m) {
    return !m.environment.empty() ? m.environment
                                  : std::string(version.wow64 ? "Windows x64" : "Windows NT x86");
  };
  const auto& monitors = spooler.monitors;
  RecordLayout layout(sizeof(MONITOR_INFO_2A), monitors.size());
  for (const SimMonitor& m : monitors) {
    layout.CountString(m.name);
    layout.CountString(environment(m));
    layout.CountString(m.dllName);
  }
  *needed = static_cast<DWORD>(layout.needed());
  if (layout.needed() > bufferSize || (layout.needed() > 0 && buffer == nullptr)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (!monitors.empty()) {
    layout.Begin(buffer);
    for (std::size_t i = 0; i < monitors.size(); ++i) {
      MONITOR_INFO_2A record{};
      record.pName = layout.PlaceString(monitors[i].name);
      record.pEnvironment = layout.PlaceString(environment(monitors[i]));
      record.pDLLName = layout.PlaceString(monitors[i].dllName);
      layout.PlaceRecord(i, record);
    }
  }
  *returned = static_cast<DWORD>(monitors.size());
  return TRUE;
}

}  // namespace tolvo::sim
