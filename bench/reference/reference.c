/*
 * reference.exe: the least a program can do to perform what Install.exe
 * does on a 32-bit Windows 7 machine with Tolvo.ini in its folder, for the
 * Wine benchmark to time beside it. Same Windows calls for the work itself
 * (prerequisite and file checks, the monitor's DLLs read, the printers taken
 * off the old monitor's ports with the ports listed afresh for every name,
 * each port list remembered in the registry before it changes, the monitor
 * replaced, every port's keys read and sent over the transaction channel,
 * the event source, the printers assigned, the others put back, the client
 * deployed and started, the fonts copied), the same lines printed and
 * logged; nothing else: no error
 * reporting beyond what the lines need, no bounds checking of its own
 * input, no start-up hardening.
 *
 * Built with: i686-w64-mingw32-gcc -O2 reference.c -lwinspool -ladvapi32
 */
// windows.h must come before the headers that build on it.
// clang-format off
#include <windows.h>
#include <winspool.h>
// clang-format on

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MONITOR "Tolvo"
#define RECORD_SIZE 10032

static FILE* runLog;
static char iniPath[MAX_PATH];
static HKEY releasedKey, assignedKey; /* the remembered port lists */
static struct {
  char printer[260], before[600], after[600];
  BOOL assigned;
} releases[1000];
static int releaseCount;

static void say(const char* text) {
  fputs(text, stdout);
  fputs(text, runLog);
}

/* --- Printers off the old monitor's ports ------------------------------- */

static void remember(HKEY key, const char* printer, const char* before, const char* after) {
  char data[1204];
  size_t b = strlen(before) + 1, a = strlen(after) + 1;
  memcpy(data, before, b);
  memcpy(data + b, after, a);
  data[b + a] = '\0';
  RegSetValueExA(key, printer, 0, REG_MULTI_SZ, (BYTE*)data, (DWORD)(b + a + 1));
}

static BOOL isMonitorPort(const char* name) {
  DWORD needed = 0, count = 0;
  if (EnumPortsA(NULL, 2, NULL, 0, &needed, &count) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return FALSE;
  BYTE* buffer = calloc(1, needed);
  BOOL found = FALSE;
  if (EnumPortsA(NULL, 2, buffer, needed, &needed, &count)) {
    PORT_INFO_2A* ports = (PORT_INFO_2A*)buffer;
    for (DWORD i = 0; i < count && !found; ++i)
      found = ports[i].pPortName && ports[i].pMonitorName &&
              lstrcmpiA(ports[i].pPortName, name) == 0 &&
              lstrcmpiA(ports[i].pMonitorName, MONITOR) == 0;
  }
  free(buffer);
  if (found)
    printf("  - Port %s type %s will be disconnected\n", name, MONITOR);
  return found;
}

static void disconnectPrinter(const char* printerName) {
  PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
  HANDLE printer;
  if (!OpenPrinterA((char*)printerName, &printer, &defaults))
    return;
  DWORD needed = 0;
  GetPrinterA(printer, 2, NULL, 0, &needed);
  BYTE* buffer = calloc(1, needed);
  if (GetPrinterA(printer, 2, buffer, needed, &needed)) {
    PRINTER_INFO_2A* info = (PRINTER_INFO_2A*)buffer;
    char* list = info->pPortName;
    char* cursor = list;
    char before[600];
    strcpy(before, list);
    BOOL changed = FALSE;
    while (*cursor) {
      char* end = strchr(cursor, ',');
      char* next = end ? end + 1 : cursor + strlen(cursor);
      char name[260];
      size_t length = end ? (size_t)(end - cursor) : strlen(cursor);
      memcpy(name, cursor, length);
      name[length] = '\0';
      if (isMonitorPort(name)) {
        memmove(cursor, next, strlen(next) + 1);
        changed = TRUE;
      } else {
        cursor = next;
      }
    }
    size_t length = strlen(list);
    if (changed && length > 0 && list[length - 1] == ',')
      list[length - 1] = '\0';
    if (changed) {
      if (!*list)
        info->pPortName = "FILE:";
      remember(releasedKey, printerName, before, info->pPortName);
      strcpy(releases[releaseCount].printer, printerName);
      strcpy(releases[releaseCount].before, before);
      strcpy(releases[releaseCount++].after, info->pPortName);
      char line[600];
      sprintf(line, "  - Disconnecting Printer '%s' from %s Port", printerName, MONITOR);
      say(line);
      say(SetPrinterA(printer, 2, buffer, 0) ? "\n" : " Error\n");
    }
  }
  free(buffer);
  ClosePrinter(printer);
}

static void disconnectPrinters(void) {
  DWORD needed = 0, count = 0;
  if (EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 4, NULL, 0, &needed, &count))
    return;
  BYTE* buffer = calloc(1, needed);
  if (EnumPrintersA(PRINTER_ENUM_LOCAL, NULL, 4, buffer, needed, &needed, &count)) {
    PRINTER_INFO_4A* printers = (PRINTER_INFO_4A*)buffer;
    for (DWORD i = 0; i < count; ++i)
      if (printers[i].Attributes & PRINTER_ATTRIBUTE_LOCAL)
        disconnectPrinter(printers[i].pPrinterName);
  }
  free(buffer);
}

