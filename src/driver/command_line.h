// The installer's command line.
#pragma once

#include "core/run_settings.h"

namespace tolvo {

// What the arguments asked for. Every text points into the argument vector;
// nothing is copied.
struct CommandLineOptions {
  bool showUsage = false;                 // "-?" or "/?"
  bool uninstall = false;                 // "-u"
  bool ignoreErrors = false;              // "-e"
  bool configFromRegistry = false;        // "-r"
  bool copyFiles = true;                  // cleared by "-c"
  bool obsoleteClientSwitch = false;      // "-f"
  const char* logPathOverride = nullptr;  // text after "-l", possibly empty
  const char* iniPathOverride = nullptr;  // text after "-i", possibly empty
  const char* serverName = nullptr;       // any other argument, whole
};

// Matches each argument after the program name against the switches; the
// first matching rule decides, later arguments overwrite earlier texts.
// "-a"/"-A" sets settings.enterpriseEdition directly. Comparisons are exact
// and case-sensitive; anything unrecognised is taken as the server name.
CommandLineOptions ParseCommandLine(int argc, char** argv, RunSettings& settings);

}  // namespace tolvo
