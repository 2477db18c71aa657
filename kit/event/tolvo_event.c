/*
 * TolvoEvent.dll: the message file of the event source "TolvoPort". It holds
 * only its message table (tolvo_event.mc); the code is the least a DLL needs.
 */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