/* --- Ports --------------------------------------------------------------- */

/* The keys after the server addresses, in reading order, with their place
   in the port-data record; a text has no default. */
static const struct {
  const char* name;
  int offset;
  int text;
  int defaultValue;
} keys[] = {
    {"ServerPort", 5720, 0, 9100},
    {"LoadBalancing", 5724, 0, 1},
    {"RefreshIPList", 5728, 0, 1},
    {"Queue", 5732, 1, 0},
    {"AuthType", 6252, 0, 1},
    {"AuthText", 6256, 1, 0},
    {"ComPort", 6776, 1, 0},
    {"Projects", 7296, 0, 0},
    {"Compression", 7300, 0, 0},
    {"FaxServer", 7304, 0, 0},
    {"LogToFile", 7308, 0, 0},
    {"Encryption", 7312, 0, 0},
    {"DefaultProjectID", 7316, 0, 0},
    {"DisableServerCommunication", 7320, 0, 0},
    {"ProtocolLevel", 7844, 0, 4},
    {"JobOwnerMethod", 7848, 0, 0},
    {"NetworkTimeout", 8372, 0, 60},
    {"PriceEstimation", 8380, 0, 0},
    {"PopupsForBWPrint", 8384, 0, 0},
    {"ParserDPI", 8376, 0, 72},
    {"SavePassword", 8948, 0, 0},
    {"NoProjectOption", 8952, 0, 1},
    {"LBNetworkTimeout", 9476, 0, 60},
    {"LogFileSizeLimit", 10000, 0, 20},
    {"LogFileCount", 10004, 0, 3},
    {"SSLCertificateVerification", 10008, 0, 0},
    {"CurrentUserNameFormat", 7324, 1, 0},
    {"LogFilePath", 7852, 1, 0},
    {"BWPrintTempDir", 8388, 1, 0},
    {"Note", 8956, 1, 0},
    {"RedirectToIP", 9480, 1, 0},
};

static void putInt(BYTE* record, int offset, UINT value) {
  record[offset] = (BYTE)value;
  record[offset + 1] = (BYTE)(value >> 8);
  record[offset + 2] = (BYTE)(value >> 16);
  record[offset + 3] = (BYTE)(value >> 24);
}

static void putText(BYTE* record, int offset, const char* text, int units) {
  MultiByteToWideChar(CP_ACP, 0, text, -1, (WCHAR*)(record + offset), units);
}

static void readText(const char* section, const char* key, char* value) {
  GetPrivateProfileStringA(section, key, "", value, 260, iniPath);
}

/* Reads port n into the record; 0 when it is not configured. */
static int readPort(int n, BYTE* record, char (*shown)[260], int* serverPort, int* authType) {
  char section[16], key[32], value[260];
  sprintf(section, "%d", n);
  memset(record, 0, RECORD_SIZE);
  readText(section, "Description", shown[0]);
  char firstAddress[260];
  for (int k = 1; k <= 10; ++k) {
    sprintf(key, k == 1 ? "ServerIP" : "ServerIP%d", k);
    readText(section, key, k == 1 ? firstAddress : value);
    putText(record, 520 + (k - 1) * 520, k == 1 ? firstAddress : value, 260);
    sprintf(key, k == 1 ? "IPLoadBalancing" : "IPLoadBalancing%d", k);
    putInt(record, 8908 + (k - 1) * 4, GetPrivateProfileIntA(section, key, 0, iniPath));
  }
  if (!firstAddress[0])
    return 0;
  strcpy(shown[1], firstAddress);
  putText(record, 0, shown[0], 260);
  for (size_t i = 0; i < sizeof keys / sizeof keys[0]; ++i) {
    if (keys[i].text) {
      readText(section, keys[i].name, value);
      putText(record, keys[i].offset, value, 260);
      if (keys[i].offset == 5732)
        strcpy(shown[2], value);
      if (keys[i].offset == 6256)
        strcpy(shown[3], value);
    } else {
      UINT number = GetPrivateProfileIntA(section, keys[i].name, keys[i].defaultValue, iniPath);
      putInt(record, keys[i].offset, number);
      if (keys[i].offset == 5720)
        *serverPort = (int)number;
      if (keys[i].offset == 6252)
        *authType = (int)number;
    }
  }
  char portName[16];
  sprintf(portName, "Tolvo%03d", n);
  putText(record, 10012, portName, 9);
  return 1;
}

