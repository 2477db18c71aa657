#!/usr/bin/env python3
"""End-to-end runs of the real Install.exe and its kit in fresh Wine prefixes.

Each test gets its own copy of a freshly booted prefix (64-bit or 32-bit),
sets the Windows version, places the kit in C:\\Kit, runs the installer the
way an administrator would, and then checks what it printed, what it logged,
and what it left in the spooler, the registry and the file system. The
expectations are built here from the installer's message texts, the kit's
Tolvo.ini and the port-data record layout, independently of the installer's
own code.

Usage: e2e.py [-k SUBSTRING] [--keep]
"""

import argparse
import difflib
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import traceback
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
# The locations can be overridden to test another build of the same tree.
INSTALL_EXE = Path(os.environ.get("E2E_INSTALL_EXE", next(
    (p for p in (BUILD / "mingw32" / "Install.exe",
                 BUILD / "mingw32" / "src" / "platform" / "win32" / "Install.exe") if p.is_file()),
    BUILD / "mingw32" / "Install.exe")))
KIT = Path(os.environ.get("E2E_KIT", BUILD / "kit"))
WINE_SUPPORT = Path(os.environ.get("E2E_WINE_SUPPORT", BUILD / "wine-support"))
PROBE = WINE_SUPPORT / "spooler_probe.exe"
DRIVER_SOURCES = ROOT / "src" / "driver"

RUN_TIMEOUT = 120
TRACE = bool(os.environ.get("E2E_TRACE"))
LANGUAGES = ["cs-CZ", "de-DE", "hu-HU", "ja-JP", "pl-PL", "ru-RU", "zh-CN"]
CLIENT_FILES = ["Tolvo Client.exe", "Interop.SHDocVw.dll", "Microsoft.mshtml.dll"]
EVENT_KEY = r"SYSTEM\CurrentControlSet\Services\EventLog\Application\TolvoPort"
RUN_KEY = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Run"
DOTNET_KEY = r"Software\Microsoft\NET Framework Setup\NDP\v2.0.50727"
MONITORS_KEY = r"SYSTEM\CurrentControlSet\Control\Print\Monitors"
SCRIPT_MARKER = "bat-marker.txt"


class CheckFailed(Exception):
    pass


def info(message):
    """Progress notes go to the error stream; the output holds only the results."""
    print("# " + message, file=sys.stderr, flush=True)


def check(condition, message):
    if not condition:
        raise CheckFailed(message)


def record_fields():
    """(offset, size, name) of every field of the port-data record, in offset order."""
    fields = [(offset, 520 if kind == "t" else 4, name) for offset, name, kind in RECORD_LAYOUT]
    fields += [(SERVER_IP_OFFSET + k * 520, 520, indexed("ServerIP", k + 1)) for k in range(10)]
    fields += [(IP_LOAD_BALANCING_OFFSET + k * 4, 4, indexed("IPLoadBalancing", k + 1))
               for k in range(10)]
    fields += [(PORT_NAME_OFFSET, 18, "PortName"), (PORT_NAME_OFFSET + 18, 2, "reserved")]
    return sorted(fields)


def check_record(actual, expected, what):
    """Compares two port-data records and names the fields that differ."""
    if actual == expected:
        return
    if len(actual) != len(expected):
        raise CheckFailed("%s: %d bytes, expected %d" % (what, len(actual), len(expected)))
    wrong = []
    for offset, size, name in record_fields():
        a, e = actual[offset:offset + size], expected[offset:offset + size]
        if a != e:
            wrong.append("%s at %d: %s, expected %s" % (name, offset, a.hex(), e.hex()))
    raise CheckFailed("%s differs in %d fields:\n  %s" % (what, len(wrong), "\n  ".join(
        (w[:160] + "...") if len(w) > 160 else w for w in wrong)))


def check_equal(actual, expected, what):
    if actual == expected:
        return
    if isinstance(actual, bytes) and isinstance(expected, bytes):
        a = actual.decode("cp1252", "replace").splitlines(keepends=True)
        e = expected.decode("cp1252", "replace").splitlines(keepends=True)
        diff = "".join(
            difflib.unified_diff([repr(x) + "\n" for x in e], [repr(x) + "\n" for x in a],
                                 "expected", "actual", n=2))
        raise CheckFailed("%s differs:\n%s" % (what, diff))
    raise CheckFailed("%s: expected %r, got %r" % (what, expected, actual))


# --------------------------------------------------------------------------
# The edition profile, as an administrator sees it from outside.

class Edition:
    def __init__(self, enterprise):
        self.enterprise = enterprise
        e = enterprise
        self.word = "TolvoE" if e else "Tolvo"
        self.port_format = "TolvoE%03d" if e else "Tolvo%03d"
        self.config_key = r"SOFTWARE\Kestrum Corporation\%s\PortInstallCfg" % self.word
        self.monitor32 = "TOLVOE.DLL" if e else "TOLVOVS.DLL"
        self.monitor64 = "TOLVOE64.DLL" if e else "TOLVOVS64.DLL"
        self.ui32 = "TOLVOEUI.DLL" if e else "TOLVOUI.DLL"
        self.ui64 = "TOLVOE64UI.DLL" if e else "TOLVO64UI.DLL"
        self.cairo32 = "TolvoECairoLib.DLL" if e else "TolvoCairoLib.DLL"
        self.cairo64 = "TolvoECairoLib64.DLL" if e else "TolvoCairoLib64.DLL"
        self.font_subdir = ("Kestrum\\Tolvo Client Enterprise\\Font" if e
                            else "Kestrum\\Tolvo Client\\Font")
        self.banner = "\n\nTolvo Client %sInstaller v 2.6\n" % ("Enterprise " if e else "")

    def system_files(self, wide):
        """The files that the install copies into the system directory."""
        if wide:
            return [self.monitor64, self.ui64, self.cairo64]
        return [self.monitor32, self.ui32, self.cairo32]

    def port_name(self, number):
        return self.port_format % number


STANDARD = Edition(False)
ENTERPRISE = Edition(True)


# --------------------------------------------------------------------------
# Configuration values as Windows' profile and registry readers give them.

TEXT_KEYS = ["Description", "Queue", "AuthText", "ComPort", "CurrentUserNameFormat",
             "LogFilePath", "BWPrintTempDir", "Note", "RedirectToIP"]
INT_DEFAULTS = {
    "ServerPort": 9100, "LoadBalancing": 1, "RefreshIPList": 1, "AuthType": 1,
    "Projects": 0, "Compression": 0, "FaxServer": 0, "LogToFile": 0, "Encryption": 0,
    "DefaultProjectID": 0, "DisableServerCommunication": 0, "ProtocolLevel": 4,
    "JobOwnerMethod": 0, "NetworkTimeout": 60, "PriceEstimation": 0, "PopupsForBWPrint": 0,
    "ParserDPI": 72, "SavePassword": 0, "NoProjectOption": 1, "LBNetworkTimeout": 60,
    "LogFileSizeLimit": 20, "LogFileCount": 3, "SSLCertificateVerification": 0,
}


def indexed(base, k):
    return base if k == 1 else "%s%d" % (base, k)


def profile_int(text, default):
    """GetPrivateProfileIntA: leading blanks, a sign, 0x/0o/0b prefixes, digits."""
    if text is None or text == "":
        return default & 0xFFFFFFFF
    s = text.lstrip(" \t\n\r")
    negative = False
    if s[:1] in "+-" and s[:1] != "":
        negative = s[0] == "-"
        s = s[1:]
    base = 10
    if s[:2].lower() in ("0x", "0o", "0b"):
        base = {"x": 16, "o": 8, "b": 2}[s[1].lower()]
        s = s[2:]
    value = 0
    for ch in s:
        digit = int(ch, 36) if ch.isalnum() and ch.isascii() else 99
        if digit >= base:
            break
        value = value * base + digit
    if negative:
        value = -value
    return value & 0xFFFFFFFF


class IniSource:
    """A configuration file read with Windows' profile rules."""

    def __init__(self, path):
        self.sections = {}
        current = None
        for raw in path.read_bytes().decode("cp1252").splitlines():
            line = raw.strip()
            if line.startswith("["):
                name = line[1:line.index("]")] if "]" in line else line[1:]
                current = self.sections.setdefault(name.strip().lower(), {})
            elif current is not None and "=" in line:
                key, value = line.split("=", 1)
                key, value = key.strip().lower(), value.strip()
                if len(value) >= 2 and value[0] == value[-1] and value[0] in "\"'":
                    value = value[1:-1]
                current.setdefault(key, value)

    def text(self, section, key):
        return self.sections.get(str(section), {}).get(key.lower(), "")[:259]

    def integer(self, section, key, default):
        value = self.sections.get(str(section), {}).get(key.lower())
        return profile_int(value, default)


class RegistrySource:
    """The registry configuration: {section: {name: str or int}}, as the test wrote it."""

    def __init__(self, sections):
        self.sections = {str(k): v for k, v in sections.items()}

    def text(self, section, key):
        value = self.sections.get(str(section), {}).get(key)
        return value[:259] if isinstance(value, str) else ""

    def integer(self, section, key, default):
        """A REG_DWORD, or a REG_SZ holding a decimal number."""
        value = self.sections.get(str(section), {}).get(key)
        if isinstance(value, str) and re.fullmatch(r"\s*-?\d+\s*", value):
            value = int(value)
        return (value if isinstance(value, int) else default) & 0xFFFFFFFF


def read_port(source, number, edition):
    """One port's settings, or None when the port number is not configured."""
    cfg = {"Description": source.text(number, "Description"), "ServerIP": [],
           "IPLoadBalancing": []}
    for k in range(1, 11):
        cfg["ServerIP"].append(source.text(number, indexed("ServerIP", k)))
        cfg["IPLoadBalancing"].append(source.integer(number, indexed("IPLoadBalancing", k), 0))
    if cfg["ServerIP"][0] == "":
        return None
    for key in TEXT_KEYS[1:]:
        cfg[key] = source.text(number, key)
    for key, default in INT_DEFAULTS.items():
        cfg[key] = source.integer(number, key, default)
    if edition.enterprise and cfg["DisableServerCommunication"] != 0:
        cfg["Encryption"] = 0
        cfg["RefreshIPList"] = 0
    cfg["PortName"] = edition.port_name(number)
    return cfg


def read_ports(source, edition):
    ports = []
    while True:
        cfg = read_port(source, len(ports) + 1, edition)
        if cfg is None:
            return ports
        ports.append(cfg)


