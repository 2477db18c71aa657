// Deployment and removal of the desktop client (Standard edition).
#pragma once

#include <cstddef>

#include "core/run_context.h"
#include "platform/started_programs.h"

namespace tolvo {

// The client's files, under these names in the program folder and in the
// client folder; the resources lie in a subfolder per culture.
inline constexpr const char* kClientLibraries[] = {"Interop.SHDocVw.dll", "Microsoft.mshtml.dll"};
inline constexpr const char* kClientResourceFile = "Tolvo Client.resources.dll";
// The client folder is read into a buffer of this size for the deployment.
inline constexpr std::size_t kClientDirectorySize = 512;

// The start-up entry's command line for a client in `clientDirectory`: its
// path in double quotes. False when it does not fit `size`.
bool ClientStartupCommand(const char* clientDirectory, char* commandLine, std::size_t size);

// KitFilesGuarded for each culture's resources, which the client loads in
// every user's session.
bool LanguageResourcesGuarded(RunContext& context);

void DeployClientApplication(RunContext& context);
void RemoveClientApplication(RunContext& context);

}  // namespace tolvo
