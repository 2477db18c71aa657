// The sequences the driver dispatches to, and the real ones behind them.
// The shipped program passes WorkflowSequences; tests of the driver pass
// doubles.
#pragma once

#include "core/run_context.h"
#include "workflows/install_sequence.h"
#include "workflows/installation_check.h"
#include "workflows/uninstall_sequence.h"

namespace tolvo {

class InstallerSequences {
 public:
  virtual ~InstallerSequences() = default;
  // options.serverName is null for the local machine.
  virtual bool InstallPortMonitor(RunContext& context, const InstallOptions& options) = 0;
  virtual bool UninstallPortMonitor(RunContext& context, const char* serverName,
                                    bool copyFiles) = 0;
  virtual CheckOutcome CheckInstallation(RunContext& context, const InstallOptions& options) = 0;
};

class WorkflowSequences final : public InstallerSequences {
 public:
  bool InstallPortMonitor(RunContext& context, const InstallOptions& options) override {
    return tolvo::InstallPortMonitor(context, options);
  }
  bool UninstallPortMonitor(RunContext& context, const char* serverName, bool copyFiles) override {
    return tolvo::UninstallPortMonitor(context, serverName, copyFiles);
  }
  CheckOutcome CheckInstallation(RunContext& context, const InstallOptions& options) override {
    return tolvo::CheckInstallation(context, options);
  }
};

}  // namespace tolvo