def assignments(source, port_count, edition):
    """(printer, port) pairs in the order the installer visits them."""
    pairs = []
    for number in range(1, port_count + 1):
        for k in range(1, 11):
            name = source.text(number, indexed("AssignPrinter", k))
            if name:
                pairs.append((name, edition.port_name(number)))
    return pairs


# The port-data record: offset, field, kind ("t" text of 260 units, "i" 32-bit).
RECORD_SIZE = 10032
RECORD_LAYOUT = [
    (0, "Description", "t"),
    (5720, "ServerPort", "i"), (5724, "LoadBalancing", "i"), (5728, "RefreshIPList", "i"),
    (5732, "Queue", "t"), (6252, "AuthType", "i"), (6256, "AuthText", "t"),
    (6776, "ComPort", "t"), (7296, "Projects", "i"), (7300, "Compression", "i"),
    (7304, "FaxServer", "i"), (7308, "LogToFile", "i"), (7312, "Encryption", "i"),
    (7316, "DefaultProjectID", "i"), (7320, "DisableServerCommunication", "i"),
    (7324, "CurrentUserNameFormat", "t"), (7844, "ProtocolLevel", "i"),
    (7848, "JobOwnerMethod", "i"), (7852, "LogFilePath", "t"), (8372, "NetworkTimeout", "i"),
    (8376, "ParserDPI", "i"), (8380, "PriceEstimation", "i"), (8384, "PopupsForBWPrint", "i"),
    (8388, "BWPrintTempDir", "t"), (8948, "SavePassword", "i"), (8952, "NoProjectOption", "i"),
    (8956, "Note", "t"), (9476, "LBNetworkTimeout", "i"), (9480, "RedirectToIP", "t"),
    (10000, "LogFileSizeLimit", "i"), (10004, "LogFileCount", "i"),
    (10008, "SSLCertificateVerification", "i"),
]
SERVER_IP_OFFSET = 520
IP_LOAD_BALANCING_OFFSET = 8908
PORT_NAME_OFFSET = 10012


def utf16_slot(text, units):
    encoded = text.encode("utf-16-le")[: (units - 1) * 2]
    return encoded + b"\0" * (units * 2 - len(encoded))


def port_record(cfg):
    record = bytearray(RECORD_SIZE)

    def put(offset, data):
        record[offset:offset + len(data)] = data

    for offset, field, kind in RECORD_LAYOUT:
        if kind == "t":
            put(offset, utf16_slot(cfg[field], 260))
        else:
            put(offset, struct.pack("<I", cfg[field] & 0xFFFFFFFF))
    for k in range(10):
        put(SERVER_IP_OFFSET + k * 520, utf16_slot(cfg["ServerIP"][k], 260))
        put(IP_LOAD_BALANCING_OFFSET + k * 4, struct.pack("<I", cfg["IPLoadBalancing"][k]))
    name = cfg["PortName"].encode("utf-16-le")
    check(len(name) <= 18, "port name too long for the record")
    put(PORT_NAME_OFFSET, name)  # followed by zero units up to the end
    return bytes(record)


def signed(value):
    return value - (1 << 32) if value & 0x80000000 else value


def port_line(cfg):
    return "    New - IP:%s:%i, Desc:%s, Queue:%s, Type:%d %s\n" % (
        cfg["ServerIP"][0], signed(cfg["ServerPort"]), cfg["Description"], cfg["Queue"],
        signed(cfg["AuthType"]), cfg["AuthText"])


# --------------------------------------------------------------------------
# Expected transcripts: lists of (text, console_only) pieces.

def copyright_line():
    for source in sorted(DRIVER_SOURCES.glob("*.cpp")):
        for line in source.read_text(errors="replace").splitlines():
            match = re.search(r'"((?:[^"\\]|\\.)*Copyright(?:[^"\\]|\\.)*)"', line)
            if match:
                return match.group(1).encode("latin-1").decode("unicode_escape")
    raise CheckFailed("no copyright literal found in src/driver")


def banner(edition):
    return [(edition.banner, False), (copyright_line(), False)]


def version_block(version_line):
    return [("  - Detecting Windows Version\n", False), (version_line, False)]


def disconnect_block(printers, monitor_ports, edition):
    """What the printer release prints for the printers [(name, ports)] in spooler order."""
    pieces = []
    wanted = {p.lower() for p in monitor_ports}
    for name, ports in printers:
        changed = False
        for port in ports.split(","):
            if port and port.lower() in wanted:
                pieces.append(("  - Port %s type %s will be disconnected\n" % (port, edition.word),
                               True))
                changed = True
        if changed:
            pieces.append(("  - Disconnecting Printer '%s' from %s Port\n" % (name, edition.word),
                           False))
    return pieces


class Expect:
    """The facts that shape one install's transcript."""

    def __init__(self, edition=STANDARD, version_line="    (64-bit Windows 7 Detected)\n",
                 wide=True, ports=(), assigned=(), missing_printers=(), disconnect=(),
                 monitor_present=False, args=None, fonts=True, copy_files=True,
                 from_registry=False, obsolete_switch=False):
        self.__dict__.update(locals())
        del self.__dict__["self"]


def install_transcript(x):
    e = x.edition
    pieces = banner(e)
    if x.obsolete_switch:
        pieces.append(("NOTE: The -f switch is obsolete, the client application is "
                       "un/installed automaticaly\n", False))
    if x.args is None:
        pieces.append(("\nInstalling %s Port Monitor ...\n" % e.word, False))
    else:
        pieces.append(("\nInstalling %s Port Monitor...\n" % e.word, False))
        if x.from_registry:
            pieces.append(("  (config will be read from registry)\n", False))
        if not x.copy_files:
            pieces.append(("  No files will be copied\n", False))
    pieces += version_block(x.version_line)
    pieces.append(("  - Checking Files\n", False))
    pieces += list(x.disconnect)
    pieces.append(("  - Removing Old %s Print Monitor\n" % e.word, False))
    if not x.monitor_present:
        pieces.append(("    (Print Monitor Not Found)\n", False))
    if x.copy_files:
        pieces.append(("  - Deleting %s Print Monitor Files from System Directory\n" % e.word,
                       False))
        pieces.append(("  - Copying Files to Windows System Directory \n", False))
    pieces.append(("  - Registering %s Print Monitor\n" % e.word, False))
    pieces.append(("  - Adding port configuration\n", False))
    pieces += [(port_line(cfg), False) for cfg in x.ports]
    pieces.append(("  - Event Log Resources WAS installed\n", False))
    for printer, port in x.assigned:
        if printer in x.missing_printers:
            pieces.append(("    ERROR - Printer %s NOT assigned to port %s\n" % (printer, port),
                           False))
        else:
            pieces.append(("    Printer '%s' assigned to port %s\n" % (printer, port), False))
    if not e.enterprise:
        pieces.append(("  - Installing Tolvo Client Graphical User Interface\n", False))
        pieces.append(("  - Waiting for all Tolvo Clients to terminate\n", False))
        pieces.append(("  - Executing Tolvo Client\n", False))
    if x.copy_files and x.fonts:
        pieces.append(("  - Installing Font Files\n", False))
    pieces.append(("\n%s Port Monitor Installed Sucessfully.\n" % e.word, False))
    return pieces


def uninstall_transcript(edition, version_line, disconnect=(), monitor_present=True,
                         copy_files=True):
    pieces = banner(edition)
    pieces.append(("\nUninstalling %s Port Monitor...\n" % edition.word, False))
    pieces += version_block(version_line)
    if not edition.enterprise:
        pieces.append(("  - Uninstalling Tolvo Client Graphical User Interface\n", False))
        pieces.append(("  - Waiting for all Tolvo Clients to terminate\n", False))
        pieces.append(("  - Removing Tolvo Client\n", False))
    pieces += list(disconnect)
    pieces.append(("  - Removing Old %s Print Monitor\n" % edition.word, False))
    if not monitor_present:
        pieces.append(("    (Print Monitor Not Found)\n", False))
    if copy_files:
        pieces.append(("  - Deleting %s Print Monitor Files from System Directory\n"
                       % edition.word, False))
    pieces.append(("\n%s Port Monitor UnInstalled Sucessfully.\n" % edition.word, False))
    return pieces


def console_bytes(pieces):
    return "".join(text for text, _ in pieces).replace("\n", "\r\n").encode("cp1252")


def log_bytes(pieces):
    return "".join(text for text, only in pieces if not only).replace("\n", "\r\n").encode(
        "cp1252")


# --------------------------------------------------------------------------
# Wine prefixes.

def wine_env(prefix, arch=None):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env["WINEPREFIX"] = str(prefix)
    env["WINEDEBUG"] = "-all"
    if arch:
        env["WINEARCH"] = arch
    return env


def find_kit_wow64_monitor(name):
    """The 32-bit build of a 64-bit-named monitor, for a 64-bit prefix's syswow64."""
    for folder in (WINE_SUPPORT / "syswow64", WINE_SUPPORT):
        candidate = ci_child(folder, name)
        if candidate and candidate.is_file():
            return candidate
    return None


def ci_child(folder, name):
    """The entry of folder whose name equals name without regard to case, or None."""
    try:
        for entry in folder.iterdir():
            if entry.name.lower() == name.lower():
                return entry
    except FileNotFoundError:
        return None
    return None


TRACE_PREFIX = re.compile(rb"^[0-9a-f]+:trace:")


class Result:
    """A finished program: exit code, output, error stream without Wine's trace lines."""

    def __init__(self, rc, out, err):
        self.rc, self.out = rc, out
        lines = err.splitlines(keepends=True)
        self.traces = [line.decode("cp1252").rstrip("\r\n") for line in lines
                       if TRACE_PREFIX.match(line)]
        self.err = b"".join(line for line in lines if not TRACE_PREFIX.match(line))


# What the installer asked of the spooler, read from Wine's winspool trace
# channel (the spooler has no other record of, say, the environment that
# AddMonitorA was given).
WINSPOOL_TRACE = re.compile(r"^[0-9a-f]+:trace:winspool:(\w+) (.*)$")
TRACE_TEXT = re.compile(r'\(null\)|L?"((?:[^"\\]|\\.)*)"')


def trace_texts(text):
    return [None if m.group(0) == "(null)" else m.group(1) for m in TRACE_TEXT.finditer(text)]


