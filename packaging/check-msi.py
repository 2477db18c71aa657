#!/usr/bin/env python3
"""Checks the tables of a built Tolvo.msi: what Tolvo.wxs and build-msi.sh must
make, read back with msiinfo (msitools).

Usage: check-msi.py PACKAGE
Prints one line per fault and exits 1 when there is one; build-msi.sh runs it
on every package it builds, and CI on the signed one.

- no control character in any cell of any table, and no cell wider than its
  column;
- every GUID a GUID (braced, upper case), the Upgrade rows' code the package's;
- no secure property but the Upgrade rows' own: none of the documented ones,
  which would reach the local system account from a standard user's repair;
- only the documented properties and Windows Installer's own public: every
  property that the package computes or searches for is private, and
  searched for in the execute sequence alone;
- sequence numbers numeric, no two alike, and in the order that the rollback
  design needs; every deferred action's command line set before the
  transaction begins;
- custom action types as intended; the same-version Upgrade row; File
  versions well formed;
- every .ini file (Tolvo.ini may hold a password) locked to the administrators
  (LockPermissions always grants the local system account too), and no lock but
  such a file's (build-msi.sh locks a file of another name that sets a password).
"""

import re
import os
import subprocess
import sys
import tempfile

GUID = re.compile(r"^\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\}$")
PUBLIC_NAME = re.compile(r"^[A-Z_][A-Z0-9_.]*$")
IDENTIFIER = re.compile(r"[A-Za-z_][A-Za-z0-9_.]*")
# The package's documented properties, and the public ones that it sets or
# reads from Windows Installer itself.
DOCUMENTED = {"SERVER", "ENTERPRISE", "CONFIGFROMREGISTRY", "NOCOPY", "IGNOREERRORS", "INIFILE",
              "LOGFILE", "TRACEFILE", "VERIFY", "SKIPUNINSTALL"}
WINDOWS = {"ALLUSERS", "ARPNOMODIFY", "ARPINSTALLLOCATION", "REMOVE", "REINSTALL",
           "UPGRADINGPRODUCTCODE", "WIX_UPGRADE_DETECTED", "WIX_DOWNGRADE_DETECTED",
           "TARGETDIR"}
OPERATORS = {"NOT", "AND", "OR", "XOR", "EQV", "IMP"}
# In this order in InstallExecuteSequence (see Tolvo.wxs, "Rollback").
ROLLBACK_ORDER = ["InstallInitialize", "RollbackRemoval", "RunUninstall", "RemoveFiles",
                  "RollbackUpgrade", "InstallFiles", "RollbackInstall", "RollbackTakeover",
                  "RunInstall", "RunVerify", "InstallFinalize", "RemoveExistingProducts"]
DLL_ACTION = 1  # a DLL stored in the Binary table
IN_SCRIPT, ROLLBACK, COMMIT, NO_IMPERSONATE, CONTINUE = 0x400, 0x100, 0x200, 0x800, 0x40
TYPES = {"Run": DLL_ACTION | IN_SCRIPT | NO_IMPERSONATE,
         "Rollback": DLL_ACTION | IN_SCRIPT | ROLLBACK | NO_IMPERSONATE | CONTINUE,
         "Forget": DLL_ACTION | IN_SCRIPT | COMMIT | NO_IMPERSONATE | CONTINUE,
         "Refuse": 19,  # an error message, and failure
         "Check": DLL_ACTION,  # TolvoRun.dll, immediate
         "": 51}  # a property set from formatted text


class Package:
    def __init__(self, path):
        self.path = path
        self.faults = []

    def raw(self, table):
        # msiinfo writes a table's streams (the Binary table's DLLs) into a folder of the
        # working directory: a scratch one, never the caller's.
        with tempfile.TemporaryDirectory() as scratch:
            return subprocess.run(["msiinfo", "export", os.path.abspath(self.path), table],
                                  check=True, cwd=scratch,
                                  stdout=subprocess.PIPE).stdout.decode("utf-8", "replace")

    def rows(self, table):
        """Each row as a dictionary of column name to cell."""
        lines = self.raw(table).split("\r\n")
        columns = lines[0].split("\t")
        return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]

    def fault(self, text):
        self.faults.append(text)


