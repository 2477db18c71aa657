#include "portconfig/password_exposure.h"

#include <cstring>

#include "core/text.h"
#include "core/wiped.h"
#include "platform/format_text.h"
#include "winenv/access_rules.h"
#include "winenv/registry.h"

namespace tolvo {

namespace {

// The configuration file's path (at most 1023 characters) or a key name of
// the registry readers (999), and the words around it.
constexpr std::size_t kPlaceSize = 1100;
constexpr std::size_t kLineSize = kPlaceSize + kSidTextSize + 160;

}  // namespace

void PasswordExposure::PasswordRead(int portNumber) {
  WinApi& api = context_.api;
  UniqueLocal security(api);
  char place[kPlaceSize];
  if (source_ == PortConfigSource::ConfigFile) {
    if (fileJudged_) {
      return;
    }
    fileJudged_ = true;
    FormatBounded(place, sizeof place, "\"%s\"", context_.settings.iniPath);
    if (ReadFileSecurity(api, context_.settings.iniPath, security) != ERROR_SUCCESS) {
      return;
    }
  } else {
    char keyName[kPlaceSize - 64];
    if (!FormatBounded(keyName, sizeof keyName, "%s\\%d", context_.profile.configRegistryKey,
                       portNumber)) {
      return;
    }
    const UniqueRegKey key = OpenRegistryKey(api, HKEY_LOCAL_MACHINE, keyName, READ_CONTROL);
    if (!key || ReadKeySecurity(api, key.get(), security) != ERROR_SUCCESS) {
      return;
    }
    FormatBounded(place, sizeof place, "the registry key \"HKEY_LOCAL_MACHINE\\%s\"", keyName);
  }
  if (runAccount_[0] == '\0') {
    RunAccountSid(api, runAccount_);
  }
  const std::string_view account =
      LesserAccountWith(static_cast<const char*>(security.get()), Access::Read, runAccount_);
  if (account.empty()) {
    return;
  }
  const std::string_view shown = AccountName(account);
  char line[kLineSize];
  FormatBounded(line, sizeof line - 1,
                "Warning: the password (AuthText) in %s can be read by %.*s: let only SYSTEM and "
                "the administrators read it",
                place, static_cast<int>(shown.size()), shown.data());
  std::size_t length = std::strlen(line);
  ShowControlsAsQuestionMarks(line, length);
  line[length++] = '\n';  // room was kept for it
  api.WriteStderr(std::string_view(line, length));
}

void PasswordExposure::CheckPort(int portNumber) {
  PortKeyReader reader(context_, source_, portNumber, ValueProblems::kIgnored);
  Wiped<char[kConfigTextSize]> password;
  reader.ReadText("AuthText", *password);
  if ((*password)[0] != '\0') {
    PasswordRead(portNumber);
  }
}

}  // namespace tolvo
