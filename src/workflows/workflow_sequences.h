// The real install and uninstall sequences, as the driver dispatches to them.
#pragma once

#include "driver/installer_sequences.h"
#include "workflows/install_sequence.h"
#include "workflows/uninstall_sequence.h"

namespace tolvo {

class WorkflowSequences final : public InstallerSequences {
 public:
  bool InstallPortMonitor(RunContext& context, const InstallOptions& options) override {
    return tolvo::InstallPortMonitor(context, options);
  }
  bool UninstallPortMonitor(RunContext& context, const char* serverName,
                            bool copyFiles) override {
    return tolvo::UninstallPortMonitor(context, serverName, copyFiles);
  }
};

}  // namespace tolvo
