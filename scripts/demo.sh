#!/bin/bash
# Demonstration of the installer on a fresh Debian machine: installs the
# tools, builds Install.exe and its kit, makes a 64-bit Wine prefix with one
# printer, installs the Tolvo port monitor from the kit and uninstalls it
# again, showing the installer's own transcript and what the print spooler
# reports (the monitor's ports, the printers' ports) after each step.
#
# Its results: the kit in build/kit (zipped as build/Tolvo-kit.zip), the
# package built from it in build/Tolvo.msi, and the installer's run log in
# build/demo/.
#
# Usage: scripts/demo.sh [--keep]   (--keep installs once more at the end
#        and leaves that Wine prefix in place, with the commands to use it)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
keep=false
[ "${1:-}" = "--keep" ] && keep=true

step() { printf '\n=== %s\n' "$*"; }

# --- Tools --------------------------------------------------------------------
step "Tools"
if ! scripts/setup.sh --check; then
  # Says in one line why when the packages cannot be installed from here.
  scripts/setup.sh --can-install
  echo "First run: the missing packages, then the builds and the demonstration."
  scripts/setup.sh
fi
echo "$(wine --version), $(i686-w64-mingw32-gcc --version | head -n 1)"

# --- Build --------------------------------------------------------------------
# The 64-bit stand-ins first: the 32-bit build's kit target takes them from there.
step "Building the 64-bit stand-ins, Install.exe, the kit and the package"
cmake --preset mingw64 >/dev/null
cmake --build --preset mingw64 -j2
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j2
cmake --build --preset mingw32 -j2 --target kit
packaging/build-msi.sh
probe="$root/build/wine-support/spooler_probe.exe"
results="$root/build/demo"
mkdir -p "$results"

# --- A Wine prefix with a printer --------------------------------------------
work="$(mktemp -d /tmp/tolvo-demo.XXXXXX)"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
unset DISPLAY
cleanup() {
  wineserver -k 2>/dev/null || true
  $keep || rm -rf "$work"
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

# --keep: a machine with the monitor installed to look at.
if $keep; then
  run_installer
fi
cp "$WINEPREFIX/drive_c/windows/TLPortInstall.log" "$results/TLPortInstall.log"

step "Results"
echo "The kit, Install.exe with the stand-in product files: $root/build/kit"
echo "The kit zipped: $root/build/Tolvo-kit.zip"
echo "The Windows Installer package built from the kit: $root/build/Tolvo.msi"
echo "The installer's run log, C:\\windows\\TLPortInstall.log: $results/TLPortInstall.log"
if $keep; then
  echo
  echo "Kept, installed: the Wine prefix $WINEPREFIX. To use it:"
  echo "  export WINEPREFIX=$WINEPREFIX WINEDEBUG=-all"
  echo "  wine 'C:\\Kit\\Install.exe' -v        # check the installation"
  echo "  wine $probe printers    # the printers and their ports"
  echo "  wine 'C:\\Kit\\Install.exe' -u        # uninstall"
  echo "To remove it: WINEPREFIX=$WINEPREFIX wineserver -k; rm -rf $work"
fi
