/*
 * Stand-in for "Tolvo Client.exe", the product's desktop client: a window-
 * less program that stays running until "Quarvel.exe" asks it to end.
 */
#include <windows.h>

#include "client_signals.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  HANDLE stop;
  HANDLE presence;
  (void)instance;
  (void)previous;
  (void)commandLine;
  (void)show;

  /* The stop event first: whoever sees the presence mutex can rely on the
   * event being there to signal. */
  stop = CreateEventW(NULL, TRUE, FALSE, TOLVO_CLIENT_STOP_EVENT);
  if (stop == NULL) {
    return 1;
  }
  presence = CreateMutexW(NULL, FALSE, TOLVO_CLIENT_PRESENCE_MUTEX);
  if (presence == NULL) {
    CloseHandle(stop);
    return 1;
  }

  WaitForSingleObject(stop, INFINITE);

  CloseHandle(presence);
  CloseHandle(stop);
  return 0;
}
