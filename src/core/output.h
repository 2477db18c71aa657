// Console and run-log output. Every line the installer reports goes through
// PrintMessage: to standard output and, while the run log is open, to the
// run log as well.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/unique_handles.h"
#include "platform/win_api.h"

namespace tolvo {

inline constexpr std::size_t kMessageBufferSize = 1000;

class Output {
 public:
  explicit Output(WinApi& api) : api_(api), runLog_(api) {}

  // Writes `text` unchanged (a "%" stays a "%").
  void PrintMessage(std::string_view text);

  // printf into the shared message buffer, then PrintMessage. A message
  // longer than 999 characters is cut to fit the buffer.
  void PrintFormatted(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  // printf straight to standard output; never reaches the run log.
  void PrintConsoleOnly(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;

  void ReportCheckError(const char* fileName);
  void ReportCopyError(const char* fileName);

  // The shared 1000-byte buffer, for the driver's own composing.
  char* messageBuffer() {
    return messageBuffer_;
  }

  // Opens the run log for appending; false, with the last error set, when
  // it cannot be opened. A log it creates gets MakeCreatedFileSecurity's
  // descriptor.
  bool OpenRunLog(const char* path);
  // Closes the run log (flushing it); later output reaches the console only.
  void CloseRunLog() {
    runLog_.reset();
  }
  bool runLogOpen() const {
    return runLog_.valid();
  }

 private:
  WinApi& api_;
  UniqueRunLog runLog_;
  char messageBuffer_[kMessageBufferSize] = {};
};

}  // namespace tolvo