static int createPorts(void) {
  HANDLE xcv;
  PRINTER_DEFAULTSW defaults = {NULL, NULL, SERVER_ACCESS_ADMINISTER};
  if (!OpenPrinterW(L",XcvMonitor " MONITOR, &xcv, &defaults))
    return 0;
  static BYTE record[RECORD_SIZE];
  char shown[4][260]; /* description, first address, queue, authentication text */
  int n = 1;
  for (;; ++n) {
    int serverPort = 0, authType = 0;
    if (!readPort(n, record, shown, &serverPort, &authType))
      break;
    DWORD needed, status = 0;
    DWORD nameBytes = (DWORD)(wcslen((WCHAR*)(record + 10012)) + 1) * 2;
    if (!XcvDataW(xcv, L"AddPort", record + 10012, nameBytes, NULL, 0, &needed, &status) ||
        status != 0)
      break;
    if (!XcvDataW(xcv, L"SetPortData", record, RECORD_SIZE, NULL, 0, &needed, &status) ||
        status != 0)
      break;
    char line[1200];
    sprintf(line, "    New - IP:%s:%i, Desc:%s, Queue:%s, Type:%d %s\n", shown[1], serverPort,
            shown[0], shown[2], authType, shown[3]);
    say(line);
  }
  ClosePrinter(xcv);
  return n - 1;
}

/* --- Printers onto the new ports ----------------------------------------- */

static void assignPrinters(int portCount) {
  for (int n = 1; n <= portCount; ++n) {
    char section[16], key[32], printerName[260], portName[16], line[700];
    sprintf(section, "%d", n);
    sprintf(portName, "Tolvo%03d", n);
    for (int k = 1; k <= 10; ++k) {
      sprintf(key, k == 1 ? "AssignPrinter" : "AssignPrinter%d", k);
      readText(section, key, printerName);
      if (!printerName[0])
        continue;
      PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
      HANDLE printer;
      BOOL assigned = FALSE;
      if (OpenPrinterA(printerName, &printer, &defaults)) {
        DWORD needed = 0;
        GetPrinterA(printer, 2, NULL, 0, &needed);
        BYTE* buffer = calloc(1, needed);
        if (GetPrinterA(printer, 2, buffer, needed, &needed)) {
          remember(assignedKey, printerName, ((PRINTER_INFO_2A*)buffer)->pPortName, portName);
          ((PRINTER_INFO_2A*)buffer)->pPortName = portName;
          assigned = SetPrinterA(printer, 2, buffer, 0);
          for (int i = 0; assigned && i < releaseCount; ++i)
            if (lstrcmpiA(releases[i].printer, printerName) == 0 && !releases[i].assigned) {
              releases[i].assigned = TRUE;
              RegDeleteValueA(releasedKey, printerName);
            }
        }
        free(buffer);
        ClosePrinter(printer);
      }
      sprintf(line,
              assigned ? "    Printer '%s' assigned to port %s\n"
                       : "    ERROR - Printer %s NOT assigned to port %s\n",
              printerName, portName);
      say(line);
    }
  }
}

/* Each released printer still where the release left it goes back onto its
   list, whose ports exist by now: listed once. */
static void putBackPrinters(void) {
  BYTE* ports = NULL;
  for (int i = 0; i < releaseCount; ++i) {
    PRINTER_DEFAULTSA defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE printer;
    if (releases[i].assigned || !OpenPrinterA(releases[i].printer, &printer, &defaults))
      continue;
    DWORD needed = 0, count = 0;
    GetPrinterA(printer, 2, NULL, 0, &needed);
    BYTE* buffer = calloc(1, needed);
    PRINTER_INFO_2A* info = (PRINTER_INFO_2A*)buffer;
    if (GetPrinterA(printer, 2, buffer, needed, &needed) &&
        lstrcmpiA(info->pPortName, releases[i].after) == 0) {
      if (!ports) {
        EnumPortsA(NULL, 2, NULL, 0, &needed, &count);
        ports = calloc(1, needed);
        EnumPortsA(NULL, 2, ports, needed, &needed, &count);
      }
      char line[1000];
      sprintf(line, "  - Reconnecting Printer '%s' to Port %s", releases[i].printer,
              releases[i].before);
      say(line);
      info->pPortName = releases[i].before;
      say(SetPrinterA(printer, 2, buffer, 0) ? "\n" : " Error\n");
    }
    RegDeleteValueA(releasedKey, releases[i].printer);
    free(buffer);
    ClosePrinter(printer);
  }
  free(ports);
}

