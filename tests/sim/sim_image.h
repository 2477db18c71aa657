// Windows DLL images as far as the installer reads them, for the kit files
// of the simulated machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tolvo::sim {

// The PE headers of a DLL for `machine` (0x14C i386: PE32, else PE32+) with
// one section at 0x1000, in the file at 0x200, holding the export table:
// `exports` by name and `tag` as the DLL's name, so copies of files differ.
inline std::string WindowsDllImage(std::uint16_t machine, const std::vector<std::string>& exports,
                                   const std::string& tag) {
  const std::uint32_t wide = machine == 0x14C ? 0 : 16;  // PE32+ fields lie 16 bytes further
  const std::uint32_t sections = 0x58 + 224 + wide;
  std::string image(0x200 + 40 + 4 * exports.size(), '\0');
  const auto put = [&image](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      image[at + i] = static_cast<char>(value >> (8 * i));
    }
  };
  const auto addName = [&image](const std::string& name) {
    image += name + '\0';
    return static_cast<std::uint32_t>(0x1000 + image.size() - name.size() - 1 - 0x200);
  };
  put(0, 0x5A4D);                             // "MZ"
  put(0x3C, 0x40);                            // the PE header's offset
  put(0x40, 0x4550);                          // "PE\0\0"
  put(0x44, machine | (1u << 16));            // one section
  put(0x54, (224 + wide) | (0x2002u << 16));  // the optional header's size; an executable DLL
  put(0x58, wide ? 0x20B : 0x10B);            // its magic
  put(0x58 + 92 + wide, 16);                  // data directories
  put(0x58 + 96 + wide, 0x1000);              // the export table's address
  put(sections + 12, 0x1000);
  put(sections + 20, 0x200);
  put(0x200 + 12, addName(tag));
  put(0x200 + 24, static_cast<std::uint32_t>(exports.size()));
  put(0x200 + 32, 0x1000 + 40);
  for (std::size_t i = 0; i < exports.size(); ++i) {
    put(0x200 + 40 + 4 * i, addName(exports[i]));
  }
  const auto size = static_cast<std::uint32_t>(image.size() - 0x200);
  put(sections + 8, size);
  put(sections + 16, size);
  put(0x58 + 100 + wide, size);
  return image;
}

}  // namespace tolvo::sim
