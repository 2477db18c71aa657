/*
 * Stand-in Tolvo port monitor.
 *
 * The least of a print port monitor that the installer relies on: ports are
 * added, given their 10032-byte port-data record and deleted through the
 * spooler's transaction channel (XcvDataW on ",XcvMonitor <name>"), and
 * listed through EnumPorts. Print jobs sent to a port are accepted and
 * discarded.
 *
 * Each port is a registry key under the monitor's own key,
 * HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\<name>\Ports\<port>,
 * whose REG_BINARY value "PortData" holds the last record written, so a test
 * can read it back. The registry is used directly: the helper functions that
 * MONITORINIT offers for the monitor's key are not implemented everywhere.
 *
 * The monitor's name comes from the build (TOLVO_MONITOR_NAME), so one
 * source gives the DLLs of both editions.
 */
#include <windows.h>
#include <winsplp.h>
#include <winspool.h>

#ifndef TOLVO_MONITOR_NAME
#error "TOLVO_MONITOR_NAME must name the monitor, for example \"Tolvo\""
#endif

#define TOLVO_WIDEN_(text) L##text
#define TOLVO_WIDEN(text) TOLVO_WIDEN_(text)

static const WCHAR kMonitorName[] = TOLVO_WIDEN(TOLVO_MONITOR_NAME);
static const WCHAR kPortsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\" TOLVO_WIDEN(
        TOLVO_MONITOR_NAME) L"\\Ports";
static const WCHAR kPortDataValue[] = L"PortData";
static const WCHAR kPortDescription[] = L"Tolvo Port";

enum {
  kPortDataSize = 10032,      /* the record that "SetPortData" carries */
  kPortNameOffset = 10012,    /* where the record holds the port's name */
  kPortNameSlotUnits = 10,    /* 9 name units and the reserved zero unit */
  kMaxPortNameUnits = 63,     /* longest port name this monitor accepts */
  kMaxRegistryKeyUnits = 256, /* longest key name the registry returns */
  kXcvMagic = 0x76635854,     /* "TXcv" */
  kPortMagic = 0x74725054     /* "TPrt" */
};

typedef struct XcvHandle {
  DWORD magic;
  ACCESS_MASK grantedAccess;
} XcvHandle;

typedef struct PortHandle {
  DWORD magic;
  WCHAR name[kMaxPortNameUnits + 1];
} PortHandle;

/* --- Small helpers ------------------------------------------------------ */

static void* AllocateZeroed(SIZE_T bytes) {
  return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bytes);
}

static void Release(void* block) {
  if (block != NULL) {
    HeapFree(GetProcessHeap(), 0, block);
  }
}

static SIZE_T WideLength(const WCHAR* text) {
  SIZE_T length = 0;
  while (text[length] != 0) {
    ++length;
  }
  return length;
}

/* A port name is 1 to kMaxPortNameUnits units with no backslash, which
 * would reach into another registry key. */
static BOOL IsValidPortName(const WCHAR* name) {
  SIZE_T length = 0;
  for (; name[length] != 0; ++length) {
    if (length >= kMaxPortNameUnits || name[length] == L'\\' || name[length] < 0x20) {
      return FALSE;
    }
  }
  return length > 0;
}

/* Reads a zero-terminated little-endian UTF-16 text of at most `maxUnits`
 * units (terminator included) from `bytes` into `name`. */
static BOOL ReadWideName(const BYTE* bytes, DWORD byteCount, DWORD maxUnits, WCHAR* name) {
  DWORD unit;
  if (bytes == NULL) {
    return FALSE;
  }
  for (unit = 0; unit < maxUnits && (unit + 1) * 2 <= byteCount; ++unit) {
    const WCHAR value = (WCHAR)(bytes[unit * 2] | (bytes[unit * 2 + 1] << 8));
    name[unit] = value;
    if (value == 0) {
      return IsValidPortName(name);
    }
  }
  return FALSE; /* no terminator inside the input */
}

/* Builds "<ports key>\<port>" into `path`. */
static void PortKeyPath(const WCHAR* port, WCHAR* path, SIZE_T pathUnits) {
  SIZE_T length = 0;
  SIZE_T i;
  for (i = 0; kPortsKey[i] != 0 && length + 1 < pathUnits; ++i) {
    path[length++] = kPortsKey[i];
  }
  if (length + 1 < pathUnits) {
    path[length++] = L'\\';
  }
  for (i = 0; port[i] != 0 && length + 1 < pathUnits; ++i) {
    path[length++] = port[i];
  }
  path[length] = 0;
}

