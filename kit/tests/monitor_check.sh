#!/bin/bash
# Checks the stand-in port monitor through the real spooler under Wine:
# registration, the transaction commands with their statuses, the stored
# port-data record and the port listing.
#
#   WINEPREFIX=/tmp/some-prefix kit/tests/monitor_check.sh BUILD_DIR
#
# BUILD_DIR is the mingw32 build directory. The prefix must exist and is
# changed (the monitor "Tolvo" is registered and removed again). Without
# WINEPREFIX, or with the default prefix, the check is skipped (status 77).
set -u
build=${1:?usage: WINEPREFIX=... monitor_check.sh MINGW32_BUILD_DIR}
if [ -z "${WINEPREFIX:-}" ] || [ "$WINEPREFIX" = "$HOME/.wine" ] || [ ! -d "$WINEPREFIX" ]; then
  echo "skipped: set WINEPREFIX to an existing throwaway prefix" >&2
  exit 77
fi
export WINEDEBUG=-all WINEPREFIX

probe="$build/wine-support/spooler_probe.exe"
windows="$WINEPREFIX/drive_c/windows"
failures=0

# The 32-bit probe loads the monitor into its own process: in a 64-bit
# prefix from syswow64, in a 32-bit prefix from system32.
if [ -d "$windows/syswow64" ]; then
  cp "$build/wine-support/TOLVOVS64.DLL" "$windows/syswow64/TOLVOVS64.DLL"
  monitor_dll=TOLVOVS64.DLL
else
  cp "$build/kit-parts/TOLVOVS.DLL" "$windows/system32/TOLVOVS.DLL"
  monitor_dll=TOLVOVS.DLL
fi

run() { timeout 60 wine "$probe" "$@" 2>/dev/null | tr -d '\r'; }

expect() {  # expect OUTPUT-PATTERN DESCRIPTION -- PROBE ARGUMENTS
  local pattern=$1 description=$2
  shift 3
  local output
  output=$(run "$@")
  if [[ "$output" =~ $pattern ]]; then
    echo "ok       $description"
  else
    echo "FAILED   $description: got '$output', wanted /$pattern/"
    failures=$((failures + 1))
  fi
}

run delete-monitor Tolvo >/dev/null
expect '^ok$'          "monitor registers"                 -- add-monitor Tolvo "$monitor_dll"
expect '^error 3006$'  "second registration is refused"    -- add-monitor Tolvo "$monitor_dll"
expect '^status 0$'    "AddPort creates a port"            -- xcv Tolvo AddPort Tolvo001
expect '^status 183$'  "AddPort of an existing port"       -- xcv Tolvo AddPort Tolvo001
expect '^status 0$'    "SetPortData takes 10032 bytes"     -- set-port-data Tolvo Tolvo001
expect '^status 87$'   "SetPortData refuses 10031 bytes"   -- set-port-data Tolvo Tolvo001 10031
expect '^status 87$'   "SetPortData refuses 10033 bytes"   -- set-port-data Tolvo Tolvo001 10033
expect '^status 1796$' "SetPortData of an unknown port"    -- set-port-data Tolvo Tolvo002
expect '^status 87$'   "unknown commands are refused"      -- xcv Tolvo Configure Tolvo001
expect $'(^|\n)Tolvo001\tTolvo\tTolvo Port($|\n)' "level 2 lists the port with its monitor" -- enum-ports 2
expect '(^|'$'\n'')Tolvo001($|'$'\n'')' "level 1 lists the port" -- enum-ports 1

record=$(timeout 60 wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\Tolvo\Ports\Tolvo001' /v PortData 2>/dev/null | tr -d '\r' | awk '/PortData/ {print $3}')
if [ ${#record} -eq $((10032 * 2)) ] && [[ "$record" == 500072006F0062006500* ]]; then
  echo "ok       the record is stored whole"
else
  echo "FAILED   the record is stored whole: ${#record} hex digits"
  failures=$((failures + 1))
fi

expect '^status 0$'    "DeletePort removes the port"       -- xcv Tolvo DeletePort Tolvo001
expect '^status 1796$' "DeletePort of a missing port"      -- xcv Tolvo DeletePort Tolvo001
if run enum-ports 2 | grep -q '^Tolvo001'; then
  echo "FAILED   the deleted port is no longer listed"
  failures=$((failures + 1))
else
  echo "ok       the deleted port is no longer listed"
fi
expect '^ok$'          "monitor is removed"                -- delete-monitor Tolvo

echo "$failures failed"
exit $failures
