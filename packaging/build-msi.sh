#!/bin/bash
# Builds the Windows Installer package Tolvo.msi from a product folder with
# wixl (Debian package wixl, msitools): every file of the folder, in its
# layout, goes to Program Files\Kestrum\Tolvo Port Monitor, and the package
# runs Install.exe from there (see Tolvo.wxs).
#
# Usage: packaging/build-msi.sh [-o PACKAGE] [-v VERSION] [-p NAME=VALUE]... [FOLDER]
#   FOLDER   the product folder: Install.exe with the product's files and
#            the site's Tolvo.ini (default: the stand-in kit, build/kit)
#   PACKAGE  the package to write (default: build/Tolvo.msi)
#   VERSION  the package's version, MAJOR.MINOR.BUILD (default 2.6.0); a
#            package replaces an installed one of the same or a lower version
#   NAME=VALUE  a default for one of the package's properties (SERVER,
#            ENTERPRISE, CONFIGFROMREGISTRY, NOCOPY, IGNOREERRORS, INIFILE,
#            LOGFILE, TRACEFILE, VERIFY), for deployments that cannot pass properties
#            (Group Policy); a property on msiexec's command line still wins.
#            Refused as the package itself refuses them at install time: a
#            value with a double quote or ending in a backslash, a SERVER
#            that is not \\ and a name; and here also a value with a '
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(dirname "$here")"
package="$repo/build/Tolvo.msi"
version=2.6.0
properties=()

usage() {
  sed -n '2,/^set -e/p' "${BASH_SOURCE[0]}" | sed '$d; s/^# \{0,1\}//' >&2
  exit 2
}
fail() {
  echo "build-msi.sh: $*" >&2
  exit 1
}
# The values that would break Install.exe's command line (a double quote, a
# backslash before the closing quote) or add a switch to it (a SERVER not
# starting with \\) are refused, by the same rules as the package's launch
# conditions; a ' would end the SQL text below.
check_property() {
  local name="${1%%=*}" value="${1#*=}"
  [[ "$1" =~ ^(SERVER|ENTERPRISE|CONFIGFROMREGISTRY|NOCOPY|IGNOREERRORS|INIFILE|LOGFILE|TRACEFILE|VERIFY)=[^\']+$ ]] ||
    fail "-p $1: not NAME=VALUE with one of the package's properties (and no ')"
  [[ "$value" != *'"'* && "$value" != *\\ ]] ||
    fail "-p $1: a value may not hold a double quote or end with a backslash"
  [[ "$name" != SERVER || ("$value" == \\\\?* && "$value" != \\\\\\* && "$value" != *' '*) ]] ||
    fail "-p $1: SERVER is two backslashes and the server's name, as in SERVER=\\\\printsrv01"
}

while getopts "o:v:p:h" option; do
  case "$option" in
    o) package="$OPTARG" ;;
    v) version="$OPTARG" ;;
    p)
      check_property "$OPTARG"
      properties+=("$OPTARG")
      ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
(($# <= 1)) || usage
kit="${1:-$repo/build/kit}"

[[ "$version" =~ ^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,5}$ && "${version##*.}" -le 65535 ]] ||
  fail "version '$version' is not MAJOR.MINOR.BUILD (BUILD at most 65535)"
[[ -d "$kit" ]] || fail "no product folder $kit (build the kit first: see kit/README.md)"
[[ -f "$kit/Install.exe" ]] || fail "$kit holds no Install.exe"
for tool in wixl wixl-heat msiinfo msibuild; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (Debian packages wixl and msitools)"
done

mkdir -p "$(dirname "$package")"
package="$(cd "$(dirname "$package")" && pwd)/$(basename "$package")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# wixl finds the files relative to the current folder, so it runs inside the
# product folder. The file list is the folder's content at build time;
# Install.exe is declared by Tolvo.wxs itself, which runs it.
cd "$kit"
find . -type f ! -path ./Install.exe | LC_ALL=C sort |
  wixl-heat --prefix ./ --directory-ref INSTALLDIR --component-group KitFiles --var var.KitDir \
    >"$work/kit-files.wxs"
wixl --arch x86 --define Version="$version" --define KitDir=. --output "$work/Tolvo.msi" \
  "$here/Tolvo.wxs" "$work/kit-files.wxs"

# wixl 0.101 writes Execute="rollback" as an immediate action: the Rollback...
# actions get the in-script and rollback bits (0x400 + 0x100) here.
msiinfo export "$work/Tolvo.msi" CustomAction | awk -F '\t' '$1 ~ /^Rollback/ && int($2 / 256) % 8 == 0 {
  print $1 "\t" $2 + 1280 }' | while IFS=$'\t' read -r action type; do
  msibuild "$work/Tolvo.msi" -q "UPDATE \`CustomAction\` SET \`Type\` = $type WHERE \`Action\` = '$action'"
