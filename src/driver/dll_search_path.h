// Narrowing where Windows looks for DLLs loaded by bare name.
#pragma once

#include "platform/win_api.h"

namespace tolvo {

// What RestrictDllSearchPath managed to do.
enum class DllSearchRestriction {
  kSystemDirectoryOnly,      // SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)
  kCurrentDirectoryRemoved,  // SetDllDirectoryA("")
  kUnchanged,                // neither is available, or the call failed
};

// The installer runs elevated from a folder that others may be able to write
// to: a DLL that Windows does not protect as a Known DLL and that is loaded
// by bare name (by Windows itself on the installer's behalf, or by a system
// DLL's own delay-loaded imports) would be looked for there first.
//
// Where the system offers it, the default search path becomes the system
// directory alone; where only SetDllDirectoryA exists (Windows XP SP1 to
// Windows 7 without the loader update), the current directory is at least
// removed from it. Both are looked up at run time, so that the program
// still starts on systems that have neither.
//
// Nothing takes the program's own folder out of the search on those older
// systems, and a DLL planted there may load while Windows starts the
// program, before any check. That folder is the product folder: an
// installation refuses it before its first change when an account short of
// an administrator may change it (KitFilesGuarded), and the folder must be
// one only administrators can write in the first place.
DllSearchRestriction RestrictDllSearchPath(WinApi& api);

}  // namespace tolvo
