// One installation at a time on a machine. Two runs that interleave leave
// the spooler's monitors, ports and printers in a state neither meant, so
// every run that changes the machine first takes a machine-wide lock and
// holds it until its work is done.
//
// The lock is a file in the Windows folder, kLockFileName, made
// administrators-only and held open with no sharing (Windows closes the
// handle of a killed run). Only administrators and the local system
// account may create a file there (on XP and Server 2003 Power Users may
// too, who can replace the programs administrators run anyway), so an
// account short of them can neither make it first nor open it. A named
// object would not do: any account may make one of any name first.
//
// Earlier versions took a named mutex, kEarlierLockName, made
// administrators-only. While one of them runs, it holds that mutex, so a
// run also takes the mutex when its descriptor is an installation's, and
// is refused when it is held. A mutex of that name that anyone else made
// is passed over: it blocks nothing.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

inline constexpr const char* kLockFileName = "Kestrum Tolvo Installation.lock";
inline constexpr const char* kEarlierLockName = "Global\\Kestrum Tolvo Installation";

enum class LockResult {
  Taken,         // this run holds the lock (also when a killed run had left it)
  Busy,          // an installation holds it: one of this version or an earlier one's
  Squatted,      // the lock file is held by a program that is not an installation: it
                 // is owned by, or open to, an account short of an administrator
  AccessDenied,  // this account may not create or open the lock file: not an
                 // administrator, or something else (a folder) is at its path
  Failed,        // the lock could not be made, checked or waited for: error()
};

class InstallationLock {
 public:
  explicit InstallationLock(WinApi& api)
      : api_(api), file_(api), mutex_(api), ownership_(api), holder_(api) {}

  // Takes the lock without waiting. Also answers whether an installation is
  // running (Busy), for a caller that gives it back at once. A check changes
  // nothing, so it makes no lock file: where there is none, no installation
  // of this version runs, and it holds none.
  enum class Purpose { Change, Check };
  LockResult Take(Purpose purpose = Purpose::Change);
  // The Windows error that made Take fail.
  DWORD error() const { return error_; }
  // The lock file's full path, once Take has asked for it.
  const char* path() const { return path_; }
  // For Squatted: the account the held file lets in ("BUILTIN\Power Users").
  std::string_view squatter() const { return squatter_; }
  // Gives the lock back; nothing when it is not held. The destructor does
  // the same.
  void Release() {
    ownership_.reset();
    mutex_.reset();
    file_.reset();
  }

 private:
  static constexpr std::size_t kPathSize = MAX_PATH + 40;

  // The file, and whether it is the administrators' when it was there.
  LockResult TakeFile(SECURITY_ATTRIBUTES& attributes, Purpose purpose);
  LockResult TakeEarlierMutex(SECURITY_ATTRIBUTES& attributes);
  LockResult Failed(DWORD error);

  WinApi& api_;
  char path_[kPathSize] = {};
  UniqueFile file_;
  UniqueKernelHandle mutex_;
  // Declared after the handle, so that the mutex is given back before its
  // handle closes.
  UniqueMutexOwnership ownership_;
  // A file found at the path: its owner and DACL as SDDL.
  UniqueLocal holder_;
  std::string_view squatter_;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace tolvo
