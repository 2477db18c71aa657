#include "platform/started_programs.h"

namespace tolvo {

namespace {

char FoldAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualFolded(std::string_view left, std::string_view right) {
  if (left.size() != right.size()) {
    return false;
  }
  for (std::size_t i = 0; i < left.size(); ++i) {
    if (FoldAscii(left[i]) != FoldAscii(right[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool NamedLikeStartedProgram(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  // "C:install_printer.bat" names a file in the drive's current folder.
  if (name.size() >= 2 && name[1] == ':' && separator == std::string_view::npos) {
    name.remove_prefix(2);
  }
  name = name.substr(0, name.find(':'));
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) {
    name.remove_suffix(1);
  }
  for (const std::string_view started : {kSiteScript, kStopTool, kClientExecutable, "cmd.exe"}) {
    if (EqualFolded(name, started)) {
      return true;
    }
  }
  return false;
}

}  // namespace tolvo
