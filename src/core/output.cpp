#include "core/output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tolvo {

namespace {

// vsnprintf into the message buffer; the result is cut at 999 characters.
std::string_view Compose(char (&buffer)[kMessageBufferSize], const char* format, va_list args) {
  const int written = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (written < 0) {
    buffer[0] = '\0';
  }
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
  // The port lines show passwords, and the default log is in the Windows
  // folder, which every user may read: a log the run creates is for
  // administrators alone.
  const UniqueLocal security = MakeAdministratorsOnlySecurity(api_);
  if (!security) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, security.get(), FALSE};
  runLog_.reset(api_.OpenRunLog(path, &attributes));
  return runLog_.valid();
}

}  // namespace tolvo
