#include "winenv/installation_lock.h"

#include "platform/format_text.h"
#include "platform/run_account.h"
#include "winenv/access_rules.h"

namespace tolvo {

LockResult InstallationLock::Take(Purpose purpose) {
  const UINT length = api_.GetWindowsDirectoryA(path_, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return Failed(length == 0 ? api_.GetLastError() : ERROR_FILENAME_EXCED_RANGE);
  }
  FormatText(path_ + length, sizeof path_ - length, "%s%s", path_[length - 1] == '\\' ? "" : "\\",
             kLockFileName);
  const UniqueLocal security = MakeAdministratorsOnlySecurity(api_);
  if (!security) {
    return Failed(api_.GetLastError());
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.get(), FALSE};
  // The mutex first: a run it refuses has made no file.
  LockResult result = TakeEarlierMutex(attributes);
  if (result == LockResult::Taken) {
    result = TakeFile(attributes, purpose);
  }
  if (result != LockResult::Taken) {
    Release();
  }
  return result;
}

// Held with no sharing: while a run holds it, no other may open it to
// read, write or remove it. It is never removed: an account that may list
// the Windows folder may open any file in it to read its attributes, and
// a file removed while such a handle is open keeps its name, refusing
// every open, until that handle closes.
LockResult InstallationLock::TakeFile(SECURITY_ATTRIBUTES& attributes, Purpose purpose) {
  const DWORD disposition = purpose == Purpose::Check ? OPEN_EXISTING : OPEN_ALWAYS;
  file_.reset(api_.CreateFileA(path_, GENERIC_READ, 0, &attributes, disposition,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  const DWORD error = api_.GetLastError();
  if (!file_ && purpose == Purpose::Check && error == ERROR_FILE_NOT_FOUND) {
    return LockResult::Taken;  // none made yet: nothing to hold
  }
  if (file_ && purpose == Purpose::Change && error != ERROR_ALREADY_EXISTS) {
    return LockResult::Taken;  // made now, the administrators' own
  }
  if (!file_ && error != ERROR_SHARING_VIOLATION) {
    return error == ERROR_ACCESS_DENIED ? LockResult::AccessDenied : Failed(error);
  }
  // A file that was there: held by another run, or found free.
  const DWORD status = ReadFileSecurity(api_, path_, holder_);
  if (status != ERROR_SUCCESS) {
    return Failed(status);
  }
  char run[kSidTextSize];
  RunAccountSid(api_, run);
  const std::string_view sddl = static_cast<const char*>(holder_.get());
  squatter_ = LesserAccountWith(sddl, Access::Read, run);
  if (squatter_.empty()) {
    squatter_ = LesserAccountWith(sddl, Access::Change, run);
  }
  if (!squatter_.empty()) {
    squatter_ = AccountName(squatter_);
    return LockResult::Squatted;
  }
  return file_ ? LockResult::Taken : LockResult::Busy;
}

LockResult InstallationLock::TakeEarlierMutex(SECURITY_ATTRIBUTES& attributes) {
  mutex_.reset(api_.CreateMutexA(&attributes, FALSE, kEarlierLockName));
  if (!mutex_) {
    const DWORD error = api_.GetLastError();
    // An object of another type, or a mutex that denies this account,
    // which an earlier version's never does to an administrator; or none,
    // and this account may not make one the administrators own: no
    // earlier installation runs. The file tells what this account may do.
    const bool passedOver = error == ERROR_INVALID_HANDLE || error == ERROR_ACCESS_DENIED ||
                            error == ERROR_INVALID_OWNER;
    return passedOver ? LockResult::Taken : Failed(error);
  }
  UniqueLocal text(api_);
  const DWORD status = ReadObjectSecurity(api_, mutex_.get(), SE_KERNEL_OBJECT, text);
  if (status != ERROR_SUCCESS) {
    return Failed(status);
  }
  if (!OnlyAdministratorsReach(static_cast<const char*>(text.get()))) {
    mutex_.reset();  // someone else's: it blocks nothing
    return LockResult::Taken;
  }
  switch (api_.WaitForSingleObject(mutex_.get(), 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED:  // its holder ended without giving it back
      ownership_.reset(mutex_.get());
      return LockResult::Taken;
    case WAIT_TIMEOUT:
      return LockResult::Busy;
    default:
      return Failed(api_.GetLastError());
  }
}

LockResult InstallationLock::Failed(DWORD error) {
  error_ = error;
  return LockResult::Failed;
}

}  // namespace tolvo
