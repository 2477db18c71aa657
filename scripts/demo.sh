#!/bin/bash
# Demonstration of the installer on a fresh Debian machine: installs the
# tools, builds Install.exe and its kit, makes a 64-bit Wine prefix with one
# printer, installs the Tolvo port monitor from the kit and uninstalls it
# again, showing the installer's own transcript and what the print spooler
# reports (the monitor's ports, the printers' ports) after each step.
#
# Usage: scripts/demo.sh [--keep]   (--keep leaves the Wine prefix in place)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
keep=false
[ "${1:-}" = "--keep" ] && keep=true

step() { printf '\n=== %s\n' "$*"; }

# --- Tools --------------------------------------------------------------------
step "Tools"
if ! scripts/setup.sh --check; then
  echo "First run: the packages, then the builds and the demonstration: about 5 minutes in all."
  scripts/setup.sh
fi
echo "$(wine --version), $(i686-w64-mingw32-gcc --version | head -n 1)"

# --- Build --------------------------------------------------------------------
# The 64-bit stand-ins first: the 32-bit build's kit target takes them from there.
step "Building the 64-bit stand-ins, Install.exe and the kit"
cmake --preset mingw64 >/dev/null
cmake --build --preset mingw64 -j2
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j2
cmake --build --preset mingw32 -j2 --target kit
probe="$root/build/wine-support/spooler_probe.exe"

# --- A Wine prefix with a printer --------------------------------------------
work="$(mktemp -d /tmp/tolvo-demo.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
unset DISPLAY
cleanup() {
  wineserver -k 2>/dev/null || true
  if $keep; then echo "Wine prefix kept in $WINEPREFIX"; else rm -rf "$work"; fi
}
trap cleanup EXIT

step "Making a 64-bit Wine prefix (Windows 7) in $WINEPREFIX"
WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1
wineserver -w
# The .NET Framework 2.0 prerequisite, where the 32-bit installer looks for it.
wine reg add 'HKLM\Software\Microsoft\NET Framework Setup\NDP\v2.0.50727' \
  /v Install /t REG_DWORD /d 1 /f /reg:32 >/dev/null
cp -a build/kit "$WINEPREFIX/drive_c/Kit"
# Wine's spooler runs inside the 32-bit installer, so it loads the monitor
# named by its 64-bit name from syswow64: put a 32-bit build of it there.
cp build/wine-support/syswow64/* "$WINEPREFIX/drive_c/windows/syswow64/"

printer="$(sed -n 's/^AssignPrinter=\(.*\)\r\{0,1\}$/\1/p' build/kit/Tolvo.ini | head -n 1)"
wine "$probe" add-printer "$printer" >/dev/null
echo "Added the printer '$printer' on LPT1:"

show_spooler() {
  echo "--- ports of the Tolvo monitor (EnumPortsA):"
  wine "$probe" enum-ports 2 | tr -d '\r' | awk -F '\t' '$2 == "Tolvo" { print "  " $1 }' \
    | grep . || echo "  (none)"
  echo "--- printers and their ports (EnumPrintersA):"
  wine "$probe" printers | tr -d '\r' | awk -F '\t' '{ print "  " $1 " -> " $2 }'
}

# The installer's client inherits the console and keeps running, so its
# output goes to a file rather than into a pipe.
run_installer() {
  step "wine C:\\Kit\\Install.exe $*"
  local status=0
  wine 'C:\Kit\Install.exe' "$@" </dev/null >"$work/transcript.txt" 2>&1 || status=$?
  tr -d '\r' <"$work/transcript.txt"
  echo "(exit code $status)"
  return $status
}

step "Before installing"
show_spooler

run_installer
step "After installing"
show_spooler
echo "--- files in C:\\windows\\system32:"
(cd "$WINEPREFIX/drive_c/windows/system32" && ls TOLVO* Tolvo* 2>/dev/null | sed 's/^/  /')

run_installer -u
step "After uninstalling"
show_spooler
