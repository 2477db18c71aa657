#include "workflows/run_preconditions.h"

#include <cstring>

#include "winenv/windows_image.h"
#include "winenv/windows_version.h"

namespace tolvo {

namespace {

constexpr BYTE kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

void ReportUnservedMachine(Output& output, WORD machine) {
  if (machine == kImageMachineArm64) {
    output.PrintMessage("ERROR: This kit cannot serve Windows on ARM64");
  } else {
    output.PrintFormatted("ERROR: This kit cannot serve Windows on machine type 0x%04X",
                          static_cast<unsigned>(machine));
  }
  output.PrintMessage(": its port monitors are for x86 and x64 Windows only\n");
}

}  // namespace

bool CheckMachineServed(RunContext& context) {
  const WORD machine = NativeMachine(context.api);
  if (machine == kImageMachineI386 || machine == kImageMachineAmd64) {
    return true;
  }
  ReportUnservedMachine(context.output, machine);
  return false;
}

bool CheckSpoolerAnswers(RunContext& context, const char* serverName) {
  DWORD needed = 0;
  DWORD returned = 0;
  // A size query: a spooler that answers names the size or that there is
  // nothing to list.
  if (context.api.EnumMonitorsA(const_cast<LPSTR>(serverName), 2, nullptr, 0, &needed, &returned)) {
    return true;
  }
  const DWORD error = context.api.GetLastError();
  if (error == ERROR_INSUFFICIENT_BUFFER) {
    return true;
  }
  Output& output = context.output;
  if (serverName != nullptr) {
    // Printed as they are: a "%" in the name stays a "%".
    output.PrintMessage("ERROR: The print spooler on ");
    output.PrintMessage(serverName);
    output.PrintFormatted(" cannot be reached (error %d): check the name, and start it there with ",
                          static_cast<int>(error));
    output.PrintMessage("'sc ");
    output.PrintMessage(serverName);
    output.PrintMessage(" start spooler'\n");
  } else if (error == RPC_S_SERVER_UNAVAILABLE) {
    output.PrintMessage(
        "ERROR: The print spooler is not running: start it with 'net start spooler' (when it is "
        "disabled, first 'sc config spooler start= auto')\n");
  } else {
    output.PrintFormatted("ERROR (%d) While Reaching the Print Spooler.\n",
                          static_cast<int>(error));
  }
  return false;
}

ConfigurationText CheckConfigurationText(RunContext& context) {
  const char* path = context.settings.iniPath;
  BYTE start[sizeof kUtf8Mark] = {};
  DWORD read = 0;
  if (!ReadFileStart(context.api, path, start, sizeof start, read)) {
    const DWORD error = context.api.GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
      return ConfigurationText::kReadable;
    }
    context.output.PrintFormatted("ERROR (%d) While Checking '", static_cast<int>(error));
    context.output.PrintMessage(path);
    context.output.PrintMessage("'.\n");
    return ConfigurationText::kUnreadable;
  }
  if (read < sizeof kUtf8Mark || std::memcmp(start, kUtf8Mark, sizeof kUtf8Mark) != 0) {
    return ConfigurationText::kReadable;
  }
  context.output.PrintMessage("ERROR: '");
  context.output.PrintMessage(path);
  context.output.PrintMessage(
      "' begins with a UTF-8 byte-order mark, which Windows does not read: save it without the "
      "mark, or as UTF-16\n");
  return ConfigurationText::kUtf8Marked;
}

}  // namespace tolvo
