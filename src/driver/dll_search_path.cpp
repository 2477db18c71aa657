#include "driver/dll_search_path.h"

namespace tolvo {

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, which the headers for Windows XP do not
// declare.
constexpr DWORD kLoadLibrarySearchSystem32 = 0x00000800;

bool SearchSystemDirectoryOnly(WinApi& api, HMODULE kernel32) {
  return api.HasEntryPoint(kernel32, WinApi::EntryPoint::kSetDefaultDllDirectories) &&
         api.SetDefaultDllDirectories(kLoadLibrarySearchSystem32) != FALSE;
}

// An empty string, unlike a null pointer, takes the current directory out of
// the search path rather than restoring the default one.
bool RemoveCurrentDirectory(WinApi& api, HMODULE kernel32) {
  return api.HasEntryPoint(kernel32, WinApi::EntryPoint::kSetDllDirectoryA) &&
         api.SetDllDirectoryA("") != FALSE;
}

}  // namespace

DllSearchRestriction RestrictDllSearchPath(WinApi& api) {
  const HMODULE kernel32 = api.GetModuleHandleA("kernel32.dll");
  if (kernel32 == nullptr) {
    return DllSearchRestriction::kUnchanged;
  }
  if (SearchSystemDirectoryOnly(api, kernel32)) {
    return DllSearchRestriction::kSystemDirectoryOnly;
  }
  // A system that has the newer call but refuses it still gets the older
  // protection.
  if (RemoveCurrentDirectory(api, kernel32)) {
    return DllSearchRestriction::kCurrentDirectoryRemoved;
  }
  return DllSearchRestriction::kUnchanged;
}

}  // namespace tolvo