def spooler_calls(result):
    calls = []
    for line in result.traces:
        match = WINSPOOL_TRACE.match(line)
        if not match:
            continue
        function, rest = match.groups()
        if function == "AddMonitorA":
            head, _, tail = rest.partition(") :")
            server = trace_texts(head.split(",", 1)[0] + ")")
            calls.append(("AddMonitor", server[0] if server else None) + tuple(trace_texts(tail)))
        elif function == "DeleteMonitorW":
            calls.append(("DeleteMonitor",) + tuple(trace_texts(rest)))
        elif function == "OpenPrinter2W" and ",Xcv" in rest:
            calls.append(("OpenXcv", trace_texts(rest)[0]))
        elif function == "XcvDataW":
            fields = [f.strip() for f in rest.strip("()").split(",")]
            calls.append(("XcvData", trace_texts(fields[1])[0], int(fields[3])))
        elif function == "ClosePrinter" and rest.startswith("closing") and ",Xcv" in rest:
            calls.append(("CloseXcv", trace_texts(rest)[0]))
    return calls


def install_spooler_calls(edition, wide, ports):
    """The spooler calls of an install on the local machine, in order."""
    word = edition.word
    calls = [("DeleteMonitor", None, None, word),
             ("AddMonitor", None, word, "Windows x64" if wide else None,
              edition.monitor64 if wide else edition.monitor32),
             ("OpenXcv", ",XcvMonitor " + word)]
    for cfg in ports:
        calls += [("XcvData", "AddPort", 2 * (len(cfg["PortName"]) + 1)),
                  ("XcvData", "SetPortData", RECORD_SIZE)]
    return calls + [("CloseXcv", ",XcvMonitor " + word)]


def check_spooler_calls(result, expected, what):
    actual = spooler_calls(result)
    check(actual == expected, "%s: spooler calls\n      %s\n    expected\n      %s" % (
        what, "\n      ".join(map(repr, actual)), "\n      ".join(map(repr, expected))))


class Prefix:
    counter = 0

    def __init__(self, path, wide):
        self.path = Path(path)
        self.wide = wide
        self.env = wine_env(self.path)

    # Windows paths to host paths; only C: is used.
    def host(self, windows_path):
        check(windows_path[:3].upper() == "C:\\", "not a C: path: " + windows_path)
        return self.path / "drive_c" / windows_path[3:].replace("\\", "/")

    @property
    def system32(self):
        return self.path / "drive_c" / "windows" / "system32"

    @property
    def syswow64(self):
        return self.path / "drive_c" / "windows" / "syswow64"

    @property
    def program_files(self):
        return "C:\\Program Files (x86)" if self.wide else "C:\\Program Files"

    def start(self, args, debug="-all"):
        """Starts wine ARGS; the process's id is the program's own (wine execs its loader)."""
        Prefix.counter += 1
        out_path = self.path.parent / ("out.%d" % Prefix.counter)
        err_path = self.path.parent / ("err.%d" % Prefix.counter)
        # Files, not pipes: the client started by the installer inherits the
        # console and outlives it, and would hold a pipe open.
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            process = subprocess.Popen(["wine"] + args, env=dict(self.env, WINEDEBUG=debug),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                       cwd="/tmp")
        return process, out_path, err_path

    def run(self, args, timeout=RUN_TIMEOUT, debug="-all"):
        begin = time.time()
        process, out_path, err_path = self.start(args, debug)
        try:
            rc = process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            raise CheckFailed("timed out: wine %s" % " ".join(args))
        if TRACE:
            info("  %.2f s: wine %s -> %d" % (time.time() - begin, " ".join(args), rc))
        return Result(rc, out_path.read_bytes(), err_path.read_bytes())

    def install(self, *args):
        return self.run(["C:\\Kit\\Install.exe"] + list(args), debug="-all,trace+winspool")

    def probe(self, *args, allowed=(0,)):
        result = self.run([str(PROBE)] + list(args), timeout=60)
        check(result.rc in allowed, "probe %s exited with %d: %s" % (
            " ".join(args), result.rc, result.err.decode(errors="replace").strip()))
        return result.rc, result.out.decode("cp1252").replace("\r\n", "\n")

    def reg_add(self, key, value, kind, data, view=None):
        args = ["reg", "add", key, "/v", value, "/t", kind, "/d", str(data), "/f"]
        if view:
            args.append("/reg:%s" % view)
        result = self.run(args, timeout=60)
        check(result.rc == 0, "reg add %s %s failed: %r" % (key, value, result.out + result.err))

    def set_version(self, name):
        if name:
            self.reg_add("HKCU\\Software\\Wine", "Version", "REG_SZ", name)

    def add_dotnet(self, view=None):
        if view is None:
            view = "32" if self.wide else None
        self.reg_add("HKLM\\" + DOTNET_KEY, "Install", "REG_DWORD", 1, view)

    def place_kit(self):
        target = self.path / "drive_c" / "Kit"
        shutil.copytree(KIT, target, dirs_exist_ok=True)
        shutil.copy2(INSTALL_EXE, target / "Install.exe")
        script = ci_child(target, "install_printer.bat")
        if script:
            script.unlink()
        if self.wide:
            for name in (STANDARD.monitor64, ENTERPRISE.monitor64):
                wow = find_kit_wow64_monitor(name)
                check(wow is not None, "no 32-bit build of %s in the kit" % name)
                shutil.copy2(wow, self.syswow64 / name)

    # Spooler and registry as the probe reads them.
    def printers(self):
        _, text = self.probe("printers")
        return [tuple(line.split("\t", 1)) for line in text.splitlines() if line]

    def ports(self):
        _, text = self.probe("enum-ports", "2")
        return [tuple(line.split("\t")[:2]) for line in text.splitlines() if line]

    def monitors(self):
        _, text = self.probe("monitors")
        return [tuple(line.split("\t")) for line in text.splitlines() if line]

    def reg_value(self, key, value, view="default"):
        rc, text = self.probe("reg", view, key, value, allowed=(0, 2, 3))
        return text.rstrip("\n") if rc == 0 else None

    def reg_key_exists(self, key, view="default"):
        rc, _ = self.probe("regkey", view, key, allowed=(0, 2))
        return rc == 0

    def port_data(self, port, monitor):
        rc, text = self.probe("port-data", port, monitor, allowed=(0, 2, 3))
        return bytes.fromhex(text.strip()) if rc == 0 else None

    def processes(self):
        _, text = self.probe("processes")
        return [line for line in text.splitlines() if line]

    def kill(self):
        subprocess.call(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, timeout=60)
        subprocess.call(["wineserver", "-w"], env=self.env, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, timeout=60)


