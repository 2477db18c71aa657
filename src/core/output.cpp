#include "core/output.h"

#include <cstdarg>
#include <cstring>

#include "platform/appended_files.h"
#include "platform/format_text.h"

namespace tolvo {

namespace {

// printf into the message buffer; the result is cut at 999 characters.
std::string_view Compose(char (&buffer)[kMessageBufferSize], const char* format, va_list args) {
  FormatTextV(buffer, sizeof buffer, format, args);
  return std::string_view(buffer, strnlen(buffer, sizeof buffer));
}

}  // namespace

void Output::PrintMessage(std::string_view text) {
  api_.WriteStdout(text);
  if (runLog_) {
    api_.WriteRunLog(runLog_.get(), text);
  }
}

void Output::PrintFormatted(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string_view message = Compose(messageBuffer_, format, args);
  va_end(args);
  PrintMessage(message);
}

void Output::PrintConsoleOnly(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string_view message = Compose(messageBuffer_, format, args);
  va_end(args);
  api_.WriteStdout(message);
}

void Output::ReportCheckError(const char* fileName) {
  PrintFormatted("ERROR While Checking '%s'.\n", fileName);
}

void Output::ReportCopyError(const char* fileName) {
  PrintFormatted("ERROR While Copying File '%s'.\n", fileName);
}

bool Output::OpenRunLog(const char* path) {
  UniqueLocal security(api_);
  if (!MakeCreatedFileSecurity(api_, path, security)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.get(), FALSE};
  runLog_.reset(api_.OpenRunLog(path, &attributes));
  return runLog_.valid();
}

}  // namespace tolvo
