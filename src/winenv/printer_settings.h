// A local printer opened for change, with its level-2 settings read into a
// buffer of the size the spooler asks for.
#pragma once

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

class PrinterSettings {
 public:
  // Opens `printerName` with full access and reads its PRINTER_INFO_2A:
  // a size query that must fail with ERROR_INSUFFICIENT_BUFFER, a zero-filled
  // buffer of that size, and the read. loaded() is false when any step failed.
  PrinterSettings(WinApi& api, const char* printerName);

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
