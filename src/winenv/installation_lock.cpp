#include "winenv/installation_lock.h"

#include "winenv/access_rules.h"

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
    switch (error) {
      case ERROR_INVALID_HANDLE:  // an object of another type
        return LockResult::Squatted;
      case ERROR_ACCESS_DENIED:  // a mutex this account may not open
        return LockResult::OtherAccount;
      default:
        return Failed(error);
    }
  }
  return CheckDescriptor();
}

// Owner and DACL together, as SDDL: a mutex whose owner is right but that
// grants others anything (one made with the restore privilege, say) can
// be held by anyone, which every run would then take for an installation.
LockResult InstallationLock::CheckDescriptor() {
  constexpr SECURITY_INFORMATION kParts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  UniqueLocal descriptor(api_);
  const DWORD status = api_.GetSecurityInfo(mutex_.get(), SE_KERNEL_OBJECT, kParts, nullptr,
                                            nullptr, nullptr, nullptr, descriptor.put());
  if (status != ERROR_SUCCESS) {
    return Failed(status);
  }
  LPSTR text = nullptr;
  if (!api_.ConvertSecurityDescriptorToStringSecurityDescriptorA(descriptor.get(), SDDL_REVISION_1,
                                                                 kParts, &text, nullptr)) {
    return Failed(api_.GetLastError());
  }
  const UniqueLocal owned(api_, text);
  return OnlyAdministratorsReach(text) ? LockResult::Taken : LockResult::Squatted;
}

LockResult InstallationLock::Failed(DWORD error) {
  error_ = error;
  mutex_.reset();
  return LockResult::Failed;
}

}  // namespace tolvo