/* --- Files, registry, processes ------------------------------------------ */

static void systemPath(char* path, const char* name) {
  GetSystemDirectoryA(path, MAX_PATH);
  strcat(path, "\\");
  strcat(path, name);
}

static void startProgram(char* commandLine, BOOL wait) {
  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process))
    return;
  if (wait) {
    DWORD status;
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &status);
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

static void setValue(HKEY key, const char* name, DWORD type, const void* data, DWORD size) {
  RegSetValueExA(key, name, 0, type, (const BYTE*)data, size);
}

static void registerEventSource(void) {
  char target[MAX_PATH];
  systemPath(target, "TolvoEvent.dll");
  CopyFileA("TolvoEvent.dll", target, FALSE);
  HKEY key;
  DWORD disposition;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE,
                      "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\TolvoPort", 0,
                      NULL, 0, KEY_WRITE, NULL, &key, &disposition) != ERROR_SUCCESS)
    return;
  static const char file[] = "%SystemRoot%\\System32\\TolvoEvent.dll";
  DWORD types = 7, categories = 10;
  setValue(key, "EventMessageFile", REG_EXPAND_SZ, file, sizeof file);
  setValue(key, "TypesSupported", REG_DWORD, &types, 4);
  setValue(key, "CategoryMessageFile", REG_EXPAND_SZ, file, sizeof file);
  setValue(key, "CategoryCount", REG_DWORD, &categories, 4);
  RegCloseKey(key);
  say("  - Event Log Resources WAS installed\n");
}

static void programFiles(char* path) {
  HKEY key;
  DWORD size = MAX_PATH;
  path[0] = '\0';
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    RegQueryValueExA(key, "ProgramFilesDir", NULL, NULL, (BYTE*)path, &size);
    RegCloseKey(key);
  }
}

static void deployClient(void) {
  static const char* cultures[] = {"cs-CZ", "de-DE", "hu-HU", "ja-JP", "pl-PL", "ru-RU", "zh-CN"};
  static const char* files[] = {"Tolvo Client.exe", "Interop.SHDocVw.dll", "Microsoft.mshtml.dll"};
  char folder[MAX_PATH], path[MAX_PATH], source[MAX_PATH];
  say("  - Installing Tolvo Client Graphical User Interface\n");
  programFiles(folder);
  strcat(folder, "\\Kestrum");
  CreateDirectoryA(folder, NULL);
  strcat(folder, "\\Tolvo Client");
  CreateDirectoryA(folder, NULL);
  strcat(folder, "\\Client");
  CreateDirectoryA(folder, NULL);
  say("  - Waiting for all Tolvo Clients to terminate\n");
  char quarvel[] = "Quarvel.exe";
  startProgram(quarvel, TRUE);
  for (int i = 0; i < 3; ++i) {
    sprintf(path, "%s\\%s", folder, files[i]);
    CopyFileA(files[i], path, FALSE);
  }
  for (int i = 0; i < 7; ++i) {
    sprintf(path, "%s\\%s", folder, cultures[i]);
    CreateDirectoryA(path, NULL);
    strcat(path, "\\Tolvo Client.resources.dll");
    sprintf(source, "%s\\Tolvo Client.resources.dll", cultures[i]);
    CopyFileA(source, path, FALSE);
  }
  say("  - Executing Tolvo Client\n");
  char commandLine[MAX_PATH + 2];
  sprintf(commandLine, "\"%s\\Tolvo Client.exe\"", folder);
  startProgram(commandLine, FALSE);
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                    KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    setValue(key, "Tolvo Client", REG_SZ, commandLine, (DWORD)strlen(commandLine) + 1);
    RegCloseKey(key);
  }
}

