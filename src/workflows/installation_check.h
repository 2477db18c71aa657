// Whether the machine holds what an installation with the same edition,
// configuration, server and "-c" leaves behind. Reads only.
#pragma once

#include "core/run_context.h"
#include "workflows/install_sequence.h"

namespace tolvo {

enum class CheckOutcome {
  kAsConfigured,  // everything checked is in place
  kDifferent,     // something is missing or elsewhere; each such thing is named
  kNotChecked,    // some part could not be checked; the reason is printed
};

// Checks, one printed line per thing: the monitor's registration and its
// files in the system directory, each configured port, the event-log
// source, each configured printer's port, the client (Standard edition)
// and the fonts. ignoreErrors plays no part.
CheckOutcome CheckInstallation(RunContext& context, const InstallOptions& options);

}  // namespace tolvo
