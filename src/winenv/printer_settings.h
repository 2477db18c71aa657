// A local printer opened for change (or only to be read), with its level-2
// settings read into a buffer of the size the spooler asks for.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

// One name of a printer's comma-separated port list is taken into a buffer
// of this size; a longer one is no port's name.
inline constexpr std::size_t kListedPortNameSize = 260;

// Whether the spooler takes `a` and `b` for one name (of a printer, a port
// or a monitor): without regard to case in the ANSI code page, letters
// beyond ASCII included.
bool SameSpoolerName(WinApi& api, const char* a, const char* b);

// Calls `visit` with each name of a printer's comma-separated port list,
// in the list's order; empty names (",," or a comma at the end) are passed
// over.
template <typename Visit>
void ForEachListedPort(std::string_view ports, Visit visit) {
  while (!ports.empty()) {
    const std::size_t comma = ports.find(',');
    if (comma != 0) {
      visit(ports.substr(0, comma));
    }
    ports = comma == std::string_view::npos ? std::string_view() : ports.substr(comma + 1);
  }
}

// Whether a printer's comma-separated port list holds `port`.
bool PortListHolds(WinApi& api, std::string_view ports, const char* port);

// Whether two port lists name the same ports, in any order: the spooler
// promises no order for a pooled printer's list.
bool SamePortList(WinApi& api, std::string_view a, std::string_view b);

// Whether every port of `list` is one of `other`'s.
bool PortListWithin(WinApi& api, std::string_view list, std::string_view other);

class PrinterSettings {
 public:
  // Opens `printerName` with `access` and reads its PRINTER_INFO_2A: a size
  // query that must fail with ERROR_INSUFFICIENT_BUFFER, a zero-filled buffer
  // of that size, and the read. loaded() is false when any step failed; the
  // last error is then the open's when the open failed.
  PrinterSettings(WinApi& api, const char* printerName, DWORD access = PRINTER_ALL_ACCESS);

  bool loaded() const { return buffer_.valid(); }
  // The record as read; only valid when loaded().
  PRINTER_INFO_2A& info() { return *static_cast<PRINTER_INFO_2A*>(buffer_.get()); }
  // Writes the (changed) record back at level 2. True when the spooler accepted it.
  bool Write();

 private:
  WinApi& api_;
  UniquePrinter printer_;
  UniqueGlobal buffer_;
};

}  // namespace tolvo
