#include "winenv/installation_lock.h"

namespace tolvo {

namespace {

// Both editions change the same spooler: they share one name.
constexpr const char* kName = "Global\\Kestrum Tolvo Installation";

}  // namespace

LockResult InstallationLock::Take() {
  const LockResult opened = Open();
  if (opened != LockResult::Taken) {
    mutex_.reset();
    return opened;
  }
  switch (api_.WaitForSingleObject(mutex_.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder ended without giving it back
      ownership_.reset(mutex_.get());
      return LockResult::Taken;
    case WAIT_TIMEOUT:
      mutex_.reset();
      return LockResult::Busy;
    default:
      return Failed(api_.GetLastError());
  }
}

LockResult InstallationLock::Open() {
  const UniqueLocal security = MakeAdministratorsOnlySecurity(api_);
  if (!security) {
    return Failed(api_.GetLastError());
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.get(), FALSE};
  mutex_.reset(api_.CreateMutexA(&attributes, FALSE, kName));
  if (!mutex_) {
    const DWORD error = api_.GetLastError();
    // An object of another type under the name, or a mutex whose security
    // leaves the administrators out: neither is an installation's.
    if (error == ERROR_INVALID_HANDLE || error == ERROR_ACCESS_DENIED) {
      return LockResult::Squatted;
    }
    return Failed(error);
  }
  // Only the administrators and the local system account can make either
  // the owner of what they create; a user's mutex belongs to that user.
  PSID owner = nullptr;
  UniqueLocal descriptor(api_);
  const DWORD status =
      api_.GetSecurityInfo(mutex_.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &owner,
                           nullptr, nullptr, nullptr, descriptor.put());
  if (status != ERROR_SUCCESS) {
    return Failed(status);
  }
  if (!api_.IsWellKnownSid(owner, WinBuiltinAdministratorsSid) &&
      !api_.IsWellKnownSid(owner, WinLocalSystemSid)) {
    return LockResult::Squatted;
  }
  return LockResult::Taken;
}

LockResult InstallationLock::Failed(DWORD error) {
  error_ = error;
  mutex_.reset();
  return LockResult::Failed;
}

}  // namespace tolvo
