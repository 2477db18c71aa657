// Everything one run shares: the platform, the edition profile, the run
// settings and the output with its message buffer. The entry point creates
// it and passes it down by reference; there is no process-wide state, so a
// test can run any number of installs in one process.
#pragma once

#include "core/edition_profile.h"
#include "core/output.h"
#include "core/run_settings.h"
#include "platform/win_api.h"

namespace tolvo {

struct RunContext {
  explicit RunContext(WinApi& platform) : api(platform), output(platform) {}

  RunContext(const RunContext&) = delete;
  RunContext& operator=(const RunContext&) = delete;

  WinApi& api;
  EditionProfile profile;
  RunSettings settings;
  Output output;
};

}  // namespace tolvo
