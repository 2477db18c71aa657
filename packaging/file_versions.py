#!/usr/bin/env python3
"""The version resources of a product folder's files, for the package's File table.

wixl reads no version resource, so build-msi.sh writes each file's version and
language into the File table from the file's own VS_FIXEDFILEINFO and first
Translation: Windows Installer's file versioning rules then decide which
files a repair or an upgrade replaces.

Usage: file_versions.py FILE            VERSION<TAB>LANGUAGE of one file
       file_versions.py --wxs WXS       FILE-ID<TAB>VERSION<TAB>LANGUAGE for each
                                        versioned file that a wixl-heat source lists
Paths are taken from the current folder; a file without a version resource is
left out (exit 1 for the one FILE).
"""

import html
import re
import struct
import sys

FIXED_SIGNATURE = b"\xbd\x04\xef\xfe"


def aligned(offset):
    return (offset + 3) // 4 * 4


def version_resource(path):
    """(version, language) from a PE file's VS_VERSIONINFO, or None."""
    with open(path, "rb") as file:
        data = file.read()
    key = "VS_VERSION_INFO\0".encode("utf-16-le")
    start = data.find(key) - 6
    fixed = aligned(start + 6 + len(key))
    if start < 0 or data[fixed:fixed + 4] != FIXED_SIGNATURE:
        return None
    most, least = struct.unpack_from("<II", data, fixed + 8)
    key = "Translation\0".encode("utf-16-le")
    var = data.find(key, fixed) - 6
    language = struct.unpack_from("<H", data, aligned(var + 6 + len(key)))[0] if var >= 0 else 0
    version = (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)
    return "%d.%d.%d.%d" % version, language


def main(arguments):
    if len(arguments) == 2 and arguments[0] == "--wxs":
        with open(arguments[1]) as source:
            files = re.findall(r'<File Id="(\w+)"[^>]* Source="\$\(var\.KitDir\)/([^"]*)"',
                               source.read())
        for file_id, path in files:
            found = version_resource(html.unescape(path))
            if found:
                print("%s\t%s\t%d" % (file_id, found[0], found[1]))
        return 0
    if len(arguments) == 1:
        found = version_resource(arguments[0])
        if found:
            print("%s\t%d" % found)
        return 0 if found else 1
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
