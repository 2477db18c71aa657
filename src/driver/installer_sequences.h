// The two sequences the driver dispatches to. The shipped program passes the
// real install and uninstall sequences; tests of the driver pass doubles.
#pragma once

#include "core/run_context.h"
#include "workflows/install_sequence.h"

namespace tolvo {

class InstallerSequences {
 public:
  virtual ~InstallerSequences() = default;
  // serverName is null for the local machine.
  virtual bool InstallPortMonitor(RunContext& context, const InstallOptions& options) = 0;
  virtual bool UninstallPortMonitor(RunContext& context, const char* serverName,
                                    bool copyFiles) = 0;
};

}  // namespace tolvo
