#include "platform/appended_files.h"

#include <cstring>

#include "platform/format_text.h"

namespace tolvo {

namespace {

constexpr const char kFileGrants[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
// A TOKEN_USER and the SID after it: a SID has at most 68 bytes.
constexpr std::size_t kTokenUserSize = 128;
// Room for the grants and one more for a SID of up to 184 characters.
constexpr std::size_t kSecurityTextSize = sizeof kFileGrants + 200;

// "(A;;FA;;;S-1-5-...)" for the account whose token the process has.
void AppendAccountGrant(WinApi& api, char (&text)[kSecurityTextSize]) {
  UniqueKernelHandle token(api);
  if (!api.OpenProcessToken(api.GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return;
  }
  alignas(TOKEN_USER) unsigned char buffer[kTokenUserSize];
  DWORD length = 0;
  if (!api.GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length)) {
    return;
  }
  LPSTR sid = nullptr;
  if (!api.ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid)) {
    return;
  }
  const UniqueLocal owned(api, sid);
  const std::size_t used = std::strlen(text);
  if (!FormatText(text + used, sizeof text - used, "(A;;FA;;;%s)", sid)) {
    text[used] = '\0';  // a grant cut short would name another account
  }
}

// The system's text for `error` on one line, or nothing.
}  // namespace

bool MakeCreatedFileSecurity(WinApi& api, UniqueLocal& descriptor) {
  char text[kSecurityTextSize];
  std::memcpy(text, kFileGrants, sizeof kFileGrants);
  AppendAccountGrant(api, text);
  if (api.ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1,
                                                               descriptor.put(), nullptr)) {
    return true;
  }
  return api.GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
}

}  // namespace tolvo
