// What the installation must know of a DLL before it copies and registers
// it, read from the file's PE headers: whether it is a Windows DLL, for
// which machine, and whether it exports an entry point by name.
#pragma once

#include <string_view>
#include <vector>

#include "platform/win_api.h"

namespace tolvo {

inline constexpr WORD kImageMachineI386 = 0x014C;
inline constexpr WORD kImageMachineAmd64 = 0x8664;
inline constexpr WORD kImageMachineArm64 = 0xAA64;

struct ImageFacts {
  bool dll = false;      // a PE image marked as a DLL, its optional header of its machine's kind
  WORD machine = 0;      // the file header's machine type
  bool exports = false;  // `exportName` is among the names it exports
};

// Reads the headers of the image in `image`. Whatever lies outside the
// bytes given, or is malformed, makes it no DLL (or one without the export).
ImageFacts InspectImage(const std::vector<BYTE>& image, std::string_view exportName);

// Reads the file whole into `image` (at most its first 64 MiB, which hold
// every header). False, with the last error set, when it cannot be read.
bool ReadImageFile(WinApi& api, const char* path, std::vector<BYTE>& image);

// Reads up to `size` bytes from the start of the file (fewer when it is
// shorter). False, with the last error set, when it cannot be read.
bool ReadFileStart(WinApi& api, const char* path, BYTE* buffer, DWORD size, DWORD& read);

}  // namespace tolvo
