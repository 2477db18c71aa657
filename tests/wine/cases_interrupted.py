"""End-to-end cases of interrupted and concurrent runs."""

import hashlib
import time

from e2e_model import *  # noqa: F401,F403
from e2e_wine import *  # noqa: F401,F403
from cases_install import USAGE


# Interrupted and concurrent runs, on an installation of 200 ports with printers.

INSTALLED = b"\r\nTolvo Port Monitor Installed Sucessfully.\r\n"


def many_ports_prefix(h, name):
    """Installs 200 ports and three printers on them without interruption, then puts a
    fourth on a monitor port and a parallel port by hand; returns the prefix and the state
    that a re-installation must leave, that printer on both ports."""
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
    prefix.probe("add-printer", "Kill Test D")
    prefix.probe("set-port", "Kill Test D", "Tolvo150,LPT1:")
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
    # A printer moved by hand while a killed run had left the monitor missing stays put.
    process, out_path, _ = prefix.start(["C:\\Kit\\Install.exe"])
    while process.poll() is None and b"Adding port configuration" not in out_path.read_bytes():
        time.sleep(0.002)
    process.kill()
    process.wait(timeout=60)
    prefix.probe("set-port", "Kill Test D", "LPT2:")
    check(prefix.install().out.endswith(INSTALLED), "the re-run after the move failed")
    check_printers(prefix, {"Kill Test D": "LPT2:"})
    return prefix


@test
def two_installers_at_once(h):
    """One installs, one is refused; -? meanwhile appends to the same log, losing nothing."""
    prefix, expected = many_ports_prefix(h, "two-at-once")
    log = prefix.host("C:\\windows\\TLPortInstall.log")
    before = log.read_bytes()
    # Another program holds a mutex of the earlier versions' lock name, open to everyone: it
    # blocks neither run, and the lock file alone keeps the two apart.
    holder, held, _ = prefix.start([str(PROBE), "hold-mutex", "Global\\Kestrum Tolvo Installation"])
    while b"held" not in held.read_bytes() and holder.poll() is None:
        time.sleep(0.05)
    runs = [prefix.start(["C:\\Kit\\Install.exe"]) for _ in range(2)]
    while not any(b"Checking Files" in out.read_bytes() for _, out, _ in runs):
        time.sleep(0.01)
    usage = prefix.run(["C:\\Kit\\Install.exe", "-?"])
    outcomes = sorted((process.wait(timeout=RUN_TIMEOUT), out.read_bytes())
                      for process, out, _ in runs)
    check(holder.poll() is None, "the mutex was not held")
    holder.kill()
    refusal = "ERROR: Another Tolvo installation is running\n"
    check([rc for rc, _ in outcomes] == [0, 255] and outcomes[0][1].endswith(INSTALLED),
          "exit codes %r" % [rc for rc, _ in outcomes])
    check_equal(outcomes[1][1], console_bytes(banner(STANDARD) + [(refusal, False)]), "refused")
    check_run(usage, banner(STANDARD) + [(USAGE, False)], 255, "-? during an installation")
    # The run log holds the installing run's transcript and the usage text, whole: the
    # refused run left it alone.
    added = log.read_bytes()[len(before):].replace(log_bytes(banner(STANDARD) + [(USAGE, False)]), b"")
    check_equal(added, b"".join(line for line in outcomes[0][1].splitlines(keepends=True)
                                if not line.startswith(b"  - Port ")), "run log")
    check_equal(lasting_state(prefix), expected, "after two installers at once")
    return prefix
