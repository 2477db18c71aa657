#!/bin/bash
# Smoke test of the real Install.exe under Wine: in fresh 64-bit and 32-bit
# prefixes, "Install.exe -?" prints the banner and the usage text (CRLF line
# ends), appends the same text to the run log, and exits with -1 (255).
# A run log that cannot be opened ends the run at once, silently, with -1.
#
# Usage: tests/wine/smoke_test.sh [path/to/Install.exe]
# Default: the mingw32 build's Install.exe.
set -uo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
exe="${1:-}"
if [[ -z "$exe" ]]; then
  for candidate in "$repo/build/mingw32/Install.exe" \
                   "$repo/build/mingw32/src/platform/win32/Install.exe" \
                   "$repo/build/kit/Install.exe"; do
    if [[ -f "$candidate" ]]; then
      exe="$candidate"
      break
    fi
  done
fi
if [[ -z "$exe" || ! -f "$exe" ]]; then
  echo "smoke_test: Install.exe not found; build the mingw32 preset first" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
for tool in wine wineboot wineserver timeout cmp; do
  if ! command -v "$tool" >/dev/null; then
    echo "smoke_test: $tool is missing" >&2
    echo "0 passed, 1 failed"
    exit 1
  fi
done

export WINEDEBUG=-all
work="$(mktemp -d "${TMPDIR:-/tmp}/tolvo-smoke.XXXXXX")"
prefixes=()
cleanup() {
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX="$prefix" timeout 30 wineserver -k >/dev/null 2>&1 || true
  done
  rm -rf "$work"
}
trap cleanup EXIT

passed=0
failed=0
pass() { echo "PASS $1"; passed=$((passed + 1)); }
fail() { echo "FAIL $1: $2"; failed=$((failed + 1)); }

# The expected console text, with CRLF line ends.
expected="$work/expected.txt"
printf '%s\r\n' \
  '' \
  '' \
  'Tolvo Client Installer v 2.6' \
  'Copyright (C) Kestrum Corporation. All rights reserved.' \
  '' \
  '' \
  "For installation use 'Install.exe (server)'" \
  "For uninstallation use 'Install.exe -u'" \
  "For verification of installation use switch '-v' (changes nothing)" \
  "For un/installation of Enterprise version use switch '-a'" \
  "For read configuration from registry use switch '-r'" \
  "For do not copy files use switch '-c'" \
  "For silent installation use switch '-s'" \
  "For specification of install log use switch '-lLogFileName'" \
  "For specification of INI file use switch '-iINIFileName'" \
  "For Install and Ignore Errors use 'Install.exe -e' (NOT RECOMMENDED!)" >"$expected"

# new_prefix KIND DIR: a fresh prefix; KIND is win64 or win32.
new_prefix() {
  local kind="$1" dir="$2"
  prefixes+=("$dir")
  if [[ "$kind" == win32 ]]; then
    WINEARCH=win32 WINEPREFIX="$dir" timeout 300 wineboot -i >/dev/null 2>&1
  else
    WINEARCH=win64 WINEPREFIX="$dir" timeout 300 wineboot -i >/dev/null 2>&1
  fi
  local status=$?
  WINEPREFIX="$dir" timeout 60 wineserver -w >/dev/null 2>&1 || true
  return $status
}

# run_install PREFIX OUT ARGS...: runs the kit copy of Install.exe; sets $code.
run_install() {
  local prefix="$1" out="$2"
  shift 2
  (cd "$prefix/drive_c/Kit" && WINEPREFIX="$prefix" timeout 120 wine Install.exe "$@" \
    >"$out" 2>"$out.stderr")
  code=$?
}

for kind in win64 win32; do
  prefix="$work/$kind"
  if ! new_prefix "$kind" "$prefix"; then
    fail "$kind prefix" "wineboot -i failed"
    continue
  fi
  mkdir -p "$prefix/drive_c/Kit"
  cp "$exe" "$prefix/drive_c/Kit/Install.exe"
  log="$prefix/drive_c/windows/TLPortInstall.log"
  rm -f "$log"

  out="$work/$kind-usage.txt"
  run_install "$prefix" "$out" -?
  if [[ $code -ne 255 ]]; then
    fail "$kind usage exit code" "expected 255, got $code"
  else
    pass "$kind usage exit code"
  fi
  if cmp -s "$expected" "$out"; then
    pass "$kind usage console text"
  else
    fail "$kind usage console text" "differs from the expected text:"
    diff <(od -c "$expected") <(od -c "$out") | head -20
  fi
  if [[ -f "$log" ]] && cmp -s "$expected" "$log"; then
    pass "$kind usage run log"
  else
    fail "$kind usage run log" "$log does not hold the console text"
  fi

  out="$work/$kind-nolog.txt"
  run_install "$prefix" "$out" '-lC:\No Such Folder\run.log'
  if [[ $code -eq 255 && ! -s "$out" ]]; then
    pass "$kind unopenable run log"
  else
    fail "$kind unopenable run log" "expected 255 and no output, got $code and $(wc -c <"$out") bytes"
  fi
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