def make_template(path, wide):
    env = wine_env(path, None if wide else "win32")
    # No Mono or Gecko: nothing here needs them, and their installers would prompt.
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml="
    rc = subprocess.call(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    subprocess.call(["wineserver", "-w"], env=env, timeout=120)
    if rc != 0 or not (Path(path) / "system.reg").is_file():
        raise RuntimeError("wineboot failed for %s (exit %d)" % (path, rc))


# --------------------------------------------------------------------------
# Checks shared by several tests.

class Harness:
    def __init__(self, workdir, keep):
        self.workdir = Path(workdir)
        self.keep = keep
        self.templates = {}
        self.broken_templates = {}
        self.kit_ini = IniSource(KIT / "Tolvo.ini")

    def template(self, wide):
        if wide in self.broken_templates:
            raise CheckFailed("no %d-bit prefix template: %s" % (
                64 if wide else 32, self.broken_templates[wide]))
        if wide not in self.templates:
            path = self.workdir / ("template64" if wide else "template32")
            started = time.time()
            try:
                make_template(path, wide)
            except Exception as error:  # every later test of this kind fails at once
                self.broken_templates[wide] = str(error)
                raise
            info("prepared the %s prefix template in %.0f s" % (
                "64-bit" if wide else "32-bit", time.time() - started))
            self.templates[wide] = path
        return self.templates[wide]

    def prefix(self, name, wide=True, version=None, dotnet=True):
        test_dir = self.workdir / name
        test_dir.mkdir()
        template = self.template(wide)
        begin = time.time()
        subprocess.check_call(["cp", "-a", str(template), str(test_dir / "prefix")])
        if TRACE:
            info("  %.2f s: copied the template" % (time.time() - begin))
        prefix = Prefix(test_dir / "prefix", wide)
        self.current = prefix
        prefix.set_version(version)
        prefix.place_kit()
        if dotnet:
            prefix.add_dotnet()
        return prefix

    def release(self, prefix, passed):
        begin = time.time()
        prefix.kill()
        if passed or not self.keep:
            shutil.rmtree(prefix.path.parent, ignore_errors=True)
        if TRACE:
            info("  %.2f s: released the prefix" % (time.time() - begin))


def standard_facts(h, prefix, edition=STANDARD):
    """Ports, assignments and printers of the kit's Tolvo.ini; creates the printers."""
    ports = read_ports(h.kit_ini, edition)
    check(ports, "the kit's Tolvo.ini configures no port")
    assigned = assignments(h.kit_ini, len(ports), edition)
    check(assigned, "the kit's Tolvo.ini assigns no printer")
    for printer in dict.fromkeys(name for name, _ in assigned):
        prefix.probe("add-printer", printer)
    return ports, assigned


def check_run(result, pieces, rc, what):
    check_equal(result.out, console_bytes(pieces), what + " console transcript")
    check(result.rc == rc, "%s: exit code %d, expected %d" % (what, result.rc, rc))
    # Neither the installer nor the programs it starts (Quarvel.exe reports a
    # client it could not end there) may complain on the error stream.
    check_equal(result.err, b"", what + " error stream")


def check_log(prefix, expected, what):
    log = prefix.host("C:\\windows\\TLPortInstall.log")
    check(log.is_file(), "no run log C:\\windows\\TLPortInstall.log")
    check_equal(log.read_bytes(), expected, what + " run log")


def check_monitor(prefix, edition, wide, present=True):
    found = [m for m in prefix.monitors() if m[0].lower() == edition.word.lower()]
    if not present:
        check(not found, "monitor %s still registered: %r" % (edition.word, found))
        return
    check(len(found) == 1, "monitor %s not registered (monitors: %r)" % (
        edition.word, prefix.monitors()))
    dll = edition.monitor64 if wide else edition.monitor32
    check(found[0][2].lower() == dll.lower(), "monitor DLL %r, expected %s" % (found[0][2], dll))
    driver = prefix.reg_value(MONITORS_KEY + "\\" + edition.word, "Driver")
    check(driver is not None and driver.split(":", 1)[1].lower() == dll.lower(),
          "monitor key Driver value %r, expected %s" % (driver, dll))


def check_ports(prefix, edition, ports, present=True):
    listed = {name.lower(): monitor for name, monitor in prefix.ports()}
    for cfg in ports:
        name = cfg["PortName"]
        if present:
            check(listed.get(name.lower()) == edition.word,
                  "port %s not listed with monitor %s (ports: %r)" % (name, edition.word, listed))
            stored = prefix.port_data(name, edition.word)
            check(stored is not None, "no PortData stored for %s" % name)
            check_record(stored, port_record(cfg), "PortData of %s" % name)
        else:
            check(name.lower() not in listed, "port %s still listed" % name)
    if present:
        next_name = edition.port_name(len(ports) + 1).lower()
        check(next_name not in listed, "unexpected port %s" % next_name)


def check_printers(prefix, expected):
    actual = dict(prefix.printers())
    for printer, port in expected.items():
        check(actual.get(printer) == port, "printer %r on %r, expected %r" % (
            printer, actual.get(printer), port))


def final_ports(assigned):
    ports = {}
    for printer, port in assigned:
        ports[printer] = port
    return ports


def check_system_files(prefix, edition, wide, present=True):
    for name in edition.system_files(wide) + ["TolvoEvent.dll"]:
        found = ci_child(prefix.system32, name)
        if present or name == "TolvoEvent.dll":
            check(found is not None, "%s missing from the system directory" % name)
            check_equal(found.read_bytes(), (KIT / name).read_bytes(), "system32\\" + name)
        else:
            check(found is None, "%s left in the system directory" % name)
    if wide:
        # The installer writes past WOW64 redirection: nothing new in syswow64,
        # and the 32-bit monitor placed there for Wine's in-process spooler stays.
        for name in edition.system_files(True)[1:] + ["TolvoEvent.dll"]:
            check(ci_child(prefix.syswow64, name) is None, "%s written to syswow64" % name)
        wow = ci_child(prefix.syswow64, edition.monitor64)
        check(wow is not None and wow.read_bytes() ==
              find_kit_wow64_monitor(edition.monitor64).read_bytes(),
              "syswow64\\%s was replaced or removed" % edition.monitor64)


def plant_read_only(path):
    """A stale file, read-only as Windows sees it (Wine maps the attribute to the mode)."""
    path.write_bytes(b"stale")
    path.chmod(0o444)


def check_event_source(prefix):
    message_file = "%SystemRoot%\\System32\\TolvoEvent.dll"
    check_equal(prefix.reg_value(EVENT_KEY, "EventMessageFile"),
                "REG_EXPAND_SZ:" + message_file, "EventMessageFile")
    check_equal(prefix.reg_value(EVENT_KEY, "TypesSupported"), "REG_DWORD:7", "TypesSupported")
    check_equal(prefix.reg_value(EVENT_KEY, "CategoryMessageFile"),
                "REG_EXPAND_SZ:" + message_file, "CategoryMessageFile")
    check_equal(prefix.reg_value(EVENT_KEY, "CategoryCount"), "REG_DWORD:10", "CategoryCount")


def client_dir(prefix):
    return prefix.program_files + "\\Kestrum\\Tolvo Client\\Client"


def client_count(prefix):
    return sum(1 for p in prefix.processes() if p.lower() == "tolvo client.exe")


def check_client(prefix, present=True):
    folder = prefix.host(client_dir(prefix))
    run_value = prefix.reg_value(RUN_KEY, "Tolvo Client")
    if not present:
        check(not folder.exists(), "client folder %s left behind" % folder)
        check(run_value is None, "start-up entry left behind: %r" % run_value)
        check(client_count(prefix) == 0, "a client is still running")
        return
    for name in CLIENT_FILES:
        check_equal((folder / name).read_bytes() if (folder / name).is_file() else None,
                    (KIT / name).read_bytes(), "client file " + name)
    for language in LANGUAGES:
        target = folder / language / "Tolvo Client.resources.dll"
        check(target.is_file(), "missing %s" % target)
        check_equal(target.read_bytes(),
                    (KIT / language / "Tolvo Client.resources.dll").read_bytes(),
                    "resources of " + language)
    expected = '"%s\\Tolvo Client.exe"' % client_dir(prefix)
    check_equal(run_value, "REG_SZ:" + expected, "start-up entry (32-bit view)")
    if prefix.wide:
        check(prefix.reg_value(RUN_KEY, "Tolvo Client", "64") is None,
              "start-up entry written to the 64-bit view")
    check(client_count(prefix) == 1, "expected one running client, processes: %r"
          % prefix.processes())


def font_dir(prefix, edition):
    return prefix.program_files + "\\" + edition.font_subdir


def check_fonts(prefix, edition, present=True):
    folder = prefix.host(font_dir(prefix, edition))
    if not present:
        check(not folder.exists(), "font folder %s left behind" % folder)
        return
    sources = [p for p in (KIT / "FontFiles").iterdir() if p.is_file()]
    check(sources, "the kit has no font files")
    for source in sources:
        target = folder / source.name
        check(target.is_file(), "font %s not copied" % source.name)
        check_equal(target.read_bytes(), source.read_bytes(), "font " + source.name)


# --------------------------------------------------------------------------
# The tests.

TESTS = []


def test(function):
    TESTS.append(function)
    return function


def typical_install(h, prefix, version_line, wide, edition=STANDARD, args=None):
    ports, assigned = standard_facts(h, prefix, edition)
    pieces = install_transcript(Expect(edition=edition, version_line=version_line, wide=wide,
                                       ports=ports, assigned=assigned, args=args))
    result = prefix.install(*(args or []))
    check_run(result, pieces, 0, "install")
    check_spooler_calls(result, install_spooler_calls(edition, wide, ports), "install")
    return ports, assigned, pieces


@test
def win7_64bit_typical_install(h):
    prefix = h.prefix("win7-64-typical")
    # A site script beside the installer must not run for a run without arguments.
    (prefix.path / "drive_c" / "Kit" / "install_printer.bat").write_bytes(
        b"@echo off\r\necho ran> C:\\" + SCRIPT_MARKER.encode() + b"\r\n")
    # Read-only leftovers of an older installation: the old monitor DLL goes,
    # the current one is replaced.
    plant_read_only(prefix.system32 / "TOLVO64.DLL")
    plant_read_only(prefix.system32 / STANDARD.monitor64)
    ports, assigned, pieces = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n", True)
    check_log(prefix, log_bytes(pieces), "install")
    check_monitor(prefix, STANDARD, True)
    check_system_files(prefix, STANDARD, True)
    check(ci_child(prefix.system32, "TOLVO64.DLL") is None, "the old TOLVO64.DLL was kept")
    check_ports(prefix, STANDARD, ports)
    check_event_source(prefix)
    check_printers(prefix, final_ports(assigned))
    check_client(prefix)
    check_fonts(prefix, STANDARD)
    check(not prefix.host("C:\\" + SCRIPT_MARKER).exists(),
          "install_printer.bat ran after an install without arguments")
    return prefix


@test
def check_after_install(h):
    """-v after a typical installation, and after one port was deleted behind its back."""
    prefix = h.prefix("check")
    ports, _, _ = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n", True)
    port = ports[0]["PortName"]
    for spoil, rc, line in ((None, 0, "\nTolvo Port Monitor Installed as Configured.\n"),
                            (port, 1, "    ERROR - Port %s NOT found\n" % port)):
        if spoil:
            prefix.probe("xcv", STANDARD.word, "DeletePort", spoil)
        result = prefix.install("-v")
        check(result.rc == rc and line.replace("\n", "\r\n").encode() in result.out,
              "check: exit code %d, expected %d with %r\n%s" % (
                  result.rc, rc, line, result.out.decode("cp1252")))
        check_spooler_calls(result, [], "check")
        log = prefix.host("C:\\windows\\TLPortInstall.log").read_bytes()
        check(log.endswith(result.out), "the check's transcript is not at the run log's end")
    return prefix


@test
def win7_64bit_traced_install(h):
    """The typical install with a support trace: the same console and log, and the calls."""
    prefix = h.prefix("win7-64-traced")
    prefix.env["TOLVO_TRACE"] = "C:\\tolvo-trace.txt"
    ports, _, pieces = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n", True)
    check_log(prefix, log_bytes(pieces), "traced install")
    trace = prefix.host("C:\\tolvo-trace.txt").read_text("cp1252")
    names = re.findall(r"^ *[0-9]+ (\w+)\(", trace, re.M)
    for name, times in (("AddMonitorA", 1), ("XcvDataW", 2 * len(ports)), ("OpenPrinterA", None),
                        ("SetPrinterA", None), ("ClosePrinter", None)):
        check(names.count(name) == times if times else name in names,
              "the trace has %d %s lines\n%s" % (names.count(name), name, trace))
    check(re.search(r"^ *[0-9]+ DeleteMonitorA\(.*\) = FALSE error 3000 "
                    r"ERROR_UNKNOWN_PRINT_MONITOR$", trace, re.M),
          "the trace lacks the refusal of DeleteMonitorA\n" + trace)
    # A trace file that cannot be opened costs one line on the error stream.
    prefix.env["TOLVO_TRACE"] = "C:\\no such folder\\trace.txt"
    result = prefix.run(["C:\\Kit\\Install.exe", "-?"])
    check_equal(result.out, console_bytes(banner(STANDARD) + [(USAGE, False)]), "usage")
    check(result.rc == 255 and result.err.count(b"\n") == 1 and b"TOLVO_TRACE" in result.err,
          "unopenable trace file: exit code %d, error stream %r" % (result.rc, result.err))
    # So is a file with a second name (a planted hard link): what it leads to stays as it was.
    prefix.host("C:\\victim.txt").write_bytes(b"victim")
    os.link(prefix.host("C:\\victim.txt"), prefix.host("C:\\planted.txt"))
    prefix.env["TOLVO_TRACE"] = "C:\\planted.txt"
    result = prefix.run(["C:\\Kit\\Install.exe", "-?"])
    check(result.err.count(b"\n") == 1 and prefix.host("C:\\victim.txt").read_bytes() == b"victim",
          "trace file with a second name: error stream %r" % result.err)
    # A run log of that name is one that cannot be opened.
    del prefix.env["TOLVO_TRACE"]
    result = prefix.run(["C:\\Kit\\Install.exe", "-?", "-lC:\\planted.txt"])
    check(result.rc == 255 and not result.out and prefix.host("C:\\victim.txt").read_bytes() ==
          b"victim", "run log with a second name: exit code %d, %r" % (result.rc, result.out))
    return prefix


@test
def traced_install_shows_no_piece_of_the_password(h):
    """Long values cut the port line inside AuthText: the trace shows no 4 characters of it."""
    prefix = h.prefix("traced-long-values")
    password = "Qz~" * 68
    prefix.host("C:\\Kit\\Tolvo.ini").write_bytes(
        ("[1]\r\nServerIP=%s\r\nDescription=%s\r\nQueue=%s\r\nAuthText=%s\r\n"
         % ("1" * 259, "d" * 259, "q" * 259, password)).encode())
    prefix.env["TOLVO_TRACE"] = "C:\\tolvo-trace.txt"
    result = prefix.install()
    check(result.rc == 0 and password[:100].encode() in result.out, "exit code %d" % result.rc)
    trace = prefix.host("C:\\tolvo-trace.txt").read_bytes()
    shown = [i for i in range(len(password) - 3) if password[i:i + 4].encode() in trace]
    check(not shown and max(map(len, trace.split(b"\n"))) < 4096, "pieces at %r\n%s" % (
        shown[:5], trace.decode("cp1252")))
    return prefix


@test
def win7_64bit_reinstall_and_uninstall(h):
    prefix = h.prefix("win7-64-reinstall")
    line = "    (64-bit Windows 7 Detected)\n"
    prefix.probe("add-printer", "Bystander")  # on LPT1:, never touched
    prefix.probe("add-printer", "Pooled")
    ports, assigned, first = typical_install(h, prefix, line, True)
    check_printers(prefix, {"Bystander": "LPT1:"})
    # A printer pooled over a monitor port (named in another letter case) and a
    # parallel port keeps only the parallel port.
    prefix.probe("set-port", "Pooled", ports[0]["PortName"].lower() + ",LPT2:")
    monitor_ports = [cfg["PortName"] for cfg in ports]
    printers = prefix.printers()

    # Re-installation over the first one.
    pieces = install_transcript(Expect(
        version_line=line, ports=ports, assigned=assigned, monitor_present=True,
        disconnect=disconnect_block(printers, monitor_ports, STANDARD)))
    result = prefix.install()
    check_run(result, pieces, 0, "re-install")
    check_spooler_calls(result, install_spooler_calls(STANDARD, True, ports), "re-install")
    log = log_bytes(first) + log_bytes(pieces)
    check_log(prefix, log, "re-install")
    check_monitor(prefix, STANDARD, True)
    check_system_files(prefix, STANDARD, True)
    check_ports(prefix, STANDARD, ports)
    check_printers(prefix, dict(final_ports(assigned), Pooled="LPT2:"))
    check_client(prefix)  # Quarvel ended the first client: exactly one runs
    check_fonts(prefix, STANDARD)

    # Uninstallation.
    printers = prefix.printers()
    pieces = uninstall_transcript(STANDARD, line,
                                  disconnect_block(printers, monitor_ports, STANDARD))
    result = prefix.install("-u")
    check_run(result, pieces, 0, "uninstall")
    check_spooler_calls(result, [("DeleteMonitor", None, None, "Tolvo")], "uninstall")
    log += log_bytes(pieces)
    check_log(prefix, log, "uninstall")
    check_monitor(prefix, STANDARD, True, present=False)
    check_ports(prefix, STANDARD, ports, present=False)
    check_system_files(prefix, STANDARD, True, present=False)
    check_printers(prefix, dict({name: "FILE:" for name, _ in assigned}, Bystander="LPT1:",
                                Pooled="LPT2:"))
    check_client(prefix, present=False)
    check_fonts(prefix, STANDARD, present=False)
    check(not prefix.host(prefix.program_files + "\\Kestrum").exists(),
          "the Kestrum folder was left behind")
    check_event_source(prefix)  # uninstallation keeps the event source

    # A second uninstallation finds no monitor and still succeeds.
    pieces = uninstall_transcript(STANDARD, line, monitor_present=False)
    check_run(prefix.install("-u"), pieces, 0, "second uninstall")
    check_log(prefix, log + log_bytes(pieces), "second uninstall")
    return prefix


@test
def win7_32bit_install_and_uninstall(h):
    prefix = h.prefix("win7-32", wide=False)
    line = "    (32-bit Windows 7 Detected)\n"
    ports, assigned, pieces = typical_install(h, prefix, line, False)
    check_log(prefix, log_bytes(pieces), "install")
    check_monitor(prefix, STANDARD, False)
    env = [m[1] for m in prefix.monitors() if m[0] == STANDARD.word]
    check(env == ["Windows NT x86"], "monitor environment %r" % env)
    check_system_files(prefix, STANDARD, False)
    check_ports(prefix, STANDARD, ports)
    check_event_source(prefix)
    check_printers(prefix, final_ports(assigned))
    check_client(prefix)
    check_fonts(prefix, STANDARD)

    printers = prefix.printers()
    pieces = uninstall_transcript(
        STANDARD, line, disconnect_block(printers, [c["PortName"] for c in ports], STANDARD))
    check_run(prefix.install("-u"), pieces, 0, "uninstall")
    check_monitor(prefix, STANDARD, False, present=False)
    check_system_files(prefix, STANDARD, False, present=False)
    check_client(prefix, present=False)
    check_fonts(prefix, STANDARD, present=False)
    return prefix


@test
def win7_32bit_enterprise(h):
    prefix = h.prefix("win7-32-enterprise", wide=False)
    line = "    (32-bit Windows 7 Detected)\n"
    ports, assigned, pieces = typical_install(h, prefix, line, False, ENTERPRISE, ["-a"])
    check_log(prefix, log_bytes(pieces), "install")
    check_monitor(prefix, ENTERPRISE, False)
    check_monitor(prefix, STANDARD, False, present=False)
    check_system_files(prefix, ENTERPRISE, False)
    check_ports(prefix, ENTERPRISE, ports)
    check(all(c["PortName"].startswith("TolvoE") for c in ports), "Enterprise port names")
    check_printers(prefix, final_ports(assigned))
    check(not prefix.host(client_dir(prefix)).exists(), "the Enterprise edition deployed a client")
    check(prefix.reg_value(RUN_KEY, "Tolvo Client") is None, "Enterprise start-up entry")
    check(client_count(prefix) == 0, "a client runs after an Enterprise install")
    check_fonts(prefix, ENTERPRISE)
    check(not prefix.host(font_dir(prefix, STANDARD)).exists(), "Standard font folder created")

    printers = prefix.printers()
    pieces = uninstall_transcript(
        ENTERPRISE, line,
        disconnect_block(printers, [c["PortName"] for c in ports], ENTERPRISE))
    check_run(prefix.install("-a", "-u"), pieces, 0, "Enterprise uninstall")
    check_monitor(prefix, ENTERPRISE, False, present=False)
    check_system_files(prefix, ENTERPRISE, False, present=False)
    check_fonts(prefix, ENTERPRISE, present=False)
    return prefix


@test
def win7_64bit_enterprise(h):
    prefix = h.prefix("win7-64-enterprise")
    plant_read_only(prefix.system32 / "TOLVO64.DLL")  # the Standard edition's old DLL
    ports, assigned, pieces = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n",
                                              True, ENTERPRISE, ["-a"])
    check_log(prefix, log_bytes(pieces), "install")
    check_monitor(prefix, ENTERPRISE, True)
    check_system_files(prefix, ENTERPRISE, True)
    check(ci_child(prefix.system32, "TOLVO64.DLL") is not None,
          "the Enterprise edition removed TOLVO64.DLL")
    check_ports(prefix, ENTERPRISE, ports)
    check_printers(prefix, final_ports(assigned))
    check(not prefix.host(client_dir(prefix)).exists(), "the Enterprise edition deployed a client")
    check_fonts(prefix, ENTERPRISE)
    return prefix


