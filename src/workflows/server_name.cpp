#include "workflows/server_name.h"

#include "portconfig/monitor_channel.h"
#include "workflows/server_name_rule.h"

namespace tolvo {

bool CheckServerName(RunContext& context, const char* serverName) {
  const std::size_t longest = LongestServerName(context.profile.productWord);
  if (serverName == nullptr || TolvoIsServerName(serverName, longest)) {
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
