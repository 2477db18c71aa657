/*
 * spooler_probe.exe: a small command-line window on the print spooler, for
 * the end-to-end runs under Wine. It sets up and inspects what the installer
 * works on: monitors, the monitor's transaction channel, ports and printers.
 * Not part of the kit.
 *
 *   spooler_probe add-monitor NAME DLL [ENVIRONMENT]
 *   spooler_probe delete-monitor NAME
 *   spooler_probe xcv MONITOR COMMAND PORT        AddPort, DeletePort ...
 *   spooler_probe set-port-data MONITOR PORT [SIZE]
 *   spooler_probe enum-ports [LEVEL]              one port a line
 *   spooler_probe add-printer NAME PORT
 *   spooler_probe printer-port NAME
 *   spooler_probe run-log-inheritable PATH        checks a log handle's flags
 *
 * Each command prints its outcome on one line ("ok", "error N",
 * "status N", or the listing) and exits 0 when the spooler call succeeded
 * (for xcv and set-port-data: when the monitor answered status 0).
 */
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <windows.h>
#include <winspool.h>

enum { kPortDataSize = 10032, kPortNameOffset = 10012, kPortNameSlotUnits = 10 };

/* Prints the last error of the call that just failed. */
static int Fail(void) {
  printf("error %lu\n", (unsigned long)GetLastError());
  return 1;
}

static int Usage(void) {
  fputs(
      "usage: spooler_probe add-monitor NAME DLL [ENV] | delete-monitor NAME |\n"
      "       xcv MONITOR COMMAND PORT | set-port-data MONITOR PORT [SIZE] |\n"
      "       enum-ports [LEVEL] | add-printer NAME PORT | printer-port NAME |\n"
      "       run-log-inheritable PATH\n",
      stderr);
  return 2;
}

static int ProbeAddMonitor(char* name, char* dll, char* environment) {
  MONITOR_INFO_2A info;
  info.pName = name;
  info.pEnvironment = environment;
  info.pDLLName = dll;
  if (!AddMonitorA(NULL, 2, (LPBYTE)&info)) {
    return Fail();
  }
  puts("ok");
  return 0;
}

static int ProbeDeleteMonitor(char* name) {
  if (!DeleteMonitorA(NULL, NULL, name)) {
    return Fail();
  }
  puts("ok");
  return 0;
}

static HANDLE OpenMonitorChannel(const char* monitor) {
  WCHAR object[300];
  PRINTER_DEFAULTSW defaults;
  HANDLE channel = NULL;
  char text[300];
  _snprintf(text, sizeof(text) - 1, ",XcvMonitor %s", monitor);
  text[sizeof(text) - 1] = '\0';
  MultiByteToWideChar(CP_ACP, 0, text, -1, object, 300);
  defaults.pDatatype = NULL;
  defaults.pDevMode = NULL;
  defaults.DesiredAccess = SERVER_ACCESS_ADMINISTER;
  if (!OpenPrinterW(object, &channel, &defaults)) {
    return NULL;
  }
  return channel;
}

/* Sends one command and prints the monitor's status. */
static int SendCommand(HANDLE channel, const char* command, BYTE* input, DWORD inputSize) {
  WCHAR commandName[64];
  DWORD needed = 0;
  DWORD status = 0;
  MultiByteToWideChar(CP_ACP, 0, command, -1, commandName, 64);
  if (!XcvDataW(channel, commandName, input, inputSize, NULL, 0, &needed, &status)) {
    return Fail();
  }
  printf("status %lu\n", (unsigned long)status);
  return status == 0 ? 0 : 1;
}

static int ProbeXcv(const char* monitor, const char* command, const char* port) {
  WCHAR portName[128];
  const int units = MultiByteToWideChar(CP_ACP, 0, port, -1, portName, 128);
  HANDLE channel = OpenMonitorChannel(monitor);
  int result;
  if (channel == NULL) {
    return Fail();
  }
  result = SendCommand(channel, command, (BYTE*)portName, (DWORD)units * 2);
  ClosePrinter(channel);
  return result;
}

/* A record of `size` bytes: description "Probe record" at offset 0 and the
 * port's name at its place near the end, both UTF-16LE. */
static int ProbeSetPortData(const char* monitor, const char* port, DWORD size) {
  static const char description[] = "Probe record";
  BYTE* record = (BYTE*)calloc(size > kPortDataSize ? size : kPortDataSize, 1);
  HANDLE channel;
  int result;
  size_t i;
  if (record == NULL) {
    return 1;
  }
  for (i = 0; description[i] != '\0'; ++i) {
    record[i * 2] = (BYTE)description[i];
  }
  for (i = 0; port[i] != '\0' && i < kPortNameSlotUnits - 1; ++i) {
    record[kPortNameOffset + i * 2] = (BYTE)port[i];
  }
  channel = OpenMonitorChannel(monitor);
  if (channel == NULL) {
    free(record);
    return Fail();
  }
  result = SendCommand(channel, "SetPortData", record, size);
  ClosePrinter(channel);
  free(record);
  return result;
}