def version_test(name, version, wide, line):
    def run(h):
        prefix = h.prefix(name, wide=wide, version=version)
        ports, assigned, _ = typical_install(h, prefix, line, wide)
        check_monitor(prefix, STANDARD, wide)
        check_system_files(prefix, STANDARD, wide)
        check_ports(prefix, STANDARD, ports)
        return prefix
    run.__name__ = name.replace("-", "_")
    TESTS.append(run)


version_test("winxp-32", "winxp", False, "    (Windows XP Detected)\n")
version_test("win2003-32", "win2003", False, "    (Windows 2003 Detected)\n")
version_test("winxp-64", "winxp", True, "    (Windows XP Detected)\n")
version_test("winxp64-64", "winxp64", True, "    (64-bit Windows XP Detected)\n")
version_test("vista-64", "vista", True, "    (64-bit Windows Vista Detected)\n")
version_test("win2008-64", "win2008", True, "    (64-bit Windows 2008 Server Detected)\n")
version_test("win8-64", "win8", True, "    (64-bit Windows 8 Detected)\n")
# The manifest names nothing after Windows 7, so Windows 10 reports 6.2.
version_test("win10-64", "win10", True, "    (64-bit Windows 8 Detected)\n")


@test
def win2000_refused(h):
    prefix = h.prefix("win2k-32", wide=False, version="win2k")
    pieces = banner(STANDARD) + [("\nInstalling Tolvo Port Monitor ...\n", False)]
    pieces += version_block("    (Windows 2000 Detected)\n")
    pieces += [("ERROR: Unsupported Operating System Detected.\n", False),
               ("\nTolvo Port Monitor Not Installed!\n", False)]
    result = prefix.install()
    check_run(result, pieces, 255, "install on Windows 2000")
    check_spooler_calls(result, [], "install on Windows 2000")
    check_log(prefix, log_bytes(pieces), "install on Windows 2000")
    check_monitor(prefix, STANDARD, False, present=False)
    check(ci_child(prefix.system32, STANDARD.monitor32) is None, "files copied on Windows 2000")
    return prefix


