#include "winenv/installation_lock.h"

namespace tolvo {

namespace {

// Both editions change the same spooler: they share one name.
constexpr const char* kMachineWideName = "Global\\Kestrum Tolvo Installation";
constexpr const char* kSessionName = "Local\\Kestrum Tolvo Installation";

}  // namespace

LockResult InstallationLock::Take() {
  mutex_.reset(api_.CreateMutexA(nullptr, FALSE, kMachineWideName));
  if (!mutex_ && api_.GetLastError() == ERROR_ACCESS_DENIED) {
    // It exists, made by a run under another account (a start-up script or
    // a deployment engine as the local system account) whose default
    // security lets this one only wait on it.
    return LockResult::Busy;
  }
  if (!mutex_) {
    mutex_.reset(api_.CreateMutexA(nullptr, FALSE, kSessionName));
  }
  if (!mutex_) {
    return LockResult::Failed;
  }
  switch (api_.WaitForSingleObject(mutex_.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder ended without giving it back
      held_ = true;
      return LockResult::Taken;
    case WAIT_TIMEOUT:
      mutex_.reset();
      return LockResult::Busy;
    default: {
      const DWORD error = api_.GetLastError();
      mutex_.reset();
      api_.SetLastError(error);
      return LockResult::Failed;
    }
  }
}

void InstallationLock::Release() {
  if (held_) {
    api_.ReleaseMutex(mutex_.get());
    held_ = false;
  }
  mutex_.reset();
}

}  // namespace tolvo
