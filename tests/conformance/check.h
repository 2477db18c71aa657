// Behaviour checks over the seam: one body of checks run against the
// simulated Windows (native, part of ctest) and against the real backend
// (mingw, under Wine in a 32-bit and in a 64-bit prefix), so that the
// simulator is held to what a real Win32 implementation does.
//
// Each check gets the seam and a scratch area of its own, made and removed
// by the backend under test: a folder, registry keys, and on request a test
// printer and the test monitor. A check sets the last error to 0xdeadbeef
// before a call whose failure it checks (EXPECT_FAILS), so that an error
// left over from an earlier call cannot pass for the call's own.
//
// Where Wine departs from Windows' documented behaviour, the check says so
// with WINE_DEPARTS (Windows' result, Wine's result, the source); the
// simulator follows Windows.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "platform/win_api.h"

namespace tolvo::checks {

inline constexpr DWORD kStale = 0xdeadbeef;
inline constexpr const char* kTestMonitorDll = "TOLVOCHK.DLL";  // kit/monitor, "Tolvo Check"

class Scratch {
 public:
  virtual ~Scratch() = default;
  virtual WinApi& api() = 0;
  // Whether the backend is Wine (the departures marked in the checks apply).
  virtual bool wine() const = 0;
  // Whether the process is a 32-bit one on 64-bit Windows.
  virtual bool wow64() const = 0;
  // An empty folder of the check's own: a full path without trailing "\".
  virtual const std::string& folder() const = 0;
  // Writes a file with exactly these bytes; files outside folder() are
  // removed with the scratch area.
  virtual void WriteFile(const std::string& path, std::string_view content) = 0;
  virtual std::string ReadFile(const std::string& path) = 0;
  // Keeps the file open, sharing nothing, until the scratch area goes.
  virtual void HoldOpen(const std::string& path) = 0;
  // Whether the file, marked read-only, can still be opened for writing:
  // never on Windows. Wine keeps the attribute as the host file's lack of
  // write permission, so there it depends on whether the host lets its user
  // write the file anyway (root, for one).
  virtual bool WritableThoughReadOnly(const std::string& path) = 0;
  // A local printer of the check's own on "LPT1:" (created on first use).
  virtual std::string Printer() = 0;
  // Registers the test monitor, "Tolvo Check" (kTestMonitorDll), whose
  // transaction channel answers as kit/README.md describes.
  virtual std::string Monitor() = 0;
};

// The backend's scratch area for the check of that name.
std::unique_ptr<Scratch> MakeScratch(const std::string& checkName);

class Check : public ::testing::Test {
 protected:
  Check();

  // The check's own keys under HKEY_LOCAL_MACHINE: "SOFTWARE\Tolvo Checks\NAME"
  // (redirected for a 32-bit process on 64-bit Windows) and
  // "SYSTEM\Tolvo Checks\NAME" (one key for both views).
  std::string SoftwareKey(std::string_view below = {}) const;
  std::string SystemKey(std::string_view below = {}) const;
  // Creates the key in the view (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY) and
  // sets a value with exactly these bytes.
  void SetValue(const std::string& key, const char* name, DWORD type, std::string_view bytes,
                REGSAM view = 0);
  std::string Path(std::string_view name) const {
    return scratch_->folder() + "\\" + std::string(name);
  }

  std::unique_ptr<Scratch> scratch_;
  Scratch& scratch;
  WinApi& api;
  std::string name_;
};

// A check of a call that fails: the result is false (0, null) and the last
// error is `error`, the last error having been set to kStale before.
#define EXPECT_FAILS(error, call)                                      \
  do {                                                                 \
    api.SetLastError(::tolvo::checks::kStale);                         \
    EXPECT_FALSE(call) << #call;                                       \
    EXPECT_EQ(api.GetLastError(), static_cast<DWORD>(error)) << #call; \
  } while (false)

// Where Wine departs from Windows: `expression` must equal `windows` on
// Windows and in the simulator, `wine` under Wine; `source` names where the
// Windows result is documented.
#define WINE_DEPARTS(expression, onWindows, onWine, source) \
  EXPECT_EQ(expression, scratch.wine() ? (onWine) : (onWindows)) << "Wine departs: " << (source)

// Where Windows fails a call with `error` and Wine, when `departs`, lets it
// succeed.
#define EXPECT_FAILS_UNLESS(departs, error, call, source)           \
  do {                                                              \
    if (departs) {                                                  \
      EXPECT_TRUE(call) << #call << ": Wine departs: " << (source); \
    } else {                                                        \
      EXPECT_FAILS(error, call);                                    \
    }                                                               \
  } while (false)
#define EXPECT_FAILS_BUT_ON_WINE(error, call, source) \
  EXPECT_FAILS_UNLESS(scratch.wine(), error, call, source)

}  // namespace tolvo::checks
