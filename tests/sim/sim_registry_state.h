// Registry and event log of the simulated machine.
//
// The registry holds HKEY_LOCAL_MACHINE only: keys with subkeys and typed
// values (type + raw bytes), names compared without regard to case as
// Windows compares them.
//
// Test-side paths name keys physically, relative to HKEY_LOCAL_MACHINE
// ("SOFTWARE\\Microsoft\\..."; an optional "HKEY_LOCAL_MACHINE\\" or
// "HKLM\\" prefix is accepted). The 32-bit view of a 64-bit machine is
// therefore seeded and inspected under "SOFTWARE\\Wow6432Node\\...", exactly
// where regedit shows it; the seam's calls apply the WOW64 redirection (see
// sim_registry.cpp).
//
// Seeding:
//   registry.SetString("SOFTWARE\\A\\B", "Name", "text");   // REG_SZ, NUL stored
//   registry.SetDword("SOFTWARE\\A\\B", "Count", 7);         // REG_DWORD
//   registry.SetValue("SOFTWARE\\A", "Raw", REG_BINARY, {1, 2});
//   registry.LoadRegText(R"([HKEY_LOCAL_MACHINE\SOFTWARE\A]
//   "Name"="text"
//   "Count"=dword:00000007)");
// Inspecting:
//   registry.GetValue(path, name)  -> optional<SimRegistryValue>
//   registry.GetString(path, name) -> optional<string> (bytes up to the first NUL)
//   registry.GetDword(path, name)  -> optional<DWORD> (REG_DWORD of 4 bytes only)
//   registry.KeyExists(path), registry.ValueNames(path)
// A new machine has the Run keys, the Application event log key and
// ProgramFilesDir in both views ("C:\\Program Files", 32-bit view
// "C:\\Program Files (x86)"), and no .NET Framework: SetDotNet20Installed()
// writes its "Install" value in both views.
// Faults beyond FailCall: DenyWrite(path) makes opening or creating that key
// with any write right fail with ERROR_ACCESS_DENIED; eventServiceRefuses
// makes RegisterEventSourceA fail with eventServiceError.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace tolvo::sim {

// Orders names as the registry compares them: without regard to ASCII case.
struct RegistryNameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct SimRegistryValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

struct SimRegistryKey {
  std::string name;  // as first created, case kept
  bool denyWrite = false;
  // Owner and DACL as SDDL; empty: what HKLM\SOFTWARE hands down
  // (kDefaultKeySecurity). A key created with a descriptor keeps it.
  std::string security;
  std::map<std::string, SimRegistryValue, RegistryNameLess> values;  // "" = default value
  std::map<std::string, std::unique_ptr<SimRegistryKey>, RegistryNameLess> subkeys;
};

// One call of ReportEventA, as the event log received it.
struct SimEvent {
  std::optional<std::string> server;  // RegisterEventSourceA's server name
  std::string source;
  WORD type = 0;
  WORD category = 0;
  DWORD eventId = 0;
  bool hasUserSid = false;
  std::vector<std::string> strings;
  DWORD dataSize = 0;
};

// HKLM\SOFTWARE's: users may read.
inline constexpr const char* kDefaultKeySecurity =
    "O:BAD:(A;CI;KA;;;SY)(A;CI;KA;;;BA)(A;CI;KR;;;BU)";

inline constexpr const char* kCurrentVersionKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
inline constexpr const char* kCurrentVersionKey32 =
    "SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion";
inline constexpr const char* kDotNet20Key =
    "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";
inline constexpr const char* kDotNet20Key32 =
    "SOFTWARE\\Wow6432Node\\Microsoft\\NET Framework Setup\\NDP\\v2.0.50727";

struct SimRegistryState {
  SimRegistryState();

  // The .NET Framework 2.0 "Install" value (REG_DWORD 1) in both views, or
  // its key removed from both.
  void SetDotNet20Installed(bool installed = true);

  // --- Registry, test side ------------------------------------------------
  void SetValue(std::string_view path, std::string_view name, DWORD type, std::vector<BYTE> data);
  // Stores the text and its terminating NUL, as RegSetValueExA callers do.
  void SetString(std::string_view path, std::string_view name, std::string_view text,
                 DWORD type = REG_SZ);
  void SetDword(std::string_view path, std::string_view name, DWORD value);
  std::optional<SimRegistryValue> GetValue(std::string_view path, std::string_view name) const;
  std::optional<std::string> GetString(std::string_view path, std::string_view name) const;
  std::optional<DWORD> GetDword(std::string_view path, std::string_view name) const;
  bool DeleteValue(std::string_view path, std::string_view name);
  std::vector<std::string> ValueNames(std::string_view path) const;
  // Creates the key and every missing key above it.
  void CreateKey(std::string_view path);
  bool KeyExists(std::string_view path) const;
  // Removes the key with everything below it.
  bool DeleteKey(std::string_view path);
  void DenyWrite(std::string_view path, bool deny = true);

  // Applies .reg-style text (the format regedit exports): "[KEY]" lines,
  // "[-KEY]" to delete a key, and value lines "Name"="text", "Name"=dword:hex,
  // "Name"=hex:01,02, "Name"=hex(N):.. for type N, "Name"=- to delete; "@"
  // names the default value. Strings take \\ and \" escapes and are stored
  // with their NUL. Keys must lie under HKEY_LOCAL_MACHINE. Returns false
  // (having applied the lines before it) at the first line it cannot read.
  bool LoadRegText(std::string_view text);

  // The key object at a physical path, or null.
  SimRegistryKey* FindKey(std::string_view path);
  const SimRegistryKey* FindKey(std::string_view path) const;
  // Every key it makes (the missing ones above too, as Windows makes them)
  // gets `security` when one is given.
  SimRegistryKey* CreateKeyPath(std::string_view path, bool* created = nullptr,
                                std::string_view security = {});

  // --- Event log, test side -----------------------------------------------
  std::vector<SimEvent> events;      // every event written, in order
  int eventSourceRegistrations = 0;  // successful RegisterEventSourceA calls
  bool eventServiceRefuses = false;  // RegisterEventSourceA fails
  DWORD eventServiceError = 1722;    // RPC_S_SERVER_UNAVAILABLE

  // --- For the implementation -----------------------------------------------
  struct OpenKey {
    std::string path;     // physical path under HKEY_LOCAL_MACHINE, "" = the root
    bool view32 = false;  // opened in the 32-bit view of a 64-bit machine
    REGSAM access = 0;
  };
  std::map<std::uintptr_t, OpenKey> openKeys;  // by handle value
  struct OpenSource {
    std::optional<std::string> server;
    std::string source;
  };
  std::map<std::uintptr_t, OpenSource> openSources;  // by handle value

  std::unique_ptr<SimRegistryKey> machine;  // HKEY_LOCAL_MACHINE
};

// Splits a registry path on backslashes, dropping empty parts and a leading
// "HKEY_LOCAL_MACHINE" or "HKLM".
std::vector<std::string> SplitRegistryPath(std::string_view path);

}  // namespace tolvo::sim
