#include "core/text.h"

#include <cstdarg>
#include <cstring>

#include "platform/format_text.h"

namespace tolvo {

bool CopyBounded(char* target, std::size_t targetSize, std::string_view source) {
  if (target == nullptr || targetSize == 0) {
    return source.empty();
  }
  const std::size_t count = source.size() < targetSize ? source.size() : targetSize - 1;
  std::memcpy(target, source.data(), count);
  target[count] = '\0';
  return count == source.size();
}

bool AppendBounded(char* target, std::size_t targetSize, std::string_view source) {
  if (target == nullptr || targetSize == 0) {
    return source.empty();
  }
  const std::size_t used = strnlen(target, targetSize);
  if (used >= targetSize) {
    return false;  // not terminated within its buffer: leave it alone
  }
  return CopyBounded(target + used, targetSize - used, source);
}

bool FormatBounded(char* target, std::size_t targetSize, const char* format, ...) {
  if (target == nullptr || targetSize == 0) {
    return false;
  }
  va_list args;
  va_start(args, format);
  const bool whole = FormatTextV(target, targetSize, format, args);
  va_end(args);
  return whole;
}

std::size_t EnsureTrailingBackslash(char* path, std::size_t pathSize) {
  if (path == nullptr || pathSize == 0) {
    return 0;
  }
  const std::size_t length = strnlen(path, pathSize);
  if (length > 0 && length + 1 < pathSize && path[length - 1] != '\\') {
    path[length] = '\\';
    path[length + 1] = '\0';
  }
  return length;
}

void CopyAsDirectory(const char* source, char* target, std::size_t targetSize) {
  if (source == nullptr || target == nullptr) {
    return;
  }
  CopyBounded(target, targetSize, source);
  EnsureTrailingBackslash(target, targetSize);
}

bool ConcatPaths(const char* first, const char* second, char* target, std::size_t targetSize) {
  if (first == nullptr || second == nullptr || target == nullptr) {
    return false;
  }
  return CopyBounded(target, targetSize, first) && AppendBounded(target, targetSize, second);
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) {
      return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

}  // namespace tolvo
