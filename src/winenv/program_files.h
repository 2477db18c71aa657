// The product's folders under Program Files.
#pragma once

#include <cstddef>

#include "core/run_context.h"

namespace tolvo {

// Each fills `buffer` (bufferSize bytes) with the folder's full path. False,
// with the buffer emptied, when an argument is missing, ProgramFilesDir is
// missing or empty, or the whole path does not fit the buffer.
bool GetFontDirectory(RunContext& context, const char* fontSubdirectory, char* buffer,
                      std::size_t bufferSize);
bool GetWebBrowserDirectory(RunContext& context, char* buffer, std::size_t bufferSize);
bool GetClientDirectory(RunContext& context, char* buffer, std::size_t bufferSize);

}  // namespace tolvo
