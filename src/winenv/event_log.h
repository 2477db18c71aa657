// The product's event-log source "TolvoPort" and its events.
#pragma once

#include "platform/win_api.h"

namespace tolvo {

inline constexpr DWORD kTolvoEventId = 0xC0020001u;

// Writes the source's key under ...\Services\EventLog\<log>\<source> with its
// four values. Returns 1 when the key and all four values were written.
int RegisterEventLogSource(WinApi& api, const char* logName, const char* sourceName,
                           const char* messageFile, DWORD categoryCount);

// Writes one event with `message` as its only insertion string. Returns 1
// when the event was written.
int ReportToEventLog(WinApi& api, const char* message, WORD eventType);
int ReportSuccessToEventLog(WinApi& api, const char* message);

}  // namespace tolvo
