#include "platform/trace_line.h"

#include <cstdarg>
#include <cstring>

#include "platform/format_text.h"

namespace tolvo {

namespace {

constexpr std::string_view kSecretKey = "AuthText";
// Room kept at the end of a line for the cut marker and the line break.
constexpr std::size_t kLineReserve = 8;

struct NamedError {
  DWORD code;
  const char* name;
};

#define TOLVO_NAMED_ERROR(code) \
  { static_cast<DWORD>(code), #code }
constexpr NamedError kErrorNames[] = {
    TOLVO_NAMED_ERROR(ERROR_SUCCESS),
    TOLVO_NAMED_ERROR(ERROR_INVALID_FUNCTION),
    TOLVO_NAMED_ERROR(ERROR_FILE_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_PATH_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_ACCESS_DENIED),
    TOLVO_NAMED_ERROR(ERROR_INVALID_HANDLE),
    TOLVO_NAMED_ERROR(ERROR_NOT_ENOUGH_MEMORY),
    TOLVO_NAMED_ERROR(ERROR_BAD_ENVIRONMENT),
    TOLVO_NAMED_ERROR(ERROR_OUTOFMEMORY),
    TOLVO_NAMED_ERROR(ERROR_NO_MORE_FILES),
    TOLVO_NAMED_ERROR(ERROR_SHARING_VIOLATION),
    TOLVO_NAMED_ERROR(ERROR_FILE_EXISTS),
    TOLVO_NAMED_ERROR(ERROR_INVALID_PARAMETER),
    TOLVO_NAMED_ERROR(ERROR_CALL_NOT_IMPLEMENTED),
    TOLVO_NAMED_ERROR(ERROR_INSUFFICIENT_BUFFER),
    TOLVO_NAMED_ERROR(ERROR_INVALID_NAME),
    TOLVO_NAMED_ERROR(ERROR_MOD_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_PROC_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_DIR_NOT_EMPTY),
    TOLVO_NAMED_ERROR(ERROR_BUSY),
    TOLVO_NAMED_ERROR(ERROR_ALREADY_EXISTS),
    TOLVO_NAMED_ERROR(ERROR_ENVVAR_NOT_FOUND),
    TOLVO_NAMED_ERROR(ERROR_MORE_DATA),
    TOLVO_NAMED_ERROR(ERROR_NO_MORE_ITEMS),
    TOLVO_NAMED_ERROR(ERROR_UNKNOWN_PORT),
    TOLVO_NAMED_ERROR(ERROR_INVALID_PRINTER_NAME),
    TOLVO_NAMED_ERROR(ERROR_INVALID_ENVIRONMENT),
    TOLVO_NAMED_ERROR(ERROR_UNKNOWN_PRINT_MONITOR),
    TOLVO_NAMED_ERROR(ERROR_PRINT_MONITOR_ALREADY_INSTALLED),
    // Not among the installer's own constants, but what a machine whose
    // spooler is stopped, or a text the code page cannot convert, answers.
    {1722, "RPC_S_SERVER_UNAVAILABLE"},
    {1113, "ERROR_NO_UNICODE_TRANSLATION"},
};
#undef TOLVO_NAMED_ERROR

const char* ErrorName(DWORD error) {
  for (const NamedError& entry : kErrorNames) {
    if (entry.code == error) {
      return entry.name;
    }
  }
  return nullptr;
}

// Printable ASCII but for the quote and the backslash, which are escaped.
bool IsShownAsIs(char c) {
  return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
}

char LowerAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

// Key and value names are compared as Windows compares them: case aside.
bool IsTraceSecretKey(LPCSTR name) {
  if (name == nullptr || std::strlen(name) != kSecretKey.size()) {
    return false;
  }
  for (std::size_t i = 0; i < kSecretKey.size(); ++i) {
    if (LowerAscii(name[i]) != LowerAscii(kSecretKey[i])) {
      return false;
    }
  }
  return true;
}

std::string_view TerminatedText(const char* text, std::size_t size) {
  return std::string_view(text, strnlen(text, size));
}

// --- TraceLine ---------------------------------------------------------------

void TraceLine::Start(std::uint32_t milliseconds, std::string_view marker) {
  length_ = 0;
  part_ = Part::Free;
  joined_ = true;
  // The time right-aligned in eight places, as "%8lu " would, without the
  // cost of formatting it on every line.
  char digits[10];  // enough for any 32-bit number
  std::size_t count = 0;
  do {
    digits[sizeof digits - ++count] = static_cast<char>('0' + milliseconds % 10);
    milliseconds /= 10;
  } while (milliseconds != 0);
  for (std::size_t width = count; width < 8; ++width) {
    Raw(" ");
  }
  Raw(std::string_view(digits + sizeof digits - count, count)).Raw(" ");
  Raw(marker);
}

void TraceLine::StartCall(std::uint32_t milliseconds, std::string_view function) {
  Start(milliseconds, function);
  part_ = Part::Arguments;
  joined_ = false;
  Raw("(");
  joined_ = true;
}

TraceLine& TraceLine::Returns() {
  Raw(") = ");
  part_ = Part::Result;
  joined_ = true;
  return *this;
}

TraceLine& TraceLine::Separate() {
  if (!joined_) {
    Raw(part_ == Part::Arguments ? ", " : " ");
  }
  joined_ = part_ == Part::Free;
  return *this;
}

TraceLine& TraceLine::Label(std::string_view label) {
  Separate().Raw(label);
  joined_ = true;
  return *this;
}

TraceLine& TraceLine::Raw(std::string_view text) {
  constexpr std::size_t kLimit = kSize - kLineReserve;
  if (length_ >= kLimit) {
    return *this;  // already cut
  }
  const std::size_t room = kLimit - length_;
  if (text.size() > room) {
    std::memcpy(buffer_ + length_, text.data(), room);
    length_ = kLimit;
    // The reserve has room for the marker and the line break.
    std::memcpy(buffer_ + length_, "...", 3);
    length_ += 3;
    return *this;
  }
  std::memcpy(buffer_ + length_, text.data(), text.size());
  length_ += text.size();
  return *this;
}

void TraceLine::EndLine() {
  buffer_[length_++] = '\n';
}

TraceLine& TraceLine::Format(const char* format, ...) {
  char piece[256];
  va_list args;
  va_start(args, format);
  FormatTextV(piece, sizeof piece, format, args);
  va_end(args);
  return Raw(TerminatedText(piece, sizeof piece));
}

TraceLine& TraceLine::Value(std::string_view word) {
  return Separate().Raw(word);
}

TraceLine& TraceLine::Text(std::string_view text) {
  static constexpr char kDigits[] = "0123456789abcdef";
  const std::size_t shown = text.size() < kTextShown ? text.size() : kTextShown;
  char escaped[4] = {'\\', 'x', '0', '0'};
  Separate().Raw("\"");
  std::size_t i = 0;
  while (i < shown) {
    // A run of bytes that are shown as they are, in one piece.
    std::size_t end = i;
    while (end < shown && IsShownAsIs(text[end])) {
      ++end;
    }
    Raw(text.substr(i, end - i));
    if (end == shown) {
      break;
    }
    i = end;
    const auto c = static_cast<unsigned char>(text[i++]);
    switch (c) {
      case '"':
        Raw("\\\"");
        continue;
      case '\\':
        Raw("\\\\");
        continue;
      case '\n':
        Raw("\\n");
        continue;
      case '\r':
        Raw("\\r");
        continue;
      case '\t':
        Raw("\\t");
        continue;
      default:
        break;
    }
    escaped[2] = kDigits[c >> 4];
    escaped[3] = kDigits[c & 0xF];
    Raw(std::string_view(escaped, sizeof escaped));
  }
  Raw("\"");
  if (shown < text.size()) {
    Format("...(%lu bytes)", static_cast<unsigned long>(text.size()));
  }
  return *this;
}

TraceLine& TraceLine::Text(LPCSTR text) {
  if (text == nullptr) {
    return Separate().Raw("NULL");
  }
  return Text(TerminatedText(text, kTextShown + 1));
}

TraceLine& TraceLine::Wide(LPCWSTR text) {
  if (text == nullptr) {
    return Separate().Raw("NULL");
  }
  // Shown as its ASCII range; any other unit as \x7f. Only names the
  // installer composed itself (monitors, ports, commands) pass through here.
  char narrow[kTextShown + 1];
  std::size_t length = 0;
  for (; length < kTextShown && text[length] != 0; ++length) {
    const auto unit = static_cast<std::uint16_t>(text[length]);
    narrow[length] = unit < 0x80 ? static_cast<char>(unit) : '\x7F';
  }
  Separate().Raw("L");
  joined_ = true;
  return Text(std::string_view(narrow, length));
}

TraceLine& TraceLine::Hex(std::uint64_t value) {
  char digits[19];
  std::size_t start = sizeof digits;
  do {
    digits[--start] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  digits[--start] = 'x';
  digits[--start] = '0';
  return Separate().Raw(std::string_view(digits + start, sizeof digits - start));
}

TraceLine& TraceLine::Decimal(long value) {
  return Separate().Format("%ld", value);
}

TraceLine& TraceLine::Pointer(const void* value) {
  if (value == nullptr) {
    return Separate().Raw("NULL");
  }
  return Hex(reinterpret_cast<std::uintptr_t>(value));
}

TraceLine& TraceLine::ErrorCode(DWORD error) {
  Separate().Format("%lu", static_cast<unsigned long>(error));
  if (const char* name = ErrorName(error)) {
    Raw(" ").Raw(name);
  }
  return *this;
}

TraceLine& TraceLine::Hidden() {
  return Separate().Raw(kTraceSecretPlaceholder);
}

}  // namespace tolvo
