#include <cstring>
#include <memory>

#include "sim/sim_windows.h"

namespace tolvo::sim {

// --- Security ---------------------------------------------------------------------
// A descriptor is its SDDL text, a SID its SDDL abbreviation ("BA" the
// administrators, "SY" the local system account) or its number; each lives
// in a block of local memory, which LocalFree releases.

PSECURITY_DESCRIPTOR SimWindows::NewLocalBlock(std::string text) {
  HANDLE block = NewHandle(HandleKind::Local);
  localBlocks_[reinterpret_cast<std::uintptr_t>(block)] = std::move(text);
  return block;
}

std::string SimWindows::LocalText(const void* block) const {
  const auto found = localBlocks_.find(reinterpret_cast<std::uintptr_t>(block));
  return found == localBlocks_.end() ? "" : found->second;
}

LPSTR SimWindows::NewLocalText(const std::string& text) {
  auto block = std::make_unique<char[]>(text.size() + 1);
  std::memcpy(block.get(), text.c_str(), text.size() + 1);
  LPSTR address = block.get();
  handles_[reinterpret_cast<std::uintptr_t>(address)] = HandleKind::Local;
  localTexts_[reinterpret_cast<std::uintptr_t>(address)] = std::move(block);
  return address;
}

HLOCAL SimWindows::LocalFree(HLOCAL memory) {
  if (auto error = Enter("LocalFree")) {
    lastError_ = *error;
    return memory;
  }
  if (!ReleaseHandle(memory, HandleKind::Local)) {
    lastError_ = ERROR_INVALID_HANDLE;
    return memory;
  }
  localBlocks_.erase(reinterpret_cast<std::uintptr_t>(memory));
  localTexts_.erase(reinterpret_cast<std::uintptr_t>(memory));
  return nullptr;
}

BOOL SimWindows::ConvertStringSecurityDescriptorToSecurityDescriptorA(
    LPCSTR text, DWORD /*revision*/, PSECURITY_DESCRIPTOR* descriptor, PULONG /*size*/) {
  if (auto error = Enter("ConvertStringSecurityDescriptorToSecurityDescriptorA")) {
    return Fail(*error);
  }
  *descriptor = NewLocalBlock(text);
  return TRUE;
}

BOOL SimWindows::ConvertSecurityDescriptorToStringSecurityDescriptorA(
    PSECURITY_DESCRIPTOR descriptor, DWORD /*revision*/, SECURITY_INFORMATION /*parts*/,
    LPSTR* text, PULONG /*length*/) {
  if (auto error = Enter("ConvertSecurityDescriptorToStringSecurityDescriptorA")) {
    return Fail(*error);
  }
  *text = NewLocalText(LocalText(descriptor));
  return TRUE;
}

DWORD SimWindows::GetNamedSecurityInfoA(LPCSTR objectName, SE_OBJECT_TYPE type,
                                        SECURITY_INFORMATION /*parts*/, PSID* owner,
                                        PSID* /*group*/, PACL* /*dacl*/, PACL* /*sacl*/,
                                        PSECURITY_DESCRIPTOR* descriptor) {
  if (auto error = Enter("GetNamedSecurityInfoA")) {
    return *error;
  }
  if (objectName == nullptr || type != SE_FILE_OBJECT || descriptor == nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::string full = FullPath(objectName);
  if (!Exists(full)) {
    return Exists(full.substr(0, full.rfind('\\'))) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  const auto set = fileSystem.security.find(SimFilesState::Key(full));
  const bool known = set != fileSystem.security.end() && !set->second.empty();
  *descriptor = NewLocalBlock(known ? set->second : SimFilesState::kDefaultSecurity);
  if (owner != nullptr) {
    *owner = *descriptor;
  }
  return ERROR_SUCCESS;
}

// The SID a TOKEN_USER names lives in the caller's buffer on Windows; here
// it is a block the machine keeps, never counted as open.
constexpr std::uintptr_t kTokenUserSid = 0x7E000000;

BOOL SimWindows::OpenProcessToken(HANDLE /*process*/, DWORD /*access*/, PHANDLE token) {
  if (auto error = Enter("OpenProcessToken")) {
    return Fail(*error);
  }
  *token = NewHandle(HandleKind::Token);
  return TRUE;
}

BOOL SimWindows::GetTokenInformation(HANDLE /*token*/, TOKEN_INFORMATION_CLASS /*informationClass*/,
                                     LPVOID information, DWORD length, PDWORD returnLength) {
  if (auto error = Enter("GetTokenInformation")) {
    return Fail(*error);
  }
  *returnLength = sizeof(TOKEN_USER) + 28;  // a domain account's SID
  if (length < *returnLength) {
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  localBlocks_[kTokenUserSid] = runAccount;
  static_cast<TOKEN_USER*>(information)->User = {reinterpret_cast<PSID>(kTokenUserSid), 0};
  return TRUE;
}

BOOL SimWindows::ConvertSidToStringSidA(PSID sid, LPSTR* text) {
  if (auto error = Enter("ConvertSidToStringSidA")) {
    return Fail(*error);
  }
  *text = NewLocalText(LocalText(sid));
  return TRUE;
}

}  // namespace tolvo::sim
