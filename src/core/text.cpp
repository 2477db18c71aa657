#include "core/text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

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
  const int written = std::vsnprintf(target, targetSize, format, args);
  va_end(args);
  if (written < 0) {
    target[0] = '\0';
    return false;
  }
  return static_cast<std::size_t>(written) < targetSize;
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

namespace {

// What the profile functions hand on of a value: the integer reader takes
// it into a buffer of 30 characters.
constexpr std::size_t kProfileIntegerText = 29;

bool IsProfileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string_view ProfileValue(std::string_view text) {
  while (!text.empty() && IsProfileBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsProfileBlank(text.back())) {
    text.remove_suffix(1);
  }
  if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
      text.back() == text.front()) {
    text = text.substr(1, text.size() - 2);
  }
  return text;
}

unsigned DigitValue(char c) {
  if (c >= '0' && c <= '9') {
    return static_cast<unsigned>(c - '0');
  }
  if (c >= 'a' && c <= 'z') {
    return static_cast<unsigned>(c - 'a' + 10);
  }
  if (c >= 'A' && c <= 'Z') {
    return static_cast<unsigned>(c - 'A' + 10);
  }
  return 36;  // no digit in any base
}

}  // namespace

std::uint32_t ProfileInteger(std::string_view text, std::uint32_t defaultValue) {
  text = ProfileValue(text);
  if (text.empty()) {
    return defaultValue;
  }
  text = text.substr(0, kProfileIntegerText);
  // Every control character counts as a blank here.
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') {
    text.remove_prefix(1);
  }
  const bool negative = !text.empty() && text.front() == '-';
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (text.size() >= 2 && text[0] == '0') {
    const char prefix = text[1];
    base = prefix == 'x' ? 16 : prefix == 'o' ? 8 : prefix == 'b' ? 2 : 10;
    if (base != 10) {
      text.remove_prefix(2);
    }
  }
  std::uint32_t value = 0;
  for (const char c : text) {
    const unsigned digit = DigitValue(c);
    if (digit >= base) {
      break;
    }
    value = value * base + digit;
  }
  return negative ? 0u - value : value;
}

}  // namespace tolvo
