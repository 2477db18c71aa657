/*
 * spooler_probe.exe: a small command-line window on the print spooler, the
 * registry and the processes, for the runs under Wine (the monitor check,
 * the end-to-end tests, the demonstration). It sets up and inspects what the
 * installer works on and leaves behind. Not part of the kit.
 *
 *   spooler_probe add-monitor NAME DLL [ENVIRONMENT]
 *   spooler_probe delete-monitor NAME
 *   spooler_probe monitors                        NAME<TAB>ENVIRONMENT<TAB>DLL a line
 *   spooler_probe xcv MONITOR COMMAND PORT        AddPort, DeletePort ...
 *   spooler_probe set-port-data MONITOR PORT [SIZE]
 *   spooler_probe port-data PORT [MONITOR]        the stored PortData value in hex
 *   spooler_probe enum-ports [LEVEL]              one port a line (level 2:
 *                                                 NAME<TAB>MONITOR<TAB>DESCRIPTION)
 *   spooler_probe add-printer NAME [PORT]         a local printer, on LPT1: by default
 *   spooler_probe printers                        NAME<TAB>PORTS a line
 *   spooler_probe printer-port NAME
 *   spooler_probe set-port NAME PORTS             a new port list (comma-separated)
 *   spooler_probe reg VIEW KEY VALUE              one HKLM value: TYPE:DATA
 *                                                 (VIEW is 32, 64 or default)
 *   spooler_probe regkey VIEW KEY                 exit 0 when the HKLM key exists
 *   spooler_probe processes                       the file name of each running process
 *   spooler_probe run-log-inheritable PATH        checks a log handle's flags
 *   spooler_probe hold-mutex NAME                 a mutex of that name, owned and open to
 *                                                 everyone (a null DACL), until killed
 *   spooler_probe hold-file PATH                  the file open for reading, shared for reading
 *                                                 only (as a running program's), until killed
 *   spooler_probe file-version PATH...            VERSION<TAB>LANGUAGE of each file's
 *                                                 version resource, "-" for none
 *   spooler_probe install-cancelled PACKAGE ACTION LOG
 *                                                 installs the package quietly, logging into
 *                                                 LOG, and cancels at the first progress
 *                                                 message once ACTION has started; exit 0
 *                                                 when the installation ended as cancelled
 *
 * A command prints its outcome ("ok", "error N", "status N", or the
 * listing) and exits 0 when the call succeeded (for xcv and set-port-data:
 * when the monitor answered status 0), 1 when it failed, 2 for a missing
 * registry key, 3 for a missing value and 64 for a usage error.
 */
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
// windows.h must come before the headers that build on it.
// clang-format off
#include <windows.h>
#include <msi.h>
#include <tlhelp32.h>
#include <winspool.h>
// clang-format on

enum { kPortDataSize = 10032, kPortNameOffset = 10012, kPortNameSlotUnits = 10 };

/* Prints the last error of the call that just failed. */
static int Fail(void) {
  printf("error %lu\n", (unsigned long)GetLastError());
  return 1;
}

static int Usage(void) {
  fputs(
      "usage: spooler_probe add-monitor NAME DLL [ENV] | delete-monitor NAME | monitors |\n"
      "       xcv MONITOR COMMAND PORT | set-port-data MONITOR PORT [SIZE] |\n"
      "       port-data PORT [MONITOR] | enum-ports [LEVEL] | add-printer NAME [PORT] |\n"
      "       printers | printer-port NAME | set-port NAME PORTS |\n"
      "       reg VIEW KEY VALUE | regkey VIEW KEY | processes | run-log-inheritable PATH |\n"
      "       hold-mutex NAME | hold-file PATH | file-version PATH... |\n"
      "       install-cancelled PACKAGE ACTION LOG\n",
      stderr);
  return 64;
}

static const char* OrEmpty(const char* text) {
  return text ? text : "";
}

/* The spooler's two-call size pattern, for EnumPortsA, EnumPrintersA and
 * EnumMonitorsA at `level`: a zero-filled buffer the caller frees, or NULL
 * with the error printed. */
typedef BOOL(WINAPI* EnumCall)(LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);

