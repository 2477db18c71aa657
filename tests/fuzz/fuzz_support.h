// Shared by the fuzz targets: the simulated machine's spooler as every input
// finds it, the port steps of an installation, the support trace every run
// writes, and the checks made after each input and on each trace line. A
// failed check aborts, which libFuzzer reports as a finding with the input
// that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/run_context.h"
#include "platform/trace_api.h"
#include "portconfig/monitor_channel.h"
#include "portconfig/port_configuration.h"
#include "portconfig/port_loading.h"
#include "portconfig/printer_assignment.h"
#include "sim/sim_windows.h"

namespace tolvo::fuzz {

inline constexpr const char* kKitFolder = "C:\\Kit";
inline constexpr const char* kIniPath = "C:\\Kit\\Tolvo.ini";

[[noreturn]] inline void Finding(const char* what, const std::string& detail) {
  std::fprintf(stderr, "FINDING: %s: %s\n", what, detail.c_str());
  std::abort();
}

// The simulated machine, noting the pieces a trace must not show of each
// value read for "AuthText" as the installer goes on with it (up to its
// first zero): every four bytes, or the whole of a shorter value.
class SecretNotingMachine : public sim::SimWindows {
 public:
  DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText, LPSTR returned,
                                 DWORD size, LPCSTR fileName) override {
    const DWORD length = SimWindows::GetPrivateProfileStringA(appName, keyName, defaultText,
                                                              returned, size, fileName);
    Note(keyName, returned, length < size ? length : 0);
    return length;
  }
  LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                           LPDWORD dataSize) override {
    const LSTATUS status =
        SimWindows::RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    Note(valueName, reinterpret_cast<const char*>(data), status == 0 && dataSize ? *dataSize : 0);
    return status;
  }
  std::set<std::string> secretPieces;

 private:
  void Note(LPCSTR name, const char* value, DWORD size) {
    const std::string_view text =
        value && IsTraceSecretKey(name) ? TerminatedText(value, size) : "";
    const std::size_t piece = std::min(text.size(), TraceSecrets::kShortestPiece);
    for (std::size_t i = 0; piece != 0 && i + piece <= text.size(); ++i) {
      secretPieces.emplace(text.substr(i, piece));
    }
  }
};

// The trace of a run on `machine`: each line within its bound, and in the
// texts it quotes no piece of a value read for "AuthText" before it (pieces
// with bytes the trace escapes are not looked for).
class CheckedTrace final : public TraceSink {
 public:
  explicit CheckedTrace(const SecretNotingMachine& machine) : machine_(machine) {}
  void Write(std::string_view line) override {
    if (line.size() >= TraceLine::kSize || line.back() != '\n') {
      Finding("trace line out of bounds", std::string(line.substr(0, 200)));
    }
    if (machine_.secretPieces.empty()) {
      return;
    }
    std::string quoted(line);  // the quoted texts; all else, escapes and secrets hidden zeros
    for (std::size_t i = 0, inside = 0; i < quoted.size(); ++i) {
      if (inside && quoted[i] == '\\') {
        const std::size_t length =
            std::min<std::size_t>(quoted[i + 1] == 'x' ? 4 : 2, quoted.size() - i);
        std::fill_n(quoted.begin() + i, length, '\0');
        i += length - 1;
      } else if (quoted[i] == '"' || !inside) {
        inside ^= quoted[i] == '"';
        quoted[i] = '\0';
      }
    }
    for (std::size_t at; (at = quoted.find(kTraceSecretPlaceholder)) != std::string::npos;) {
      std::fill_n(quoted.begin() + at, kTraceSecretPlaceholder.size(), '\0');
    }
    for (const std::string& piece : machine_.secretPieces) {
      if (quoted.find(piece) != std::string::npos) {
        Finding("a piece of AuthText in the trace", std::string(line));
      }
    }
  }
  std::uint32_t MillisecondsSinceStart() override { return 0; }
  TraceProcessFacts ProcessFacts() override { return {"Install.exe", kKitFolder, "now"}; }

 private:
  const SecretNotingMachine& machine_;
};

// Every handle, module, search and allocation is released by the time an
// operation returns.
inline void RequireNothingOpen(const sim::SimWindows& machine) {
  const std::vector<std::string> open = machine.OpenResources();
  if (!open.empty()) {
    Finding("left open", open.front());
  }
}