@test
def config_from_registry(h):
    prefix = h.prefix("registry-config")
    (prefix.path / "drive_c" / "Kit" / "Tolvo.ini").unlink()  # -r does not need it
    sections = {
        1: {"ServerIP": "192.168.7.10", "ServerIP3": "192.168.7.12", "IPLoadBalancing": 2,
            "IPLoadBalancing3": 5, "ServerPort": "9200", "Description": "Registry port one",
            "Queue": "reg-queue", "AuthType": 2, "AuthText": "token", "ProtocolLevel": 5,
            "Note": "from the registry", "RedirectToIP": "10.9.9.9", "LogFileCount": 7,
            "AssignPrinter": "Registry Printer A", "AssignPrinter3": "Registry Printer B"},
        2: {"ServerIP": "printsrv.example", "Description": "Registry port two",
            "Encryption": 1, "AssignPrinter": "Absent Printer"},
        # Section 3 is missing, so section 4 is never read.
        4: {"ServerIP": "10.4.4.4"},
    }
    for number, values in sections.items():
        key = "HKLM\\" + STANDARD.config_key + "\\%d" % number
        for value, data in values.items():
            kind = "REG_DWORD" if isinstance(data, int) else "REG_SZ"
            prefix.reg_add(key, value, kind, data, "32")
    # The installer reads the 32-bit view; a different value in the 64-bit view is not seen.
    prefix.reg_add("HKLM\\" + STANDARD.config_key + "\\1", "ServerIP", "REG_SZ", "6.6.6.6", "64")
    source = RegistrySource(sections)
    ports = read_ports(source, STANDARD)
    check(len(ports) == 2, "registry test data")
    assigned = assignments(source, len(ports), STANDARD)
    for printer in ("Registry Printer A", "Registry Printer B"):
        prefix.probe("add-printer", printer)
    pieces = install_transcript(Expect(ports=ports, assigned=assigned, args=["-r"],
                                       from_registry=True, missing_printers={"Absent Printer"}))
    result = prefix.install("-r")
    check_run(result, pieces, 0, "install -r")
    check_spooler_calls(result, install_spooler_calls(STANDARD, True, ports), "install -r")
    check_log(prefix, log_bytes(pieces), "install -r")
    check_ports(prefix, STANDARD, ports)
    check_printers(prefix, {"Registry Printer A": "Tolvo001", "Registry Printer B": "Tolvo001"})
    return prefix


@test
def dotnet_missing(h):
    # Only the 64-bit view has the key; the 32-bit installer must not see it.
    prefix = h.prefix("dotnet-missing", dotnet=False)
    prefix.add_dotnet(view="64")
    pieces = banner(STANDARD) + [("ERROR: The .NET Framework 2.0 is not installed\n", False)]
    result = prefix.install()
    check_run(result, pieces, 255, "install without .NET")
    check_spooler_calls(result, [], "install without .NET")
    check_log(prefix, log_bytes(pieces), "install without .NET")
    check_monitor(prefix, STANDARD, True, present=False)
    check(ci_child(prefix.system32, STANDARD.monitor64) is None, "files copied without .NET")
    return prefix


@test
def site_script_after_install_with_arguments(h):
    prefix = h.prefix("site-script")
    marker = "C:\\" + SCRIPT_MARKER
    (prefix.path / "drive_c" / "Kit" / "install_printer.bat").write_bytes(
        b"@echo off\r\ncd> " + marker.encode() + b"\r\n"
        b"echo appended by the script>> C:\\windows\\TLPortInstall.log\r\n")
    ports, assigned, pieces = typical_install(h, prefix, "    (64-bit Windows 7 Detected)\n",
                                              True, args=["-s"])
    check_equal(prefix.host(marker).read_bytes() if prefix.host(marker).exists() else None,
                b"C:\\Kit\r\n", "the script's marker (its current directory)")
    # The log was closed before the script ran and nothing followed it.
    check_log(prefix, log_bytes(pieces) + b"appended by the script\r\n", "install -s")
    check_ports(prefix, STANDARD, ports)
    return prefix


@test
def uninstall_without_files(h):
    prefix = h.prefix("uninstall-c")
    line = "    (64-bit Windows 7 Detected)\n"
    ports, assigned, _ = typical_install(h, prefix, line, True)
    printers = prefix.printers()
    pieces = uninstall_transcript(
        STANDARD, line, disconnect_block(printers, [c["PortName"] for c in ports], STANDARD),
        copy_files=False)
    check_run(prefix.install("-u", "-c"), pieces, 0, "uninstall -c")
    check_monitor(prefix, STANDARD, True, present=False)
    check_client(prefix, present=False)
    check_system_files(prefix, STANDARD, True, present=True)
    check_fonts(prefix, STANDARD, present=True)
    return prefix


USAGE = ("\n\nFor installation use 'Install.exe (server)'\n"
         "For uninstallation use 'Install.exe -u'\n"
         "For verification of installation use switch '-v' (changes nothing)\n"
         "For un/installation of Enterprise version use switch '-a'\n"
         "For read configuration from registry use switch '-r'\n"
         "For do not copy files use switch '-c'\nFor silent installation use switch '-s'\n"
         "For specification of install log use switch '-lLogFileName'\n"
         "For specification of INI file use switch '-iINIFileName'\n"
         "For Install and Ignore Errors use 'Install.exe -e' (NOT RECOMMENDED!)\n")


@test
def usage_text(h):
    # No .NET either: the usage text comes before the prerequisite check.
    prefix = h.prefix("usage", wide=False, dotnet=False)
    pieces = banner(STANDARD) + [(USAGE, False)]
    result = prefix.install("-u", "/?")
    check_run(result, pieces, 255, "usage")
    check_spooler_calls(result, [], "usage")
    check_log(prefix, log_bytes(pieces), "usage")
    check_monitor(prefix, STANDARD, False, present=False)
    return prefix


@test
def ini_and_log_overrides(h):
    prefix = h.prefix("ini-log-overrides", wide=False)
    kit = prefix.path / "drive_c" / "Kit"
    # Profile-file rules: quotes stripped, hexadecimal, negative and trailing junk.
    (kit / "site.ini").write_bytes(
        b"[1]\r\nServerIP = 10.20.30.40\r\nServerPort=0x10\r\n"
        b"Description=\"Site port, quoted\"\r\nAuthType=-7\r\nEncryption=12abc\r\n"
        b"ServerIP10=10.0.0.10\r\nIPLoadBalancing10=9\r\nAssignPrinter5=Site Printer\r\n"
        b"[2]\r\nServerIP2=10.2.2.2\r\nAssignPrinter=Never Assigned\r\n")
    source = IniSource(kit / "site.ini")
    ports = read_ports(source, STANDARD)
    check(len(ports) == 1 and ports[0]["AuthType"] == 0xFFFFFFF9, "site.ini test data")
    assigned = assignments(source, len(ports), STANDARD)
    prefix.probe("add-printer", "Site Printer")
    args = ["-f", "-isite.ini", "-lC:\\Kit\\site.log"]
    pieces = install_transcript(Expect(version_line="    (32-bit Windows 7 Detected)\n",
                                       wide=False, ports=ports, assigned=assigned, args=args,
                                       obsolete_switch=True))
    check_run(prefix.install(*args), pieces, 0, "install with -i and -l")
    check_equal(prefix.host("C:\\Kit\\site.log").read_bytes()
                if prefix.host("C:\\Kit\\site.log").exists() else None,
                log_bytes(pieces), "run log named by -l")
    check(not prefix.host("C:\\windows\\TLPortInstall.log").exists(),
          "the default run log was written despite -l")
    check_ports(prefix, STANDARD, ports)
    check_printers(prefix, {"Site Printer": "Tolvo001"})

    # A missing file named by -i is reported under the configuration file's own name.
    pieces = banner(STANDARD) + [("\nInstalling Tolvo Port Monitor...\n", False)]
    pieces += version_block("    (32-bit Windows 7 Detected)\n")
    pieces += [("  - Checking Files\n", False), ("ERROR While Checking 'Tolvo.ini'.\n", False),
               ("\nTolvo Port Monitor Not Installed!\n", False)]
    check_run(prefix.install("-imissing.ini"), pieces, 255, "install with a missing -i file")
    check_log(prefix, log_bytes(pieces), "install with a missing -i file")
    return prefix


@test
def install_without_files(h):
    prefix = h.prefix("install-c")
    ports, assigned = standard_facts(h, prefix)
    pieces = install_transcript(Expect(ports=ports, assigned=assigned, args=["-c"],
                                       copy_files=False))
    result = prefix.install("-c")
    check_run(result, pieces, 0, "install -c")
    check_spooler_calls(result, install_spooler_calls(STANDARD, True, ports), "install -c")
    check_log(prefix, log_bytes(pieces), "install -c")
    for name in STANDARD.system_files(True):
        check(ci_child(prefix.system32, name) is None, "%s copied despite -c" % name)
    check(ci_child(prefix.system32, "TolvoEvent.dll") is not None,
          "TolvoEvent.dll not copied with -c")
    check_event_source(prefix)
    check_ports(prefix, STANDARD, ports)
    check_client(prefix)
    check_fonts(prefix, STANDARD, present=False)
    return prefix


# Interrupted and concurrent runs, on an installation of 200 ports with printers.

INSTALLED = b"\r\nTolvo Port Monitor Installed Sucessfully.\r\n"


