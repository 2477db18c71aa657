#!/usr/bin/env python3
"""Writes the "native" section of bench/results.md from the cost-model table
and the Google Benchmark JSON output of tolvo_cost_model_bench.

Usage: native_report.py COST_MODEL.md TIMINGS.json
"""

import json
import os
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import results  # noqa: E402


def runs(timings):
    """{(ports, printers): (real ms, cpu ms)}: medians when repeated, else the single run."""
    chosen = {}
    for entry in timings["benchmarks"]:
        if entry.get("error_occurred"):
            raise SystemExit("native_report: %s failed: %s" % (entry["name"],
                                                               entry.get("error_message")))
        aggregate = entry.get("aggregate_name")
        if aggregate not in (None, "median") or "traced" in entry:
            continue
        key = (int(entry["ports"]), int(entry["printers"]))
        scale = {"ms": 1.0, "us": 1e-3, "ns": 1e-6, "s": 1e3}[entry["time_unit"]]
        if aggregate == "median" or key not in chosen:
            chosen[key] = (entry["real_time"] * scale, entry["cpu_time"] * scale)
    return chosen


def main():
    cost_model = Path(sys.argv[1]).read_text()
    timings = json.loads(Path(sys.argv[2]).read_text())
    times = runs(timings)
    lines = ["## Native: whole installations against the simulated Windows", "",
             "`bench/run_benchmarks.sh` on %s (%d CPUs), %s. Every row is checked before "
             "it is timed: exactly AddPort and SetPortData per port on one channel, one "
             "OpenPrinterA per assigned printer in the assignment, the profile reads and "
             "conversions each port needs, and every other kind of call exactly as often as "
             "in a run of one port." % (
                 timings["context"].get("host_name", os.uname().nodename),
                 timings["context"].get("num_cpus", 0), time.strftime("%Y-%m-%d")), "",
             "### Platform calls of one installation", "", cost_model.rstrip("\n"), "",
             "Printers are each on \"LPT1:\" and one old monitor port, so the disconnection "
             "examines two names per printer and lists the spooler's ports afresh for each "
             "(EnumPortsA twice per name): its cost is P x 2 x (N + 2) port records, "
             "O(printers x ports in a list x spooler ports), as the installer must.", "",
             "### Time of one installation (median)", "",
             "| N ports | P printers | real (ms) | CPU (ms) | real per port (ms) |",
             "|---:|---:|---:|---:|---:|"]
    for (ports, printers), (real, cpu) in sorted(times.items(), key=lambda i: (i[0][1], i[0][0])):
        lines.append("| %d | %d | %.1f | %.1f | %.3f |" % (ports, printers, real, cpu,
                                                          real / ports))
    t = {ports: times[(ports, 0)] for ports in (1, 10, 100, 1000) if (ports, 0) in times}
    if len(t) == 4:
        raw = (t[1000][0] / 1000) / (t[10][0] / 10)
        marginal_real = ((t[1000][0] - t[100][0]) / 900) / ((t[100][0] - t[10][0]) / 90)
        marginal_cpu = ((t[1000][1] - t[100][1]) / 900) / ((t[100][1] - t[10][1]) / 90)
        lines += ["", "Time per port, P = 0: at N = 1000 it is %.2f times that at N = 10 "
                  "(the fixed cost of a run spread over more ports). Cost of one more port: "
                  "from 100 to 1000 ports %.2f times that from 10 to 100 ports in real time, "
                  "%.2f times in CPU time (1.00 = flat)." % (raw, marginal_real, marginal_cpu)]
    traced = {int(e["traced"]): (e["real_time"], e["cpu_time"]) for e in timings["benchmarks"]
              if "traced" in e and e.get("aggregate_name") in (None, "median")}
    if len(traced) == 2:
        lines += ["", "### A traced installation (median)", "",
                  "1000 ports, each with a password of 259 characters, 0 printers; the trace "
                  "written to a sink that counts its bytes.", "",
                  "| run | real (ms) | CPU (ms) |", "|---|---:|---:|"]
        for flag, name in ((0, "untraced"), (1, "traced")):
            lines.append("| %s | %.1f | %.1f |" % (name, traced[flag][0], traced[flag][1]))
        lines += ["", "Traced against untraced: %.2f times the real time, %.2f times the CPU "
                  "time." % (traced[1][0] / traced[0][0], traced[1][1] / traced[0][1])]
    text = "\n".join(lines) + "\n"
    print(text)
    results.update_section("native", text)


if __name__ == "__main__":
    main()
