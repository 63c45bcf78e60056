#!/usr/bin/env python3
"""Runs the Windows program's default scan of a tree of 10,000 folders under
Wine many times and checks that every run ends with exit code 0 and the
same report as the first.

usage: tests/wine_stress.py TALLYFOLD_EXE [RUNS]   (RUNS: 500 by default)
"""
import os
import subprocess
import sys
import tempfile

WINE = os.environ.get("TALLYFOLD_WINE", "/usr/lib/wine/wine64")
WINE_START_FAILURE = b"failed to map the shared user data"


def build_tree(root):
    for top in range(100):
        for sub in range(100):
            folder = os.path.join(root, "t%02d" % top, "s%02d" % sub)
            os.makedirs(folder)
            if sub % 10 == 0:
                with open(os.path.join(folder, "f"), "wb") as data:
                    data.write(b"x" * (top * 37 + sub))


def main():
    program = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    # Wine's errors about the address space stay on: now and then (about
    # once in 10,000 starts under load, a trivial program alike) Wine fails
    # to start a process at all, and says so there. Such a run is counted
    # apart and started again.
    env = dict(os.environ, WINEDEBUG="-all,err+virtual")
    env.pop("TALLYFOLD", None)
    with tempfile.TemporaryDirectory(prefix="tf-wine-stress-") as root:
        build_tree(root)
        command = [WINE, program, "-comma", "-noheader", "-cl=4096", "-nostats", "Z:" + root.replace("/", "\\")]
        first = None
        failed_starts = 0
        for number in range(1, runs + 1):
            completed = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
            while WINE_START_FAILURE in completed.stderr and failed_starts < runs:
                failed_starts += 1
                completed = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, capture_output=True,
                                           timeout=300)
            if completed.returncode != 0 or (first is not None and completed.stdout != first):
                sys.exit("run %d of %d: exit code %d, %d bytes of report (the first run wrote %d)\n%s" % (
                    number, runs, completed.returncode, len(completed.stdout), len(first or b""),
                    completed.stderr.decode(errors="replace")))
            if first is None:
                if completed.stdout.count(b"\n") < 10000:
                    sys.exit("the report has %d lines, fewer than the tree's folders" % completed.stdout.count(b"\n"))
                first = completed.stdout
    print("%d runs under Wine: the same report and exit code 0 every time" % runs)
    if failed_starts:
        print("Wine failed to start the process %d times; those runs were started again" % failed_starts)


if __name__ == "__main__":
    main()
