// What a run can know before its first change about machines the kit
// cannot serve. Each check prints the one line that says why and returns
// false; "-e" passes over none of them, since every later step would fail
// or do harm.
#pragma once

#include "core/run_context.h"

namespace tolvo {

// The kit holds port monitors for x86 and x64 Windows only: a 32-bit
// program runs under WOW64 on ARM64 Windows too, where the spooler cannot
// load an x64 monitor.
bool CheckMachineServed(RunContext& context);

// The spooler (on `serverName`, or here for null) answers: a stopped or
// disabled spooler fails every spooler call of the run, after the old
// monitor's files are gone.
bool CheckSpoolerAnswers(RunContext& context, const char* serverName);

enum class ConfigurationText {
  kReadable,    // as Windows' profile functions read it, or missing
  kUtf8Marked,  // refused: read as ANSI, its first line lost to the mark
  kUnreadable,  // its first bytes could not be read (reported)
};

// The configuration file as the profile functions will read it. A file that
// is not there is left to the file check.
ConfigurationText CheckConfigurationText(RunContext& context);

}  // namespace tolvo
