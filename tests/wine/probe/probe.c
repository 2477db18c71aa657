/*
 * probe.exe: a small 32-bit helper that the end-to-end tests run inside a
 * Wine prefix to prepare the machine and to read back what the installer
 * left behind, through the same spooler and registry calls a Windows
 * administrator's tools would use.
 *
 *   probe add-printer NAME       create a local printer on LPT1: (PostScript driver)
 *   probe set-port NAME PORTS    give a printer a new port list (comma-separated)
 *   probe printers               one line per local printer: NAME<TAB>PORTS
 *   probe ports                  one line per port: NAME<TAB>MONITOR
 *   probe monitors               one line per monitor: NAME<TAB>ENVIRONMENT<TAB>DLL
 *   probe port-data PORT [MON]   the port's stored PortData value in hex
 *   probe reg VIEW KEY VALUE     one HKLM value: TYPE:DATA (VIEW is 32, 64 or default)
 *   probe regkey VIEW KEY        exit 0 when the HKLM key exists, 2 otherwise
 *   probe processes              one line per running process: its file name
 *
 * Exit status: 0 on success, 1 on a failed call (its error on stderr),
 * 2 for a missing key, 3 for a missing value, 64 for a usage error.
 */
// windows.h must come before the headers that build on it.
// clang-format off
#include <windows.h>
#include <tlhelp32.h>
#include <winspool.h>
// clang-format on

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int fail(const char* what) {
  fprintf(stderr, "probe: %s failed, error %lu\n", what, (unsigned long)GetLastError());
  return 1;
}

static const char* orEmpty(const char* text) {
  return text ? text : "";
}

/* The spooler's two-call size pattern; returns a buffer the caller frees, or NULL. */
typedef BOOL (*EnumCall)(BYTE* buffer, DWORD size, DWORD* needed, DWORD* count);

static BYTE* enumerate(EnumCall call, DWORD* count, const char* what) {
  DWORD needed = 0;
  *count = 0;
  if (call(NULL, 0, &needed, count)) {
    BYTE* empty = calloc(1, 1);
    *count = 0;
    return empty;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    fail(what);
    return NULL;
  }
  BYTE* buffer = calloc(1, needed);
  if (!buffer)
    return NULL;
  if (!call(buffer, needed, &needed, count)) {
    fail(what);
    free(buffer);
    return NULL;
  }
  return buffer;
}

static BOOL enumPrinters2(BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
  return EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 2, buffer, size, needed, count);
}

static BOOL enumPorts2(BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
  return EnumPortsA(NULL, 2, buffer, size, needed, count);
}

static BOOL enumMonitors2(BYTE* buffer, DWORD size, DWORD* needed, DWORD* count) {
  return EnumMonitorsA(NULL, 2, buffer, size, needed, count);
}

static int addPrinter(const char* name) {
  DRIVER_INFO_3A driver;
  memset(&driver, 0, sizeof driver);
  driver.cVersion = 3;
  driver.pName = "Wine PostScript Driver";
  driver.pDriverPath = "wineps.drv";
  driver.pDataFile = "generic.ppd";
  driver.pConfigFile = "wineps.drv";
  if (!AddPrinterDriverA(NULL, 3, (BYTE*)&driver))
    return fail("AddPrinterDriverA");

  PRINTER_INFO_2A printer;
  memset(&printer, 0, sizeof printer);
  printer.pPrinterName = (char*)name;
  printer.pPortName = "LPT1:";
  printer.pDriverName = "Wine PostScript Driver";
  printer.pPrintProcessor = "WinPrint";
  printer.pDatatype = "RAW";
  printer.Attributes = PRINTER_ATTRIBUTE_LOCAL;
  HANDLE handle = AddPrinterA(NULL, 2, (BYTE*)&printer);
  if (!handle)
    return fail("AddPrinterA");
  ClosePrinter(handle);
  return 0;
}

static int setPrinterPorts(const char* name, const char* ports) {
  PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
  HANDLE printer;
  if (!OpenPrinterA((char*)name, &printer, &defaults))
    return fail("OpenPrinterA");
  DWORD needed = 0;
  int status = 1;
  GetPrinterA(printer, 2, NULL, 0, &needed);
  BYTE* buffer = needed ? calloc(1, needed) : NULL;
  if (!buffer || !GetPrinterA(printer, 2, buffer, needed, &needed)) {
    status = fail("GetPrinterA");
  } else {
    ((PRINTER_INFO_2A*)buffer)->pPortName = (char*)ports;
    status = SetPrinterA(printer, 2, buffer, 0) ? 0 : fail("SetPrinterA");
  }
  free(buffer);
  ClosePrinter(printer);
  return status;
}

static int listPrinters(void) {
  DWORD count;
  BYTE* buffer = enumerate(enumPrinters2, &count, "EnumPrintersA");
  if (!buffer)
    return 1;
  PRINTER_INFO_2A* records = (PRINTER_INFO_2A*)buffer;
  for (DWORD i = 0; i < count; ++i)
    printf("%s\t%s\n", orEmpty(records[i].pPrinterName), orEmpty(records[i].pPortName));
  free(buffer);
  return 0;
}

static int listPorts(void) {
  DWORD count;
  BYTE* buffer = enumerate(enumPorts2, &count, "EnumPortsA");
  if (!buffer)
    return 1;
  PORT_INFO_2A* records = (PORT_INFO_2A*)buffer;
  for (DWORD i = 0; i < count; ++i)
    printf("%s\t%s\n", orEmpty(records[i].pPortName), orEmpty(records[i].pMonitorName));
  free(buffer);
  return 0;
}

