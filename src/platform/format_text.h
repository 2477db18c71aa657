// printf-style formatting into a fixed buffer, the C runtime's own.
#pragma once

#include <cstdarg>
#include <cstddef>

namespace tolvo {

// Formats into `target`, cut to size - 1 characters and always terminated
// (size must not be 0). False when the result was cut or the format failed.
//
// On Windows this is msvcrt's formatting rather than the C99 one that
// mingw-w64 links in by default, which would add some 25 KiB of code to
// Install.exe for floating point and conversions it never prints; the
// conversions the installer uses (%s, %.*s, %c, %d, %i, %u, %x, %lu, %ld,
// widths and zero padding) read the same in both.
bool FormatTextV(char* target, std::size_t size, const char* format, va_list args);
bool FormatText(char* target, std::size_t size, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Replaces each control character of the `length` characters of `text`
// with "?": a line on the console shows a path as one line, whatever it holds.
void ShowControlsAsQuestionMarks(char* text, std::size_t length);

}  // namespace tolvo
