"""What the end-to-end runs expect, built independently of the installer's code:
the edition profile, configuration values as Windows reads them, the port-data
record and the transcripts."""

import difflib
import os
import re
import struct
import sys
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
MAKER_KEY = r"SOFTWARE\Kestrum Corporation"
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


def profile_value(text):
    """A value as the profile reader hands it on: blanks and one pair of matching quotes dropped."""
    text = text.strip()
    if len(text) >= 2 and text[0] == text[-1] and text[0] in "\"'":
        text = text[1:-1]
    return text


def profile_int(text, default):
    """GetPrivateProfileIntA: 29 characters, blanks, a sign, 0x/0o/0b prefixes, digits."""
    if text is None or text == "":
        return default & 0xFFFFFFFF
    s = text[:29].lstrip("".join(map(chr, range(33))))
    negative = False
    if s[:1] in "+-" and s[:1] != "":
        negative = s[0] == "-"
        s = s[1:]
    base = 10
    if s[:2] in ("0x", "0o", "0b"):
        base = {"x": 16, "o": 8, "b": 2}[s[1]]
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
                current.setdefault(key.strip().lower(), profile_value(value))

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
        """A REG_DWORD, a 4-byte REG_BINARY, or a REG_SZ read as Tolvo.ini's texts are."""
        value = self.sections.get(str(section), {}).get(key)
        if isinstance(value, str):
            return profile_int(profile_value(value), default)
        if isinstance(value, bytes):
            value = int.from_bytes(value, "little")
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
    """A port's line: a fixed mask stands in for its password."""
    return "    New - IP:%s:%i, Desc:%s, Queue:%s, Type:%d %s\n" % (
        cfg["ServerIP"][0], signed(cfg["ServerPort"]), cfg["Description"], cfg["Queue"],
        signed(cfg["AuthType"]), "********" if cfg["AuthText"] else "")


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


def put_back_block(printers):
    """What the put-back prints for the printers [(name, ports)] it moves, in its order."""
    return [("  - Reconnecting Printer '%s' to Port %s\n" % printer, False)
            for printer in printers]


class Expect:
    """The facts that shape one install's transcript."""

    def __init__(self, edition=STANDARD, version_line="    (64-bit Windows 7 Detected)\n",
                 wide=True, ports=(), assigned=(), missing_printers=(), disconnect=(),
                 monitor_present=False, args=None, fonts=True, copy_files=True,
                 from_registry=False, obsolete_switch=False, put_back=()):
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
    pieces += put_back_block(x.put_back)
    pieces.append(("\n%s Port Monitor Installed Sucessfully.\n" % e.word, False))
    return pieces


def uninstall_transcript(edition, version_line, disconnect=(), monitor_present=True,
                         copy_files=True, put_back=()):
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
    pieces += put_back_block(put_back)
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