static int listMonitors(void) {
  DWORD count;
  BYTE* buffer = enumerate(enumMonitors2, &count, "EnumMonitorsA");
  if (!buffer)
    return 1;
  MONITOR_INFO_2A* records = (MONITOR_INFO_2A*)buffer;
  for (DWORD i = 0; i < count; ++i)
    printf("%s\t%s\t%s\n", orEmpty(records[i].pName), orEmpty(records[i].pEnvironment),
           orEmpty(records[i].pDLLName));
  free(buffer);
  return 0;
}

static REGSAM viewFlag(const char* view) {
  if (strcmp(view, "32") == 0)
    return KEY_WOW64_32KEY;
  if (strcmp(view, "64") == 0)
    return KEY_WOW64_64KEY;
  return 0;
}

static void printHex(const BYTE* data, DWORD size) {
  for (DWORD i = 0; i < size; ++i)
    printf("%02x", data[i]);
}

/* Reads one value into a fresh buffer; returns the exit status. */
static int readValue(const char* keyPath, REGSAM view, const char* value, DWORD* type, BYTE** data,
                     DWORD* size) {
  HKEY key;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | view, &key);
  if (status != ERROR_SUCCESS)
    return 2;
  *size = 0;
  status = RegQueryValueExA(key, value, NULL, type, NULL, size);
  if (status != ERROR_SUCCESS) {
    RegCloseKey(key);
    return 3;
  }
  *data = calloc(1, *size + 2);
  status = RegQueryValueExA(key, value, NULL, type, *data, size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) {
    free(*data);
    SetLastError(status);
    return fail("RegQueryValueExA");
  }
  return 0;
}

static int printValue(const char* view, const char* keyPath, const char* value) {
  DWORD type, size;
  BYTE* data = NULL;
  int status = readValue(keyPath, viewFlag(view), value, &type, &data, &size);
  if (status != 0)
    return status;
  switch (type) {
    case REG_SZ:
      printf("REG_SZ:%s\n", (char*)data);
      break;
    case REG_EXPAND_SZ:
      printf("REG_EXPAND_SZ:%s\n", (char*)data);
      break;
    case REG_DWORD:
      printf("REG_DWORD:%lu\n", size == 4 ? (unsigned long)*(DWORD*)data : 0ul);
      break;
    default:
      printf("REG_TYPE_%lu:", (unsigned long)type);
      printHex(data, size);
      printf("\n");
      break;
  }
  free(data);
  return 0;
}

static int keyExists(const char* view, const char* keyPath) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | viewFlag(view), &key) !=
      ERROR_SUCCESS)
    return 2;
  RegCloseKey(key);
  return 0;
}

static int printPortData(const char* port, const char* monitor) {
  char derived[64];
  if (!monitor) {
    /* A port is named by its monitor's word followed by its number. */
    size_t length = strlen(port);
    while (length > 0 && port[length - 1] >= '0' && port[length - 1] <= '9')
      --length;
    if (length >= sizeof derived)
      return 64;
    memcpy(derived, port, length);
    derived[length] = '\0';
    monitor = derived;
  }
  char keyPath[512];
  snprintf(keyPath, sizeof keyPath,
           "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\%s\\Ports\\%s", monitor, port);
  DWORD type, size;
  BYTE* data = NULL;
  int status = readValue(keyPath, 0, "PortData", &type, &data, &size);
  if (status != 0)
    return status;
  if (type != REG_BINARY)
    fprintf(stderr, "probe: PortData has type %lu\n", (unsigned long)type);
  printHex(data, size);
  printf("\n");
  free(data);
  return type == REG_BINARY ? 0 : 1;
}

static int listProcesses(void) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE)
    return fail("CreateToolhelp32Snapshot");
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  BOOL more = Process32First(snapshot, &entry);
  while (more) {
    printf("%s\n", entry.szExeFile);
    more = Process32Next(snapshot, &entry);
  }
  CloseHandle(snapshot);
  return 0;
}

static int usage(void) {
  fprintf(stderr,
          "usage: probe add-printer NAME | set-port NAME PORTS | printers | ports |"
          " monitors |"
          " port-data PORT [MONITOR] | reg VIEW KEY VALUE | regkey VIEW KEY |"
          " processes\n");
  return 64;
}

int main(int argc, char** argv) {
  if (argc < 2)
    return usage();
  const char* command = argv[1];
  int status;
  if (strcmp(command, "add-printer") == 0 && argc == 3)
    status = addPrinter(argv[2]);
  else if (strcmp(command, "set-port") == 0 && argc == 4)
    status = setPrinterPorts(argv[2], argv[3]);
  else if (strcmp(command, "printers") == 0 && argc == 2)
    status = listPrinters();
  else if (strcmp(command, "ports") == 0 && argc == 2)
    status = listPorts();
  else if (strcmp(command, "monitors") == 0 && argc == 2)
    status = listMonitors();
  else if (strcmp(command, "port-data") == 0 && (argc == 3 || argc == 4))
    status = printPortData(argv[2], argc == 4 ? argv[3] : NULL);
  else if (strcmp(command, "reg") == 0 && argc == 5)
    status = printValue(argv[2], argv[3], argv[4]);
  else if (strcmp(command, "regkey") == 0 && argc == 4)
    status = keyExists(argv[2], argv[3]);
  else if (strcmp(command, "processes") == 0 && argc == 2)
    status = listProcesses();
  else
    status = usage();
  fflush(stdout);
  return status;
}
