#include "winenv/file_identity.h"

#include "platform/unique_handles.h"

namespace tolvo {

FileIdentity IdentityOfOpenFile(WinApi& api, HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information{};
  if (file == nullptr || file == INVALID_HANDLE_VALUE ||
      !api.GetFileInformationByHandle(file, &information)) {
    return {};
  }
  return {true, information.dwVolumeSerialNumber, information.nFileIndexHigh,
          information.nFileIndexLow};
}

FileIdentity IdentityOfFile(WinApi& api, const char* path) {
  // Shared every way, so that a file the run or anyone else holds open can
  // still be asked.
  const HANDLE handle =
      api.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    return {};
  }
  const UniqueKernelHandle file(api, handle);
  return IdentityOfOpenFile(api, file.get());
}

bool SameFile(const FileIdentity& left, const FileIdentity& right) {
  return left.known && right.known && left.volume == right.volume &&
         left.indexHigh == right.indexHigh && left.indexLow == right.indexLow;
}

}  // namespace tolvo