enum { kPortKeyPathUnits = sizeof(kPortsKey) / sizeof(WCHAR) + 1 + kMaxPortNameUnits + 1 };

static BOOL PortExists(const WCHAR* port) {
  WCHAR path[kPortKeyPathUnits];
  HKEY key = NULL;
  PortKeyPath(port, path, kPortKeyPathUnits);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return FALSE;
  }
  RegCloseKey(key);
  return TRUE;
}

/* --- Transaction commands ------------------------------------------------ */

static DWORD AddPortCommand(const BYTE* input, DWORD inputSize) {
  WCHAR port[kMaxPortNameUnits + 1];
  WCHAR path[kPortKeyPathUnits];
  HKEY key = NULL;
  DWORD disposition = 0;
  LONG result;
  if (!ReadWideName(input, inputSize, kMaxPortNameUnits + 1, port)) {
    return ERROR_INVALID_PARAMETER;
  }
  PortKeyPath(port, path, kPortKeyPathUnits);
  result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, NULL, REG_OPTION_NON_VOLATILE,
                           KEY_READ | KEY_WRITE, NULL, &key, &disposition);
  if (result != ERROR_SUCCESS) {
    return (DWORD)result;
  }
  RegCloseKey(key);
  return disposition == REG_OPENED_EXISTING_KEY ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS;
}

static DWORD SetPortDataCommand(const BYTE* input, DWORD inputSize) {
  WCHAR port[kPortNameSlotUnits + 1];
  WCHAR path[kPortKeyPathUnits];
  HKEY key = NULL;
  LONG result;
  if (input == NULL || inputSize != kPortDataSize) {
    return ERROR_INVALID_PARAMETER;
  }
  if (!ReadWideName(input + kPortNameOffset, inputSize - kPortNameOffset, kPortNameSlotUnits,
                    port)) {
    return ERROR_INVALID_PARAMETER;
  }
  PortKeyPath(port, path, kPortKeyPathUnits);
  result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key);
  if (result == ERROR_FILE_NOT_FOUND) {
    return ERROR_UNKNOWN_PORT;
  }
  if (result != ERROR_SUCCESS) {
    return (DWORD)result;
  }
  result = RegSetValueExW(key, kPortDataValue, 0, REG_BINARY, input, inputSize);
  RegCloseKey(key);
  return (DWORD)result;
}

static DWORD DeletePortCommand(const BYTE* input, DWORD inputSize) {
  WCHAR port[kMaxPortNameUnits + 1];
  HKEY ports = NULL;
  LONG result;
  if (!ReadWideName(input, inputSize, kMaxPortNameUnits + 1, port)) {
    return ERROR_INVALID_PARAMETER;
  }
  result = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ | KEY_WRITE, &ports);
  if (result == ERROR_FILE_NOT_FOUND) {
    return ERROR_UNKNOWN_PORT;
  }
  if (result != ERROR_SUCCESS) {
    return (DWORD)result;
  }
  result = RegDeleteKeyW(ports, port);
  RegCloseKey(ports);
  if (result == ERROR_FILE_NOT_FOUND) {
    return ERROR_UNKNOWN_PORT;
  }
  return (DWORD)result;
}

