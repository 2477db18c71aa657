// File-system operations of installation and uninstallation.
#pragma once

#include <cstddef>

#include "core/run_context.h"

namespace tolvo {

// Copies `fileName` from the working folder into the system directory,
// replacing an existing file. 1 on success, else 0.
int CopyToSystemDirectory(RunContext& context, const char* fileName);
// Clears the attributes of and deletes `fileName` in the system directory.
void DeleteFromSystemDirectory(RunContext& context, const char* fileName);
// Creates every missing folder of an absolute path. 1 when the last folder
// exists afterwards, 0 at the first folder that cannot be created.
int CreateDirectoryTree(RunContext& context, const char* path);

// Folders under Program Files. False when an argument is missing, the
// Program Files folder is unknown, or the result would not fit.
bool GetFontDirectory(RunContext& context, const char* fontSubdirectory, char* buffer,
                      std::size_t bufferSize);
bool GetWebBrowserDirectory(RunContext& context, char* buffer, std::size_t bufferSize);
bool GetClientDirectory(RunContext& context, char* buffer, std::size_t bufferSize);

// Per-file callback of ForEachFileInDirectory: true to go on.
using FileVisitor = bool (*)(RunContext& context, const WIN32_FIND_DATAA& entry, void* visitorContext);

bool ForEachFileInDirectory(RunContext& context, const char* folder, const char* pattern,
                            FileVisitor visitor, void* visitorContext);
bool CopyDirectoryFiles(RunContext& context, const char* sourceFolder,
                        const char* destinationFolder, const char* pattern);
bool DeleteDirectoryFiles(RunContext& context, const char* folder, const char* pattern);

bool InstallFontFiles(RunContext& context);
bool RemoveFontDirectory(RunContext& context);
bool RemoveWebBrowserDirectory(RunContext& context);

}  // namespace tolvo