static int ProbeEnumPorts(DWORD level) {
  DWORD needed = 0;
  DWORD returned = 0;
  BYTE* buffer;
  DWORD i;
  if (!EnumPortsA(NULL, level, NULL, 0, &needed, &returned) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    return Fail();
  }
  buffer = (BYTE*)calloc(needed + 1, 1);
  if (buffer == NULL || !EnumPortsA(NULL, level, buffer, needed, &needed, &returned)) {
    free(buffer);
    return Fail();
  }
  for (i = 0; i < returned; ++i) {
    if (level == 1) {
      printf("%s\n", ((PORT_INFO_1A*)buffer)[i].pName);
    } else {
      const PORT_INFO_2A* port = &((PORT_INFO_2A*)buffer)[i];
      printf("%s\t%s\t%s\n", port->pPortName, port->pMonitorName ? port->pMonitorName : "",
             port->pDescription ? port->pDescription : "");
    }
  }
  free(buffer);
  return 0;
}

/* A local printer on the built-in PostScript driver, which needs no
 * printing system behind it. */
static int ProbeAddPrinter(char* name, char* port) {
  DRIVER_INFO_3A driver;
  PRINTER_INFO_2A printer;
  HANDLE handle;
  ZeroMemory(&driver, sizeof(driver));
  driver.cVersion = 3;
  driver.pName = "Wine PostScript Driver";
  driver.pDriverPath = "wineps.drv";
  driver.pDataFile = "generic.ppd";
  driver.pConfigFile = "wineps.drv";
  if (!AddPrinterDriverA(NULL, 3, (LPBYTE)&driver) &&
      GetLastError() != ERROR_PRINTER_DRIVER_ALREADY_INSTALLED) {
    return Fail();
  }
  ZeroMemory(&printer, sizeof(printer));
  printer.pPrinterName = name;
  printer.pPortName = port;
  printer.pDriverName = "Wine PostScript Driver";
  printer.pPrintProcessor = "WinPrint";
  printer.pDatatype = "RAW";
  printer.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  handle = AddPrinterA(NULL, 2, (LPBYTE)&printer);
  if (handle == NULL) {
    return Fail();
  }
  ClosePrinter(handle);
  puts("ok");
  return 0;
}

static int ProbePrinterPort(char* name) {
  HANDLE printer = NULL;
  DWORD needed = 0;
  BYTE* buffer;
  if (!OpenPrinterA(name, &printer, NULL)) {
    return Fail();
  }
  GetPrinterA(printer, 2, NULL, 0, &needed);
  buffer = (BYTE*)calloc(needed + 1, 1);
  if (buffer == NULL || !GetPrinterA(printer, 2, buffer, needed, &needed)) {
    free(buffer);
    ClosePrinter(printer);
    return Fail();
  }
  printf("%s\n", ((PRINTER_INFO_2A*)buffer)->pPortName);
  free(buffer);
  ClosePrinter(printer);
  return 0;
}

/* Opens PATH as the installer opens its run log and prints whether the
 * handle would be inherited by a child process. */
static int ProbeRunLogInheritable(const char* path) {
  DWORD flags = 0;
  const int descriptor = _sopen(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_TEXT | _O_NOINHERIT,
                                _SH_DENYNO, _S_IREAD | _S_IWRITE);
  if (descriptor == -1 || !GetHandleInformation((HANDLE)_get_osfhandle(descriptor), &flags)) {
    return Fail();
  }
  puts((flags & HANDLE_FLAG_INHERIT) ? "inheritable" : "not inheritable");
  _close(descriptor);
  return 0;
}

int main(int argc, char** argv) {
  if (argc >= 4 && strcmp(argv[1], "add-monitor") == 0) {
    return ProbeAddMonitor(argv[2], argv[3], argc >= 5 ? argv[4] : NULL);
  }
  if (argc == 3 && strcmp(argv[1], "delete-monitor") == 0) {
    return ProbeDeleteMonitor(argv[2]);
  }
  if (argc == 5 && strcmp(argv[1], "xcv") == 0) {
    return ProbeXcv(argv[2], argv[3], argv[4]);
  }
  if (argc >= 4 && strcmp(argv[1], "set-port-data") == 0) {
    return ProbeSetPortData(argv[2], argv[3],
                            argc >= 5 ? (DWORD)strtoul(argv[4], NULL, 10) : (DWORD)kPortDataSize);
  }
  if (argc >= 2 && strcmp(argv[1], "enum-ports") == 0) {
    return ProbeEnumPorts(argc >= 3 ? (DWORD)strtoul(argv[2], NULL, 10) : 2);
  }
  if (argc == 4 && strcmp(argv[1], "add-printer") == 0) {
    return ProbeAddPrinter(argv[2], argv[3]);
  }
  if (argc == 3 && strcmp(argv[1], "printer-port") == 0) {
    return ProbePrinterPort(argv[2]);
  }
  if (argc == 3 && strcmp(argv[1], "run-log-inheritable") == 0) {
    return ProbeRunLogInheritable(argv[2]);
  }
  return Usage();
}
