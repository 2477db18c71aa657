// Deployment and removal of the desktop client (Standard edition).
#pragma once

#include "core/run_context.h"

namespace tolvo {

void DeployClientApplication(RunContext& context);
void RemoveClientApplication(RunContext& context);

}  // namespace tolvo
