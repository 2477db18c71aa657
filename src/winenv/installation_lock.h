// One installation at a time on a machine. Two runs that interleave leave
// the spooler's monitors, ports and printers in a state neither meant, so
// every run that changes the machine first takes a machine-wide named
// mutex and holds it until its work is done.
//
// Only administrators and the local system account may make or hold it:
// the mutex is made with kAdministratorsOnlySecurity, and one found under
// the name is the lock only when its whole descriptor says so: owned by
// one of them, and granting nothing to anyone else. Any user can make an
// object of that name first (a denial of service that Windows allows);
// such a squatted name is told apart from a running installation, and
// never answered with a lock of lesser reach.
#pragma once

#include <string_view>

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

enum class LockResult {
  Taken,         // this run holds the lock (also when a killed run had left it)
  Busy,          // another installation holds it
  Squatted,      // the name is taken by something that is not the lock: an
                 // object of another type, or a mutex that others than the
                 // administrators and the local system account own or reach
  OtherAccount,  // the name is taken by an object this account may not
                 // open: an installation under an account this run is
                 // not (the local system account, an administrator while
                 // this run lacks the rights), or an earlier version's
  Failed,        // the lock could not be made, checked or waited for: error()
};

class InstallationLock {
 public:
  explicit InstallationLock(WinApi& api) : api_(api), mutex_(api), ownership_(api) {}

  // Takes the lock without waiting. Also answers whether an installation is
  // running (Busy), for a caller that gives it back at once.
  LockResult Take();
  // The Windows error that made Take fail.
  DWORD error() const { return error_; }
  // Gives the lock back; nothing when it is not held. The destructor does
  // the same.
  void Release() {
    ownership_.reset();
    mutex_.reset();
  }

 private:
  // Makes or opens the mutex and checks whose it is: Taken when it is the
  // lock, whether held or not.
  LockResult Open();
  // Whether the opened mutex's descriptor is the lock's.
  LockResult CheckDescriptor();
  LockResult Failed(DWORD error);

  WinApi& api_;
  UniqueKernelHandle mutex_;
  // Declared after the handle, so that the mutex is given back before its
  // handle closes.
  UniqueMutexOwnership ownership_;
  DWORD error_ = ERROR_SUCCESS;
};

}  // namespace tolvo
