// The programs a run starts by name from the product folder, and the rule
// that keeps the files the run writes (its log, its support trace) apart
// from them.
#pragma once

#include <string_view>

namespace tolvo {

// Run through the command interpreter after an installation with arguments.
inline constexpr const char* kSiteScript = "install_printer.bat";
// Ends the running desktop clients.
inline constexpr const char* kStopTool = "Quarvel.exe";
// The desktop client.
inline constexpr const char* kClientExecutable = "Tolvo Client.exe";

// True when the last part of `path` names the site script, one of the
// programs above or the command interpreter ("cmd.exe"), in any letter
// case, with trailing dots or blanks (which Windows drops) or a stream
// suffix (":..."). A run log or trace of such a name could be run, with
// the lines the run writes into it, by this run or the next.
bool NamedLikeStartedProgram(std::string_view path);

// The error a run log or trace of such a name is refused with (an
// application's own code: bit 29 set), which ReportFileNotOpened words.
inline constexpr unsigned long kErrorNamedLikeStartedProgram = 0x20000001ul;

}  // namespace tolvo
