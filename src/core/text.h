// Bounded text routines shared by every subsystem. None of them writes past
// the target size they are given; a text that does not fit is cut.
#pragma once

#include <cstddef>
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

}  // namespace tolvo
