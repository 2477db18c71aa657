// The installer's entry point, apart from the process: start-up, command
// line, banner, prerequisite check, dispatch and exit code.
#pragma once

#include "platform/trace_api.h"
#include "platform/win_api.h"
#include "workflows/workflow_sequences.h"

namespace tolvo {

// Runs one installation, uninstallation or check (-v) on `api` and returns
// the process exit code: 0 on success, -1 on any failure. A check that gets
// as far as the installation lock ends with 0 when the machine is as
// configured, 1 when something is missing, 2 when it could not be made and 3
// while another installation runs.
int RunInstaller(WinApi& api, int argc, char** argv, InstallerSequences& sequences);

// The same, with every call on `api` recorded into `trace` when one is given
// (the support trace); the run and its exit code are the same either way.
int RunInstallerTraced(WinApi& api, TraceSink* trace, int argc, char** argv,
                       InstallerSequences& sequences);

// Switches off WOW64 file-system redirection for the rest of the run, so that
// the system directory reached later is the native one. Does nothing on a
// system without Wow64DisableWow64FsRedirection.
void DisableWow64Redirection(WinApi& api);

}  // namespace tolvo
