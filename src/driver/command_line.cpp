#include "driver/command_line.h"

#include <cstring>

namespace tolvo {

namespace {

// Only the two forms given are recognised; "-U" and "-u" but never "/u".
bool IsEither(const char* argument, const char* lower, const char* upper) {
  return std::strcmp(argument, lower) == 0 || std::strcmp(argument, upper) == 0;
}

bool StartsWithEither(const char* argument, const char* lower, const char* upper) {
  return std::strncmp(argument, lower, 2) == 0 || std::strncmp(argument, upper, 2) == 0;
}

}  // namespace

CommandLineOptions ParseCommandLine(int argc, char** argv, RunSettings& settings) {
  CommandLineOptions options;
  if (argv == nullptr) {
    return options;
  }
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    if (argument == nullptr) {
      break;
    }
    if (IsEither(argument, "-?", "/?")) {
      options.showUsage = true;
    } else if (IsEither(argument, "-a", "-A")) {
      settings.enterpriseEdition = true;
    } else if (IsEither(argument, "-u", "-U")) {
      options.uninstall = true;
    } else if (IsEither(argument, "-e", "-E")) {
      options.install.ignoreErrors = true;
    } else if (IsEither(argument, "-r", "-R")) {
      options.install.configFromRegistry = true;
    } else if (IsEither(argument, "-c", "-C")) {
      options.install.copyFiles = false;
    } else if (IsEither(argument, "-s", "-S")) {
      // Still accepted from older site scripts; the output is the same without it.
    } else if (IsEither(argument, "-v", "-V")) {
      options.check = true;
    } else if (IsEither(argument, "-f", "-F")) {
      options.obsoleteClientSwitch = true;
    } else if (StartsWithEither(argument, "-l", "-L")) {
      options.logPathOverride = argument + 2;
    } else if (StartsWithEither(argument, "-i", "-I")) {
      options.iniPathOverride = argument + 2;
    } else if (StartsWithEither(argument, "-t", "-T")) {
      options.tracePath = argument + 2;
      continue;
    } else {
      options.install.serverName = argument;
    }
    ++options.argumentCount;
  }
  return options;
}

}  // namespace tolvo
