// The server name a run acts on, checked before the run changes anything.
#pragma once

#include "core/run_context.h"

namespace tolvo {

// True for no server (the local machine) and for two backslashes and a
// name the monitor's channel can be opened with: no backslash, slash,
// comma, quote, blank or control character in it. Otherwise prints why and
// returns false: an unknown switch (-x, /u, -uc) becomes the server name,
// and a run on it would release the printers and remove the monitor only
// to fail at the spooler.
bool CheckServerName(RunContext& context, const char* serverName);

}  // namespace tolvo