static BYTE* Enumerate(EnumCall call, DWORD level, DWORD* returned) {
  DWORD needed = 0;
  BYTE* buffer;
  *returned = 0;
  if (!call(NULL, level, NULL, 0, &needed, returned) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    Fail();
    return NULL;
  }
  buffer = (BYTE*)calloc(needed + 1, 1);
  if (buffer == NULL || !call(NULL, level, buffer, needed, &needed, returned)) {
    free(buffer);
    Fail();
    return NULL;
  }
  return buffer;
}

static BOOL WINAPI EnumLocalPrinters(LPSTR name, DWORD level, LPBYTE buffer, DWORD size,
                                     LPDWORD needed, LPDWORD returned) {
  return EnumPrintersA(PRINTER_ENUM_LOCAL, name, level, buffer, size, needed, returned);
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
  DWORD returned;
  DWORD i;
  BYTE* buffer = Enumerate(EnumPortsA, level, &returned);
  if (buffer == NULL) {
    return 1;
  }
  for (i = 0; i < returned; ++i) {
    if (level == 1) {
      printf("%s\n", ((PORT_INFO_1A*)buffer)[i].pName);
    } else {
      const PORT_INFO_2A* port = &((PORT_INFO_2A*)buffer)[i];
      printf("%s\t%s\t%s\n", port->pPortName, OrEmpty(port->pMonitorName),
             OrEmpty(port->pDescription));
    }
  }
  free(buffer);
  return 0;
}

static int ProbePrinters(void) {
  DWORD returned;
  DWORD i;
  BYTE* buffer = Enumerate(EnumLocalPrinters, 2, &returned);
  if (buffer == NULL) {
    return 1;
  }
  for (i = 0; i < returned; ++i) {
    const PRINTER_INFO_2A* printer = &((PRINTER_INFO_2A*)buffer)[i];
    printf("%s\t%s\n", OrEmpty(printer->pPrinterName), OrEmpty(printer->pPortName));
  }
  free(buffer);
  return 0;
}

static int ProbeMonitors(void) {
  DWORD returned;
  DWORD i;
  BYTE* buffer = Enumerate(EnumMonitorsA, 2, &returned);
  if (buffer == NULL) {
    return 1;
  }
  for (i = 0; i < returned; ++i) {
    const MONITOR_INFO_2A* monitor = &((MONITOR_INFO_2A*)buffer)[i];
    printf("%s\t%s\t%s\n", OrEmpty(monitor->pName), OrEmpty(monitor->pEnvironment),
           OrEmpty(monitor->pDLLName));
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

/* Prints the printer's port list, or with `ports` gives it that list. */
static int ProbePrinterPort(char* name, char* ports) {
  PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
  HANDLE printer = NULL;
  DWORD needed = 0;
  BYTE* buffer;
  int result = 0;
  if (!OpenPrinterA(name, &printer, ports ? &defaults : NULL)) {
    return Fail();
  }
  GetPrinterA(printer, 2, NULL, 0, &needed);
  buffer = (BYTE*)calloc(needed + 1, 1);
  if (buffer == NULL || !GetPrinterA(printer, 2, buffer, needed, &needed)) {
    result = Fail();
  } else if (ports == NULL) {
    printf("%s\n", ((PRINTER_INFO_2A*)buffer)->pPortName);
  } else {
    ((PRINTER_INFO_2A*)buffer)->pPortName = ports;
    result = SetPrinterA(printer, 2, buffer, 0) ? 0 : Fail();
  }
  free(buffer);
  ClosePrinter(printer);
  return result;
}

static REGSAM RegistryView(const char* view) {
  if (strcmp(view, "32") == 0) {
    return KEY_WOW64_32KEY;
  }
  return strcmp(view, "64") == 0 ? KEY_WOW64_64KEY : 0;
}

static void PrintHex(const BYTE* data, DWORD size) {
  DWORD i;
  for (i = 0; i < size; ++i) {
    printf("%02x", data[i]);
  }
}

/* Reads one HKLM value into a fresh buffer the caller frees; returns the
 * exit status. */
static int ReadValue(const char* keyPath, REGSAM view, const char* value, DWORD* type, BYTE** data,
                     DWORD* size) {
  HKEY key;
  LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | view, &key);
  if (status != ERROR_SUCCESS) {
    return 2;
  }
  *size = 0;
  status = RegQueryValueExA(key, value, NULL, type, NULL, size);
  if (status == ERROR_SUCCESS) {
    *data = (BYTE*)calloc(*size + 2, 1);
    status = *data ? RegQueryValueExA(key, value, NULL, type, *data, size) : ERROR_OUTOFMEMORY;
  }
  RegCloseKey(key);
  if (status == ERROR_FILE_NOT_FOUND) {
    return 3;
  }
  if (status != ERROR_SUCCESS) {
    free(*data);
    SetLastError((DWORD)status);
    return Fail();
  }
  return 0;
}

static int ProbeRegistryValue(const char* view, const char* keyPath, const char* value) {
  DWORD type;
  DWORD size;
  BYTE* data = NULL;
  const int status = ReadValue(keyPath, RegistryView(view), value, &type, &data, &size);
  if (status != 0) {
    return status;
  }
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    printf("%s:%s\n", type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ", (char*)data);
  } else if (type == REG_DWORD) {
    printf("REG_DWORD:%lu\n", size == 4 ? (unsigned long)*(DWORD*)data : 0ul);
  } else {
    printf("REG_TYPE_%lu:", (unsigned long)type);
    PrintHex(data, size);
    printf("\n");
  }
  free(data);
  return 0;
}

static int ProbeRegistryKey(const char* view, const char* keyPath) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_QUERY_VALUE | RegistryView(view), &key) !=
      ERROR_SUCCESS) {
    return 2;
  }
  RegCloseKey(key);
  return 0;
}

