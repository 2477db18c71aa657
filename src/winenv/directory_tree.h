// Creating a folder path.
#pragma once

#include "core/run_context.h"

namespace tolvo {

// Creates every missing folder of an absolute path (drive letter, folders
// separated by backslashes). 1 when the last folder exists afterwards; 0 at
// the first folder that cannot be created (folders made before it stay),
// and for a path longer than 503 characters.
int CreateDirectoryTree(RunContext& context, const char* path);

}  // namespace tolvo
