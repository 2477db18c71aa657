// One installation at a time on a machine. Two runs that interleave leave
// the spooler's monitors, ports and printers in a state neither meant, so
// every run that changes the machine first takes a machine-wide named
// mutex and holds it until its work is done.
#pragma once

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

enum class LockResult {
  Taken,   // this run holds the lock (also when a killed run had left it)
  Busy,    // another run holds it
  Failed,  // the mutex could not be made or waited for; GetLastError says why
};

class InstallationLock {
 public:
  explicit InstallationLock(WinApi& api) : api_(api), mutex_(api) {}
  ~InstallationLock() { Release(); }
  InstallationLock(const InstallationLock&) = delete;
  InstallationLock& operator=(const InstallationLock&) = delete;

  // Takes the lock without waiting: the machine-wide mutex, or a session's
  // own where the machine-wide one cannot be made.
  LockResult Take();
  // Gives the lock back; nothing when it is not held.
  void Release();

 private:
  WinApi& api_;
  UniqueKernelHandle mutex_;
  bool held_ = false;
};

}  // namespace tolvo
