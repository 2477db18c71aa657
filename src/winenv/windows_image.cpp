#include "winenv/windows_image.h"

#include <algorithm>
#include <cstddef>

#include "platform/unique_handles.h"

namespace tolvo {

namespace {

constexpr std::size_t kLargestImage = 64 * 1024 * 1024;
constexpr DWORD kReadChunk = 256 * 1024;
constexpr std::size_t kLongestExportName = 512;

constexpr WORD kDosSignature = 0x5A4D;      // "MZ"
constexpr DWORD kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::size_t kPeOffsetAt = 0x3C;
constexpr WORD kFileIsDll = 0x2000;
constexpr WORD kPe32 = 0x10B;
constexpr WORD kPe32Plus = 0x20B;
constexpr std::size_t kSectionHeaderSize = 40;

bool Read16(const std::vector<BYTE>& image, std::size_t offset, WORD& value) {
  if (offset > image.size() || image.size() - offset < 2) {
    return false;
  }
  value = static_cast<WORD>(image[offset] | (image[offset + 1] << 8));
  return true;
}

bool Read32(const std::vector<BYTE>& image, std::size_t offset, DWORD& value) {
  WORD low = 0;
  WORD high = 0;
  if (!Read16(image, offset, low) || !Read16(image, offset + 2, high)) {
    return false;
  }
  value = static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16);
  return true;
}

// Where the image's sections lie in the file.
struct SectionTable {
  const std::vector<BYTE>& image;
  std::size_t at;
  WORD count;

  // The file offset of a relative virtual address; false when no section
  // holds it in the file.
  bool Offset(DWORD rva, std::size_t& offset) const {
    for (WORD i = 0; i < count; ++i) {
      const std::size_t header = at + i * kSectionHeaderSize;
      DWORD virtualSize = 0;
      DWORD virtualAddress = 0;
      DWORD rawSize = 0;
      DWORD rawOffset = 0;
      if (!Read32(image, header + 8, virtualSize) || !Read32(image, header + 12, virtualAddress) ||
          !Read32(image, header + 16, rawSize) || !Read32(image, header + 20, rawOffset)) {
        return false;
      }
      if (rva >= virtualAddress && rva - virtualAddress < std::max(virtualSize, rawSize)) {
        const DWORD delta = rva - virtualAddress;
        offset = std::size_t{rawOffset} + delta;
        return delta < rawSize && offset < image.size();
      }
    }
    return false;
  }
};

bool NameAt(const std::vector<BYTE>& image, std::size_t offset, std::string_view name) {
  const std::size_t longest = std::min(image.size() - offset, kLongestExportName);
  const auto* text = reinterpret_cast<const char*>(image.data() + offset);
  const std::size_t length = std::find(text, text + longest, '\0') - text;
  return length < longest && std::string_view(text, length) == name;
}

bool ExportsName(const std::vector<BYTE>& image, const SectionTable& sections, DWORD exportRva,
                 std::string_view name) {
  std::size_t directory = 0;
  std::size_t names = 0;
  DWORD nameCount = 0;
  DWORD namesRva = 0;
  if (!sections.Offset(exportRva, directory) || !Read32(image, directory + 24, nameCount) ||
      !Read32(image, directory + 32, namesRva) || !sections.Offset(namesRva, names)) {
    return false;
  }
  for (DWORD i = 0; i < nameCount && i < image.size() / 4; ++i) {
    DWORD nameRva = 0;
    std::size_t nameAt = 0;
    if (!Read32(image, names + std::size_t{i} * 4, nameRva) || !sections.Offset(nameRva, nameAt)) {
      return false;
    }
    if (NameAt(image, nameAt, name)) {
      return true;
    }
  }
  return false;
}

}  // namespace

ImageFacts InspectImage(const std::vector<BYTE>& image, std::string_view exportName) {
  ImageFacts facts;
  WORD dosSignature = 0;
  DWORD peOffset = 0;
  DWORD peSignature = 0;
  if (!Read16(image, 0, dosSignature) || dosSignature != kDosSignature ||
      !Read32(image, kPeOffsetAt, peOffset) || !Read32(image, peOffset, peSignature) ||
      peSignature != kPeSignature) {
    return facts;
  }
  const std::size_t fileHeader = std::size_t{peOffset} + 4;
  const std::size_t optionalHeader = fileHeader + 20;
  WORD machine = 0;
  WORD sectionCount = 0;
  WORD optionalSize = 0;
  WORD characteristics = 0;
  WORD magic = 0;
  if (!Read16(image, fileHeader, machine) || !Read16(image, fileHeader + 2, sectionCount) ||
      !Read16(image, fileHeader + 16, optionalSize) ||
      !Read16(image, fileHeader + 18, characteristics) || !Read16(image, optionalHeader, magic)) {
    return facts;
  }
  facts.machine = machine;
  const bool wide = magic == kPe32Plus;
  if ((magic != kPe32 && !wide) || (machine == kImageMachineI386 && wide) ||
      (machine == kImageMachineAmd64 && !wide)) {
    return facts;
  }
  facts.dll = (characteristics & kFileIsDll) != 0;
  if (exportName.empty()) {
    return facts;
  }
  // The export table is the first data directory.
  const std::size_t directoryCountAt = optionalHeader + (wide ? 108 : 92);
  const std::size_t exportDirectoryAt = directoryCountAt + 4;
  DWORD directoryCount = 0;
  DWORD exportRva = 0;
  if (exportDirectoryAt + 8 > optionalHeader + optionalSize ||
      !Read32(image, directoryCountAt, directoryCount) || directoryCount == 0 ||
      !Read32(image, exportDirectoryAt, exportRva) || exportRva == 0) {
    return facts;
  }
  const SectionTable sections{image, optionalHeader + optionalSize, sectionCount};
  facts.exports = ExportsName(image, sections, exportRva, exportName);
  return facts;
}

namespace {

HANDLE OpenForReading(WinApi& api, const char* path) {
  return api.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool ReadFileStart(WinApi& api, const char* path, BYTE* buffer, DWORD size, DWORD& read) {
  read = 0;
  const HANDLE handle = OpenForReading(api, path);
  if (handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  const UniqueKernelHandle file(api, handle);
  return api.ReadFile(file.get(), buffer, size, &read, nullptr) != FALSE;
}

bool ReadImageFile(WinApi& api, const char* path, std::vector<BYTE>& image) {
  image.clear();
  const HANDLE handle = OpenForReading(api, path);
  if (handle == INVALID_HANDLE_VALUE) {
    return false;
  }
  const UniqueKernelHandle file(api, handle);
  while (image.size() < kLargestImage) {
    const std::size_t start = image.size();
    image.resize(start + kReadChunk);
    DWORD read = 0;
    if (!api.ReadFile(file.get(), image.data() + start, kReadChunk, &read, nullptr)) {
      image.clear();
      return false;
    }
    image.resize(start + std::min(read, kReadChunk));
    if (read == 0) {
      break;
    }
  }
  return true;
}

}  // namespace tolvo
