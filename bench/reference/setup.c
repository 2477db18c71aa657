/*
 * bench_setup.exe: prepares a Wine prefix for the benchmark in one process
 * (a process per printer would take longer than the runs being timed).
 *
 *   bench_setup add-printers COUNT        local printers "Bench Printer 1" ...
 *                                         on "LPT1:" (Wine PostScript driver)
 *   bench_setup set-ports COUNT PORTS     printer k prints to "LPT1:" and
 *                                         Tolvo<((k - 1) mod PORTS) + 1>
 *
 * Exit status: 0 on success, 1 on a failed call (its error on stderr).
 */
// windows.h must come before the headers that build on it.
// clang-format off
#include <windows.h>
#include <winspool.h>
// clang-format on

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(const char* what, int printer) {
  fprintf(stderr, "bench_setup: %s failed for printer %d, error %lu\n", what, printer,
          (unsigned long)GetLastError());
  return 1;
}

static int addPrinters(int count) {
  DRIVER_INFO_3A driver;
  memset(&driver, 0, sizeof driver);
  driver.cVersion = 3;
  driver.pName = "Wine PostScript Driver";
  driver.pDriverPath = "wineps.drv";
  driver.pDataFile = "generic.ppd";
  driver.pConfigFile = "wineps.drv";
  if (!AddPrinterDriverA(NULL, 3, (BYTE*)&driver))
    return fail("AddPrinterDriverA", 0);
  for (int k = 1; k <= count; ++k) {
    char name[64];
    sprintf(name, "Bench Printer %d", k);
    PRINTER_INFO_2A printer;
    memset(&printer, 0, sizeof printer);
    printer.pPrinterName = name;
    printer.pPortName = "LPT1:";
    printer.pDriverName = "Wine PostScript Driver";
    printer.pPrintProcessor = "WinPrint";
    printer.pDatatype = "RAW";
    printer.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE handle = AddPrinterA(NULL, 2, (BYTE*)&printer);
    if (!handle)
      return fail("AddPrinterA", k);
    ClosePrinter(handle);
  }
  return 0;
}

static int setPorts(int count, int ports) {
  for (int k = 1; k <= count; ++k) {
    char name[64], list[64];
    sprintf(name, "Bench Printer %d", k);
    sprintf(list, "LPT1:,Tolvo%03d", (k - 1) % ports + 1);
    PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE printer;
    if (!OpenPrinterA(name, &printer, &defaults))
      return fail("OpenPrinterA", k);
    DWORD needed = 0;
    GetPrinterA(printer, 2, NULL, 0, &needed);
    BYTE* buffer = calloc(1, needed ? needed : 1);
    int status = 0;
    if (!GetPrinterA(printer, 2, buffer, needed, &needed)) {
      status = fail("GetPrinterA", k);
    } else {
      ((PRINTER_INFO_2A*)buffer)->pPortName = list;
      if (!SetPrinterA(printer, 2, buffer, 0))
        status = fail("SetPrinterA", k);
    }
    free(buffer);
    ClosePrinter(printer);
    if (status)
      return status;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && strcmp(argv[1], "add-printers") == 0)
    return addPrinters(atoi(argv[2]));
  if (argc == 4 && strcmp(argv[1], "set-ports") == 0)
    return setPorts(atoi(argv[2]), atoi(argv[3]));
  fprintf(stderr, "usage: bench_setup add-printers COUNT | set-ports COUNT PORTS\n");
  return 64;
}