// Each text of a port's settings ends within its 260 bytes. An overrun from
// one field into the next would stay inside the record, where the address
// sanitizer cannot see it.
inline void RequireTerminatedTexts(const PortConfiguration& config) {
  const char* const texts[] = {
      config.Description,           config.Queue,       config.AuthText,       config.ComPort,
      config.CurrentUserNameFormat, config.LogFilePath, config.BWPrintTempDir, config.Note,
      config.RedirectToIP,
  };
  for (const char* text : texts) {
    if (strnlen(text, kConfigTextSize) == kConfigTextSize) {
      Finding("unterminated text", std::string(text, 32));
    }
  }
  for (const auto& address : config.ServerIP) {
    if (strnlen(address, kConfigTextSize) == kConfigTextSize) {
      Finding("unterminated address", std::string(address, 32));
    }
  }
  if (strnlen(config.PortName, sizeof config.PortName) > kPortNameLength) {
    Finding("port name too long", std::string(config.PortName, sizeof config.PortName));
  }
}

inline bool HasZeroUnit(const std::uint8_t* slot, std::size_t units) {
  for (std::size_t i = 0; i < units; ++i) {
    if (slot[2 * i] == 0 && slot[2 * i + 1] == 0) {
      return true;
    }
  }
  return false;
}

// The port-data record as the monitor must receive it: 10032 bytes, every
// text slot ending within its 260 units, the port name of one to nine units
// and the reserved unit after it zero.
inline void RequireWellFormedRecord(const std::uint8_t* bytes, std::size_t size) {
  using namespace port_data;
  if (size != kPortDataRecordSize) {
    Finding("record size", std::to_string(size));
  }
  std::vector<std::size_t> textSlots = {
      kDescription, kQueue,          kAuthText, kComPort,     kCurrentUserNameFormat,
      kLogFilePath, kBWPrintTempDir, kNote,     kRedirectToIP};
  for (std::size_t entry = 0; entry < kServerAddressCount; ++entry) {
    textSlots.push_back(kServerIP + entry * kTextBytes);
  }
  for (std::size_t offset : textSlots) {
    if (!HasZeroUnit(bytes + offset, kTextUnits)) {
      Finding("text slot without terminator", std::to_string(offset));
    }
  }
  if (bytes[kReserved] != 0 || bytes[kReserved + 1] != 0) {
    Finding("reserved unit not zero", "");
  }
  if (bytes[kPortName] == 0 && bytes[kPortName + 1] == 0) {
    Finding("empty port name in the record", "");
  }
}

// A fresh spooler: both editions' monitors registered, the parallel port
// and two local printers on it.
inline void ResetSpooler(sim::SimWindows& machine) {
  machine.spooler = sim::SimSpoolerState{};
  machine.spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL");
  machine.spooler.AddMonitor("TolvoE", "TOLVOE64.DLL");
  machine.spooler.AddPort("LPT1:", "Local Port");
  machine.spooler.AddPrinter("Office Laser", "LPT1:");
  machine.spooler.AddPrinter("Reception Inkjet", "LPT1:");
}

// Forgets what earlier inputs left in the machine's logs.
inline void StartInput(sim::SimWindows& machine) {
  machine.ClearCallLog();
  machine.ClearFaults();
  machine.console.clear();
  ResetSpooler(machine);
}

// What an installation does with the port configuration, traced: the walk
// that creates the ports, then the printer assignment; then every port
// number read on its own and its record built, as the walk would.
inline void RunPortSteps(SecretNotingMachine& machine, PortConfigSource source, bool enterprise) {
  machine.secretPieces.clear();
  CheckedTrace trace(machine);
  TraceApi api(machine, trace);
  RunContext context(api);
  context.settings.SetIniPath(kIniPath);
  if (enterprise) {
    context.settings.enterpriseEdition = true;
    context.profile.SwitchToEnterprise();
  }
  int portCount = -1;
  LoadPortConfiguration(context, source, portCount, nullptr);
  if (portCount < 0) {
    Finding("port count", std::to_string(portCount));
  }
  AssignPrinters(context, portCount, source);
  RequireNothingOpen(machine);
  for (const auto& [port, record] : machine.spooler.storedRecords) {
    RequireWellFormedRecord(record.data(), record.size());
  }

  constexpr int kPortsReadAlone = 4;
  for (int portNumber = 1; portNumber <= kPortsReadAlone; ++portNumber) {
    PortConfiguration config;
    if (!ReadPortConfiguration(context, source, portNumber, config)) {
      continue;
    }
    RequireTerminatedTexts(config);
    PortDataRecord record;
    if (BuildPortDataRecord(api, config, record)) {
      RequireWellFormedRecord(record.bytes.data(), record.bytes.size());
    }
  }
  RequireNothingOpen(machine);
}

}  // namespace tolvo::fuzz
