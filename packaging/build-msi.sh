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
#            LOGFILE), for deployments that cannot pass properties (Group
#            Policy); a property on msiexec's command line still wins
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

while getopts "o:v:p:h" option; do
  case "$option" in
    o) package="$OPTARG" ;;
    v) version="$OPTARG" ;;
    p)
      [[ "$OPTARG" =~ ^(SERVER|ENTERPRISE|CONFIGFROMREGISTRY|NOCOPY|IGNOREERRORS|INIFILE|LOGFILE)=[^\']+$ ]] ||
        fail "-p $OPTARG: not NAME=VALUE with one of the package's properties (and no ')"
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

# Windows refuses deferred actions outside InstallInitialize..InstallFinalize,
# and wixl puts an action scheduled only before or after another at 1.
msiinfo export "$work/Tolvo.msi" InstallExecuteSequence | awk -F '\t' '{ at[$1] = $3 }
  END { for (a in at) if (a ~ /^Run/ && !(at[a] > at["InstallInitialize"] && at[a] < at["InstallFinalize"])) exit 1 }' ||
  fail "Tolvo.wxs: a Run... action lies outside InstallInitialize..InstallFinalize; give it a Sequence number"

# wixl's MajorUpgrade knows no AllowSameVersionUpgrades: one more Upgrade row
# (1 + 256 + 512: migrate features, minimum and maximum included) lets a
# rebuilt package of the same version replace the installed one instead of
# being installed beside it.
upgrade_code="$(msiinfo export "$work/Tolvo.msi" Property | awk -F '\t' '$1 == "UpgradeCode" {print $2}')"
msibuild "$work/Tolvo.msi" -q "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`,
  \`Attributes\`, \`ActionProperty\`) VALUES ('$upgrade_code', '$version', '$version', 769, 'WIX_UPGRADE_DETECTED')"
for property in "${properties[@]}"; do
  msibuild "$work/Tolvo.msi" -q \
    "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('${property%%=*}', '${property#*=}')"
done

mv "$work/Tolvo.msi" "$package"
echo "Built $package (version $version) from $kit"
