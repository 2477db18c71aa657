// The product's event-log source "TolvoPort" and its events.
#pragma once

#include "platform/win_api.h"

namespace tolvo {

inline constexpr DWORD kTolvoEventId = 0xC0020001u;

// The product's source as the installation registers it.
inline constexpr const char* kEventLogName = "Application";
inline constexpr const char* kEventSourceName = "TolvoPort";
inline constexpr const char* kEventMessageDll = "TolvoEvent.dll";
inline constexpr const char* kEventMessageFile = "%SystemRoot%\\System32\\TolvoEvent.dll";

// Writes the source's key under ...\Services\EventLog\<log>\<source> with its
// four values. Returns 1 when the key and all four values were written.
int RegisterEventLogSource(WinApi& api, const char* logName, const char* sourceName,
                           const char* messageFile, DWORD categoryCount);

// True when the source's key names `messageFile` (in any letter case) as
// its EventMessageFile.
bool IsEventLogSourceRegistered(WinApi& api, const char* logName, const char* sourceName,
                                const char* messageFile);

// Writes one event with `message` as its only insertion string. Returns 1
// when the event was written.
int ReportToEventLog(WinApi& api, const char* message, WORD eventType);
int ReportSuccessToEventLog(WinApi& api, const char* message);

}  // namespace tolvo
