#include "platform/started_programs.h"

#include "core/text.h"

namespace tolvo {

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
    if (EqualsIgnoreCase(name, started)) {
      return true;
    }
  }
  return false;
}

}  // namespace tolvo