def check_cells(package):
    tables = subprocess.run(["msiinfo", "tables", package.path], check=True, text=True,
                            stdout=subprocess.PIPE).stdout.split()
    for table in tables:
        if table == "_ForceCodepage":  # the code page alone, not a table of cells
            continue
        lines = package.raw(table).split("\r\n")
        columns = lines[0].split("\t")
        # A column's type: s72 a string of at most 72 characters, l0 one of any length.
        widths = [int(t[1:]) if t[:1] in "sSlL" else 0 for t in lines[1].split("\t")]
        for number, line in enumerate(lines[3:], 4):
            cells = line.split("\t")
            if line and (len(cells) != len(columns) or
                         any(c < " " for c in line.replace("\t", ""))):
                package.fault("%s, line %d: a control character in a cell: %r" % (
                    table, number, line))
                continue
            for column, width, cell in zip(columns, widths, cells):
                if width and len(cell) > width:
                    package.fault("%s, line %d: %s has %d characters, its column %d" % (
                        table, number, column, len(cell), width))
        if lines[-1]:
            package.fault("%s: a control character in a cell: %r" % (table, lines[-1]))


def check_guids(package, properties):
    revision = [r["Value"] for r in package.rows("_SummaryInformation") if r["PropertyId"] == "9"]
    cells = [("ProductCode", properties.get("ProductCode", "")),
             ("UpgradeCode", properties.get("UpgradeCode", "")),
             ("package code", revision[0] if revision else "")]
    cells += [("Upgrade row", r["UpgradeCode"]) for r in package.rows("Upgrade")]
    cells += [("component " + r["Component"], r["ComponentId"]) for r in package.rows("Component")]
    for what, cell in cells:
        if not GUID.match(cell):
            package.fault("%s: %r is not a GUID" % (what, cell))
    for row in package.rows("Upgrade"):
        if row["UpgradeCode"] != properties.get("UpgradeCode"):
            package.fault("Upgrade row %r: not the package's UpgradeCode" % row["UpgradeCode"])


def references(package, actions):
    """Every property name that a condition or a formatted text of the package names."""
    texts = [r["Condition"] for r in package.rows("LaunchCondition")]
    texts += [r["Condition"] for table in ("InstallExecuteSequence", "InstallUISequence")
              for r in package.rows(table)]
    texts = [re.sub(r'"[^"]*"', "", t) for t in texts]  # not the quoted texts
    texts += re.findall(r"\[([^\[\]]+)\]", " ".join(r["Target"] for r in actions.values()))
    texts += re.findall(r"\[([^\[\]]+)\]", " ".join(r["Value"] for r in package.rows("Registry")))
    return {name for text in texts for name in IDENTIFIER.findall(text)} - OPERATORS


def check_properties(package, properties, actions):
    used = references(package, actions)
    computed = {r["Source"] for r in actions.values() if int(r["Type"]) & 0x3F == 51}
    computed |= {r["Property"] for r in package.rows("AppSearch")}
    upgrade = {r["ActionProperty"] for r in package.rows("Upgrade")}
    secure = set(properties.get("SecureCustomProperties", "").split(";")) - {""}
    for name in sorted(secure - upgrade):
        package.fault("secure property %r: not an Upgrade row's, so a standard user's repair "
                      "would pass it to the local system account" % name)
    ui = {r["Action"] for r in package.rows("InstallUISequence")}
    for name in sorted(r["Property"] for r in package.rows("AppSearch")):
        if "AppSearch" in ui and not (PUBLIC_NAME.match(name) and name in secure):
            package.fault("AppSearch in InstallUISequence: %s is private there, and an "
                          "interactive run's execute sequence never sees it" % name)
    allowed = DOCUMENTED | WINDOWS
    for name in sorted(used | computed | set(properties)):
        if PUBLIC_NAME.match(name) and name not in allowed:
            package.fault("property %s: public, and not one of the documented ones" % name)
    for name in sorted(computed - DOCUMENTED - WINDOWS):
        if PUBLIC_NAME.match(name):
            package.fault("property %s: computed by the package, yet public" % name)


