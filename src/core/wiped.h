// Memory that held a password is cleared as soon as it is no longer
// needed, so that a crash dump of an elevated run does not carry it. The
// writes go through a volatile pointer, as SecureZeroMemory's do: a plain
// memset of memory that is about to be released may be dropped by the
// compiler as a store nobody reads.
#pragma once

#include <cstddef>
#include <type_traits>

namespace tolvo {

inline void WipeMemory(void* memory, std::size_t size) {
  volatile unsigned char* bytes = static_cast<volatile unsigned char*>(memory);
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = 0;
  }
}

// A value that is cleared when it goes out of scope.
template <typename T>
class Wiped {
  static_assert(std::is_trivially_copyable<T>::value, "only plain data is wiped byte by byte");

 public:
  Wiped() = default;
  ~Wiped() { WipeMemory(&value_, sizeof value_); }
  Wiped(const Wiped&) = delete;
  Wiped& operator=(const Wiped&) = delete;

  T& operator*() { return value_; }
  T* operator->() { return &value_; }

 private:
  T value_{};
};

}  // namespace tolvo
