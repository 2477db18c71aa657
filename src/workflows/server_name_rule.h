/* Which server names a run takes: one rule for Install.exe and the
 * package's custom action (C, so that TolvoRun.dll builds it too), so that
 * the package refuses before its first change what Install.exe would
 * refuse after the files are installed. */
#pragma once

#include <stddef.h>
#include <string.h>

/* The monitor's channel is opened as "NAME\,XcvMonitor MONITOR" in a
 * buffer of MAX_PATH characters, terminator included. */
enum { kTolvoOpenTextSize = 260 };

static inline size_t TolvoLongestServerName(const char* monitorName) {
  return kTolvoOpenTextSize - 1 - strlen("\\,XcvMonitor ") - strlen(monitorName);
}

/* Two backslashes and a name without a backslash, slash, comma, quote,
 * blank or control character, at most `longest` characters in all. */
static inline int TolvoIsServerName(const char* name, size_t longest) {
  const size_t length = strlen(name);
  size_t i;
  if (length < 3 || length > longest || name[0] != '\\' || name[1] != '\\') {
    return 0;
  }
  for (i = 2; i < length; ++i) {
    const unsigned char c = (unsigned char)name[i];
    if (c < 0x20 || strchr("\\/,\" ", c) != NULL) {
      return 0;
    }
  }
  return 1;
}