/* The monitor stores a port's record under its own key; a port is named by
 * its monitor's word followed by its number. */
static int ProbePortData(const char* port, const char* monitor) {
  char derived[64];
  char keyPath[512];
  DWORD type;
  DWORD size;
  BYTE* data = NULL;
  int status;
  if (monitor == NULL) {
    size_t length = strlen(port);
    while (length > 0 && port[length - 1] >= '0' && port[length - 1] <= '9') {
      --length;
    }
    if (length >= sizeof derived) {
      return 64;
    }
    memcpy(derived, port, length);
    derived[length] = '\0';
    monitor = derived;
  }
  _snprintf(keyPath, sizeof keyPath - 1,
            "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\%s\\Ports\\%s", monitor, port);
  keyPath[sizeof keyPath - 1] = '\0';
  status = ReadValue(keyPath, 0, "PortData", &type, &data, &size);
  if (status != 0) {
    return status;
  }
  if (type != REG_BINARY) {
    fprintf(stderr, "spooler_probe: PortData has type %lu\n", (unsigned long)type);
  }
  PrintHex(data, size);
  printf("\n");
  free(data);
  return type == REG_BINARY ? 0 : 1;
}

static int ProbeProcesses(void) {
  PROCESSENTRY32 entry;
  BOOL more;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return Fail();
  }
  entry.dwSize = sizeof entry;
  for (more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    printf("%s\n", entry.szExeFile);
  }
  CloseHandle(snapshot);
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

static int ProbeHoldMutex(const char* name) {
  SECURITY_DESCRIPTOR everyone;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &everyone, FALSE};
  if (!InitializeSecurityDescriptor(&everyone, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&everyone, TRUE, NULL, FALSE) ||
      CreateMutexA(&attributes, TRUE, name) == NULL) {
    return Fail();
  }
  puts("held");
  fflush(stdout);
  Sleep(INFINITE);
  return 0;
}

static int ProbeHoldFile(const char* path) {
  if (CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL) ==
      INVALID_HANDLE_VALUE) {
    return Fail();
  }
  puts("held");
  fflush(stdout);
  Sleep(INFINITE);
  return 0;
}

/* Each file's version as Windows reads it (VS_FIXEDFILEINFO) and the
 * language of its first translation. */
static int ProbeFileVersions(int count, char** paths) {
  int i;
  for (i = 0; i < count; ++i) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(paths[i], &ignored);
    void* data = size > 0 ? malloc(size) : NULL;
    VS_FIXEDFILEINFO* fixed = NULL;
    WORD* translation = NULL;
    UINT length = 0;
    if (data != NULL && GetFileVersionInfoA(paths[i], 0, size, data) &&
        VerQueryValueA(data, "\\", (void**)&fixed, &length) && length >= sizeof *fixed) {
      printf("%u.%u.%u.%u\t%u\n", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
             HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
             VerQueryValueA(data, "\\VarFileInfo\\Translation", (void**)&translation, &length) &&
                     length >= sizeof(WORD)
                 ? translation[0]
                 : 0u);
    } else {
      puts("-");
    }
    free(data);
  }
  return 0;
}

/* The user interface of install-cancelled: the user presses Cancel once
 * the action has started. */