def check_sequence(package, actions):
    for table in ("InstallExecuteSequence", "InstallUISequence", "AdminExecuteSequence",
                  "AdminUISequence", "AdvtExecuteSequence"):
        numbers = {}
        for row in package.rows(table):
            if not re.match(r"^-?[0-9]+$", row["Sequence"]):
                package.fault("%s: %s at %r, not a number" % (
                    table, row["Action"], row["Sequence"]))
            elif row["Sequence"] in numbers and int(row["Sequence"]) > 0:
                package.fault("%s: %s and %s both at %s" % (
                    table, numbers[row["Sequence"]], row["Action"], row["Sequence"]))
            numbers.setdefault(row["Sequence"], row["Action"])
    at = {r["Action"]: int(r["Sequence"]) for r in package.rows("InstallExecuteSequence")
          if re.match(r"^-?[0-9]+$", r["Sequence"])}
    order = [(name, at.get(name)) for name in ROLLBACK_ORDER]
    if None in dict(order).values() or [n for _, n in order] != sorted(n for _, n in order):
        package.fault("InstallExecuteSequence: not in the order %s: %r" % (
            " < ".join(ROLLBACK_ORDER), order))
    begin = at.get("InstallInitialize", 0)
    for name, row in actions.items():
        if int(row["Type"]) & IN_SCRIPT and not at.get("Set" + name, begin) < begin:
            package.fault("%s: its command line (Set%s) is not set before InstallInitialize" % (
                name, name))
        if name.startswith("Refuse") and not at.get(name, begin) < begin:
            package.fault("%s: not before InstallInitialize" % name)


def check_actions(package, actions):
    binaries = {r["Name"] for r in package.rows("Binary")}
    for name, row in actions.items():
        kind = next((k for k in TYPES if k and name.startswith(k)), "")
        if int(row["Type"]) != TYPES[kind]:
            package.fault("custom action %s: type %s, expected %d" % (
                name, row["Type"], TYPES[kind]))
        entry = "RunLogged" if TYPES[kind] & IN_SCRIPT else name
        if TYPES[kind] & 0x3F == DLL_ACTION and not (row["Source"] in binaries and row["Target"] == entry):
            package.fault("custom action %s: not TolvoRun.dll's %s" % (name, entry))


def check_versions(package, properties):
    version = properties.get("ProductVersion", "")
    same = [r for r in package.rows("Upgrade") if r["VersionMin"] == r["VersionMax"] == version and
            r["Attributes"] == "769" and r["ActionProperty"] == "WIX_UPGRADE_DETECTED"]
    if not same:
        package.fault("Upgrade: no row that makes a package of the same version an upgrade")
    hashed = {r["File_"] for r in package.rows("MsiFileHash")}
    for row in package.rows("File"):
        parts = row["Version"].split(".") if row["Version"] else []
        if parts and (len(parts) > 4 or not all(p.isdigit() and int(p) <= 65535 for p in parts)):
            package.fault("File %s: version %r" % (row["FileName"], row["Version"]))
        if parts and row["File"] in hashed:
            package.fault("File %s: a versioned file with a hash" % row["FileName"])


def check_locks(package):
    tables = subprocess.run(["msiinfo", "tables", package.path], check=True, text=True,
                            stdout=subprocess.PIPE).stdout.split()
    locks = package.rows("LockPermissions") if "LockPermissions" in tables else []
    rows = {(r["LockObject"], r["Table"], r["Domain"], r["User"], r["Permission"]) for r in locks}
    lock = ("File", "", "Administrators", "268435456")
    files = {f["File"] for f in package.rows("File")}
    for f in package.rows("File"):
        ini = f["FileName"].split("|")[-1].lower().endswith(".ini")
        if ini and (f["File"],) + lock not in rows:
            package.fault("File %s: not locked to SYSTEM and the administrators" % f["File"])
    for row in sorted(rows):
        if row[1:] != lock or row[0] not in files:
            package.fault("LockPermissions: an unexpected row %r" % (row,))


def main(arguments):
    if len(arguments) != 1:
        print("usage: check-msi.py PACKAGE", file=sys.stderr)
        return 2
    package = Package(arguments[0])
    properties = {r["Property"]: r["Value"] for r in package.rows("Property")}
    actions = {r["Action"]: r for r in package.rows("CustomAction")}
    check_cells(package)
    check_guids(package, properties)
    check_properties(package, properties, actions)
    check_sequence(package, actions)
    check_actions(package, actions)
    check_versions(package, properties)
    check_locks(package)
    for fault in package.faults:
        print("check-msi.py: %s: %s" % (package.path, fault))
    return 1 if package.faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
