#!/bin/bash
# Builds everything and runs every test:
#   1. the native build with address and undefined-behaviour sanitizers,
#      unit tests and whole-run scenarios against the simulated Windows;
#   2. the Windows builds (Install.exe, the stand-in product files, the kit);
#   3. the real Install.exe under Wine (smoke test, then end-to-end runs),
#      and the behaviour checks of the seam against the real backend (run
#      as root: once more as an ordinary user).
# Installs missing Debian packages first (scripts/setup.sh: as root, or
# through sudo).
# TOLVO_JOBS sets the build parallelism (default: the number of CPUs).
# The builds' and ctest's output goes to build/test-logs/, and is shown
# only for a stage that fails; the verdict is the last line.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"
jobs="${TOLVO_JOBS:-$(nproc)}"

if ! "$repo/scripts/setup.sh" --check; then
  # Says in one line why when the packages cannot be installed from here.
  "$repo/scripts/setup.sh" --can-install
  echo "== First run: the missing packages, then the builds and every test"
  "$repo/scripts/setup.sh"
fi

logs="$repo/build/test-logs"
mkdir -p "$logs"
echo "== The builds, then each test stage in turn; the last line is the verdict."
if ((EUID == 0)); then
  echo "== Run as root: the behaviour checks run a second time, as an ordinary user."
fi

failures=()
stages=0
# Runs one test stage; a failure is noted and the remaining stages still run.
check() {
  local name="$1"
  shift
  echo "== $name"
  stages=$((stages + 1))
  "$@" || failures+=("$name")
}
# Runs one build stage, its output into a log; a failure shows the log's
# end and ends the run, since later stages need it.
build() {
  local name="$1"
  shift
  local log="$logs/${name// /-}.log"
  echo "== $name"
  if ! "$@" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "== FAILED: $name (its whole output: $log)"
    echo "test stages: $((stages - ${#failures[@]})) passed, 1 build failed"
    exit 1
  fi
}
# ctest, quiet unless a test fails: then the failed tests once more, with
# their output.
unit_tests() {
  local log="$logs/ctest.log"
  if ctest --preset native -j "$jobs" >"$log" 2>&1; then
    grep -E "tests passed" "$log"
    return 0
  fi
  grep -E "tests passed|\(Failed\)|\(Timeout\)|Exception" "$log" || true
  ctest --preset native --rerun-failed --output-on-failure 2>&1 | tail -n 200
  echo "(ctest's whole output: $log)"
  return 1
}

build "native build" bash -c "cmake --preset native && cmake --build --preset native -j $jobs"
check "unit tests and scenarios" unit_tests
check "fuzzing" env TOLVO_JOBS="$jobs" "$repo/tests/fuzz/run_fuzzers.sh"
build "64-bit Windows build" \
  bash -c "cmake --preset mingw64 && cmake --build --preset mingw64 -j $jobs"
build "32-bit Windows build and kit" \
  bash -c "cmake --preset mingw32 && cmake --build --preset mingw32 -j $jobs &&
           cmake --build --preset mingw32 -j $jobs --target kit"
check "imports of Install.exe: Known DLLs, Windows XP SP3" \
  python3 "$repo/tests/imports/pe_imports.py" check "$repo/build/mingw32/src/platform/win32/Install.exe"
# The kit signed with a throwaway certificate and the package built from it:
# the Wine tests run these signed files.
signed="$repo/build/signed"
signed_kit_and_package() {
  local sign=("$repo/packaging/sign.sh" -c "$signed/cert.pem" -k "$signed/key.pem" -a "$signed/cert.pem")
  rm -rf "$signed" && mkdir -p "$signed" && cp -a "$repo/build/kit" "$signed/kit" &&
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tolvo test signing" \
      -keyout "$signed/key.pem" -out "$signed/cert.pem" 2>/dev/null &&
    cp "$repo/build/mingw32/packaging/TolvoRun.dll" "$signed/" &&
    "${sign[@]}" "$signed/kit" "$signed/TolvoRun.dll" &&
    "$repo/packaging/build-msi.sh" -o "$signed/Tolvo.msi" -d "$signed/TolvoRun.dll" "$signed/kit" &&
    "${sign[@]}" "$signed/Tolvo.msi"
}
verify_signatures() {
  find "$signed/kit" "$signed/TolvoRun.dll" "$signed/Tolvo.msi" -type f \( -iname "*.exe" -o -iname "*.dll" -o -iname "*.msi" \) -print0 |
    xargs -0 -n 1 osslsigncode verify -CAfile "$signed/cert.pem" -in >/dev/null
}
build "signed kit and Windows Installer package" signed_kit_and_package
check "every signed file verifies" verify_signatures
check "the signed package's tables" "$repo/packaging/check-msi.py" "$signed/Tolvo.msi"
export E2E_KIT="$signed/kit" E2E_INSTALL_EXE="$signed/kit/Install.exe" E2E_MSI="$signed/Tolvo.msi"
check "Wine smoke test" "$repo/tests/wine/smoke_test.sh"
check "behaviour checks of the real backend under Wine" "$repo/tests/wine/run_checks.sh"
# Wine leaves file permissions to the host, which does not hold root to them:
# run as root, the checks run once more as an ordinary user.
as_ordinary_user() {
  local user=tolvo-checks copy status=0
  id -u "$user" >/dev/null 2>&1 ||
    useradd --system --create-home --home-dir "/var/lib/$user" --shell /usr/sbin/nologin "$user"
  # The checks and the script, where that user can read them.
  copy="$(mktemp -d /tmp/tolvo-checks-copy.XXXXXX)"
  cp "$repo/tests/wine/run_checks.sh" "$repo/build/mingw32/wine-support/"{tolvo_checks.exe,TOLVOCHK.DLL} "$copy/"
  chmod -R a+rX "$copy"
  (cd / && runuser -u "$user" -- env CHECKS_WINE_SUPPORT="$copy" bash "$copy/run_checks.sh") || status=$?
  rm -rf "$copy"
  return $status
}
if ((EUID == 0)); then
  check "behaviour checks under Wine as an ordinary user" as_ordinary_user
fi
check "Wine end-to-end tests" "$repo/tests/wine/run_e2e.sh"

passed=$((stages - ${#failures[@]}))
echo "== Logs of the builds and of ctest: $logs"
if ((${#failures[@]} > 0)); then
  echo "== FAILED: ${failures[*]} (each stage's output is above)"
  echo "test stages: $passed passed, ${#failures[@]} failed"
  exit 1
fi
echo "== All tests passed"
echo "test stages: $passed passed, 0 failed"