static BOOL WINAPI TolvoXcvOpenPort(HANDLE monitor, LPCWSTR object, ACCESS_MASK grantedAccess,
                                    PHANDLE xcv) {
  XcvHandle* handle;
  (void)monitor;
  (void)object;
  if (xcv == NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  handle = (XcvHandle*)AllocateZeroed(sizeof(XcvHandle));
  if (handle == NULL) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  handle->magic = kXcvMagic;
  handle->grantedAccess = grantedAccess;
  *xcv = handle;
  return TRUE;
}

static DWORD WINAPI TolvoXcvDataPort(HANDLE xcv, LPCWSTR dataName, PBYTE inputData, DWORD inputSize,
                                     PBYTE outputData, DWORD outputSize, PDWORD outputNeeded) {
  const XcvHandle* handle = (const XcvHandle*)xcv;
  (void)outputData;
  (void)outputSize;
  if (outputNeeded != NULL) {
    *outputNeeded = 0;
  }
  if (handle == NULL || handle->magic != kXcvMagic || dataName == NULL) {
    return ERROR_INVALID_HANDLE;
  }
  if (lstrcmpW(dataName, L"AddPort") == 0 || lstrcmpW(dataName, L"SetPortData") == 0 ||
      lstrcmpW(dataName, L"DeletePort") == 0) {
    if ((handle->grantedAccess & SERVER_ACCESS_ADMINISTER) == 0) {
      return ERROR_ACCESS_DENIED;
    }
  }
  if (lstrcmpW(dataName, L"AddPort") == 0) {
    return AddPortCommand(inputData, inputSize);
  }
  if (lstrcmpW(dataName, L"SetPortData") == 0) {
    return SetPortDataCommand(inputData, inputSize);
  }
  if (lstrcmpW(dataName, L"DeletePort") == 0) {
    return DeletePortCommand(inputData, inputSize);
  }
  return ERROR_INVALID_PARAMETER;
}

static BOOL WINAPI TolvoXcvClosePort(HANDLE xcv) {
  XcvHandle* handle = (XcvHandle*)xcv;
  if (handle == NULL || handle->magic != kXcvMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  handle->magic = 0;
  Release(handle);
  return TRUE;
}

/* --- Port listing -------------------------------------------------------- */

/* The names of all ports, packed one after another with their terminators,
 * in a block the caller releases. */
typedef struct PortNames {
  WCHAR* text;
  DWORD count;
  SIZE_T units;
} PortNames;

static BOOL CollectPortNames(PortNames* names) {
  HKEY ports = NULL;
  DWORD index;
  WCHAR name[kMaxRegistryKeyUnits];
  DWORD nameUnits;
  SIZE_T capacity = 0;
  names->text = NULL;
  names->count = 0;
  names->units = 0;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPortsKey, 0, KEY_READ, &ports) != ERROR_SUCCESS) {
    return TRUE; /* no port was ever added */
  }
  for (index = 0;; ++index) {
    LONG result;
    nameUnits = kMaxRegistryKeyUnits;
    result = RegEnumKeyExW(ports, index, name, &nameUnits, NULL, NULL, NULL, NULL);
    if (result == ERROR_NO_MORE_ITEMS) {
      break;
    }
    if (result != ERROR_SUCCESS) {
      continue;
    }
    if (names->units + nameUnits + 1 > capacity) {
      SIZE_T grown = capacity == 0 ? 512 : capacity * 2;
      WCHAR* larger;
      while (grown < names->units + nameUnits + 1) {
        grown *= 2;
      }
      larger = (WCHAR*)AllocateZeroed(grown * sizeof(WCHAR));
      if (larger == NULL) {
        RegCloseKey(ports);
        Release(names->text);
        names->text = NULL;
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
      }
      if (names->text != NULL) {
        CopyMemory(larger, names->text, names->units * sizeof(WCHAR));
        Release(names->text);
      }
      names->text = larger;
      capacity = grown;
    }
    CopyMemory(names->text + names->units, name, nameUnits * sizeof(WCHAR));
    names->text[names->units + nameUnits] = 0;
    names->units += nameUnits + 1;
    ++names->count;
  }
  RegCloseKey(ports);
  return TRUE;
}

/* Copies `text` just below `*stringEnd`, as the spooler lays out strings
 * from the end of the caller's buffer, and returns where it landed. */
static LPWSTR PlaceString(BYTE** stringEnd, const WCHAR* text) {
  const SIZE_T bytes = (WideLength(text) + 1) * sizeof(WCHAR);
  *stringEnd -= bytes;
  CopyMemory(*stringEnd, text, bytes);
  return (LPWSTR)*stringEnd;
}

