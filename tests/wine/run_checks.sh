#!/bin/bash
# The behaviour checks (tests/conformance) against the real backend under
# Wine: in a fresh 32-bit prefix and in a fresh 64-bit one, where the
# 32-bit checks run under WOW64. Expects build/mingw32/wine-support/
# tolvo_checks.exe and TOLVOCHK.DLL (cmake --build --preset mingw32).
# Extra arguments go to GoogleTest (--gtest_filter=...).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
support="${CHECKS_WINE_SUPPORT:-$repo/build/mingw32/wine-support}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" GTEST_BRIEF=1
status=0
# A Russian account (LC_MESSAGES to Wine) on an English system, for the
# check of name comparison; the locale is built here (package locales).
locales="$(mktemp -d /tmp/tolvo-locales.XXXXXX)"
localedef -i ru_RU -f UTF-8 "$locales/ru_RU.UTF-8" 2>/dev/null || [[ -d "$locales/ru_RU.UTF-8" ]] ||
  status=1
for arch in win32 win64; do
  prefix="$(mktemp -d /tmp/tolvo-checks-$arch.XXXXXX)"
  trap 'WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true; rm -rf "$prefix" "$locales"' EXIT
  WINEPREFIX="$prefix" WINEARCH="$arch" timeout 180 wineboot -i >/dev/null 2>&1
  echo "== behaviour checks, Wine $arch prefix"
  WINEPREFIX="$prefix" timeout 300 wine "$support/tolvo_checks.exe" "$@" </dev/null | tr -d '\r' ||
    status=1
  echo "== the check skipped above for want of another account locale, with a Russian one"
  LOCPATH="$locales" LC_MESSAGES=ru_RU.UTF-8 WINEPREFIX="$prefix" timeout 300 wine \
    "$support/tolvo_checks.exe" --gtest_filter='*SystemCodePage*' </dev/null | tr -d '\r' ||
    status=1
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  trap - EXIT
done
rm -rf "$locales"
exit $status
