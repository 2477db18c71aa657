#include "winenv/printer_settings.h"

#include "core/output.h"

namespace tolvo {

PrinterSettings::PrinterSettings(WinApi& api, const char* printerName)
    : api_(api), printer_(api), buffer_(api) {
  PRINTER_DEFAULTSA defaults{};
  defaults.pDatatype = nullptr;
  defaults.pDevMode = nullptr;
  defaults.DesiredAccess = PRINTER_ALL_ACCESS;
  HANDLE handle = nullptr;
  // The spooler only reads the name it is given.
  if (!api.OpenPrinterA(const_cast<LPSTR>(printerName), &handle, &defaults)) {
    return;
  }
  printer_.reset(handle);

  DWORD needed = 0;
  if (api.GetPrinterA(printer_.get(), 2, nullptr, 0, &needed) ||
      api.GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed < sizeof(PRINTER_INFO_2A)) {
    return;
  }
  UniqueGlobal buffer = AllocZeroed(api, needed);
  if (!buffer) {
    return;
  }
  if (!api.GetPrinterA(printer_.get(), 2, static_cast<LPBYTE>(buffer.get()), needed, &needed)) {
    return;
  }
  buffer_ = std::move(buffer);
}

bool PrinterSettings::Write() {
  return loaded() && api_.SetPrinterA(printer_.get(), 2, static_cast<LPBYTE>(buffer_.get()), 0);
}

}  // namespace tolvo