typedef struct {
  char start[80]; /* the action's start message holds ": ACTION." */
  int started;
} CancelState;

static int WINAPI CancelOnceStarted(LPVOID context, UINT type, LPCSTR message) {
  CancelState* state = (CancelState*)context;
  if ((type & 0xFF000000u) == INSTALLMESSAGE_ACTIONSTART && message != NULL &&
      strstr(message, state->start) != NULL) {
    state->started = 1;
  }
  return (type & 0xFF000000u) == INSTALLMESSAGE_PROGRESS && state->started ? IDCANCEL : 0;
}

static int ProbeInstallCancelled(const char* package, const char* action, const char* log) {
  CancelState state = {{0}, 0};
  UINT result;
  snprintf(state.start, sizeof state.start, ": %s.", action);
  MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
  MsiEnableLogA(INSTALLLOGMODE_INFO | INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ERROR, log, 0);
  MsiSetExternalUIA(CancelOnceStarted, INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_PROGRESS,
                    &state);
  result = MsiInstallProductA(package, "");
  printf("status %u\n", result);
  return result == ERROR_INSTALL_USEREXIT ? 0 : 1;
}

static int Dispatch(int argc, char** argv) {
  const char* command = argc >= 2 ? argv[1] : "";
  if (argc >= 4 && strcmp(command, "add-monitor") == 0) {
    return ProbeAddMonitor(argv[2], argv[3], argc >= 5 ? argv[4] : NULL);
  }
  if (argc == 3 && strcmp(command, "delete-monitor") == 0) {
    return ProbeDeleteMonitor(argv[2]);
  }
  if (argc == 2 && strcmp(command, "monitors") == 0) {
    return ProbeMonitors();
  }
  if (argc == 5 && strcmp(command, "xcv") == 0) {
    return ProbeXcv(argv[2], argv[3], argv[4]);
  }
  if (argc >= 4 && strcmp(command, "set-port-data") == 0) {
    return ProbeSetPortData(argv[2], argv[3],
                            argc >= 5 ? (DWORD)strtoul(argv[4], NULL, 10) : (DWORD)kPortDataSize);
  }
  if ((argc == 3 || argc == 4) && strcmp(command, "port-data") == 0) {
    return ProbePortData(argv[2], argc == 4 ? argv[3] : NULL);
  }
  if (argc >= 2 && strcmp(command, "enum-ports") == 0) {
    return ProbeEnumPorts(argc >= 3 ? (DWORD)strtoul(argv[2], NULL, 10) : 2);
  }
  if ((argc == 3 || argc == 4) && strcmp(command, "add-printer") == 0) {
    return ProbeAddPrinter(argv[2], argc == 4 ? argv[3] : "LPT1:");
  }
  if (argc == 2 && strcmp(command, "printers") == 0) {
    return ProbePrinters();
  }
  if (argc == 3 && strcmp(command, "printer-port") == 0) {
    return ProbePrinterPort(argv[2], NULL);
  }
  if (argc == 4 && strcmp(command, "set-port") == 0) {
    return ProbePrinterPort(argv[2], argv[3]);
  }
  if (argc == 5 && strcmp(command, "reg") == 0) {
    return ProbeRegistryValue(argv[2], argv[3], argv[4]);
  }
  if (argc == 4 && strcmp(command, "regkey") == 0) {
    return ProbeRegistryKey(argv[2], argv[3]);
  }
  if (argc == 2 && strcmp(command, "processes") == 0) {
    return ProbeProcesses();
  }
  if (argc == 3 && strcmp(command, "run-log-inheritable") == 0) {
    return ProbeRunLogInheritable(argv[2]);
  }
  if (argc == 3 && strcmp(command, "hold-mutex") == 0) {
    return ProbeHoldMutex(argv[2]);
  }
  if (argc == 3 && strcmp(command, "hold-file") == 0) {
    return ProbeHoldFile(argv[2]);
  }
  if (argc == 5 && strcmp(command, "install-cancelled") == 0) {
    return ProbeInstallCancelled(argv[2], argv[3], argv[4]);
  }
  if (argc >= 3 && strcmp(command, "file-version") == 0) {
    return ProbeFileVersions(argc - 2, argv + 2);
  }
  return Usage();
}

int main(int argc, char** argv) {
  const int status = Dispatch(argc, argv);
  fflush(stdout);
  return status;
}
