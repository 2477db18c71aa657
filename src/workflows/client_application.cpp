#include "workflows/client_application.h"

#include <cstddef>
#include <cstring>

#include "core/text.h"
#include "platform/run_account.h"
#include "winenv/file_deployment.h"
#include "winenv/kit_guard.h"
#include "winenv/processes.h"
#include "winenv/registry.h"

namespace tolvo {

namespace {

// The deployment and the removal read the client folder into buffers of
// different sizes; both stay well below kClientPathSize together with the
// longest name placed under it.
constexpr std::size_t kRemoveDirectorySize = 500;
constexpr std::size_t kClientPathSize = 1024;

// Builds folder + "\" + name (+ "\" + leaf). False when the result would be
// cut; the caller then leaves that file or folder alone rather than act on
// a different path.
bool BuildClientPath(char (&target)[kClientPathSize], const char* folder, const char* name,
                     const char* leaf = nullptr) {
  if (leaf == nullptr) {
    return FormatBounded(target, sizeof target, "%s\\%s", folder, name);
  }
  return FormatBounded(target, sizeof target, "%s\\%s\\%s", folder, name, leaf);
}

// CopyFileA from the program folder, overwriting; false also when the
// target path does not fit.
bool CopyIntoClientFolder(RunContext& context, const char* source, const char* folder,
                          const char* name, const char* leaf = nullptr) {
  char target[kClientPathSize] = {};
  if (!BuildClientPath(target, folder, name, leaf)) {
    return false;
  }
  return context.api.CopyFileA(source, target, FALSE) != FALSE;
}

void DeleteFromClientFolder(RunContext& context, const char* folder, const char* name,
                            const char* leaf = nullptr) {
  char path[kClientPathSize] = {};
  if (BuildClientPath(path, folder, name, leaf)) {
    context.api.DeleteFileA(path);
  }
}

void RemoveClientSubfolder(RunContext& context, const char* folder, const char* name) {
  char path[kClientPathSize] = {};
  if (BuildClientPath(path, folder, name)) {
    context.api.RemoveDirectoryA(path);
  }
}

void DeployLanguageResources(RunContext& context, const char* clientDirectory) {
  for (const char* culture : clientLanguages) {
    char folder[kClientPathSize] = {};
    if (BuildClientPath(folder, clientDirectory, culture)) {
      CreateDirectoryTree(context, folder);
    }
    char source[kClientPathSize] = {};
    if (FormatBounded(source, sizeof source, "%s\\%s", culture, kClientResourceFile)) {
      CopyIntoClientFolder(context, source, clientDirectory, culture, kClientResourceFile);
    }
  }
}

void StartInstalledClient(RunContext& context, const char* clientDirectory) {
  char program[kClientPathSize] = {};
  if (!BuildClientPath(program, clientDirectory, kClientExecutable)) {
    return;
  }
  const char* const arguments[] = {program, nullptr};
  SpawnDetached(context, program, arguments);
}

bool RunAsLocalSystem(WinApi& api) {
  char account[kSidTextSize];
  return RunAccountSid(api, account) && std::strcmp(account, kLocalSystemSid) == 0;
}

void WriteStartupEntry(RunContext& context, const char* clientDirectory) {
  char commandLine[kClientPathSize] = {};
  if (ClientStartupCommand(clientDirectory, commandLine, sizeof commandLine)) {
    SetClientRunEntry(context.api, commandLine);
  }
}

}  // namespace

bool LanguageResourcesGuarded(RunContext& context) {
  for (const char* culture : clientLanguages) {
    char file[kClientPathSize] = {};
    if (!FormatBounded(file, sizeof file, "%s\\%s", culture, kClientResourceFile) ||
        !KitFilesGuarded(context, {file})) {
      return false;
    }
  }
  return true;
}

bool ClientStartupCommand(const char* clientDirectory, char* commandLine, std::size_t size) {
  return FormatBounded(commandLine, size, "\"%s\\%s\"", clientDirectory, kClientExecutable);
}

void DeployClientApplication(RunContext& context) {
  Output& output = context.output;
  output.PrintMessage("  - Installing Tolvo Client Graphical User Interface\n");

  char clientDirectory[kClientDirectorySize] = {};
  if (!GetClientDirectory(context, clientDirectory, sizeof clientDirectory) ||
      clientDirectory[0] == '\0' || CreateDirectoryTree(context, clientDirectory) == 0) {
    output.PrintMessage("  ERROR - Cannot create directory Kestrum\\Tolvo Client\\Client\n");
    return;
  }

  StopClientInstances(context);

  if (!CopyIntoClientFolder(context, kClientExecutable, clientDirectory, kClientExecutable)) {
    output.PrintMessage("  ERROR - Cannot copy Tolvo Client User Interface\n");
  }
  for (const char* library : kClientLibraries) {
    if (!CopyIntoClientFolder(context, library, clientDirectory, library)) {
      output.PrintMessage("  ERROR - Cannot copy Tolvo Client User Interface DLL\n");
    }
  }
  DeployLanguageResources(context, clientDirectory);

  // Started and registered even when its copy failed: an older copy may
  // already be in place. The local system account has no user's desktop: a
  // client started by it would run in the services' session, as that
  // account, until the machine stops.
  if (RunAsLocalSystem(context.api)) {
    output.PrintMessage(
        "  - Tolvo Client will start at the next logon (the installation runs as the local "
        "system account)\n");
  } else {
    output.PrintMessage("  - Executing Tolvo Client\n");
    StartInstalledClient(context, clientDirectory);
  }
  WriteStartupEntry(context, clientDirectory);
}

void RemoveClientApplication(RunContext& context) {
  Output& output = context.output;
  output.PrintMessage("  - Uninstalling Tolvo Client Graphical User Interface\n");

  char clientDirectory[kRemoveDirectorySize] = {};
  GetClientDirectory(context, clientDirectory, sizeof clientDirectory);
  // Without a Program Files folder every client path would start with "\",
  // the root of the current drive: no file or folder is touched then.
  const bool clientDirectoryKnown = clientDirectory[0] != '\0';

  StopClientInstances(context);

  output.PrintMessage("  - Removing Tolvo Client\n");
  if (clientDirectoryKnown) {
    DeleteFromClientFolder(context, clientDirectory, kClientExecutable);
    for (const char* library : kClientLibraries) {
      DeleteFromClientFolder(context, clientDirectory, library);
    }
  }

  DeleteClientRunEntry(context.api);

  if (clientDirectoryKnown) {
    for (const char* culture : clientLanguages) {
      DeleteFromClientFolder(context, clientDirectory, culture, kClientResourceFile);
      RemoveClientSubfolder(context, clientDirectory, culture);
    }
  }

  // Looks Program Files up on its own and refuses to act without it.
  RemoveWebBrowserDirectory(context);

  if (clientDirectoryKnown) {
    context.api.RemoveDirectoryA(clientDirectory);
  }
}

}  // namespace tolvo
