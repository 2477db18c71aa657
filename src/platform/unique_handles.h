// Owners for every handle, module and allocation obtained through the seam.
//
// Modelled on WIL's unique_any: one owner type per kind of resource, each
// releasing its resource through the same WinApi that produced it, on every
// path out of a scope. put() gives the address for Win32 out-parameters.
// Releasing keeps the thread's last error, so that an owner going out of
// scope after a failed call leaves that call's error for the caller.
#pragma once

#include <utility>

#include "platform/win_api.h"

namespace tolvo {

template <typename Traits>
class UniqueResource {
 public:
  using Type = typename Traits::Type;

  explicit UniqueResource(WinApi& api) : api_(&api), value_(Traits::Invalid()) {}
  UniqueResource(WinApi& api, Type value) : api_(&api), value_(value) {}
  ~UniqueResource() { reset(); }

  UniqueResource(const UniqueResource&) = delete;
  UniqueResource& operator=(const UniqueResource&) = delete;
  UniqueResource(UniqueResource&& other) noexcept
      : api_(other.api_), value_(std::exchange(other.value_, Traits::Invalid())) {}
  UniqueResource& operator=(UniqueResource&& other) noexcept {
    if (this != &other) {
      reset();
      api_ = other.api_;
      value_ = std::exchange(other.value_, Traits::Invalid());
    }
    return *this;
  }

  [[nodiscard]] Type get() const { return value_; }
  [[nodiscard]] bool valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }

  // Releases the current resource and returns the slot for an out-parameter.
  Type* put() {
    reset();
    return &value_;
  }

  void reset(Type value = Traits::Invalid()) {
    if (valid()) {
      const DWORD error = api_->GetLastError();
      Traits::Close(*api_, value_);
      api_->SetLastError(error);
    }
    value_ = value;
  }

  [[nodiscard]] Type release() { return std::exchange(value_, Traits::Invalid()); }

 private:
  WinApi* api_;
  Type value_;
};

struct RegKeyTraits {
  using Type = HKEY;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type key) { api.RegCloseKey(key); }
};

struct PrinterTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type printer) { api.ClosePrinter(printer); }
};

struct FindTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(WinApi& api, Type find) { api.FindClose(find); }
};

struct ModuleTraits {
  using Type = HMODULE;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type module) { api.FreeLibrary(module); }
};

struct GlobalMemoryTraits {
  using Type = HGLOBAL;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type memory) { api.GlobalFree(memory); }
};

struct EventSourceTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type source) { api.DeregisterEventSource(source); }
};

struct KernelHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type handle) { api.CloseHandle(handle); }
};

// A file CreateFileA opened, which fails with INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Type = HANDLE;
  static Type Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(WinApi& api, Type file) { api.CloseHandle(file); }
};

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type memory) { api.LocalFree(memory); }
};

// A mutex this run waited for and owns: released, not closed.
struct MutexOwnershipTraits {
  using Type = HANDLE;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type mutex) { api.ReleaseMutex(mutex); }
};

struct RunLogTraits {
  using Type = RunLogStream;
  static Type Invalid() { return nullptr; }
  static void Close(WinApi& api, Type stream) { api.CloseRunLog(stream); }
};

using UniqueRegKey = UniqueResource<RegKeyTraits>;
using UniquePrinter = UniqueResource<PrinterTraits>;
using UniqueFind = UniqueResource<FindTraits>;
using UniqueModule = UniqueResource<ModuleTraits>;
using UniqueGlobal = UniqueResource<GlobalMemoryTraits>;
using UniqueEventSource = UniqueResource<EventSourceTraits>;
using UniqueKernelHandle = UniqueResource<KernelHandleTraits>;
using UniqueFile = UniqueResource<FileHandleTraits>;
using UniqueLocal = UniqueResource<LocalMemoryTraits>;
using UniqueMutexOwnership = UniqueResource<MutexOwnershipTraits>;
using UniqueRunLog = UniqueResource<RunLogTraits>;

// kAdministratorsOnlySecurity as a descriptor; empty, with the last error
// set, when it cannot be made.
inline UniqueLocal MakeAdministratorsOnlySecurity(WinApi& api) {
  UniqueLocal descriptor(api);
  api.ConvertStringSecurityDescriptorToSecurityDescriptorA(
      kAdministratorsOnlySecurity, SDDL_REVISION_1, descriptor.put(), nullptr);
  return descriptor;
}

}  // namespace tolvo
