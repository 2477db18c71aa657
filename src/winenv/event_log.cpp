#include "winenv/event_log.h"

#include <cstring>

#include "core/text.h"
#include "platform/unique_handles.h"
#include "winenv/registry.h"

namespace tolvo {

namespace {

constexpr DWORD kTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

bool SetString(WinApi& api, HKEY key, const char* name, DWORD type, const char* text) {
  return api.RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text),
                            static_cast<DWORD>(std::strlen(text) + 1)) ==
         static_cast<LSTATUS>(ERROR_SUCCESS);
}

bool SetDword(WinApi& api, HKEY key, const char* name, DWORD value) {
  const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                         static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
  return api.RegSetValueExA(key, name, 0, REG_DWORD, bytes, sizeof bytes) ==
         static_cast<LSTATUS>(ERROR_SUCCESS);
}

// The source's key. False when a name is missing or the key name would be
// cut: a cut name would be some other source's.
bool SourceKeyName(const char* logName, const char* sourceName, char (&keyName)[MAX_PATH]) {
  return logName != nullptr && sourceName != nullptr &&
         FormatBounded(keyName, sizeof keyName,
                       "SYSTEM\\CurrentControlSet\\Services\\EventLog\\%s\\%s", logName,
                       sourceName);
}

}  // namespace

int RegisterEventLogSource(WinApi& api, const char* logName, const char* sourceName,
                           const char* messageFile, DWORD categoryCount) {
  char keyName[MAX_PATH];
  if (messageFile == nullptr || !SourceKeyName(logName, sourceName, keyName)) {
    return 0;
  }
  HKEY handle = nullptr;
  DWORD disposition = 0;
  if (api.RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_WRITE, nullptr, &handle,
                          &disposition) != static_cast<LSTATUS>(ERROR_SUCCESS)) {
    return 0;  // there is no key to close
  }
  const UniqueRegKey key(api, handle);
  const bool written =
      SetString(api, key.get(), "EventMessageFile", REG_EXPAND_SZ, messageFile) &&
      SetDword(api, key.get(), "TypesSupported", kTypesSupported) &&
      SetString(api, key.get(), "CategoryMessageFile", REG_EXPAND_SZ, messageFile) &&
      SetDword(api, key.get(), "CategoryCount", categoryCount);
  return written ? 1 : 0;
}

bool IsEventLogSourceRegistered(WinApi& api, const char* logName, const char* sourceName,
                                const char* messageFile) {
  char keyName[MAX_PATH];
  char registered[MAX_PATH] = {};
  return messageFile != nullptr && SourceKeyName(logName, sourceName, keyName) &&
         QueryRegistryValue(api, HKEY_LOCAL_MACHINE, keyName, "EventMessageFile", registered,
                            sizeof registered - 1) &&
         EqualsIgnoreCase(registered, messageFile);
}

int ReportToEventLog(WinApi& api, const char* message, WORD eventType) {
  UniqueEventSource source(api, api.RegisterEventSourceA(nullptr, kEventSourceName));
  if (!source) {
    return 0;
  }
  LPCSTR strings[1] = {message != nullptr ? message : ""};
  return api.ReportEventA(source.get(), eventType, 0, kTolvoEventId, nullptr, 1, 0, strings,
                          nullptr)
             ? 1
             : 0;
}

int ReportSuccessToEventLog(WinApi& api, const char* message) {
  return ReportToEventLog(api, message, EVENTLOG_SUCCESS);
}

}  // namespace tolvo
