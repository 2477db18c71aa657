/*
 * Stand-in for "Quarvel.exe": ends every running stand-in client of the
 * session and waits until none is left.
 *
 * Exit status 0 when no client is running any more, 1 when some client is
 * still running after the wait.
 *
 * The presence mutex goes away when a client closes it, a moment before its
 * process has ended and its executable is free to be replaced; so the tool
 * also waits for the client processes themselves.
 */
#include <stdio.h>
#include <windows.h>
#include <tlhelp32.h>

#include "client_signals.h"

enum {
  kPollIntervalMs = 50,
  kPollCount = 200, /* 10 seconds */
  kMaxClients = 64
};

static const WCHAR kClientExe[] = L"Tolvo Client.exe";

/* True when a client still holds the presence mutex. A mutex that exists
 * but cannot be opened counts as a client still running. */
static BOOL ClientRunning(void) {
  HANDLE presence = OpenMutexW(SYNCHRONIZE, FALSE, TOLVO_CLIENT_PRESENCE_MUTEX);
  if (presence == NULL) {
    return GetLastError() != ERROR_FILE_NOT_FOUND;
  }
  CloseHandle(presence);
  return TRUE;
}

/* Opens every running client process for waiting; returns how many. */
static DWORD OpenClientProcesses(HANDLE* processes, DWORD capacity) {
  DWORD count = 0;
  PROCESSENTRY32W entry;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    return 0;
  }
  entry.dwSize = sizeof entry;
  if (Process32FirstW(snapshot, &entry)) {
    do {
      if (count < capacity && lstrcmpiW(entry.szExeFile, kClientExe) == 0) {
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process != NULL) {
          processes[count++] = process;
        }
      }
    } while (Process32NextW(snapshot, &entry));
  }
  CloseHandle(snapshot);
  return count;
}

int main(void) {
  HANDLE clients[kMaxClients];
  const DWORD clientCount = OpenClientProcesses(clients, kMaxClients);
  HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, TOLVO_CLIENT_STOP_EVENT);
  DWORD i;
  int poll;
  int status = 1;

  if (stop != NULL) {
    SetEvent(stop);
  }
  for (poll = 0; poll < kPollCount; ++poll) {
    if (!ClientRunning()) {
      status = 0;
      break;
    }
    Sleep(kPollIntervalMs);
  }
  if (status == 0 && clientCount > 0) {
    /* With all handles awaited, any WAIT_OBJECT_0 + n means all ended. */
    const DWORD waited =
        WaitForMultipleObjects(clientCount, clients, TRUE, kPollCount * kPollIntervalMs);
    if (waited >= WAIT_OBJECT_0 + clientCount) {
      status = 1;
    }
  }
  for (i = 0; i < clientCount; ++i) {
    CloseHandle(clients[i]);
  }
  /* Closing the event lets it vanish once the last client has closed its
   * handle too, so a client started later waits on a fresh, unsignalled
   * event. */
  if (stop != NULL) {
    CloseHandle(stop);
  }
  if (status != 0) {
    fputs("Quarvel: a Tolvo Client is still running\n", stderr);
  }
  return status;
}