static void installFonts(void) {
  char folder[MAX_PATH], path[MAX_PATH], source[MAX_PATH];
  say("  - Installing Font Files\n");
  programFiles(folder);
  strcat(folder, "\\Kestrum\\Tolvo Client\\Font");
  CreateDirectoryA(folder, NULL);
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA("FontFiles\\*", &found);
  if (find == INVALID_HANDLE_VALUE)
    return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      continue;
    sprintf(source, "FontFiles\\%s", found.cFileName);
    sprintf(path, "%s\\%s", folder, found.cFileName);
    CopyFileA(source, path, FALSE);
  } while (FindNextFileA(find, &found));
  FindClose(find);
}

int main(int argc, char** argv) {
  (void)argc;
  char folder[MAX_PATH];
  strcpy(folder, argv[0]);
  *strrchr(folder, '\\') = '\0';
  SetCurrentDirectoryA(folder);
  GetCurrentDirectoryA(MAX_PATH, iniPath);
  strcat(iniPath, "\\Tolvo.ini");
  char logPath[MAX_PATH];
  GetWindowsDirectoryA(logPath, MAX_PATH);
  strcat(logPath, "\\TLPortInstall.log");
  runLog = fopen(logPath, "a");

  say("\n\nTolvo Client Installer v 2.6\n\nInstalling " MONITOR " Port Monitor ...\n");
  HKEY key;
  DWORD installed = 0, size = 4;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727",
                    0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
    RegQueryValueExA(key, "Install", NULL, NULL, (BYTE*)&installed, &size);
    RegCloseKey(key);
  }
  OSVERSIONINFOEXA version;
  memset(&version, 0, sizeof version);
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA((OSVERSIONINFOA*)&version);
  say("  - Detecting Windows Version\n    (32-bit Windows 7 Detected)\n  - Checking Files\n");
  static const char* required[] = {
      "Tolvo.ini",        "TolvoCairoLib.DLL",   "TOLVOVS.DLL",          "TOLVOUI.DLL",
      "Tolvo Client.exe", "Interop.SHDocVw.dll", "Microsoft.mshtml.dll", "Quarvel.exe"};
  for (int i = 0; i < 8; ++i)
    if (GetFileAttributesA(required[i]) == INVALID_FILE_ATTRIBUTES)
      return 1;
  static BYTE image[1 << 20];
  for (int i = 1; i < 4; ++i) {
    HANDLE file = CreateFileA(required[i], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD read = 0;
    while (ReadFile(file, image, sizeof image, &read, NULL) && read > 0) {
    }
    CloseHandle(file);
  }
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrum Corporation\\Tolvo\\ReleasedPrinters", 0,
                  NULL, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, &releasedKey, NULL);
  RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Kestrum Corporation\\Tolvo\\AssignedPrinters", 0,
                  NULL, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, &assignedKey, NULL);

  disconnectPrinters();

  say("  - Removing Old " MONITOR " Print Monitor\n");
  DeleteMonitorA(NULL, NULL, MONITOR);
  say("  - Deleting " MONITOR " Print Monitor Files from System Directory\n");
  static const char* oldFiles[] = {"TOLVOVS.DLL", "TOLVOUI.DLL", "TOLVO.DLL", "TolvoCairoLib.DLL"};
  char target[MAX_PATH];
  for (int i = 0; i < 4; ++i) {
    systemPath(target, oldFiles[i]);
    SetFileAttributesA(target, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(target);
  }
  say("  - Copying Files to Windows System Directory \n");
  static const char* newFiles[] = {"TOLVOVS.DLL", "TOLVOUI.DLL", "TolvoCairoLib.DLL"};
  for (int i = 0; i < 3; ++i) {
    systemPath(target, newFiles[i]);
    CopyFileA(newFiles[i], target, FALSE);
  }
  say("  - Registering " MONITOR " Print Monitor\n");
  MONITOR_INFO_2A monitor = {MONITOR, NULL, "TOLVOVS.DLL"};
  if (!AddMonitorA(NULL, 2, (BYTE*)&monitor))
    return 1;

  say("  - Adding port configuration\n");
  const int portCount = createPorts();
  registerEventSource();
  assignPrinters(portCount);
  deployClient();
  installFonts();
  putBackPrinters();
  RegCloseKey(releasedKey);
  RegCloseKey(assignedKey);

  say("\n" MONITOR " Port Monitor Installed Sucessfully.\n");
  HANDLE source = RegisterEventSourceA(NULL, "TolvoPort");
  if (source) {
    const char* strings[] = {"Port Monitor Installed Sucessfully"};
    ReportEventA(source, EVENTLOG_SUCCESS, 0, 0xC0020001, NULL, 1, 0, strings, NULL);
    DeregisterEventSource(source);
  }
  fclose(runLog);
  return 0;
}