static BOOL WINAPI TolvoEnumPorts(HANDLE monitor, LPWSTR name, DWORD level, LPBYTE ports,
                                  DWORD bufferSize, LPDWORD needed, LPDWORD returned) {
  PortNames names;
  const SIZE_T recordSize = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
  const SIZE_T fixedStrings =
      level == 2 ? (WideLength(kMonitorName) + 1 + WideLength(kPortDescription) + 1) * sizeof(WCHAR)
                 : 0;
  SIZE_T required;
  DWORD index;
  const WCHAR* port;
  BYTE* stringEnd;
  (void)monitor;
  (void)name;
  if (needed == NULL || returned == NULL) {
    SetLastError(RPC_X_NULL_REF_POINTER);
    return FALSE;
  }
  *needed = 0;
  *returned = 0;
  if (level != 1 && level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (!CollectPortNames(&names)) {
    return FALSE;
  }
  required = names.count * (recordSize + fixedStrings) + names.units * sizeof(WCHAR);
  *needed = (DWORD)required;
  if (ports == NULL || bufferSize < required) {
    Release(names.text);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  stringEnd = ports + required;
  port = names.text;
  for (index = 0; index < names.count; ++index) {
    if (level == 1) {
      PORT_INFO_1W* info = (PORT_INFO_1W*)(ports + index * recordSize);
      info->pName = PlaceString(&stringEnd, port);
    } else {
      PORT_INFO_2W* info = (PORT_INFO_2W*)(ports + index * recordSize);
      info->pPortName = PlaceString(&stringEnd, port);
      info->pMonitorName = PlaceString(&stringEnd, kMonitorName);
      info->pDescription = PlaceString(&stringEnd, kPortDescription);
      info->fPortType = PORT_TYPE_WRITE;
      info->Reserved = 0;
    }
    port += WideLength(port) + 1;
  }
  *returned = names.count;
  Release(names.text);
  return TRUE;
}

/* --- Printing: accepted and discarded ------------------------------------ */

static BOOL WINAPI TolvoOpenPort(HANDLE monitor, LPWSTR name, PHANDLE handle) {
  PortHandle* port;
  (void)monitor;
  if (name == NULL || handle == NULL || !IsValidPortName(name) || !PortExists(name)) {
    SetLastError(ERROR_UNKNOWN_PORT);
    return FALSE;
  }
  port = (PortHandle*)AllocateZeroed(sizeof(PortHandle));
  if (port == NULL) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  port->magic = kPortMagic;
  CopyMemory(port->name, name, (WideLength(name) + 1) * sizeof(WCHAR));
  *handle = port;
  return TRUE;
}

static BOOL IsPortHandle(HANDLE handle) {
  const PortHandle* port = (const PortHandle*)handle;
  if (port == NULL || port->magic != kPortMagic) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

static BOOL WINAPI TolvoClosePort(HANDLE handle) {
  PortHandle* port = (PortHandle*)handle;
  if (!IsPortHandle(handle)) {
    return FALSE;
  }
  port->magic = 0;
  Release(port);
  return TRUE;
}

static BOOL WINAPI TolvoStartDocPort(HANDLE handle, LPWSTR printerName, DWORD jobId, DWORD level,
                                     LPBYTE docInfo) {
  (void)printerName;
  (void)jobId;
  (void)level;
  (void)docInfo;
  return IsPortHandle(handle);
}

static BOOL WINAPI TolvoWritePort(HANDLE handle, LPBYTE buffer, DWORD bufferSize, LPDWORD written) {
  (void)buffer;
  if (!IsPortHandle(handle) || written == NULL) {
    return FALSE;
  }
  *written = bufferSize;
  return TRUE;
}

static BOOL WINAPI TolvoReadPort(HANDLE handle, LPBYTE buffer, DWORD bufferSize, LPDWORD read) {
  (void)buffer;
  (void)bufferSize;
  if (!IsPortHandle(handle) || read == NULL) {
    return FALSE;
  }
  *read = 0;
  return TRUE;
}

static BOOL WINAPI TolvoEndDocPort(HANDLE handle) {
  return IsPortHandle(handle);
}

static VOID WINAPI TolvoShutdown(HANDLE monitor) {
  (void)monitor;
}

/* --- Entry point ---------------------------------------------------------- */

/* Filled at load time and never changed. */
static MONITOR2 monitorFunctions = {
    .cbSize = sizeof(MONITOR2),
    .pfnEnumPorts = TolvoEnumPorts,
    .pfnOpenPort = TolvoOpenPort,
    .pfnStartDocPort = TolvoStartDocPort,
    .pfnWritePort = TolvoWritePort,
    .pfnReadPort = TolvoReadPort,
    .pfnEndDocPort = TolvoEndDocPort,
    .pfnClosePort = TolvoClosePort,
    .pfnXcvOpenPort = TolvoXcvOpenPort,
    .pfnXcvDataPort = TolvoXcvDataPort,
    .pfnXcvClosePort = TolvoXcvClosePort,
    .pfnShutdown = TolvoShutdown,
};

__declspec(dllexport) LPMONITOR2 WINAPI
    InitializePrintMonitor2(PMONITORINIT init, PHANDLE monitor) {
  (void)init;
  if (monitor == NULL) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return NULL;
  }
  *monitor = (HANDLE)&monitorFunctions;
  return &monitorFunctions;
}
