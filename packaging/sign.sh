#!/bin/bash
# Signs Install.exe, the product folder's other executables and DLLs, and
# Windows Installer packages with Authenticode (osslsigncode, SHA-256), in
# place, and verifies every signature it made.
#
# Usage: packaging/sign.sh -c CERT [-k KEY] [-t URL] [-a CAFILE] [-f] PATH...
#   -c CERT    the signing certificate: PKCS#12 (.p12 or .pfx, with its key)
#              or PEM (with -k)
#   -k KEY     the PEM private key of a PEM certificate
#   -t URL     an RFC 3161 timestamp server, so that signatures stay valid
#              after the certificate expires
#   -a CAFILE  the CA certificates that the verification trusts (default: the
#              system's); for a self-signed certificate, the certificate
#   -f         sign also files that already carry a signature (by default
#              they keep it: files signed by their makers stay so)
#   PATH       a product folder (every .exe and .dll in it and below) or a
#              file (.exe, .dll, .msi)
# The password of the key, when it has one, is read from the environment
# variable TOLVO_SIGN_PASSWORD, never from the command line.
set -euo pipefail

cert="" key="" timestamp="" cafile="" force=false

usage() {
  sed -n '2,/^set -e/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}
fail() {
  echo "sign.sh: $*" >&2
  exit 1
}

while getopts "c:k:t:a:fh" option; do
  case "$option" in
    c) cert="$OPTARG" ;;
    k) key="$OPTARG" ;;
    t) timestamp="$OPTARG" ;;
    a) cafile="$OPTARG" ;;
    f) force=true ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
[[ -n "$cert" && $# -gt 0 ]] || usage
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (Debian package osslsigncode)"
[[ -f "$cert" ]] || fail "no certificate $cert"

signer=()
case "${cert,,}" in
  *.p12 | *.pfx) signer=(-pkcs12 "$cert") ;;
  *)
    [[ -f "$key" ]] || fail "a PEM certificate needs its key: -k KEY"
    signer=(-certs "$cert" -key "$key")
    ;;
esac
if [[ -n "${TOLVO_SIGN_PASSWORD+set}" ]]; then
  signer+=(-readpass -) # from standard input: the password stays out of every process list
fi
[[ -z "$timestamp" ]] || signer+=(-ts "$timestamp")
verifier=()
[[ -z "$cafile" ]] || verifier=(-CAfile "$cafile")

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

is_signed() {
  rm -f "$work/signature"
  osslsigncode extract-signature -in "$1" -out "$work/signature" >/dev/null 2>&1
}

sign_file() {
  local file="$1" signed="$work/signed"
  if ! $force && is_signed "$file"; then
    echo "kept its signature: $file"
    return
  fi
  rm -f "$signed"
  printf '%s' "${TOLVO_SIGN_PASSWORD-}" |
    osslsigncode sign "${signer[@]}" -h sha256 -n "Tolvo Port Monitor" -in "$file" -out "$signed" >/dev/null ||
    fail "cannot sign $file"
  # Keep the file's mode: replace its content rather than the file.
  cat "$signed" >"$file"
  osslsigncode verify "${verifier[@]}" -in "$file" >/dev/null || fail "the signature of $file does not verify"
  echo "signed and verified: $file"
}

for path in "$@"; do
  if [[ -d "$path" ]]; then
    while IFS= read -r -d '' file; do
      sign_file "$file"
    done < <(find "$path" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0 | LC_ALL=C sort -z)
  elif [[ -f "$path" ]]; then
    case "${path,,}" in
      *.exe | *.dll | *.msi) sign_file "$path" ;;
      *) fail "not an executable, a DLL or a package: $path" ;;
    esac
  else
    fail "no such file or folder: $path"
  fi
done
