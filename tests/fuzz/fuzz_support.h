// Shared by the fuzz targets: the simulated machine's spooler as every input
// finds it, the port steps of an installation, and the checks made after
// each input. A failed check aborts, which libFuzzer reports as a finding
// with the input that caused it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/run_context.h"
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

// What an installation does with the port configuration: the walk that
// creates the ports, then the printer assignment; then every port number
// read on its own and its record built, as the walk would.
inline void RunPortSteps(sim::SimWindows& machine, PortConfigSource source, bool enterprise) {
  RunContext context(machine);
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
    if (BuildPortDataRecord(machine, config, record)) {
      RequireWellFormedRecord(record.bytes.data(), record.bytes.size());
    }
  }
  RequireNothingOpen(machine);
}

}  // namespace tolvo::fuzz
