#include "portconfig/port_loading.h"

#include <cstring>

#include "core/text.h"
#include "core/wiped.h"
#include "portconfig/monitor_channel.h"
#include "portconfig/password_exposure.h"

namespace tolvo {

namespace {

// Shown in the port line in place of a password: the line reaches the
// console, the run log (which others may be able to read) and the support
// trace. Its length is fixed, so it tells nothing of the password's.
constexpr const char* kPasswordMask = "********";

// One line per created port. Its three configuration texts of at most 259
// characters, the numbers and the mask fit the message buffer; were it
// ever cut, it would still end its line.
void PrintPortLine(Output& output, const PortConfiguration& config) {
  char* message = output.messageBuffer();
  if (!FormatBounded(
          message, kMessageBufferSize, "    New - IP:%s:%i, Desc:%s, Queue:%s, Type:%d %s\n",
          config.ServerIP[0], static_cast<int>(config.ServerPort), config.Description, config.Queue,
          static_cast<int>(config.AuthType), config.AuthText[0] != '\0' ? kPasswordMask : "")) {
    message[kMessageBufferSize - 2] = '\n';
  }
  output.PrintMessage(std::string_view(message, strnlen(message, kMessageBufferSize)));
}

void ReportUnnamedPort(RunContext& context, int portNumber) {
  char fullName[64];
  FormatBounded(fullName, sizeof fullName, context.profile.portNameFormat, portNumber);
  context.output.PrintFormatted(
      "    ERROR - Cannot create port %s: the port name is longer than %d characters\n", fullName,
      kPortNameLength);
}

}  // namespace

bool LoadPortConfiguration(RunContext& context, PortConfigSource source, int& portCount,
                           const char* serverName) {
  portCount = 0;
  bool result = true;
  const char* server = (serverName != nullptr && *serverName != '\0') ? serverName : nullptr;
  MonitorChannel channel = OpenMonitorChannel(context, server, context.profile.productWord);

  // Each port's settings, its password among them, are wiped when the walk ends.
  Wiped<PortConfiguration> wipedConfig;
  PortConfiguration& config = *wipedConfig;
  PasswordExposure exposure(context, source);
  int portNumber = 1;
  for (;; ++portNumber) {
    if (!ReadPortConfiguration(context, source, portNumber, config)) {
      break;
    }
    if (config.AuthText[0] != '\0') {
      exposure.PasswordRead(portNumber);
    }
    // A name cut to the port field would be another port's name and
    // overwrite that port's settings: the walk ends here instead.
    if (config.PortName[0] == '\0') {
      ReportUnnamedPort(context, portNumber);
      result = false;
      break;
    }
    if (!channel.ready() || !CreateMonitorPort(context, channel, config)) {
      result = false;
      break;
    }
    PrintPortLine(context.output, config);
  }
  portCount = portNumber - 1;
  CloseMonitorChannel(context, channel);
  return result;
}

}  // namespace tolvo
