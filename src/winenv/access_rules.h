// Who may reach an object the run trusts. The installer runs as an
// administrator or as the local system account, on behalf of whoever can
// reach it: a file it copies into the system folder or starts, a key it
// reads, a secret it keeps, must not be open to an account short of an
// administrator. Descriptors are judged as SDDL text (owner and DACL), as
// ConvertSecurityDescriptorToStringSecurityDescriptorA gives them.
#pragma once

#include <string_view>

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

// What a grant lets an account do to the object.
enum class Access {
  Change,  // write or append to it, create in it (a folder or key), delete it
           // or what it holds, change its permissions or its owner
  Read,    // read its content or values (or give itself the right to)
};

// The first account short of an administrator that `sddl` lets do
// `access`, as the text names it ("BU", "WD", "S-1-5-21-..."); empty when
// there is none. Trusted: the administrators, the local system account,
// TrustedInstaller and `runAccount` (the run's own, an administrator). An
// owner outside them may change the object's permissions, so counts for
// both; a DACL that is missing or NO_ACCESS_CONTROL lets everyone ("WD").
// Entries that only folders' children inherit ("IO") do not apply to the
// object itself; deny entries are not weighed (a deny before an allow
// makes the answer stricter than Windows', never looser).
std::string_view LesserAccountWith(std::string_view sddl, Access access,
                                   std::string_view runAccount);

// True when an SDDL text of an owner and a DACL ("O:BAD:P(A;;GA;;;SY)...")
// names only the administrators and the local system account: as the
// owner, and in every entry of a DACL that is there.
bool OnlyAdministratorsReach(std::string_view sddl);

// How an account is shown in a line: "Everyone", "BUILTIN\Users" ... for
// the well-known ones, else the text as given.
std::string_view AccountName(std::string_view sid);

// The owner and DACL, as SDDL text held by `text`, of a file or folder by
// its path, or of an open registry key. Returns the Windows error code.
DWORD ReadFileSecurity(WinApi& api, LPCSTR path, UniqueLocal& text);
DWORD ReadKeySecurity(WinApi& api, HKEY key, UniqueLocal& text);
// The same for an open object of any kind (a mutex: SE_KERNEL_OBJECT).
DWORD ReadObjectSecurity(WinApi& api, HANDLE object, SE_OBJECT_TYPE type, UniqueLocal& text);

}  // namespace tolvo
