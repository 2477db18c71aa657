#include "platform/format_text.h"

#include <cstdio>

namespace tolvo {

bool FormatTextV(char* target, std::size_t size, const char* format, va_list args) {
#if defined(_WIN32)
  // msvcrt's: it leaves a result of size - 1 characters or more
  // unterminated and answers -1 for a cut one.
  const int written = _vsnprintf(target, size - 1, format, args);
  target[size - 1] = '\0';
  if (written >= 0) {
    target[written] = '\0';
  }
  return written >= 0;
#else
  const int written = std::vsnprintf(target, size, format, args);
  if (written < 0) {
    target[0] = '\0';
  }
  return written >= 0 && static_cast<std::size_t>(written) < size;
#endif
}

bool FormatText(char* target, std::size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const bool whole = FormatTextV(target, size, format, args);
  va_end(args);
  return whole;
}

void ShowControlsAsQuestionMarks(char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (static_cast<unsigned char>(text[i]) < 0x20) {
      text[i] = '?';
    }
  }
}

}  // namespace tolvo
