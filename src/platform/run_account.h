// The account the run is, as its process token names it.
#pragma once

#include <cstddef>

#include "platform/win_api.h"

namespace tolvo {

// A SID as text has at most 184 characters.
inline constexpr std::size_t kSidTextSize = 192;
// The local system account's.
inline constexpr const char* kLocalSystemSid = "S-1-5-18";

// Writes the run's account as a SID's text ("S-1-5-21-...") into `sid`;
// false, with `sid` empty, when the token cannot tell.
bool RunAccountSid(WinApi& api, char (&sid)[kSidTextSize]);

}  // namespace tolvo
