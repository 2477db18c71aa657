// Print spooler of the simulated machine: monitors, ports, printers and the
// port monitors' transaction channel (",XcvMonitor NAME").
//
// Tests seed and inspect it through SimWindows::spooler. Names of monitors,
// ports and printers are matched without regard to case, as the spooler
// does. A server name (AddMonitorA, EnumPortsA, EnumMonitorsA,
// "\\server\,XcvMonitor NAME") reaches this same machine, except that
// DeleteMonitorA on a named server removes from that server's monitors
// (remoteMonitors), never the local ones; each name is recorded in
// serverNames so a test can see where a call was aimed. As Windows does,
// DeleteMonitorA refuses a monitor with a port a printer uses.
//
// Seeding:
//   spooler.AddMonitor("Tolvo", "TOLVOVS64.DLL");          // a registered monitor
//   spooler.AddPort("LPT1:", "Local Port");                 // a port and its monitor
//   spooler.AddPrinter("Office", "LPT1:,Tolvo001");         // a local printer
//   spooler.AddPrinter("\\\\srv\\Shared", "Tolvo001", false); // a connection
//
// Scripting the monitor behind the transaction channel:
//   spooler.SetCommandStatus("AddPort", 5);      // every "AddPort" answers 5
//   spooler.SetCommandStatus("AddPort", 5, 2);   // only the 2nd "AddPort" answers 5
//   Without a script: "AddPort" creates the port owned by the channel's
//   monitor (183 when a port of that name exists); "SetPortData" stores the
//   10032-byte record for the port named at its offset 10012 (87 for another
//   size, 1796 for an unknown port); "DeletePort" removes the port and its
//   record (1796 when absent); any other command answers 87.
//
// Scripting printers and monitors:
//   spooler.RefusePort("Tolvo001", ERROR_ACCESS_DENIED); // SetPrinterA naming it fails
//   spooler.deleteMonitorError = ERROR_BUSY;              // DeleteMonitorA of an existing monitor
//   fails
//
// Inspecting:
//   spooler.PrinterPorts("Office")  -> "LPT1:" (nullopt when no such printer)
//   spooler.Ports(), spooler.Monitors()                -> names in order
//   spooler.XcvInputs()                                -> every XcvDataW command and input bytes
//   spooler.XcvCommands()                              -> just the command names
//   spooler.StoredRecord("Tolvo001")                   -> the "SetPortData" bytes
//   spooler.printerOpens                               -> every OpenPrinterA name, in order
//   spooler.xcvOpens                                   -> every OpenPrinterW text, in order
//
// Limits of the model: OpenPrinterW opens transaction handles only
// (",XcvMonitor NAME" and ",XcvPort NAME"); SetPrinterA takes level 2 with
// command 0 only; EnumMonitorsA lists level 2 only; a pPortName with an
// empty or unknown name is refused with ERROR_UNKNOWN_PORT, "FILE:" is always
// accepted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace tolvo::sim {

struct SimMonitor {
  std::string name;
  std::string environment;  // as given to AddMonitorA ("" for none)
  std::string dllName;
};

struct SimPort {
  std::string name;
  std::string monitor;
  std::string description;
  DWORD type = 1;  // PORT_TYPE_WRITE
};

struct SimPrinter {
  std::string name;        // "\\server\share" for a connection
  std::string serverName;  // empty for a local printer
  std::string shareName;
  std::string ports;  // the comma-separated port list, as stored
  std::string driverName = "Generic / Text Only";
  std::string comment;
  std::string location;
  std::string sepFile;
  std::string printProcessor = "WinPrint";
  std::string datatype = "RAW";
  std::string parameters;
  DWORD attributes = 0;
  DWORD priority = 1;
  DWORD defaultPriority = 0;
  DWORD startTime = 0;
  DWORD untilTime = 0;
  DWORD status = 0;
  DWORD jobs = 0;
  DWORD averagePPM = 0;

