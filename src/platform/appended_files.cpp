#include "platform/appended_files.h"

#include <cstring>

#include "platform/format_text.h"
#include "platform/path_form.h"
#include "platform/run_account.h"
#include "platform/started_programs.h"

namespace tolvo {

namespace {

constexpr const char kFileGrants[] = "D:P(A;;FA;;;SY)(A;;FA;;;BA)";
// Room for the grants and one more for a SID.
constexpr std::size_t kSecurityTextSize = sizeof kFileGrants + kSidTextSize + 16;
constexpr std::size_t kErrorTextSize = 512;
constexpr std::size_t kShownPath = 800;
// The subject, the path, the reason and the consequence, and the line break.
constexpr std::size_t kLineSize = kShownPath + kErrorTextSize + 256;
constexpr std::string_view kLeadsElsewhere = "it leads to another file";
constexpr std::string_view kNamedLikeProgram = "it is named like a program the run starts";

void Append(char* line, std::size_t& length, std::size_t size, std::string_view text) {
  if (text.empty() || length + 1 >= size) {
    return;
  }
  const std::size_t room = size - 1 - length;
  const std::size_t taken = text.size() < room ? text.size() : room;
  std::memcpy(line + length, text.data(), taken);
  length += taken;
  line[length] = '\0';
}

// "(A;;FA;;;S-1-5-...)" for the account whose token the process has.
void AppendAccountGrant(WinApi& api, char (&text)[kSecurityTextSize]) {
  char sid[kSidTextSize];
  if (!RunAccountSid(api, sid)) {
    return;
  }
  const std::size_t used = std::strlen(text);
  if (!FormatText(text + used, sizeof text - used, "(A;;FA;;;%s)", sid)) {
    text[used] = '\0';  // a grant cut short would name another account
  }
}

// The system's text for `error` on one line, or nothing.
std::string_view ErrorText(WinApi& api, DWORD error, char (&text)[kErrorTextSize]) {
  DWORD length = api.FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, 0, text, sizeof text, nullptr);
  if (length >= sizeof text) {
    length = 0;
  }
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      text[i] = ' ';
    }
  }
  while (length > 0 && text[length - 1] == ' ') {
    --length;
  }
  return std::string_view(text, length);
}

// A path a file server holds: a share, or a drive (the current one for a
// relative path) that Windows names remote.
bool IsOnFileServer(WinApi& api, std::string_view path) {
  const PathForm form = FormOfPath(path);
  switch (form.kind) {
    case PathForm::Kind::kShare:
      return true;
    case PathForm::Kind::kDevice:
      return false;
    case PathForm::Kind::kDrive: {
      const char root[] = {path[form.at], ':', '\\', '\0'};
      return api.GetDriveTypeA(root) == DRIVE_REMOTE;
    }
    case PathForm::Kind::kCurrentDrive:
      break;
  }
  return api.GetDriveTypeA(nullptr) == DRIVE_REMOTE;
}

}  // namespace

bool MakeCreatedFileSecurity(WinApi& api, const char* path, UniqueLocal& descriptor) {
  if (path != nullptr && IsOnFileServer(api, path)) {
    return true;
  }
  char text[kSecurityTextSize];
  std::memcpy(text, kFileGrants, sizeof kFileGrants);
  AppendAccountGrant(api, text);
  if (api.ConvertStringSecurityDescriptorToSecurityDescriptorA(text, SDDL_REVISION_1,
                                                               descriptor.put(), nullptr)) {
    return true;
  }
  return api.GetLastError() == ERROR_CALL_NOT_IMPLEMENTED;
}

void ReportFileNotOpened(WinApi& api, std::string_view subject, std::string_view path, DWORD error,
                         std::string_view consequence) {
  const bool cut = path.size() > kShownPath;
  char line[kLineSize];
  FormatText(line, sizeof line, "Cannot open %.*s \"%.*s%s\": ", static_cast<int>(subject.size()),
             subject.data(), static_cast<int>(cut ? kShownPath : path.size()), path.data(),
             cut ? "..." : "");
  std::size_t length = std::strlen(line);
  ShowControlsAsQuestionMarks(line, length);
  if (error == ERROR_CANT_ACCESS_FILE) {
    Append(line, length, sizeof line, kLeadsElsewhere);
  } else if (error == kErrorNamedLikeStartedProgram) {
    Append(line, length, sizeof line, kNamedLikeProgram);
  } else {
    char text[kErrorTextSize];
    const std::string_view reason = ErrorText(api, error, text);
    FormatText(line + length, sizeof line - length, "%.*s%s(error %lu)",
               static_cast<int>(reason.size()), reason.data(), reason.empty() ? "" : " ",
               static_cast<unsigned long>(error));
    length += std::strlen(line + length);
  }
  Append(line, length, sizeof line - 1, consequence);
  // Room is kept for the line break.
  Append(line, length, sizeof line, "\n");
  api.WriteStderr(std::string_view(line, length));
}

}  // namespace tolvo
