// Bounded text routines shared by every subsystem. None of them writes past
// the target size they are given; a text that does not fit is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tolvo {

// Copies at most targetSize - 1 characters of `source` and terminates the
// target. Returns false when `source` had to be cut. A targetSize of 0
// writes nothing.
bool CopyBounded(char* target, std::size_t targetSize, std::string_view source);

// Appends `source` to the terminated text in `target`, within targetSize.
// Returns false when `source` had to be cut.
bool AppendBounded(char* target, std::size_t targetSize, std::string_view source);

// printf into `target`, cut to targetSize - 1 characters. Returns false when
// the result was cut (or the format failed).
bool FormatBounded(char* target, std::size_t targetSize, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

// Appends a backslash to a non-empty path that does not end in one, when
// the buffer has room for it. Returns the length the path had before.
std::size_t EnsureTrailingBackslash(char* path, std::size_t pathSize);

// Copies `source` into `target` and ensures a trailing backslash. Does
// nothing when either is missing.
void CopyAsDirectory(const char* source, char* target, std::size_t targetSize);

// Writes `first` immediately followed by `second` into `target`. Does
// nothing when any of the three is missing. Returns true when the whole
// result fit.
bool ConcatPaths(const char* first, const char* second, char* target, std::size_t targetSize);

// Case-insensitive comparison that folds ASCII letters alone.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// The number GetPrivateProfileIntA gives for a key whose value, as written
// after the "=" in a profile file, is `text`: blanks around it and one pair
// of matching quotes dropped, an empty value the default; of the rest the
// first 29 characters count: blanks, a sign, a "0x", "0o" or "0b" prefix,
// then digits up to the first other character, modulo 2^32 ("12abc" is 12,
// "abc" 0, "-7" 4294967289).
std::uint32_t ProfileInteger(std::string_view text, std::uint32_t defaultValue);

}  // namespace tolvo
