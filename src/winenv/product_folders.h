// The product's font files and the client's web-browser folder.
#pragma once

#include "core/run_context.h"

namespace tolvo {

// Copies the files of "FontFiles" in the working folder into the edition's
// font folder under Program Files, creating it. True when there was nothing
// to install or every file was copied.
bool InstallFontFiles(RunContext& context);
// KitFilesGuarded for "FontFiles" and each file in it: the folder first, as
// files put into it before the copy would be copied too.
bool FontFilesGuarded(RunContext& context);
// Deletes the font files and the font folder, then its two parent folders
// when they are empty. False only when the font folder is unknown.
bool RemoveFontDirectory(RunContext& context);
// Removes the client's web-browser folder with everything in it, through
// the command interpreter. False when the folder is unknown, its path cannot
// be quoted safely, or the removal failed.
bool RemoveWebBrowserDirectory(RunContext& context);

}  // namespace tolvo