def many_ports_prefix(h, name):
    """Installs 200 ports and three printers on them without interruption; returns the
    prefix and the state that installation left."""
    prefix = h.prefix(name)
    printers = {1: "Kill Test A", 100: "Kill Test B", 200: "Kill Test C"}
    ini = "".join("[%d]\r\nServerIP=10.1.%d.%d\r\n" % (n, n // 200, n % 200 + 1) +
                  ("AssignPrinter=%s\r\n" % printers[n] if n in printers else "")
                  for n in range(1, 201))
    (prefix.path / "drive_c" / "Kit" / "Tolvo.ini").write_bytes(ini.encode())
    for printer in printers.values():
        prefix.probe("add-printer", printer)
    result = prefix.install()
    check(result.out.endswith(INSTALLED), "uninterrupted install: exit %d" % result.rc)
    return prefix, lasting_state(prefix)


def lasting_state(prefix):
    """The monitor's key with every port's stored record, the ports and printers the spooler
    lists, the installed files, the start-up entry and the running clients, as text."""
    check(prefix.run(["reg", "export", "HKLM\\%s\\Tolvo" % MONITORS_KEY, "C:\\monitor.reg",
                      "/y"]).rc == 0, "reg export of the monitor's key failed")
    kestrum = prefix.host(prefix.program_files + "\\Kestrum")
    files = [p for p in kestrum.rglob("*") if p.is_file()] + [
        ci_child(prefix.system32, n) for n in STANDARD.system_files(True) + ["TolvoEvent.dll"]]
    lines = [repr(x) for x in prefix.ports() + prefix.printers()] + [
        "%s %s" % (p, p and hashlib.sha1(p.read_bytes()).hexdigest()) for p in files] + [
        repr(prefix.reg_value(RUN_KEY, "Tolvo Client")), "clients %d" % client_count(prefix)]
    return prefix.host("C:\\monitor.reg").read_bytes() + "\n".join(sorted(lines)).encode()


# Console texts after which a run is killed (text, occurrence), spread from start-up to
# the client's deployment; the installer flushes the console after every message.
KILL_MOMENTS = [
    (b"Detecting Windows Version", 1), (b"Checking Files", 1), (b"Disconnecting Printer", 2),
    (b"Removing Old Tolvo", 1), (b"Copying Files to Windows", 1), (b"Registering Tolvo", 1),
    (b"Adding port configuration", 1), (b"New - IP", 1), (b"New - IP", 60), (b"New - IP", 120),
    (b"New - IP", 180), (b"Event Log Resources", 1), (b"' assigned to port", 1),
    (b"Installing Tolvo Client", 1),
]


@test
def killed_runs_are_repaired_by_a_rerun(h):
    prefix, expected = many_ports_prefix(h, "killed-runs")
    for marker, occurrence in KILL_MOMENTS:
        what = "killed after %r #%d" % (marker.decode(), occurrence)
        process, out_path, _ = prefix.start(["C:\\Kit\\Install.exe"])
        deadline = time.time() + RUN_TIMEOUT
        while process.poll() is None and time.time() < deadline:
            if out_path.read_bytes().count(marker) >= occurrence:
                process.kill()  # SIGKILL to the program's own process: no clean-up at all
            time.sleep(0.002)
        check(process.wait(timeout=60) == -9, "%s: the run ended first" % what)
        check(prefix.install().out.endswith(INSTALLED), "%s: the re-run failed" % what)
        check_equal(lasting_state(prefix), expected, what)
    return prefix


@test
def two_installers_at_once(h):
    prefix, expected = many_ports_prefix(h, "two-at-once")
    runs = [prefix.start(["C:\\Kit\\Install.exe"]) for _ in range(2)]
    outcomes = sorted((process.wait(timeout=RUN_TIMEOUT), out.read_bytes())
                      for process, out, _ in runs)
    refusal = "ERROR: Another Tolvo installation is running\n"
    check([rc for rc, _ in outcomes] == [0, 255] and outcomes[0][1].endswith(INSTALLED),
          "exit codes %r" % [rc for rc, _ in outcomes])
    check_equal(outcomes[1][1], console_bytes(banner(STANDARD) + [(refusal, False)]), "refused")
    # The run log is the installing run's: the refused one left it alone.
    check(console_bytes([(refusal, False)]) not in prefix.host("C:\\windows\\TLPortInstall.log")
          .read_bytes(), "the refused run wrote into the installing run's log")
    check_equal(lasting_state(prefix), expected, "after two installers at once")
    return prefix


@test
def lock_name_taken_by_an_event(h):
    """An event under the lock's name is no installation, nor does a lesser lock do."""
    prefix = h.prefix("lock-name-taken")
    holder, out, _ = prefix.start([str(PROBE), "hold-event", "Global\\Kestrum Tolvo Installation"])
    while b"held" not in out.read_bytes() and holder.poll() is None:
        time.sleep(0.05)
    result = prefix.install()
    holder.kill()
    squatted = "ERROR: The Tolvo installation lock is taken by a program that is not a Tolvo " \
               "installation\n"
    check_run(result, banner(STANDARD) + [(squatted, False)], 255, "lock name taken")
    check(not prefix.host("C:\\windows\\TLPortInstall.log").exists(), "a run log was written")
    return prefix


# --------------------------------------------------------------------------
# The Windows Installer package (packaging/): msiexec runs Install.exe from
# the package's folder, so its runs are checked as Install.exe's own are.

ARP_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
PACKAGE_DIR = "\\Kestrum\\Tolvo Port Monitor"
WIN7_64 = "    (64-bit Windows 7 Detected)\n"
WIN7_32 = "    (32-bit Windows 7 Detected)\n"
# A failed custom action: 1603 on Windows, 1627 under Wine; wine passes
# exit codes on modulo 256.
MSI_FAILED = (1603 % 256, 1627 % 256)


def package(h, version=None, kit=KIT, *properties):
    """E2E_MSI (CI's signed package), or a package of a kit built here."""
    if version is None and os.environ.get("E2E_MSI"):
        return Path(os.environ["E2E_MSI"])
    path = h.workdir / ("-".join(("Tolvo", version or "2.6.0", kit.name) + properties) + ".msi")
    if not path.exists():
        subprocess.check_call([str(ROOT / "packaging" / "build-msi.sh"), "-o", str(path), "-v",
                               version or "2.6.0"] + ["-p%s" % p for p in properties] + [str(kit)],
                              stdout=subprocess.DEVNULL)
    return path


def msi_property(msi, name):
    table = subprocess.check_output(["msiinfo", "export", str(msi), "Property"], text=True)
    return dict(line.split("\t", 1) for line in table.splitlines() if "\t" in line)[name]


def msiexec(prefix, msi, *properties):
    shutil.copy2(msi, prefix.host("C:\\" + msi.name))
    return prefix.run(["msiexec", "/i", "C:\\" + msi.name, "/qn"] + list(properties))


def remove_package(prefix, msi):
    """Runs the removal command of the Programs and Features entry, quietly."""
    command = prefix.reg_value(ARP_KEY + msi_property(msi, "ProductCode"), "UninstallString", "32")
    check(command is not None, "no UninstallString in the Programs and Features entry")
    return prefix.run(command.split(":", 1)[1].split() + ["/qn"])


def check_package(prefix, msi, present=True):
    """The Programs and Features entry (32-bit view) and the package's folder."""
    key = ARP_KEY + msi_property(msi, "ProductCode")
    folder = prefix.host(prefix.program_files + PACKAGE_DIR)
    if not present:
        check(not prefix.reg_key_exists(key, "32"), "Programs and Features entry left behind")
        check(not folder.exists(), "the package's folder %s left behind" % folder)
        return
    for value, data in (("DisplayName", "Tolvo Port Monitor"), ("Publisher", "Kestrum Corporation"),
                        ("DisplayVersion", msi_property(msi, "ProductVersion"))):
        check_equal(prefix.reg_value(key, value, "32"), "REG_SZ:" + data, "entry's " + value)
    listing = lambda root: sorted(str(p.relative_to(root)) for p in root.rglob("*") if p.is_file())
    check_equal(listing(folder), sorted(listing(KIT) + ["InstCopy.exe"]),
                "files in the package's folder")


def check_installed(prefix, edition, ports, assigned):
    check_monitor(prefix, edition, prefix.wide)
    check_system_files(prefix, edition, prefix.wide)
    check_ports(prefix, edition, ports)
    check_event_source(prefix)
    check_printers(prefix, final_ports(assigned))
    if not edition.enterprise:
        check_client(prefix)
    check_fonts(prefix, edition)


def check_removed(prefix, edition, ports, msi):
    check_monitor(prefix, edition, prefix.wide, present=False)
    check_ports(prefix, edition, ports, present=False)
    check_system_files(prefix, edition, prefix.wide, present=False)
    check_client(prefix, present=False)
    check_fonts(prefix, edition, present=False)
    check_package(prefix, msi, present=False)
    check(not prefix.host(prefix.program_files + "\\Kestrum").exists(), "Kestrum folder left")


def msi_removal(prefix, msi, edition, ports, log=b""):
    pieces = uninstall_transcript(edition, WIN7_64, disconnect_block(
        prefix.printers(), [c["PortName"] for c in ports], edition))
    check_equal(remove_package(prefix, msi).rc, 0, "removal's exit code")
    check_log(prefix, log + log_bytes(pieces), "removal")
    check_removed(prefix, edition, ports, msi)


@test
def msi_install_and_remove(h):
    prefix, msi = h.prefix("msi-install"), package(h)
    site = "C:\\Site Files\\"  # a blank in the paths handed on to Install.exe
    prefix.host(site).mkdir()
    shutil.copy2(KIT / "Tolvo.ini", prefix.host(site + "site.ini"))
    ports, assigned = standard_facts(h, prefix)
    pieces = install_transcript(Expect(ports=ports, assigned=assigned,
                                       args=["-i%ssite.ini" % site, "-l%srun.log" % site]))
    result = msiexec(prefix, msi, "INIFILE=%ssite.ini" % site, "LOGFILE=%srun.log" % site)
    check_equal(result.rc, 0, "msiexec's exit code")
    check_equal(prefix.host(site + "run.log").read_bytes(), log_bytes(pieces), "run log")
    check_installed(prefix, STANDARD, ports, assigned)
    check_package(prefix, msi)
    msi_removal(prefix, msi, STANDARD, ports)
    return prefix


@test
def msi_enterprise_remembered_for_removal(h):
    prefix, msi = h.prefix("msi-enterprise"), package(h)
    ports, assigned = standard_facts(h, prefix, ENTERPRISE)
    check_equal(msiexec(prefix, msi, "ENTERPRISE=1").rc, 0, "msiexec's exit code")
    pieces = install_transcript(Expect(edition=ENTERPRISE, ports=ports, assigned=assigned,
                                       args=["-a"]))
    check_log(prefix, log_bytes(pieces), "install")
    check_installed(prefix, ENTERPRISE, ports, assigned)
    check_monitor(prefix, STANDARD, True, present=False)
    msi_removal(prefix, msi, ENTERPRISE, ports, log_bytes(pieces))
    return prefix


@test
def msi_refused_install_rolls_back(h):
    prefix, msi = h.prefix("msi-refused", dotnet=False), package(h)
    rc = msiexec(prefix, msi).rc
    check(rc in MSI_FAILED, "msiexec's exit code %d, expected %r" % (rc, MSI_FAILED))
    pieces = banner(STANDARD) + [("ERROR: The .NET Framework 2.0 is not installed\n", False)]
    check_log(prefix, log_bytes(pieces), "refused install")
    check_package(prefix, msi, present=False)
    check_monitor(prefix, STANDARD, True, present=False)
    return prefix


@test
def msi_major_upgrade(h):
    prefix, old = h.prefix("msi-upgrade"), package(h)
    major, minor, build = msi_property(old, "ProductVersion").split(".")
    new = package(h, "%s.%s.%d" % (major, minor, int(build) + 1))
    ports, assigned = standard_facts(h, prefix)
    check_equal(msiexec(prefix, old).rc, 0, "first msiexec's exit code")
    log = log_bytes(install_transcript(Expect(ports=ports, assigned=assigned)))
    printers = prefix.printers()
    check_equal(msiexec(prefix, new).rc, 0, "upgrade's exit code")
    # The old package's removal step must not run: only a second installation follows.
    log += log_bytes(install_transcript(Expect(
        ports=ports, assigned=assigned, monitor_present=True,
        disconnect=disconnect_block(printers, [c["PortName"] for c in ports], STANDARD))))
    check_log(prefix, log, "upgrade")
    check_installed(prefix, STANDARD, ports, assigned)
    check_package(prefix, new)
    check(not prefix.reg_key_exists(ARP_KEY + msi_property(old, "ProductCode"), "32"),
          "the old package's entry is still there")
    return prefix


# The package on its unhappy paths, each case in a 32-bit prefix: steps (the package, msiexec's
# arguments and exit code, or a step of the test's own), then what the machine is left with.
# Where Wine's msiexec departs from Windows:
# - A failed run's rollback deletes the package's files (also those it only overwrote) and
#   the remembered registry values before it runs the rollback actions, so each finds no
#   Install.exe and counts as done. Windows undoes the script step by step in reverse order:
#   RollbackInstall (after InstallFiles) runs "-u" while the new files are still there,
#   RollbackUpgrade (before InstallFiles) the previous Install.exe, its files restored by then.
#   The failed upgrade shows that order from the package's tables.
# - A launch condition's message is missing from Wine's log (the exit code is 1603 as on
#   Windows), and its msiexec drops every double quote from a property on its command line:
#   the value with one goes into the Property table, as a transform would put it.
REFUSED = 1603 % 256
QUOTED = 'C:\\Site\\a.ini" "-u'  # once made the installation run "Install.exe -u"


def case_package(h, variant):
    if variant == "other edition":
        return package(h, "2.6.1", KIT, "ENTERPRISE=1")
    if variant == "broken monitor":  # a 64-bit DLL under the 32-bit name: it does not load
        kit = h.workdir / "broken"
        if not kit.exists():
            shutil.copytree(KIT, kit)
            shutil.copy2(KIT / STANDARD.monitor64, kit / STANDARD.monitor32)
        return package(h, "2.6.1", kit)
    if variant == "quoted":
        path = h.workdir / "Tolvo-quoted.msi"
        check(subprocess.call([str(ROOT / "packaging" / "build-msi.sh"), "-o", str(path),
                               "-p", "INIFILE=" + QUOTED], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL) == 1, "build-msi.sh took " + QUOTED)
        shutil.copy2(package(h), path)
        subprocess.check_call(["msibuild", str(path), "-q", "INSERT INTO `Property` (`Property`, "
                               "`Value`) VALUES ('INIFILE', '%s')" % QUOTED])
        return path
    return package(h)


def delete_install_exe(h, prefix):
    prefix.host(prefix.program_files + PACKAGE_DIR + "\\Install.exe").unlink()


def check_trace(h, prefix):
    trace = prefix.host("C:\\tolvo-trace.txt")
    check(trace.is_file() and b"DeleteMonitorA(" in trace.read_bytes(),
          "no trace of the package's run")


SITE_INI = "C:\\Site\\Tolvo.ini"


def assign_missing_printer(h, prefix):
    """The kit's configuration with one more printer, which the machine does not have."""
    site = prefix.host(SITE_INI)
    site.parent.mkdir(parents=True, exist_ok=True)
    site.write_bytes((KIT / "Tolvo.ini").read_bytes() + b"\r\nAssignPrinter2=Tolvo Missing Printer\r\n")


def check_rollback_order(h, prefix):
    table = lambda name: [line.split("\t") for line in subprocess.check_output(
        ["msiinfo", "export", str(package(h)), name], text=True).splitlines()[3:]]
    at = {row[0]: int(row[2]) for row in table("InstallExecuteSequence")}
    order = [at.get(action, 0) for action in ("RollbackRemoval", "RunUninstall", "RemoveFiles",
             "RollbackUpgrade", "InstallFiles", "RollbackInstall", "RunInstall", "InstallFinalize")]
    rollback = [int(row[1]) & 0x500 for row in table("CustomAction") if row[0].startswith("Rollback")]
    check(0 not in order and order == sorted(order) and rollback == [0x500] * 3,
          "rollback actions missing, out of order or not run as rollback")


PACKAGE_CASES = [
    ("msi_feature_removal", [("", [], 0), ("", ["REMOVE=Complete"], 0)], "removed"),
    ("msi_removal_without_install_exe", [("", [], 0), delete_install_exe, (
        "", ["REMOVE=ALL", "TRACEFILE=C:\\tolvo-trace.txt"], 0), check_trace], "removed"),
    ("msi_removal_skipping_uninstall", [("", [], 0), ("", ["REMOVE=ALL", "SKIPUNINSTALL=1"], 0)],
     "kept"),
    ("msi_other_edition_refused", [("", [], 0), ("", ["ENTERPRISE=1"], REFUSED),
                                   ("other edition", [], REFUSED), ("", ["REMOVE=ALL"], 0)],
     "removed"),
    ("msi_unsafe_values_refused", [("", ["ALLUSERS=", "MSIINSTALLPERUSER=1"], REFUSED),
                                   ("", ["SERVER=-u"], REFUSED),
                                   ("", ["INIFILE=C:\\Site\\"], REFUSED), ("quoted", [], REFUSED)],
     "nothing"),
    ("msi_failed_upgrade", [("", [], 0), ("broken monitor", [], MSI_FAILED), check_rollback_order],
     "previous"),
    ("msi_verify_fails_install", [assign_missing_printer, ("", ["VERIFY=1", "INIFILE=" + SITE_INI],
                                                           MSI_FAILED)], "not verified"),
]


def package_case(name, steps, left):
    def run(h):
        prefix, msi = h.prefix(name.replace("_", "-"), wide=False), package(h)
        ports, assigned = standard_facts(h, prefix)
        log = log_bytes(install_transcript(Expect(version_line=WIN7_32, wide=False, ports=ports,
                                                  assigned=assigned)))
        for step in steps:
            if callable(step):
                step(h, prefix)
                continue
            variant, arguments, expected = step
            printers = prefix.printers()
            rc = msiexec(prefix, case_package(h, variant), *arguments).rc
            check(rc in (expected if isinstance(expected, tuple) else (expected,)),
                  "msiexec %s: exit code %d, expected %r" % (" ".join(arguments), rc, expected))
        if left == "removed":
            log += log_bytes(uninstall_transcript(STANDARD, WIN7_32, disconnect_block(
                printers, [c["PortName"] for c in ports], STANDARD)))
            check_log(prefix, log, name)
            check_removed(prefix, STANDARD, ports, msi)
            check_monitor(prefix, ENTERPRISE, False, present=False)
        elif left == "kept":  # the package's entry is gone, what Install.exe installed stays
            check(not prefix.reg_key_exists(ARP_KEY + msi_property(msi, "ProductCode"), "32"),
                  "the package's entry is still there")
            check_installed(prefix, STANDARD, ports, assigned)
        elif left == "nothing":
            check_package(prefix, msi, present=False)
            check(not prefix.host("C:\\windows\\TLPortInstall.log").exists(), "Install.exe ran")
        elif left == "not verified":  # the check's verdict failed the installation
            text = prefix.host("C:\\windows\\TLPortInstall.log").read_bytes()
            check(b"ERROR - Printer 'Tolvo Missing Printer' NOT found" in text and text.endswith(
                b"NOT Installed as Configured!\r\n"), "run log:\n" + text.decode("cp1252"))
            check(not prefix.reg_key_exists(ARP_KEY + msi_property(msi, "ProductCode"), "32"),
                  "the package's entry is still there")
        else:  # the previous version's entry stays; Windows' rollback re-installs it too
            text = prefix.host("C:\\windows\\TLPortInstall.log").read_bytes()
            failed = b"ERROR (126) While Registering Print Monitor.\r\n\r\nTolvo Port Monitor Not "
            check(text.startswith(log) and text.endswith(failed + b"Installed!\r\n"),
                  "run log:\n" + text.decode("cp1252"))
            check(prefix.reg_key_exists(ARP_KEY + msi_property(msi, "ProductCode"), "32"),
                  "the previous version's entry is gone")
    run.__name__ = name
    TESTS.append(run)


for case in PACKAGE_CASES:
    package_case(*case)


# --------------------------------------------------------------------------

def indent(text):
    """Detail lines of a failure, indented under its FAIL line."""
    return text.rstrip("\n").replace("\n", "\n    ")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-k", dest="pattern", help="run only tests whose name contains this")
    parser.add_argument("--keep", action="store_true", help="keep the prefixes of failed tests")
    options = parser.parse_args()

    required = (INSTALL_EXE, KIT, KIT / "Tolvo.ini", WINE_SUPPORT, PROBE)
    missing = [str(p) for p in required if not p.exists()]
    if missing:
        print("e2e: missing %s; build Install.exe and the kit first (see kit/README.md)"
              % ", ".join(missing), file=sys.stderr)
        print("0 passed, 1 failed")
        return 2
    for tool in ("wine", "wineboot", "wineserver"):
        if not shutil.which(tool):
            print("e2e: %s is not installed" % tool, file=sys.stderr)
            print("0 passed, 1 failed")
            return 2
    end = 0
    for offset, size, name in record_fields():
        assert offset == end, "port-data layout has a gap or overlap at " + name
        end = offset + size
    assert end == RECORD_SIZE

    tests = [t for t in TESTS if not options.pattern or options.pattern in t.__name__]
    workdir = tempfile.mkdtemp(prefix="tolvo-e2e-")
    harness = Harness(workdir, options.keep)
    passed = failed = 0
    started = time.time()
    try:
        for function in tests:
            harness.current = None
            begin = time.time()
            ok = False
            try:
                function(harness)
                ok = True
                passed += 1
                print("PASS %s (%.1f s)" % (function.__name__, time.time() - begin), flush=True)
            except CheckFailed as failure:
                failed += 1
                print("FAIL %s: %s" % (function.__name__, indent(str(failure))), flush=True)
            except Exception:  # a harness fault is a failure too, with its trace
                failed += 1
                print("FAIL %s: %s" % (function.__name__, indent(traceback.format_exc())),
                      flush=True)
            finally:
                if harness.current is not None:
                    harness.release(harness.current, ok)
                    if not ok and options.keep:
                        info("kept %s" % harness.current.path)
    finally:
        for template in harness.templates.values():
            Prefix(template, True).kill()
        if not options.keep or failed == 0:
            shutil.rmtree(workdir, ignore_errors=True)
    info("%d tests in %.0f s" % (passed + failed, time.time() - started))
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
