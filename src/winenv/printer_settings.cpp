#include "winenv/printer_settings.h"

#include "core/text.h"
#include "winenv/sized_block.h"

namespace tolvo {

bool SameSpoolerName(WinApi& api, const char* a, const char* b) {
  return api.CompareTextIgnoreCase(a, b) == 0;
}

bool PortListHolds(WinApi& api, std::string_view ports, const char* port) {
  while (!ports.empty()) {
    const std::size_t comma = ports.find(',');
    char name[kListedPortNameSize];
    if (CopyBounded(name, sizeof name, ports.substr(0, comma)) &&
        SameSpoolerName(api, name, port)) {
      return true;
    }
    ports = comma == std::string_view::npos ? std::string_view() : ports.substr(comma + 1);
  }
  return false;
}

namespace {

// Whether each name of `list` is held by `other`; a name too long for a
// port's is held by none.
bool EveryPortHeld(WinApi& api, std::string_view list, std::string_view other) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view port = list.substr(0, comma);
    char name[kListedPortNameSize];
    if (!port.empty() &&
        (!CopyBounded(name, sizeof name, port) || !PortListHolds(api, other, name))) {
      return false;
    }
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return true;
}

}  // namespace

bool SamePortList(WinApi& api, std::string_view a, std::string_view b) {
  return EveryPortHeld(api, a, b) && EveryPortHeld(api, b, a);
}

PrinterSettings::PrinterSettings(WinApi& api, const char* printerName, DWORD access)
    : api_(api), printer_(api), buffer_(api) {
  PRINTER_DEFAULTSA defaults{};
  defaults.pDatatype = nullptr;
  defaults.pDevMode = nullptr;
  defaults.DesiredAccess = access;
  HANDLE handle = nullptr;
  // The spooler only reads the name it is given.
  if (!api.OpenPrinterA(const_cast<LPSTR>(printerName), &handle, &defaults)) {
    return;
  }
  printer_.reset(handle);

  DWORD needed = 0;
  buffer_ = CallWithSizedBlock(
      api, needed, sizeof(PRINTER_INFO_2A), [&](LPBYTE buffer, DWORD size, LPDWORD sizeNeeded) {
        return api.GetPrinterA(printer_.get(), 2, buffer, size, sizeNeeded);
      });
}

bool PrinterSettings::Write() {
  return loaded() && api_.SetPrinterA(printer_.get(), 2, static_cast<LPBYTE>(buffer_.get()), 0);
}

}  // namespace tolvo
