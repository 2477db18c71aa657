#include "platform/run_account.h"

#include <cstring>

#include "platform/unique_handles.h"

namespace tolvo {

namespace {
// A TOKEN_USER and the SID after it: a SID has at most 68 bytes.
constexpr std::size_t kTokenUserSize = 128;
}  // namespace

bool RunAccountSid(WinApi& api, char (&sid)[kSidTextSize]) {
  sid[0] = '\0';
  UniqueKernelHandle token(api);
  if (!api.OpenProcessToken(api.GetCurrentProcess(), TOKEN_QUERY, token.put())) {
    return false;
  }
  alignas(TOKEN_USER) unsigned char buffer[kTokenUserSize];
  DWORD length = 0;
  if (!api.GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &length)) {
    return false;
  }
  LPSTR text = nullptr;
  if (!api.ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text)) {
    return false;
  }
  const UniqueLocal owned(api, text);
  const std::size_t size = std::strlen(text);
  if (size >= sizeof sid) {
    return false;  // no SID is this long; a cut one would name another account
  }
  std::memcpy(sid, text, size + 1);
  return true;
}

}  // namespace tolvo
