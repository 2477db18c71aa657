/*
 * Stand-in for "Quarvel.exe": ends every running stand-in client of the
 * session and waits until none is left.
 *
 * Exit status 0 when no client is running any more, 1 when some client is
 * still running after the wait.
 */
#include <stdio.h>
#include <windows.h>

#include "client_signals.h"

enum { kPollIntervalMs = 50, kPollCount = 200 /* 10 seconds */ };

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

int main(void) {
  HANDLE stop = OpenEventW(EVENT_MODIFY_STATE, FALSE, TOLVO_CLIENT_STOP_EVENT);
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
