#!/bin/bash
# Installs the Debian 12 packages that the project builds and tests with,
# those that are missing: as root, or through sudo. scripts/demo.sh and
# scripts/test.sh run it first. apt's output goes to a log file, whose end
# is shown only when the installation fails.
#
# Usage: scripts/setup.sh [--check]   (--check: exit status 1 when a package is missing)
set -euo pipefail

# Native build and tests, the Windows cross compilers, Wine for the
# end-to-end runs, and the Windows Installer package and its signing.
# wine32 is an i386 package, hence the extra architecture.
packages=(
  cmake ninja-build g++ libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev clang-format python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32:i386 wine64 locales
  wixl msitools osslsigncode openssl
)
log=/var/log/tolvo-setup.log

# As root: installs the packages named, apt's output into the log.
install_packages() {
  export DEBIAN_FRONTEND=noninteractive
  if ! {
    { dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386; } &&
      apt-get update && apt-get install -y "$@"
  } >"$log" 2>&1; then
    echo "setup.sh: installing the packages failed; the end of $log:" >&2
    tail -n 25 "$log" >&2
    return 1
  fi
  echo "Installed."
}

# The root half of a run through sudo.
if [[ "${1:-}" == --install ]]; then
  shift
  install_packages "$@"
  exit
fi

missing=()
for package in "${packages[@]}"; do
  if [[ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]]; then
    missing+=("$package")
  fi
done
if [[ "${1:-}" == --check ]]; then
  exit $((${#missing[@]} > 0))
fi
if ((${#missing[@]} == 0)); then
  echo "Every package is installed."
  exit 0
fi

echo "Installing the missing Debian packages (${missing[*]}): a few minutes;" \
  "apt's output goes to $log."
self="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/setup.sh"
if ((EUID == 0)); then
  install_packages "${missing[@]}"
elif sudo -n true 2>/dev/null; then
  sudo -n bash "$self" --install "${missing[@]}"
elif ! command -v sudo >/dev/null; then
  echo "setup.sh: installing the missing packages needs root, and sudo is not installed:" \
    "run this as root." >&2
  exit 1
elif { : </dev/tty; } 2>/dev/null; then
  sudo bash "$self" --install "${missing[@]}"
else
  echo "setup.sh: installing the missing packages needs root, and sudo needs a password but" \
    "has no terminal to ask for it: run as root, or from a terminal" \
    "(or run sudo ./scripts/setup.sh first)." >&2
  exit 1
fi
