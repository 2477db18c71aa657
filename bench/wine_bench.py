#!/usr/bin/env python3
"""The real Install.exe under Wine, timed beside the least program doing its work.

A 32-bit Windows 7 prefix with the kit in C:\\Kit and 100 local printers is
prepared once. For each port count N (1, 100, 1000) a copy of it gets a
Tolvo.ini configuring ports [1] ... [N] (the first min(100, N) sections assign
one printer each) and a previous installation made with it; the printers are
then put on "LPT1:" and one of the old monitor's ports each, so that the
next install takes every printer off the old ports first.

Each timed run starts from a fresh copy of that prepared prefix, with a
running wineserver (`wineserver -p`) warmed by one run of an empty program;
only the program's own run is timed: C:\\Kit\\Install.exe, or
C:\\Kit\\reference.exe (bench/reference/reference.c), which makes the Windows
calls that work needs and nothing else. Runs alternate between the two; the
ratio of their median times is reported.

Then the start: "Install.exe -?" against bench/reference/empty.c built with
the same toolchain, both in one warm prefix, alternated, medians compared;
and the size of Install.exe stripped.

The results replace the "wine" section of bench/results.md.

With --against EXE, a third program joins the runs: EXE, another build of
Install.exe (say, the one before a change), whose ratio to Install.exe the
Wine section reports as well; it need not put printers back.

With --trace, the cost of the support trace instead: Install.exe without
TOLVO_TRACE (tracing off) against reference.exe, and with TOLVO_TRACE naming
a file (tracing on) against the same Install.exe off, all three alternated,
for 100 ports by default. The results replace the "trace" section.

Usage: wine_bench.py [--repetitions R] [--ports 1,100,1000] [--against EXE] [--trace] [--keep]
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
BUILD = ROOT / "build"
INSTALL_EXE = BUILD / "mingw32" / "src" / "platform" / "win32" / "Install.exe"
KIT = BUILD / "kit"
OUT = BUILD / "perf-wine"
REFERENCE_SOURCES = ROOT / "bench" / "reference"
PRINTERS = 100
RUN_TIMEOUT = 900
SIZE_LIMIT = 256 * 1024
START_RATIO_LIMIT = 1.2
RATIO_LIMIT = 1.10
TRACE_RATIO_LIMIT = 2.0
TRACE_FILE = "C:\\tolvo-trace.txt"
# What a timed run starts: program in C:\Kit and its extra environment.
PROGRAMS = {"Install.exe": ("Install.exe", {}), "reference.exe": ("reference.exe", {}),
            "Install.exe traced": ("Install.exe", {"TOLVO_TRACE": TRACE_FILE}),
            "Install.exe before": ("InstallBefore.exe", {})}
BEFORE = "Install.exe before"
DOTNET_KEY = r"HKLM\Software\Microsoft\NET Framework Setup\NDP\v2.0.50727"

sys.path.insert(0, str(Path(__file__).resolve().parent))
import results  # noqa: E402


def info(message):
    print("# " + message, file=sys.stderr, flush=True)


class BenchError(Exception):
    pass


# --------------------------------------------------------------------------
# Building.

def build_windows_pieces():
    """Install.exe and the kit, through the shared presets, when missing."""
    if INSTALL_EXE.is_file() and (KIT / "TOLVOVS.DLL").is_file():
        return
    info("building Install.exe and the kit (presets mingw64, mingw32)")
    jobs = os.environ.get("TOLVO_JOBS", "2")
    for command in (["cmake", "--preset", "mingw64"],
                    ["cmake", "--build", "--preset", "mingw64", "-j", jobs],
                    ["cmake", "--preset", "mingw32"],
                    ["cmake", "--build", "--preset", "mingw32", "-j", jobs],
                    ["cmake", "--build", "--preset", "mingw32", "-j", jobs, "--target", "kit"]):
        subprocess.check_call(command, cwd=ROOT, stdout=subprocess.DEVNULL)


def build_helpers():
    """reference.exe and bench_setup.exe (C, -O2) and empty.exe, linked as Install.exe is."""
    OUT.mkdir(parents=True, exist_ok=True)
    common = ["-std=c11", "-Wall", "-Wextra", "-Werror"]
    spooler = ["-lwinspool", "-ladvapi32", "-static-libgcc"]
    subprocess.check_call(["i686-w64-mingw32-gcc"] + common + [
        "-O2", "-o", str(OUT / "reference.exe"), str(REFERENCE_SOURCES / "reference.c")] + spooler)
    subprocess.check_call(["i686-w64-mingw32-gcc"] + common + [
        "-O2", "-o", str(OUT / "bench_setup.exe"), str(REFERENCE_SOURCES / "setup.c")] + spooler)
    # The installer's link: size-optimised, static runtime, stripped, unused
    # sections dropped.
    subprocess.check_call(["i686-w64-mingw32-gcc"] + common + [
        "-Os", "-ffunction-sections", "-fdata-sections", "-o", str(OUT / "empty.exe"),
        str(REFERENCE_SOURCES / "empty.c"), "-static", "-static-libgcc", "-s",
        "-Wl,--gc-sections", "-Wl,--nxcompat", "-Wl,--dynamicbase"])


# --------------------------------------------------------------------------
# Prefixes.

class Prefix:
    def __init__(self, path):
        self.path = Path(path)
        self.env = dict(os.environ, WINEPREFIX=str(self.path), WINEDEBUG="-all")
        self.env.pop("DISPLAY", None)

    @property
    def kit(self):
        return self.path / "drive_c" / "Kit"

    def wine(self, args, output=None, timeout=RUN_TIMEOUT):
        """Runs a program; returns (exit code, seconds, output bytes)."""
        out_path = self.path.parent / "out.txt" if output is None else output
        with open(out_path, "wb") as out:
            begin = time.perf_counter()
            try:
                rc = subprocess.call(["wine"] + args, env=self.env, stdin=subprocess.DEVNULL,
                                     stdout=out, stderr=subprocess.DEVNULL, timeout=timeout,
                                     cwd="/tmp")
            except subprocess.TimeoutExpired:
                raise BenchError("timed out: wine %s" % " ".join(args))
            elapsed = time.perf_counter() - begin
        return rc, elapsed, Path(out_path).read_bytes()

    def check_wine(self, args, what):
        rc, _, out = self.wine(args)
        if rc != 0:
            raise BenchError("%s: exit code %d\n%s" % (what, rc, out.decode("cp1252", "replace")))
        return out

    def start_server(self):
        subprocess.check_call(["wineserver", "-p"], env=self.env, timeout=60)

    def stop(self):
        subprocess.call(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, timeout=60)
        subprocess.call(["wineserver", "-w"], env=self.env, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, timeout=120)


def copy_prefix(source, target):
    if target.exists():
        shutil.rmtree(target)
    target.mkdir(parents=True)
    subprocess.check_call(["cp", "-a", str(source.path), str(target / "prefix")])
    return Prefix(target / "prefix")


def make_base(work, against=None):
    """A 32-bit prefix with the kit, the helpers, .NET 2.0 and the printers."""
    base = Prefix(work / "base" / "prefix")
    base.path.parent.mkdir(parents=True)
    env = dict(base.env, WINEARCH="win32", WINEDLLOVERRIDES="mscoree,mshtml=")
    started = time.time()
    subprocess.call(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL,
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)
    subprocess.call(["wineserver", "-w"], env=env, timeout=120)
    if not (base.path / "system.reg").is_file():
        raise BenchError("wineboot failed for " + str(base.path))
    shutil.copytree(KIT, base.kit, dirs_exist_ok=True)
    shutil.copy2(INSTALL_EXE, base.kit / "Install.exe")
    if against:
        shutil.copy2(against, base.kit / PROGRAMS[BEFORE][0])
    script = base.kit / "install_printer.bat"
    if script.exists():
        script.unlink()
    for helper in ("reference.exe", "empty.exe", "bench_setup.exe"):
        shutil.copy2(OUT / helper, base.kit / helper)
    base.check_wine(["reg", "add", DOTNET_KEY, "/v", "Install", "/t", "REG_DWORD", "/d", "1",
                     "/f"], "reg add .NET key")
    base.check_wine(["C:\\Kit\\bench_setup.exe", "add-printers", str(PRINTERS)], "add printers")
    base.stop()
    info("prepared the base prefix in %.0f s" % (time.time() - started))
    return base


def ini_for(ports):
    lines = ["; %d ports for the benchmark" % ports]
    for n in range(1, ports + 1):
        lines += ["[%d]" % n, "ServerIP=10.%d.%d.%d" % (n // 65536, n // 256 % 256, n % 256),
                  "Description=Floor %d" % n, "Queue=Q%d" % n]
        if n <= PRINTERS:
            lines.append("AssignPrinter=Bench Printer %d" % n)
    return "\r\n".join(lines) + "\r\n"


def make_server(base, work, ports):
    """The base prefix after a previous installation of `ports` ports, with
    every printer on "LPT1:" and an old monitor port."""
    server = copy_prefix(base, work / ("server%d" % ports))
    (server.kit / "Tolvo.ini").write_bytes(ini_for(ports).encode("ascii"))
    server.check_wine(["C:\\Kit\\Install.exe"], "previous installation of %d ports" % ports)
    server.check_wine(["C:\\Kit\\bench_setup.exe", "set-ports", str(PRINTERS), str(ports)],
                      "printers onto old ports")
    server.stop()
    return server


# --------------------------------------------------------------------------
# Timed runs.

def count(text, fragment):
    return text.count(fragment)


def check_output(out, ports, what, puts_back=True):
    """Each program must have done the whole work: the printers not assigned go back onto
    both their ports (but in a build from before the put-back)."""
    text = out.decode("cp1252", "replace")
    expected = {"    New - IP:": ports, "' assigned to port Tolvo": min(ports, PRINTERS),
                "  - Disconnecting Printer '": PRINTERS,
                "  - Reconnecting Printer '": PRINTERS - min(ports, PRINTERS) if puts_back else 0,
                "Port Monitor Installed Sucessfully.": 1}
    for fragment, number in expected.items():
        if count(text, fragment) != number:
            raise BenchError("%s: %d lines with %r, expected %d\n%s" % (
                what, count(text, fragment), fragment, number, text[-2000:]))


def timed_run(server, work, name, ports):
    program, environment = PROGRAMS[name]
    run = copy_prefix(server, work / "run")
    try:
        run.start_server()
        run.check_wine(["C:\\Kit\\empty.exe"], "warm-up")
        run.env.update(environment)
        rc, seconds, out = run.wine(["C:\\Kit\\" + program], output=work / "run" / "out.txt")
        if rc != 0:
            raise BenchError("%s with %d ports: exit code %d\n%s" % (
                name, ports, rc, out.decode("cp1252", "replace")[-2000:]))
        check_output(out, ports, "%s with %d ports" % (name, ports), name != BEFORE)
        if environment:
            trace = (run.path / "drive_c" / TRACE_FILE[3:]).read_text("cp1252")
            if trace.count(" XcvDataW(") != 2 * ports:
                raise BenchError("%s: the trace lacks its channel commands" % name)
        return seconds
    finally:
        run.stop()
        shutil.rmtree(work / "run", ignore_errors=True)


def bench_ports(base, work, ports, repetitions, names=("Install.exe", "reference.exe")):
    server = make_server(base, work, ports)
    times = {name: [] for name in names}
    try:
        for repetition in range(repetitions):
            # Each program leads in turn.
            shift = repetition % len(names)
            order = list(names[shift:] + names[:shift])
            for program in order:
                seconds = timed_run(server, work, program, ports)
                times[program].append(seconds)
                info("%d ports, %s: %.3f s" % (ports, program, seconds))
    finally:
        shutil.rmtree(server.path.parent, ignore_errors=True)
    return times


def bench_start(base, work, samples):
    """Install.exe -? and empty.exe in one warm prefix, alternated."""
    prefix = copy_prefix(base, work / "start")
    times = {"Install.exe -?": [], "empty.exe": []}
    try:
        prefix.start_server()
        # The first runs in a prefix start its services; let them settle.
        for _ in range(10):
            prefix.wine(["C:\\Kit\\empty.exe"])
            prefix.wine(["C:\\Kit\\Install.exe", "-?"])
        time.sleep(2)
        for _ in range(samples):
            rc, seconds, out = prefix.wine(["C:\\Kit\\Install.exe", "-?"])
            if rc != 255 or b"For installation use" not in out:
                raise BenchError("Install.exe -?: exit code %d\n%s" % (rc, out))
            times["Install.exe -?"].append(seconds)
            rc, seconds, _ = prefix.wine(["C:\\Kit\\empty.exe"])
            if rc != 0:
                raise BenchError("empty.exe: exit code %d" % rc)
            times["empty.exe"].append(seconds)
    finally:
        prefix.stop()
        shutil.rmtree(work / "start", ignore_errors=True)
    return times


def stripped_size():
    with tempfile.TemporaryDirectory() as folder:
        copy = Path(folder) / "Install.exe"
        shutil.copy2(INSTALL_EXE, copy)
        subprocess.check_call(["i686-w64-mingw32-strip", str(copy)])
        return INSTALL_EXE.stat().st_size, copy.stat().st_size


# --------------------------------------------------------------------------
# Report.

def verdict(ok):
    return "within" if ok else "ABOVE"


def report(port_times, start_times, sizes, repetitions, samples):
    lines = ["## Under Wine: the real Install.exe", ""]
    version = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    lines.append("%s, 32-bit Windows 7 prefix, %d local printers each on \"LPT1:\" and an old "
                 "monitor port; medians of %d runs per program, each from a fresh copy of the "
                 "prepared prefix with a warm wineserver. Run on %s, %s." % (
                     version, PRINTERS, repetitions, time.strftime("%Y-%m-%d"), os.uname().nodename))
    lines += ["", "The ratio is the median of the ratios of the two runs of each repetition, "
              "which follow each other; the machine's speed can change between "
              "repetitions (see the runs).", "",
              "| N ports | Install.exe (s) | reference.exe (s) | ratio | target | "
              "ratio of medians | Install.exe runs (s) | reference.exe runs (s) |",
              "|---:|---:|---:|---:|---|---:|---|---|"]
    worst = 0.0
    for ports, times in port_times.items():
        installer = statistics.median(times["Install.exe"])
        reference = statistics.median(times["reference.exe"])
        ratio = statistics.median(i / r for i, r in zip(times["Install.exe"],
                                                         times["reference.exe"]))
        worst = max(worst, ratio)
        lines.append("| %d | %.3f | %.3f | %.3f | %s 1.10 | %.3f | %s | %s |" % (
            ports, installer, reference, ratio, verdict(ratio <= RATIO_LIMIT),
            installer / reference,
            " ".join("%.2f" % t for t in times["Install.exe"]),
            " ".join("%.2f" % t for t in times["reference.exe"])))
    lines += ["", noise_note(spread(runs for times in port_times.values()
                                    for runs in times.values()))]
    before = [(ports, times) for ports, times in port_times.items() if BEFORE in times]
    if before:
        lines += ["", "Against the build before (`--against`), in the same repetitions:", "",
                  "| N ports | Install.exe (s) | build before (s) | ratio | target |",
                  "|---:|---:|---:|---:|---|"]
    for ports, times in before:
        ratio = paired_ratio(times["Install.exe"], times[BEFORE])
        lines.append("| %d | %.3f | %.3f | %.3f | %s 1.10 |" % (
            ports, statistics.median(times["Install.exe"]), statistics.median(times[BEFORE]),
            ratio, verdict(ratio <= RATIO_LIMIT)))
    install = start_times["Install.exe -?"]
    empty = start_times["empty.exe"]
    start_ratio = statistics.median(install) / statistics.median(empty)
    fastest_ratio = min(install) / min(empty)
    full, stripped = sizes
    lines += ["", "Start, warm wineserver, %d alternated runs each:" % samples, "",
              "| program | median (ms) | fastest (ms) |", "|---|---:|---:|",
              "| `Install.exe -?` | %.1f | %.1f |" % (statistics.median(install) * 1000,
                                                     min(install) * 1000),
              "| `empty.exe` (bench/reference/empty.c, same toolchain) | %.1f | %.1f |" % (
                  statistics.median(empty) * 1000, min(empty) * 1000),
              "", "Start ratio %.3f on the medians (%s 1.2), %.3f on the fastest runs. "
              "Install.exe: %d bytes as built, %d bytes (%.1f KiB) stripped (%s 256 KiB)." % (
                  start_ratio, verdict(start_ratio <= START_RATIO_LIMIT), fastest_ratio, full,
                  stripped, stripped / 1024, verdict(stripped <= SIZE_LIMIT))]
    return "\n".join(lines) + "\n", worst


def spread(runs_by_program):
    """The largest factor between the slowest and the fastest run of one program."""
    return max(max(runs) / min(runs) for runs in runs_by_program)


def noise_note(factor):
    return ("Noise: the runs of one program spread by up to a factor %.2f (slowest over "
            "fastest), and the same work timed in another section, at another time, can differ "
            "by a factor 2 (reference.exe's 100 ports in the two Wine sections); a "
            "ratio closer to 1 than the spread does not tell the programs apart." % factor)


def paired_ratio(slower, faster):
    return statistics.median(s / f for s, f in zip(slower, faster))


def report_trace(ports, times, repetitions):
    off = paired_ratio(times["Install.exe"], times["reference.exe"])
    on = paired_ratio(times["Install.exe traced"], times["Install.exe"])
    version = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    lines = ["## Under Wine: the support trace", "",
             "%s, the setting of the Wine section with %d ports; %d repetitions, the three "
             "programs alternated, each run from a fresh copy of the prepared prefix. Run on "
             "%s, %s. Ratios are medians of the ratios within each repetition." % (
                 version, ports, repetitions, time.strftime("%Y-%m-%d"), os.uname().nodename),
             "", "| program | median (s) | runs (s) |", "|---|---:|---|"]
    for name, runs in times.items():
        lines.append("| %s | %.3f | %s |" % (name, statistics.median(runs),
                                             " ".join("%.2f" % t for t in runs)))
    lines += ["", "Tracing off (Install.exe against reference.exe): ratio %.3f, as without the "
              "trace (%s %.2f). Tracing on (traced against untraced Install.exe): ratio %.3f "
              "(%s %.1f)." % (off, verdict(off <= RATIO_LIMIT), RATIO_LIMIT, on,
                              verdict(on <= TRACE_RATIO_LIMIT), TRACE_RATIO_LIMIT),
              "", noise_note(spread(times.values()))]
    if on < 1.0:
        lines[-1] += (" Here the traced runs were faster than the untraced ones, which only "
                      "noise explains: the trace adds work to every call.")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repetitions", type=int, default=5)
    parser.add_argument("--ports", default="1,100,1000")
    parser.add_argument("--start-samples", type=int, default=50)
    parser.add_argument("--against", help="another build of Install.exe to time as well")
    parser.add_argument("--trace", action="store_true", help="the cost of the support trace")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    options = parser.parse_args()
    if options.trace and options.ports == "1,100,1000":
        options.ports = "100"
    for tool in ("wine", "wineboot", "wineserver", "i686-w64-mingw32-gcc", "cmake"):
        if not shutil.which(tool):
            print("wine_bench: %s is not installed" % tool, file=sys.stderr)
            return 2
    build_windows_pieces()
    build_helpers()
    work = Path(tempfile.mkdtemp(prefix="tolvo-wine-bench-"))
    try:
        base = make_base(work, options.against)
        if options.trace:
            ports = int(options.ports.split(",")[0])
            times = bench_ports(base, work, ports, options.repetitions,
                                tuple(name for name in PROGRAMS if name != BEFORE))
            text, section = report_trace(ports, times, options.repetitions), "trace"
        else:
            port_times = {}
            names = ("Install.exe", "reference.exe") + ((BEFORE,) if options.against else ())
            for ports in (int(p) for p in options.ports.split(",")):
                port_times[ports] = bench_ports(base, work, ports, options.repetitions, names)
            start_times = bench_start(base, work, options.start_samples)
            text, _ = report(port_times, start_times, stripped_size(), options.repetitions,
                             options.start_samples)
            section = "wine"
    except BenchError as error:
        print("wine_bench: %s" % error, file=sys.stderr)
        return 1
    finally:
        if options.keep:
            info("kept " + str(work))
        else:
            shutil.rmtree(work, ignore_errors=True)
    print(text)
    results.update_section(section, text)
    info("bench/results.md updated")
    return 0


if __name__ == "__main__":
    sys.exit(main())
