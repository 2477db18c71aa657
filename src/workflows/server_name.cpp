#include "workflows/server_name.h"

#include <string_view>

#include "portconfig/monitor_channel.h"

namespace tolvo {

namespace {

bool IsServerName(std::string_view name, std::size_t longest) {
  if (name.size() < 3 || name.size() > longest || name.substr(0, 2) != "\\\\") {
    return false;
  }
  for (const char c : name.substr(2)) {
    if (static_cast<unsigned char>(c) < 0x20 || std::string_view("\\/,\" ").find(c) != name.npos) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool CheckServerName(RunContext& context, const char* serverName) {
  const std::size_t longest = LongestServerName(context.profile.productWord);
  if (serverName == nullptr || IsServerName(serverName, longest)) {
    return true;
  }
  // Printed whole, however long: it is what the command line gave.
  context.output.PrintMessage("ERROR: '");
  context.output.PrintMessage(serverName);
  context.output.PrintFormatted("' Is Not a Server Name (give \\\\NAME, at most %d characters).\n",
                                static_cast<int>(longest));
  return false;
}

}  // namespace tolvo
