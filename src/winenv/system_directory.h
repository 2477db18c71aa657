// Files in the Windows system directory.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/run_context.h"

namespace tolvo {

// Writes the full path of `fileName` in the system directory into `path`.
// False when the folder cannot be read or the whole path does not fit:
// without the folder a bare name would reach the working folder, and a cut
// path would name another file.
bool SystemDirectoryPath(WinApi& api, std::string_view fileName, char* path, std::size_t pathSize);

// Copies `fileName` from the working folder into the system directory,
// replacing an existing file. 1 on success; 0 when the copy fails or the
// destination path would not fit MAX_PATH.
int CopyToSystemDirectory(RunContext& context, const char* fileName);
// Clears the attributes of and deletes `fileName` in the system directory.
// A missing or locked file is passed over silently.
void DeleteFromSystemDirectory(RunContext& context, const char* fileName);

}  // namespace tolvo
