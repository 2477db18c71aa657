// The support trace's file: the TraceSink of Install.exe.
#pragma once

#include "platform/trace_api.h"

namespace tolvo {

class TraceFile final : public TraceSink {
 public:
  TraceFile() = default;
  ~TraceFile() override;
  TraceFile(const TraceFile&) = delete;
  TraceFile& operator=(const TraceFile&) = delete;

  // Opens the file that the command line's `-t` names (`switchPath`, null
  // or empty when not given) or else the environment variable `variable`,
  // for appending, through `api` (the untraced Windows). The run is
  // elevated and the folder may be one that users can write to, so the
  // file opened must be the one named (OpenForAppending), and a file it
  // creates gets MakeCreatedFileSecurity's descriptor. Returns this sink,
  // or null when neither names a file, or when the file cannot be opened
  // or is refused (also when it is named like a program the run starts:
  // NamedLikeStartedProgram); the latter costs one line on the error stream
  // (ReportFileNotOpened) and nothing else.
  TraceSink* Open(WinApi& api, const char* switchPath, const char* variable);

  void Write(std::string_view text) override;
  std::uint32_t MillisecondsSinceStart() override;
  TraceProcessFacts ProcessFacts() override;
  HANDLE File() override { return file_; }

 private:
  void* file_ = nullptr;  // a Win32 file handle
  std::uint32_t startTicks_ = 0;
  char currentDirectory_[MAX_PATH + 1] = {};
  char localTime_[48] = {};
};

}  // namespace tolvo
