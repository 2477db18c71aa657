// The support trace's lines: composed in a fixed buffer, bounded (see
// platform/trace_api.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/win_types.h"

namespace tolvo {

// True for the key whose values are secrets: "AuthText", in any case, as
// Windows compares key and value names.
bool IsTraceSecretKey(LPCSTR name);
// The text in a fixed buffer: up to its terminator or the buffer's end.
std::string_view TerminatedText(const char* text, std::size_t size);

inline constexpr std::string_view kTraceSecretPlaceholder = "<AuthText hidden>";

// One trace line, composed in place: "<ms> Name(arg, arg) = result ...".
// The value appenders (Text, Wide, Hex, Decimal, Pointer, ErrorCode) put
// the separator of the line's part before their value: "(" or ", " among a
// call's arguments, a blank after its result, nothing on a free line.
class TraceLine {
 public:
  static constexpr std::size_t kSize = 4096;
  // Texts longer than this are shown cut, with their full length.
  static constexpr std::size_t kTextShown = 1024;

  // A free line: the time and the marker, then values.
  void Start(std::uint32_t milliseconds, std::string_view marker);
  // A call's line: the time and the name, then its arguments.
  void StartCall(std::uint32_t milliseconds, std::string_view function);
  // Ends the arguments: ") = ", then the result and what follows it.
  TraceLine& Returns();

  TraceLine& Raw(std::string_view text);
  TraceLine& Format(const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 2, 3)))
#endif
      ;
  // A separator and `label`; the value that follows joins it directly.
  TraceLine& Label(std::string_view label);

  TraceLine& Value(std::string_view word);  // as it is: TRUE, FALSE, 0
  TraceLine& Text(std::string_view text);   // quoted, escaped
  TraceLine& Text(LPCSTR text);             // also NULL
  TraceLine& Wide(LPCWSTR text);            // L"..." or NULL
  TraceLine& Hex(std::uint64_t value);
  TraceLine& Decimal(long value);
  TraceLine& Pointer(const void* value);  // handles and addresses
  TraceLine& ErrorCode(DWORD error);      // "3000 ERROR_UNKNOWN_PRINT_MONITOR"
  TraceLine& Hidden();                    // a password's placeholder

  // Ends the line with its line break (there is always room for it).
  void EndLine();
  std::string_view text() const {
    return std::string_view(buffer_, length_);
  }

 private:
  enum class Part { Free, Arguments, Result };
  TraceLine& Separate();

  char buffer_[kSize] = {};
  std::size_t length_ = 0;
  Part part_ = Part::Free;
  bool joined_ = true;  // the next value follows without a separator
};

}  // namespace tolvo
