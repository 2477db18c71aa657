// File-system details of the simulated machine beyond the host folder.
//
// Files and folders themselves live in SimWindows' host folder (WriteFile,
// MakeDirectory, Exists ...). This state adds what the host cannot hold:
// the read-only, hidden, system and archive attributes (the host runs as
// root, so its own permissions would not refuse anything), files held open
// by another process, and the open searches.
//
// Paths given to the test-side members are full Windows paths as
// SimWindows::FullPath returns them (pass them through FullPath when they
// may be relative, use "/" or be subject to WOW64 redirection); case does
// not matter.
//
//   sim.fileSystem.SetAttributes(sim.FullPath("C:\\A\\x.dll"), FILE_ATTRIBUTE_READONLY);
//   sim.fileSystem.Lock(sim.FullPath("C:\\Windows\\system32\\TOLVOVS.DLL"));
//
// A locked file is in use: DeleteFileA on it, and CopyFileA onto it, fail
// with ERROR_SHARING_VIOLATION, and "rmdir /S" of a folder holding it fails.
// Open searches are counted as HandleKind::Find, files CreateFileA opened
// (for reading only) as HandleKind::File (SimWindows::OpenCount).
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace tolvo::sim {

struct SimFilesState {
  // --- Test side --------------------------------------------------------------
  // The attribute bits kept for a file or folder: FILE_ATTRIBUTE_READONLY,
  // _HIDDEN, _SYSTEM and _ARCHIVE (other bits are dropped; NORMAL clears).
  void SetAttributes(std::string_view fullPath, DWORD attributes);
  // The bits set with SetAttributes or SetFileAttributesA; a file never
  // given any has FILE_ATTRIBUTE_ARCHIVE, a folder none.
  DWORD StoredAttributes(std::string_view fullPath, bool isDirectory) const;
  void Lock(std::string_view fullPath) { locked.insert(Key(fullPath)); }
  void Unlock(std::string_view fullPath) { locked.erase(Key(fullPath)); }
  bool IsLocked(std::string_view fullPath) const { return locked.count(Key(fullPath)) != 0; }
  // True when the path or anything below it is locked.
  bool AnyLockedAt(std::string_view fullPath) const;

  // --- For the machine's implementation ----------------------------------------
  // Lower-case key of a full path, without a trailing backslash.
  static std::string Key(std::string_view fullPath);
  // Forgets attributes and locks of a path and everything below it.
  void Forget(std::string_view fullPath);
  void CopyAttributes(std::string_view fromFullPath, std::string_view toFullPath);

  std::map<std::string, DWORD> attributes;  // by Key()
  std::set<std::string> locked;             // by Key()
  // The owner and DACL of a file or folder as SDDL, by Key(): what a run
  // log was created with, or what a test set; any other has kDefaultSecurity.
  std::map<std::string, std::string> security;
  // Program Files' and the Windows folder's: the administrators own it, the
  // system and they may do anything, users may read and run.
  static constexpr const char* kDefaultSecurity =
      "O:BAD:(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
  void SetSecurity(std::string_view fullPath, std::string sddl) {
    security[Key(fullPath)] = std::move(sddl);
  }
  // Folders on a file server (or a mapped drive's root), by Key(), with the
  // computer account, as which the server sees the local system account. A
  // run log created there without a descriptor takes the folder's entries
  // ("CO" its creator); an existing one opens for an account they name.
  std::map<std::string, std::string> remoteFolders;
  // Folders and files that a link, junction or second hard link leads
  // elsewhere from, by Key(): the run log is never opened through one.
  std::set<std::string> links;

  // Entries of an open search, taken when the search began.
  struct Search {
    std::vector<WIN32_FIND_DATAA> entries;
    std::size_t next = 0;
  };
  std::map<std::uintptr_t, Search> searches;  // by search handle
  // An open file (CreateFileA reads only): its content, taken at the open.
  struct OpenFile {
    std::string content;
    std::size_t position = 0;
  };
  std::map<std::uintptr_t, OpenFile> openFiles;  // by file handle
};

}  // namespace tolvo::sim
