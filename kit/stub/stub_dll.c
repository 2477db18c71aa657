/*
 * Stand-in for the product's libraries that the installer only checks,
 * copies and deletes: the monitor's interface DLLs, its graphics libraries,
 * the client's interop assemblies and its language resources. Any valid DLL
 * of the right bitness serves; this one does nothing when loaded.
 */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

/* Names the stand-in, so a test can tell which file it loaded. */
__declspec(dllexport) const char* WINAPI TolvoStandInName(void) {
  return TOLVO_STAND_IN_NAME;
}
