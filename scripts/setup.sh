#!/bin/bash
# Installs the Debian 12 packages that the project builds and tests with,
# those that are missing: as root, or through sudo. scripts/demo.sh and
# scripts/test.sh run it first. apt's output goes to a log file, whose end
# is shown only when the installation fails.
#
# Usage: scripts/setup.sh [--check | --can-install]
#   --check        exit status 1 when a package is missing
#   --can-install  exit status 1, with one line saying why, when the missing
#                  packages could not be installed from here (no root, no
#                  sudo, or a sudo that needs a password and has no terminal)
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
  [[ "${1:-}" == --can-install ]] || echo "Every package is installed."
  exit 0
fi

# How root is reached: decided before anything is announced.
if ((EUID == 0)); then
  how=root
elif sudo -n true 2>/dev/null; then
  how=sudo
elif ! command -v sudo >/dev/null; then
  echo "setup.sh: installing the missing packages needs root, and sudo is not installed:" \
    "run this as root." >&2
  exit 1
elif { : </dev/tty; } 2>/dev/null; then
  how=sudo-asking
else
  echo "setup.sh: installing the missing packages needs root, and sudo needs a password but" \
    "has no terminal to ask for it: run as root, or from a terminal" \
    "(or run sudo ./scripts/setup.sh first)." >&2
  exit 1
fi
if [[ "${1:-}" == --can-install ]]; then
  exit 0
fi

# Measured on a fresh Debian 12 with every package missing.
echo "Installing the missing Debian packages (${missing[*]}):" \
  "on a fresh Debian 12 about 930 MB to download and 4.7 GB on disk, a few minutes;" \
  "apt's output goes to $log."
self="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/setup.sh"
case "$how" in
  root) install_packages "${missing[@]}" ;;
  sudo) sudo -n bash "$self" --install "${missing[@]}" ;;
  sudo-asking) sudo bash "$self" --install "${missing[@]}" ;;
esac
