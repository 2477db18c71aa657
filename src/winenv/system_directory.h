// Files in the Windows system directory.
#pragma once

#include "core/run_context.h"

namespace tolvo {

// Copies `fileName` from the working folder into the system directory,
// replacing an existing file. 1 on success; 0 when the copy fails or the
// destination path would not fit MAX_PATH.
int CopyToSystemDirectory(RunContext& context, const char* fileName);
// Clears the attributes of and deletes `fileName` in the system directory.
// A missing or locked file is passed over silently.
void DeleteFromSystemDirectory(RunContext& context, const char* fileName);

}  // namespace tolvo
