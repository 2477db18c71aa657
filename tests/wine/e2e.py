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
import shutil
import sys
import tempfile
import time
import traceback

from e2e_model import *  # noqa: F401,F403
from e2e_wine import *  # noqa: F401,F403
import cases_install  # noqa: F401  (each module registers its cases in TESTS, in this order)
import cases_interrupted  # noqa: F401
import cases_package  # noqa: F401


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
