"""bench/results.md: the benchmarks' last results, one section per script.

Each script replaces only its own section, between the markers
"<!-- NAME:begin -->" and "<!-- NAME:end -->", so the native and the Wine
results can be produced apart.
"""

import re
from pathlib import Path

RESULTS = Path(__file__).resolve().parent / "results.md"
HEADER = ("# Benchmark results\n\n"
          "Written by `bench/run_benchmarks.sh` (native, simulated Windows) and\n"
          "`bench/wine_bench.py` (the real Install.exe under Wine); do not edit by hand.\n")
ORDER = ["native", "wine", "trace"]


def update_section(name, markdown):
    text = RESULTS.read_text() if RESULTS.exists() else HEADER
    sections = {}
    for other in ORDER:
        match = re.search(r"<!-- %s:begin -->\n(.*?)<!-- %s:end -->\n" % (other, other), text,
                          re.S)
        if match:
            sections[other] = match.group(1)
    sections[name] = markdown.rstrip("\n") + "\n"
    body = HEADER
    for section in ORDER:
        if section in sections:
            body += "\n<!-- %s:begin -->\n%s<!-- %s:end -->\n" % (section, sections[section],
                                                                section)
    RESULTS.write_text(body)
