// Walking one folder's files, and copying or deleting them.
#pragma once

#include "core/run_context.h"

namespace tolvo {

// Per-file callback of ForEachFileInDirectory: receives the entry (its
// cFileName is the bare name) and the caller's context; true to go on.
using FileVisitor = bool (*)(RunContext& context, const WIN32_FIND_DATAA& entry,
                             void* visitorContext);

// Calls `visitor` for each file (not folder) directly in `folder`, which
// must end in a backslash, whose name matches `pattern`. True when every
// visited file was accepted, also when nothing matched or the folder does
// not exist; false when a visitor refused one, an argument is missing, or
// the search path does not fit 1,500 bytes.
bool ForEachFileInDirectory(RunContext& context, const char* folder, const char* pattern,
                            FileVisitor visitor, void* visitorContext);

// Copies the matching files directly in `sourceFolder` into the existing
// `destinationFolder`, replacing files of the same name; a file that cannot
// be copied is reported by its bare name and ends the copy (false).
bool CopyDirectoryFiles(RunContext& context, const char* sourceFolder,
                        const char* destinationFolder, const char* pattern);
// Deletes the matching files directly in `folder`; the first one that
// cannot be deleted ends the walk (false), silently.
bool DeleteDirectoryFiles(RunContext& context, const char* folder, const char* pattern);

}  // namespace tolvo
