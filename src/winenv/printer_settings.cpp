#include "winenv/printer_settings.h"

#include "core/text.h"
#include "winenv/sized_block.h"

namespace tolvo {

bool SameSpoolerName(WinApi& api, const char* a, const char* b) {
  return api.CompareTextIgnoreCase(a, b) == 0;
}

namespace {

// Whether `name`, taken from a port list, is `port`; a name too long for a
// port's is none.
bool NamesPort(WinApi& api, std::string_view name, const char* port) {
  char copy[kListedPortNameSize];
  return CopyBounded(copy, sizeof copy, name) && SameSpoolerName(api, copy, port);
}

// Whether each name of `list` is held by `other`.
bool EveryPortHeld(WinApi& api, std::string_view list, std::string_view other) {
  bool held = true;
  ForEachListedPort(list, [&](std::string_view name) {
    char copy[kListedPortNameSize];
    held = held && CopyBounded(copy, sizeof copy, name) && PortListHolds(api, other, copy);
  });
  return held;
}

}  // namespace

bool PortListHolds(WinApi& api, std::string_view ports, const char* port) {
  bool held = false;
  ForEachListedPort(ports,
                    [&](std::string_view name) { held = held || NamesPort(api, name, port); });
  return held;
}

bool SamePortList(WinApi& api, std::string_view a, std::string_view b) {
  return EveryPortHeld(api, a, b) && EveryPortHeld(api, b, a);
}

bool PortListWithin(WinApi& api, std::string_view list, std::string_view other) {
  return EveryPortHeld(api, list, other);
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
