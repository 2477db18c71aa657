"""Wine prefixes for the end-to-end runs, the harness that hands them out, and the
checks that several cases share."""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path

from e2e_model import *  # noqa: F401,F403


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
        # console and outlives it, and would hold a pipe open. The test's own
        # folder is current: not the kit's, nor /tmp, where anyone may put a DLL.
        with open(out_path, "wb") as out, open(err_path, "wb") as err:
            process = subprocess.Popen(["wine"] + args, env=dict(self.env, WINEDEBUG=debug),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                       cwd=self.path.parent)
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


def assigned_put_back(assigned):
    """An uninstallation's put-back after installations that assigned the printers that
    standard_facts made: each goes back onto LPT1:, where it was made."""
    return [(printer, "LPT1:") for printer in sorted(dict.fromkeys(n for n, _ in assigned))]


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
