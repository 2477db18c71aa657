#!/bin/bash
# Builds the Windows Installer package Tolvo.msi from a product folder with
# wixl (Debian package wixl, msitools): every file of the folder, in its
# layout, goes to Program Files\Kestrum\Tolvo Port Monitor, and the package
# runs Install.exe from there through its custom action DLL (see Tolvo.wxs).
# The finished package's tables are checked (check-msi.py) before it is
# written.
#
# Usage: packaging/build-msi.sh [--allow-password-in-package] [-o PACKAGE] [-v VERSION] [-d DLL]
#                               [-p NAME=VALUE]... [FOLDER]
#   FOLDER   the product folder: Install.exe with the product's files and
#            the site's Tolvo.ini (default: the stand-in kit, build/kit)
#   PACKAGE  the package to write (default: build/Tolvo.msi)
#   VERSION  the package's version, MAJOR.MINOR.BUILD (default: the version
#            resource of the folder's Install.exe); never lower than that, and
#            higher for a new package of the same product folder: a package
#            replaces an installed one of the same or a lower version
#   DLL      the package's custom action DLL, TolvoRun.dll (default: the
#            mingw32 build's, build/mingw32/packaging/TolvoRun.dll)
#   NAME=VALUE  a default for one of the package's properties (SERVER,
#            ENTERPRISE, CONFIGFROMREGISTRY, NOCOPY, IGNOREERRORS, INIFILE,
#            LOGFILE, TRACEFILE, VERIFY), for deployments that cannot pass properties
#            (Group Policy); a property on msiexec's command line still wins.
#            Refused as the package itself refuses them at install time: a
#            value with a double quote or ending in a backslash, a SERVER
#            that is not \\ and a name; and here also a value with a '
#   --allow-password-in-package  build from a folder with a file that sets
#            a port's password (AuthText): a .ini file, or any other that
#            INIFILE may name; without it the build stops there: Windows
#            Installer keeps a copy of the package that every user of the
#            machine can read (%windir%\Installer)
# The package installs the folder's .ini files, and any file that sets a
# password, readable by the local system account and the administrators
# only (the LockPermissions table).
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(dirname "$here")"
package="$repo/build/Tolvo.msi"
version=""
action_dll="$repo/build/mingw32/packaging/TolvoRun.dll"
properties=()
allow_password=0

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
  local value="${1#*=}"
  [[ "$1" =~ ^(SERVER|ENTERPRISE|CONFIGFROMREGISTRY|NOCOPY|IGNOREERRORS|INIFILE|LOGFILE|TRACEFILE|VERIFY)=[^\']+$ ]] ||
    fail "-p $1: not NAME=VALUE with one of the package's properties (and no ')"
  [[ "$value" != *'"'* && "$value" != *\\ ]] ||
    fail "-p $1: a value may not hold a double quote or end with a backslash"
}
# SERVER by Install.exe's rule (src/workflows/server_name_rule.h, which
# CheckServer applies at install time): two backslashes and a name, at most
# 241 characters, 240 with ENTERPRISE=1 (its monitor's name is longer).
check_server() {
  local longest=241 property
  for property in "${properties[@]+"${properties[@]}"}"; do
    [[ "$property" != ENTERPRISE=1 ]] || longest=240
  done
  for property in "${properties[@]+"${properties[@]}"}"; do
    [[ "$property" != SERVER=* || ("${property#*=}" =~ ^\\\\[^\\/,\"\ [:cntrl:]]+$ && ${#property} -le $((longest + 7))) ]] ||
      fail "-p $property: SERVER is two backslashes and the server's name, as in SERVER=\\\\printsrv01 (no \\ / , or blank, at most $longest characters)"
  done
}

arguments=()
for argument in "$@"; do
  if [[ "$argument" == --allow-password-in-package ]]; then
    allow_password=1
  else
    arguments+=("$argument")
  fi
done
set -- "${arguments[@]+"${arguments[@]}"}"
while getopts "o:v:d:p:h" option; do
  case "$option" in
    o) package="$OPTARG" ;;
    v) version="$OPTARG" ;;
    d) action_dll="$OPTARG" ;;
    p)
      check_property "$OPTARG"
      properties+=("$OPTARG")
      ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
(($# <= 1)) || usage
check_server
kit="${1:-$repo/build/kit}"

[[ -d "$kit" ]] || fail "no product folder $kit (build the kit first: see kit/README.md)"
[[ -f "$kit/Install.exe" ]] || fail "$kit holds no Install.exe"
[[ -f "$action_dll" ]] || fail "no custom action DLL $action_dll (build the mingw32 preset first)"
for tool in wixl wixl-heat msiinfo msibuild python3; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (Debian packages wixl, msitools and python3)"
done
# The folder's files that set a password, as Windows reads a profile file
# (whatever its name: INIFILE may name any): ANSI, or UTF-16 after its byte
# order mark; a value "" is empty.
password_files="$(python3 - "$kit" <<'EOF'
import pathlib, re, sys
folder = pathlib.Path(sys.argv[1])
for path in sorted(folder.rglob("*")):
    if path.is_file():
        data = path.read_bytes()
        unicode = data[:2] in (b"\xff\xfe", b"\xfe\xff")
        text = data.decode("utf-16" if unicode else "latin-1", "replace")
        if re.search(r'^[ \t]*authtext[ \t]*=[ \t]*("[^"]|[^"\s])', text, re.I | re.M):
            print(path.relative_to(folder))
EOF
)"
[[ -z "$password_files" || $allow_password == 1 ]] ||
  fail "${password_files//$'\n'/, } in $kit: AuthText is set, a port's password; the package would carry it, and every user can read the copy of it that Windows Installer keeps (%windir%\\Installer). Bring the password another way (see the administrator's guide), or give --allow-password-in-package"

# The package's version is Install.exe's, or a higher one given with -v, so
# that an upgrade's Install.exe is never older than the package says.
exe_version="$(cd "$kit" && "$here/file_versions.py" Install.exe)" ||
  fail "$kit/Install.exe has no version resource"
exe_version="${exe_version%%$'\t'*}"
exe_version="${exe_version%.*}"
version="${version:-$exe_version}"
[[ "$version" =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,5})$ && ${BASH_REMATCH[1]} -le 255 &&
  ${BASH_REMATCH[2]} -le 255 && ${BASH_REMATCH[3]} -le 65535 ]] ||
  fail "version '$version' is not MAJOR.MINOR.BUILD (at most 255.255.65535)"
lowest="$(printf '%s\n%s\n' "$version" "$exe_version" | sort -t . -k 1,1n -k 2,2n -k 3,3n | head -n 1)"
[[ "$lowest" == "$exe_version" ]] ||
  fail "version $version is lower than that of $kit/Install.exe ($exe_version)"

mkdir -p "$(dirname "$package")"
package="$(cd "$(dirname "$package")" && pwd)/$(basename "$package")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A table as rows of tab-separated cells, without the three header lines and
# without the carriage return that ends each line of msiinfo's export.
table() {
  msiinfo export "$work/Tolvo.msi" "$1" | tr -d '\r' | tail -n +4
}
sql() {
  msibuild "$work/Tolvo.msi" -q "$1"
}

# wixl finds the files relative to the current folder: the product folder is
# linked into the work folder as "kit", beside the custom action DLL. The
# file list is the folder's content at build time; Install.exe is declared
# by Tolvo.wxs itself, which runs it.
ln -s "$(cd "$kit" && pwd)" "$work/kit"
cp "$action_dll" "$work/TolvoRun.dll"
(cd "$kit" && find . -type f ! -path ./Install.exe | LC_ALL=C sort) |
  wixl-heat --prefix ./ --directory-ref ProductFolder --component-group KitFiles --var var.KitDir \
    >"$work/kit-files.wxs"
cd "$work"
wixl --arch x86 --define Version="$version" --define KitDir=kit --define ActionDll=TolvoRun.dll \
  --output "$work/Tolvo.msi" "$here/Tolvo.wxs" "$work/kit-files.wxs"

# wixl 0.101 writes Execute="rollback" and "commit" as immediate actions:
# the Rollback... actions get the in-script and rollback bits (0x400 +
# 0x100) here, ForgetRun the in-script and commit bits (0x400 + 0x200). It
# has no error action either: the Refuse... actions, written as property
# settings, become error actions (type 19) whose text is the message.
table CustomAction | awk -F '\t' '$1 ~ /^Rollback/ && int($2 / 256) % 8 == 0 { print $1 "\t" $2 + 1280 }
  $1 == "ForgetRun" && int($2 / 256) % 8 == 0 { print $1 "\t" $2 + 1536 }
  $1 ~ /^Refuse/ && $2 == 51 { print $1 "\t19" }' | while IFS=$'\t' read -r action type; do
  sql "UPDATE \`CustomAction\` SET \`Type\` = $type WHERE \`Action\` = '$action'"
done
sql "UPDATE \`CustomAction\` SET \`Source\` = '' WHERE \`Type\` = 19"

# wixl's MajorUpgrade knows no AllowSameVersionUpgrades: one more Upgrade row
# (1 + 256 + 512: migrate features, minimum and maximum included) lets a
# rebuilt package of the same version replace the installed one instead of
# being installed beside it.
upgrade_code="$(table Property | awk -F '\t' '$1 == "UpgradeCode" {print $2}')"
sql "INSERT INTO \`Upgrade\` (\`UpgradeCode\`, \`VersionMin\`, \`VersionMax\`, \`Attributes\`,
  \`ActionProperty\`) VALUES ('$upgrade_code', '$version', '$version', 769, 'WIX_UPGRADE_DETECTED')"
# Each file's own version and language (see file_versions.py); Install.exe
# and its copy InstCopy.exe carry the product's version. A versioned file
# has no MsiFileHash row.
{
  (cd "$kit" && "$here/file_versions.py" --wxs "$work/kit-files.wxs")
  language="$(cd "$kit" && "$here/file_versions.py" Install.exe | cut -f 2)"
  printf 'InstallExe\t%s.0\t%s\nRemovalExe\t%s.0\t%s\n' "$exe_version" "$language" "$exe_version" "$language"
} >"$work/versions"
while IFS=$'\t' read -r file file_version language; do
  sql "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '$language' WHERE \`File\` = '$file'"
  sql "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$file'"
done <"$work/versions"
# No documented property is secure (SecureCustomProperties keeps wixl's
# upgrade properties alone): a standard user's repair, which runs as the
# local system account, then takes none of them from its command line, only
# the remembered settings. Administrators' command lines and transforms set
# them all.
#
# AppSearch runs in the execute sequence only: Windows runs it once, in the
# UI sequence when that has it, and the private properties it sets there
# never reach the execute sequence of an interactive run.
sql "DELETE FROM \`InstallUISequence\` WHERE \`Action\` = 'AppSearch'"
for property in "${properties[@]}"; do
  sql "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('${property%%=*}', '${property#*=}')"
done

# The .ini files (the site's Tolvo.ini), and files of other names that set a
# password, are readable by the local system account and the administrators
# only: a LockPermissions table replaces a file's inherited permissions with
# its rows, and always grants the local system account. (Not
# MsiLockPermissionsEx: Windows Installer before 5.0, Windows XP's, ignores
# it.)
sql "CREATE TABLE \`LockPermissions\` (\`LockObject\` CHAR(72) NOT NULL, \`Table\` CHAR(32) NOT NULL,
  \`Domain\` CHAR(255), \`User\` CHAR(255) NOT NULL, \`Permission\` LONG
  PRIMARY KEY \`LockObject\`, \`Table\`, \`Domain\`, \`User\`)"
table File | awk -F '\t' -v secret="$password_files" '
  BEGIN { count = split(tolower(secret), paths, "\n"); for (i = 1; i <= count; ++i) { sub(/.*\//, "", paths[i]); locked[paths[i]] = 1 } }
  { name = tolower($3); sub(/.*\|/, "", name) } name ~ /\.ini$/ || name in locked { print $1 }' | while read -r file; do
  sql "INSERT INTO \`LockPermissions\` (\`LockObject\`, \`Table\`, \`User\`, \`Permission\`)
    VALUES ('$file', 'File', 'Administrators', 268435456)"
done

"$here/check-msi.py" "$work/Tolvo.msi" || fail "the package's tables are not as they must be (above)"
mv "$work/Tolvo.msi" "$package"
echo "Built $package (version $version) from $kit"
