#!/bin/bash
# Installs everything the project builds and tests with, on Debian 12.
# Run as root: sudo ./scripts/setup.sh
set -euo pipefail

if [[ $EUID -ne 0 ]]; then
  echo "setup.sh: run as root (sudo ./scripts/setup.sh)" >&2
  exit 1
fi

# Native build and tests, the Windows cross compilers, Wine for the
# end-to-end runs, and the Windows Installer package and its signing.
# wine32 is an i386 package, hence the extra architecture.
packages=(
  cmake ninja-build g++ libgtest-dev googletest libbenchmark-dev clang libclang-rt-14-dev clang-format python3
  g++-mingw-w64-i686 g++-mingw-w64-x86-64
  wine wine32:i386 wine64 locales
  wixl msitools osslsigncode openssl
)

export DEBIAN_FRONTEND=noninteractive
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
apt-get update
apt-get install -y "${packages[@]}"
