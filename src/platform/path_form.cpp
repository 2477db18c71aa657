#include "platform/path_form.h"

#include "core/text.h"

namespace tolvo {

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

bool IsDriveLetter(char c) {
  const char letter = static_cast<char>(c | 0x20);
  return letter >= 'a' && letter <= 'z';
}

}  // namespace

PathForm FormOfPath(std::string_view path) {
  constexpr std::string_view kLongShare = "\\\\?\\UNC\\";
  constexpr std::string_view kLong = "\\\\?\\";
  using Kind = PathForm::Kind;
  if (StartsWith(path, kLongShare)) {
    return {Kind::kShare, kLongShare.size() - 1};
  }
  std::size_t at = 0;
  if (StartsWith(path, kLong)) {
    at = kLong.size();
  } else if (StartsWith(path, "\\\\")) {
    const bool device = path.size() <= 2 || path[2] == '.' || path[2] == '?';
    return {device ? Kind::kDevice : Kind::kShare, 1};
  }
  if (path.size() >= at + 2 && IsDriveLetter(path[at]) && path[at + 1] == ':') {
    return {Kind::kDrive, at};
  }
  return {at == 0 ? Kind::kCurrentDrive : Kind::kDevice, 0};
}

}  // namespace tolvo
