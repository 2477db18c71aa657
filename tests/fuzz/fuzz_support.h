// Shared by the fuzz targets: the simulated machine's spooler as every input
// finds it, the port steps of an installation, the support trace every run
// writes, and the checks made after each input and on each trace line. A
// failed check aborts, which libFuzzer reports as a finding with the input
// that caused it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The simulated machine; a twin with `swapPasswords` set answers every read
// of "AuthText" with other bytes (and, from the configuration file, another
// length), so that a trace which shows anything of a password differs from
// the twin's.
class PasswordSwappingMachine : public sim::SimWindows {
 public:
  DWORD GetPrivateProfileStringA(LPCSTR appName, LPCSTR keyName, LPCSTR defaultText, LPSTR returned,
                                 DWORD size, LPCSTR fileName) override {
    DWORD length = SimWindows::GetPrivateProfileStringA(appName, keyName, defaultText, returned,
                                                        size, fileName);
    if (swapPasswords && IsTraceSecretKey(keyName) && length > 0 && length < size) {
      length = std::min<DWORD>(length % kConfigTextSize + 1, size - 1);
      std::fill_n(returned, length, 'x');
      returned[length] = '\0';
    }
    return length;
  }
  LSTATUS RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                           LPDWORD dataSize) override {
    const LSTATUS status =
        SimWindows::RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    if (swapPasswords && IsTraceSecretKey(valueName) && status == 0 && data != nullptr) {
      for (DWORD i = 0; i < *dataSize && data[i] != 0; ++i) {
        data[i] = data[i] == 'x' ? 'y' : 'x';
      }
    }
    return status;
  }
  bool swapPasswords = false;
};

// A target's machine and its twin, readied by `prepare` once; destroyed at
// exit, which removes their temporary folders.
template <typename Prepare>
PasswordSwappingMachine* Twins(Prepare prepare) {
  static PasswordSwappingMachine machines[2];
  static const bool ready = (prepare(machines[0]), prepare(machines[1]), true);
  (void)ready;
  return machines;
}

// The trace of a run: each line within its bound, the whole text kept.
class CheckedTrace final : public TraceSink {
 public:
  void Write(std::string_view line) override {
    if (line.size() >= TraceLine::kSize || line.back() != '\n') {
      Finding("trace line out of bounds", std::string(line.substr(0, 200)));
    }
    text.append(line);
  }
  std::uint32_t MillisecondsSinceStart() override { return 0; }
  TraceProcessFacts ProcessFacts() override { return {"Install.exe", kKitFolder, "now"}; }
  std::string text;
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
inline std::string RunPortStepsOn(sim::SimWindows& machine, PortConfigSource source,
                                  bool enterprise) {
  CheckedTrace trace;
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
  return trace.text;
}

// A trace with the addresses of memory blocks (numbers of over eight hex
// digits), which differ from machine to machine, as "0x?".
inline std::string WithoutAddresses(std::string trace) {
  for (std::size_t at = 0; (at = trace.find("0x", at)) != std::string::npos; at += 3) {
    const std::size_t end = trace.find_first_not_of("0123456789abcdef", at + 2);
    if ((end == std::string::npos ? trace.size() : end) - at > 10) {
      trace.replace(at, (end == std::string::npos ? trace.size() : end) - at, "0x?");
    }
  }
  return trace;
}

// The port steps on `machine` and on its twin, which holds the same input
// and answers with other passwords: the two traces must be the same.
inline void RunPortSteps(PasswordSwappingMachine& machine, PasswordSwappingMachine& twin,
                         PortConfigSource source, bool enterprise) {
  twin.swapPasswords = true;
  const std::string trace = WithoutAddresses(RunPortStepsOn(machine, source, enterprise));
  if (WithoutAddresses(RunPortStepsOn(twin, source, enterprise)) != trace) {
    Finding("the trace shows something of a password", trace.substr(0, 2000));
  }
}

}  // namespace tolvo::fuzz