  bool local() const;
};

// One XcvDataW call as the monitor received it.
struct SimXcvInput {
  std::string monitor;
  std::string command;
  std::vector<std::uint8_t> data;  // the input bytes, exactly as passed
};

struct SimSpoolerState {
  // --- Seeding -------------------------------------------------------------
  SimMonitor& AddMonitor(std::string name, std::string dllName = "",
                         std::string environment = "Windows x64");
  SimPort& AddPort(std::string name, std::string monitor, std::string description = "");
  // `ports` is the comma-separated port list. A local printer has
  // PRINTER_ATTRIBUTE_LOCAL; a connection has PRINTER_ATTRIBUTE_NETWORK and
  // takes its server name from a "\\server\share" printer name.
  SimPrinter& AddPrinter(std::string name, std::string ports, bool local = true);

  // --- Scripting -------------------------------------------------------------
  // The monitor answers `command` with `status`: on its n-th receipt of the
  // command (1-based), or every time when occurrence is 0.
  void SetCommandStatus(std::string command, DWORD status, int occurrence = 0);
  // SetPrinterA fails with `error` when the new port list names `port`.
  void RefusePort(std::string port, DWORD error = ERROR_ACCESS_DENIED);
  // When non-zero, DeleteMonitorA of an existing monitor fails with it
  // (for instance ERROR_BUSY 170 or ERROR_CALL_NOT_IMPLEMENTED 120).
  DWORD deleteMonitorError = 0;
  // The monitors registered on every named server, for DeleteMonitorA.
  std::vector<std::string> remoteMonitors;
  int monitorInUseRefusals = 0;  // DeleteMonitorA calls refused with 3008

  // --- Inspecting ------------------------------------------------------------
  std::optional<std::string> PrinterPorts(std::string_view printer) const;
  std::vector<std::string> Ports() const;
  std::vector<std::string> Monitors() const;
  const std::vector<SimXcvInput>& XcvInputs() const { return xcvInputs; }
  std::vector<std::string> XcvCommands() const;
  std::optional<std::vector<std::uint8_t>> StoredRecord(std::string_view port) const;

  SimMonitor* FindMonitor(std::string_view name);
  SimPort* FindPort(std::string_view name);
  SimPrinter* FindPrinter(std::string_view name);

  // --- State -----------------------------------------------------------------
  std::vector<SimMonitor> monitors;  // in order of registration
  std::vector<SimPort> ports;        // in order of creation
  std::vector<SimPrinter> printers;  // in the order EnumPrintersA lists them
  std::vector<SimXcvInput> xcvInputs;
  std::map<std::string, std::vector<std::uint8_t>> storedRecords;  // by lower-case port
  std::vector<std::string> printerOpens;  // every OpenPrinterA name (also failed ones)
  std::vector<std::string> xcvOpens;      // every OpenPrinterW text, narrowed
  std::vector<DWORD> xcvOpenAccess;       // DesiredAccess of each OpenPrinterW
  std::vector<std::string> serverNames;   // "Function server" for each named server

  // --- Used by the spooler calls ----------------------------------------------
  struct CommandScript {
    std::string command;
    int occurrence;
    DWORD status;
  };
  struct OpenTarget {
    bool xcv = false;
    std::string name;  // printer name, or the monitor of a transaction handle
  };
  std::vector<CommandScript> commandScripts;
  std::map<std::string, int> commandCounts;
  std::map<std::string, DWORD> refusedPorts;  // by lower-case port
  std::map<std::uintptr_t, OpenTarget> openTargets;
};

// UTF-16LE code units to narrow text (units above 0xFF become '?'); stops at
// the first zero unit or after `maxUnits`.
std::string NarrowFromUtf16(const std::uint8_t* bytes, std::size_t maxUnits);
std::string NarrowFromUtf16(const WCHAR* text, std::size_t maxUnits);

}  // namespace tolvo::sim
