// The installer's command line.
#pragma once

#include "core/run_settings.h"
#include "workflows/install_sequence.h"

namespace tolvo {

// What the arguments asked for. Every text points into the argument vector;
// nothing is copied.
struct CommandLineOptions {
  bool showUsage = false;  // "-?" or "/?"
  bool uninstall = false;  // "-u"
  bool check = false;      // "-v": compare the machine with the configuration
  // "-e", "-r", cleared by "-c", and any other argument whole as the server.
  InstallOptions install;
  bool obsoleteClientSwitch = false;      // "-f"
  const char* logPathOverride = nullptr;  // text after "-l", possibly empty
  const char* iniPathOverride = nullptr;  // text after "-i", possibly empty
  const char* tracePath = nullptr;        // text after "-t": the support trace's file
  // The arguments other than "-t": a traced run is the run it would be
  // untraced, so "-t" alone still makes an installation without arguments.
  int argumentCount = 0;
};

// Matches each argument after the program name against the switches; the
// first matching rule decides, later arguments overwrite earlier texts.
// "-a"/"-A" sets settings.enterpriseEdition directly. Comparisons are exact
// and case-sensitive; anything unrecognised is taken as the server name.
CommandLineOptions ParseCommandLine(int argc, char** argv, RunSettings& settings);

}  // namespace tolvo