done

# Windows refuses deferred actions outside InstallInitialize..InstallFinalize,
# and wixl puts an action scheduled only before or after another at 1.
msiinfo export "$work/Tolvo.msi" InstallExecuteSequence | awk -F '\t' '{ at[$1] = $3 }
  END { for (a in at) if (a ~ /^(Run|Rollback)/ && !(at[a] > at["InstallInitialize"] && at[a] < at["InstallFinalize"])) exit 1 }' ||
  fail "Tolvo.wxs: a Run... or Rollback... action lies outside InstallInitialize..InstallFinalize; give it a Sequence number"

# wixl's MajorUpgrade knows no AllowSameVersionUpgrades: one more Upgrade row
# (1 + 256 + 512: migrate features, minimum and maximum included) lets a
# rebuilt package of the same version replace the installed one instead of
# being installed beside it.
upgrade_code="$(msiinfo export "$work/Tolvo.msi" Property | awk -F '\t' '$1 == "UpgradeCode" {print $2}')"
msibuild "$work/Tolvo.msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`,
  \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$version', '$version', 769, 'WIX_UPGRADE_DETECTED')"
# wixl reads no version resource. Each file's version and language go into
# the File table from its own resource (VS_FIXEDFILEINFO and the first
# Translation), so that Windows Installer's file versioning rules decide
# which files a repair or an upgrade replaces; a versioned file has no
# MsiFileHash row. Install.exe and its copy are the exception: their
# resource says 2.6 in every build, so an upgrade would keep the installed
# ones and run them; the highest version makes every run put the package's
# own in place.
python3 - "$work/kit-files.wxs" <<'EOF' >"$work/versions"
import html, re, struct, sys

def resource(path):
    """(version, language) from a PE file's VS_VERSIONINFO, or None."""
    data = open(path, "rb").read()
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    start = data.find(key) - 6
    fixed = start + (6 + len(key) + 3) // 4 * 4
    if start < 0 or data[fixed:fixed + 4] != b"\xbd\x04\xef\xfe":
        return None
    ms, ls = struct.unpack_from("<II", data, fixed + 8)
    key = "Translation\0".encode("utf-16-le")
    var = data.find(key, fixed) - 6
    language = struct.unpack_from("<H", data, var + (6 + len(key) + 3) // 4 * 4)[0] if var >= 0 else 0
    return "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF), language

files = [(i, html.unescape(s)) for i, s in
         re.findall(r'<File Id="(\w+)"[^>]* Source="\$\(var\.KitDir\)/([^"]*)"', open(sys.argv[1]).read())]
for file, source in files:
    found = resource(source)
    if found:
        print("%s\t%s\t%d" % (file, found[0], found[1]))
language = (resource("Install.exe") or ("", 0))[1]
for file in ("InstallExe", "RemovalExe"):
    print("%s\t65535.65535.65535.65535\t%d" % (file, language))
EOF
while IFS=$'\t' read -r file file_version language; do
  msibuild "$work/Tolvo.msi" -q "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '$language'
    WHERE \`File\` = '$file'" -q "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$file'"
done <"$work/versions"
# Properties given by a user who may not install on their own (an elevation
# policy, Group Policy assigned to a user) reach the installation only when
# they are listed here.
secure="$(msiinfo export "$work/Tolvo.msi" Property | awk -F '\t' '$1 == "SecureCustomProperties" {print $2}')"
msibuild "$work/Tolvo.msi" -q "UPDATE \`Property\` SET \`Value\` =
  '$secure;SERVER;ENTERPRISE;CONFIGFROMREGISTRY;NOCOPY;IGNOREERRORS;INIFILE;LOGFILE;TRACEFILE;VERIFY;SKIPUNINSTALL'
  WHERE \`Property\` = 'SecureCustomProperties'"
for property in "${properties[@]}"; do
  msibuild "$work/Tolvo.msi" -q \
    "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('${property%%=*}', '${property#*=}')"
done

mv "$work/Tolvo.msi" "$package"
echo "Built $package (version $version) from $kit"
