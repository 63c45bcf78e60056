#!/usr/bin/env python3
"""Measures Tallyfold's scan against other disk-usage tools, in one run.

usage: bench/bench.py [--quick | --full [--load N]] [--cold] [--trees DIR] [--runs N] [--no-usr]

For each tree (generated with make_tree.py when missing: "wide", about 200,000
files in 20,000 folders, "big", about 1,000,000 files in 60,000 folders,
sparse, and "tiny", 1,100 folders of 1,000 empty folders each, kept on tmpfs
when run as root, else with the others) and for /usr, prints the median wall time of every tool as a ratio to
the floor scanner (limit_scan, single-threaded) and its peak memory; the row
"tallyfold -compare" is the same scan compared with a JSON report of the tree
made just before (-compare=), which shows what the comparison costs; the
row "tallyfold -load" the same report made from that JSON report instead of a
scan (its time and memory against the scan's); the rows "tallyfold -top=20",
"-top=100000", "-types" and "-age" show what noting single files costs. The
tools take turns under hyperfine, one run each per round, warm cache.
"tallyfold -threads=N" reads N folders at once, the scan's own thread
included: -threads=2 is the scan and one worker.
Where OpenMPI's mpirun is installed, "tallyfold-mpi -np 2" (warm; "-np 4"
cold) runs the same scan spread over MPI ranks ("-np 1", warm: what rank 0's
own reading and OpenMPI's start and end cost against "tallyfold"), and each tree's table ends
with the items (listing entries) each rank read per second while busy; the
cold row "MPI's files warm" has OpenMPI's own files read back into the cache
after the drop, as on a cluster whose tree lies on another file system.
--quick uses a tree of a hundredth the size and one round, as a smoke test
that the bench works.

As root, with mkntfs and ntfs-3g: an NTFS image of about 100,000 files in
5,000 folders (made once, filled through an ntfs-3g mount), where
"tallyfold -mft" reads the master file table instead of walking the mount:
its time as a ratio to the walk over the ntfs-3g mount (the aim is at most
0.1), and the table records it parses a second. --ntfs-files=N makes
a bigger image (made once and kept in --trees).

The map page (-map -dir) of the "folders" tree, about 1,100,000 folders with
a file each, follows: its size, its rectangles (folders and files), and the
time headless Chromium takes to load it and run its layout and drawing,
which should stay within a second (skipped without chromium); then how many
megabytes of that tree's JSON report -load reads a second.

--full runs the full trees (wide, big, folders, tiny, deep, and "flat", one
folder of 200,000 empty subfolders), warm, with the floor at one and two
threads and Tallyfold's default against -threads=1, 2 and 4, in 3 rounds
(some 10 minutes), and writes the table of ratios to bench/RESULTS.md with
the machine's load average during the run. --load N runs N CPU-bound
processes beside it; idle and loaded runs keep sections of their own there.

--cold drops the page cache before every run (which needs root) and compares
the floor at 1 to 64 threads, Tallyfold's default and fixed thread counts, du,
ncdu and gdu, as ratios to the fastest floor of the same run (3 rounds).
"""
import argparse
import base64
import hashlib
import html
import json
import re
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
PEERS = {"ncdu": "ncdu", "gdu": "gdu", "hyperfine": "hyperfine", "/usr/bin/time": "time"}


def install_missing_peers():
    missing = [package for command, package in PEERS.items() if shutil.which(command) is None]
    if not missing:
        return
    sudo = [] if os.geteuid() == 0 else ["sudo"]
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    subprocess.run(sudo + ["apt-get", "install", "-y", "-qq"] + missing, env=env, check=True,
                   stdout=subprocess.DEVNULL)


def build(build_dir):
    subprocess.run(["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DTALLYFOLD_TESTS=OFF",
                    "-DTALLYFOLD_MPI=%s" % ("ON" if MPIRUN else "OFF")], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build_dir, "-j", str(os.cpu_count()), "--target", "tallyfold"]
                   + (["tallyfold-mpi"] if MPIRUN else []), check=True, stdout=subprocess.DEVNULL)
    floor = os.path.join(build_dir, "limit_scan")
    subprocess.run(["cc", "-O2", "-pthread", "-o", floor, os.path.join(HERE, "limit_scan.c")], check=True)
    return os.path.join(build_dir, "tallyfold"), floor


def ensure_tree(kind, trees, scale):
    path = os.path.join(trees, "%s-%g" % (kind, scale))
    if not os.path.isdir(path):
        os.makedirs(trees, exist_ok=True)
        subprocess.run([sys.executable, os.path.join(HERE, "make_tree.py"), kind, path,
                        "--scale", str(scale)], check=True, stdout=subprocess.DEVNULL)
    # du reports a link given as its argument, not the tree behind it.
    return os.path.realpath(path)


# tallyfold-mpi runs where OpenMPI's mpirun is installed: its rows are "-np 1"
# and "-np 2" warm and "-np 4" cold, and each tree's table ends with what each rank read
# per second while it was busy (entries of the listings, -ranks).
MPIRUN = shutil.which("mpirun")


def mpi_scan(tallyfold, ranks, quoted, words=""):
    return "mpirun --oversubscribe --allow-run-as-root -np %d %s-mpi -nostats %s%s > /dev/null" % (
        ranks, tallyfold, words, quoted)


def print_items_per_rank(tallyfold, ranks, tree):
    err = subprocess.run(mpi_scan(tallyfold, ranks, "'%s'" % tree, "-ranks "), shell=True, check=True,
                         stderr=subprocess.PIPE, text=True).stderr
    for rank, entries, busy in re.findall(r"^rank (\d+): \d+ folders, (\d+) entries, ([\d.]+) s busy$", err, re.M):
        print("  tallyfold-mpi -np %d, rank %s: %12.0f items/s busy" % (ranks, rank,
                                                                       int(entries) / max(float(busy), 1e-3)))


def tiny_tree(trees, scale):
    """The tree of empty folders measures what a folder itself costs: on
    tmpfs when run as root, so that no disk's journal takes part."""
    if os.geteuid() == 0 and os.path.isdir("/dev/shm"):
        trees = "/dev/shm/tallyfold-bench"
    return ensure_tree("tiny", trees, scale)


def earlier_report(tallyfold, tree, folder):
    """A JSON report of the tree, kept in `folder` (outside the tree), for the
    -compare row."""
    path = os.path.join(folder, os.path.basename(tree) + ".json")
    with open(path, "wb") as report:
        subprocess.run([tallyfold, "-p", "-nostats", "-json", tree], stdout=report, check=True)
    return path


def peers(quoted):
    return [
        ("du -s --apparent-size", "du -s --apparent-size %s > /dev/null" % quoted),
        ("ncdu -0 -o /dev/null", "ncdu -0 -o /dev/null %s" % quoted),
        ("gdu -n -p -s", "gdu -n -p -s %s > /dev/null" % quoted),
    ]


def on_terminal(command):
    """The command with its standard error on a pseudo-terminal, where the
    spinner is written."""
    return "script -qec \"%s\" /dev/null > /dev/null" % command


def commands(tallyfold, floor, tree, threads, earlier):
    quoted = "'%s'" % tree
    scan = "%s -p -nostats %%s%s > /dev/null" % (tallyfold, quoted)
    tools = [
        ("limit_scan", "%s %s" % (floor, quoted)),
        ("limit_scan -j 2", "%s -j 2 %s" % (floor, quoted)),
        ("tallyfold", scan % ""),
        ("tallyfold -compare", scan % ("-compare='%s' " % earlier)),
        ("tallyfold -top=20", scan % "-top=20 "),
        ("tallyfold -top=100000", scan % "-top=100000 "),
        ("tallyfold -types", scan % "-types "),
        ("tallyfold -age", scan % "-age "),
        ("tallyfold -load", "%s -p -nostats -load='%s' > /dev/null" % (tallyfold, earlier)),
    ]
    if threads:
        tools += [
            ("tallyfold -threads=1", scan % "-threads=1 "),
            ("tallyfold -threads=2", scan % "-threads=2 "),
            ("tallyfold -threads=3", scan % "-threads=3 "),
            ("tallyfold, spinner on a tty", on_terminal(scan % "")),
            # The same under script with standard error redirected: script's
            # own cost, which the row above includes.
            ("tallyfold, script, no tty", on_terminal(scan % "" + " 2> /dev/null")),
            ("limit_scan, one core", "taskset -c 0 %s %s" % (floor, quoted)),
            ("tallyfold, one core", "taskset -c 0 " + scan % ""),
        ]
    if MPIRUN:
        tools.append(("tallyfold-mpi -np 1", mpi_scan(tallyfold, 1, quoted)))
        tools.append(("tallyfold-mpi -np 2", mpi_scan(tallyfold, 2, quoted)))
    return tools + peers(quoted)


COLD_FLOOR_THREADS = (1, 2, 4, 8, 16, 32, 64)
COLD_FIXED_THREADS = (1, 2, 8, 32, 64)


def cold_commands(tallyfold, floor, tree):
    quoted = "'%s'" % tree
    tools = [("limit_scan -j %d" % n, "%s -j %d %s" % (floor, n, quoted)) for n in COLD_FLOOR_THREADS]
    tools.append(("tallyfold", "%s -p -nostats %s > /dev/null" % (tallyfold, quoted)))
    tools += [("tallyfold -threads=%d" % n, "%s -p -nostats -threads=%d %s > /dev/null" % (tallyfold, n, quoted))
              for n in COLD_FIXED_THREADS]
    if MPIRUN:
        tools.append(("tallyfold-mpi -np 4", mpi_scan(tallyfold, 4, quoted)))
        tools.append((MPI_FILES_WARM, mpi_scan(tallyfold, 4, quoted)))
    return tools + peers(quoted)


DROP_CACHES = "sync; echo 3 > /proc/sys/vm/drop_caches"
# A dropped cache also drops OpenMPI's own files, which 4 ranks read from
# the disk in 0.7 to 0.9 s here before they can read the tree; on a cluster
# they are mostly in memory or on another file system than the tree. This
# row reads them into the cache after the drop (the usage screen starts MPI
# on every rank and reads no folder), so it shows the walk alone.
MPI_FILES_WARM = "tallyfold-mpi -np 4, MPI's files warm"


def prepare_cold(label, tallyfold):
    if label != MPI_FILES_WARM:
        return DROP_CACHES
    return "%s; mpirun --oversubscribe --allow-run-as-root -np 4 %s-mpi '-?' > /dev/null" % (DROP_CACHES, tallyfold)


def can_drop_caches():
    return os.geteuid() == 0 and os.access("/proc/sys/vm/drop_caches", os.W_OK)


def peak_memory_mib(command):
    """Peak resident memory of one run. GNU time measures it: a child of this
    interpreter would start with the interpreter's own pages counted."""
    with tempfile.NamedTemporaryFile(mode="r") as report:
        subprocess.run(["/usr/bin/time", "-o", report.name, "-f", "%M", "sh", "-c", "exec " + command],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(report.read().split()[-1]) / 1024.0


def measure(tools, runs, cold=False, tallyfold=""):
    """Median wall time of each tool. The tools take turns, one run each per
    round, so that a slow minute of the machine falls on all of them alike;
    a first round warms the cache and is not counted (cold: the cache is
    dropped before every run, and every round counts)."""
    times = {label: [] for label, _ in tools}
    for round_number in range(runs + (0 if cold else 1)):
        with tempfile.NamedTemporaryFile(suffix=".json") as export:
            arguments = ["hyperfine", "--style", "none", "--runs", "1", "--export-json", export.name, "-i"]
            for label, command in tools:
                arguments += ["-n", label, command] + (["--prepare", prepare_cold(label, tallyfold)] if cold else [])
            subprocess.run(arguments, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            results = json.load(open(export.name))["results"]
        if cold or round_number > 0:
            for result in results:
                times[result["command"]].append(result["times"][0])
    return {label: statistics.median(values) for label, values in times.items()}


# The map page's scripts between two probes, allowed by their hashes: how
# long the layout and drawing took, and how many rectangles were drawn.
MAP_START = "window.drawStart = performance.now();"
MAP_PROBE = ('(function () { var out = document.createElement("pre"); out.id = "probe";'
             ' out.textContent = JSON.stringify({ms: performance.now() - window.drawStart,'
             ' cells: document.querySelectorAll("#map .cell").length});'
             ' document.body.appendChild(out); })();')


def script_hash(script):
    return b"'sha256-" + base64.b64encode(hashlib.sha256(script.encode()).digest()) + b"' "


def count_map_nodes(node):
    return 1 + sum(count_map_nodes(child) for child in node.get("c", []))


def map_page_row(tallyfold, tree, folder):
    """Size, rectangles and drawing time of the map page of `tree`."""
    page = subprocess.run([tallyfold, "-p", "-dir", "-map", tree], stdout=subprocess.PIPE, check=True).stdout
    data = page.split(b'<script type="application/json" id="tree">', 1)[1].split(b"</script>", 1)[0]
    rectangles = count_map_nodes(json.loads(data)["root"]) - 1  # the start folder is the map itself
    print("\n%s, map page (-map -dir)" % tree)
    print("  page size %.2f MB, %d rectangles on the page" % (len(page) / 1e6, rectangles))
    chromium = shutil.which("chromium")
    if chromium is None:
        return
    probed = page.replace(b"script-src ", b"script-src " + script_hash(MAP_START) + script_hash(MAP_PROBE), 1)
    probed = probed.replace(b"<script>", b"<script>" + MAP_START.encode() + b"</script><script>", 1)
    probed = probed.replace(b"</body></html>", b"<script>" + MAP_PROBE.encode() + b"</script></body></html>")
    path = os.path.join(folder, "map.html")
    with open(path, "wb") as handle:
        handle.write(probed)
    # A busy machine sometimes has the page dumped before the probe ran:
    # one more try, then the row says so rather than end the bench.
    for _ in range(2):
        with tempfile.TemporaryDirectory() as profile:
            dom = subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                                  "--no-first-run", "--disable-background-networking",
                                  "--disable-component-update", "--disable-sync", "--user-data-dir=" + profile,
                                  "--window-size=1280,800", "--dump-dom", "file://" + path],
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                 check=True).stdout.decode("utf-8", "replace")
        if '<pre id="probe">' in dom:
            seen = json.loads(html.unescape(dom.split('<pre id="probe">', 1)[1].split("</pre>", 1)[0]))
            print("  headless Chromium: %.0f ms to lay out and draw the map (%s one second), %d rectangles drawn"
                  % (seen["ms"], "within" if seen["ms"] <= 1000 else "over", seen["cells"]))
            return
    print("  headless Chromium: the page was dumped before it reported its drawing")


def load_speed_row(tallyfold, tree, folder, runs):
    """How fast -load reads the JSON report of `tree` (of the "folders"
    tree, about 1,100,000 folders): megabytes of JSON a second."""
    report = os.path.join(folder, os.path.basename(tree) + "-load.json")
    with open(report, "wb") as handle:
        subprocess.run([tallyfold, "-p", "-nostats", "-json", tree], stdout=handle, check=True)
    label = "tallyfold -load"
    medians = measure([(label, "%s -p -nostats -1 -load='%s' > /dev/null" % (tallyfold, report))], runs)
    megabytes = os.path.getsize(report) / 1e6
    print("\n%s, loading its JSON report (-load, -1)" % tree)
    print("  %.1f MB of JSON in %.3f s: %.0f MB/s" % (megabytes, medians[label], megabytes / medians[label]))


def ntfs_image(trees, files):
    """An NTFS image of `files` files of a few KiB in folders of 20, made once
    through an ntfs-3g mount; answers its path."""
    image = os.path.join(trees, "ntfs-%d.img" % files)
    if os.path.exists(image):
        return image
    mount = tempfile.mkdtemp(prefix="tallyfold-ntfs-")
    partial = image + ".partial"
    with open(partial, "wb") as handle:
        handle.truncate(max(256 << 20, files * 8192))
    subprocess.run(["mkntfs", "-q", "-F", "-f", partial], check=True, capture_output=True)
    subprocess.run(["ntfs-3g", partial, mount], check=True)
    try:
        for i in range(files):
            folder = os.path.join(mount, "d%03d" % (i // 2000), "e%03d" % (i // 20 % 100))
            if i % 20 == 0:
                os.makedirs(folder, exist_ok=True)
            with open(os.path.join(folder, "f%02d.dat" % (i % 20)), "wb") as handle:
                handle.write(b"x" * (i % 5 * 1000))
    finally:
        subprocess.run(["umount", mount], check=True)
        os.rmdir(mount)
    os.rename(partial, image)
    return image


def ntfs_rows(tallyfold, trees, files, runs):
    if os.geteuid() != 0 or not (shutil.which("mkntfs") and shutil.which("ntfs-3g")):
        print("\nNTFS image: skipped (needs root, mkntfs and ntfs-3g)")
        return
    image = ntfs_image(trees, files)
    mount = tempfile.mkdtemp(prefix="tallyfold-ntfs-")
    subprocess.run(["ntfs-3g", "-o", "ro", image, mount], check=True)
    try:
        tools = [("tallyfold (walk of the ntfs-3g mount)", "%s -p -nostats '%s' > /dev/null" % (tallyfold, mount)),
                 ("tallyfold -mft (over the mount)", "%s -p -nostats -mft '%s' > /dev/null" % (tallyfold, mount)),
                 ("tallyfold -mft=IMAGE /", "%s -p -nostats -mft='%s' / > /dev/null" % (tallyfold, image))]
        medians = measure(tools, runs)
        walk = medians[tools[0][0]]
        # Each file and folder is one record, and the volume's own take about 30.
        records = files + files // 20 + files // 2000 + 30
        print("\nNTFS image of %d files (%s)" % (files, image))
        print("  %-40s %10s %8s %14s %12s" % ("tool", "median s", "ratio", "records/s", "peak MiB"))
        peaks = {}
        for label, command in tools:
            peaks[label] = peak_memory_mib(command)
            print("  %-40s %10.3f %8.3f %14.0f %12.1f" % (label, medians[label], medians[label] / walk,
                                                         records / medians[label], peaks[label]))
        # The aim: the walk's memory plus the table's read buffer of 4 MiB.
        print("  -mft peak over the walk's: %.1f MiB (aim: at most 4)" %
              (max(peaks[label] for label, _ in tools[1:]) - peaks[tools[0][0]]))
        # The forms whose files the table sums otherwise, each against the walk in the same form.
        for form in ("-types", "-cl=512", "-top=20", "-age", "-map"):
            walk_peak = peak_memory_mib("%s -p -nostats %s '%s' > /dev/null" % (tallyfold, form, mount))
            mft_peak = peak_memory_mib("%s -p -nostats %s -mft '%s' > /dev/null" % (tallyfold, form, mount))
            print("  %-12s peak MiB: walk %6.1f, -mft %6.1f (%+.1f)" %
                  (form, walk_peak, mft_peak, mft_peak - walk_peak))
    finally:
        subprocess.run(["umount", mount], check=True)
        os.rmdir(mount)


def supports_threads(tallyfold):
    # A program without the option takes the word for its start folder.
    probe = subprocess.run([tallyfold, "-p", "-nostats", "-1", "-threads=2"], cwd=HERE,
                           capture_output=True, text=True)
    return "Path was not found" not in probe.stderr


FULL_KINDS = ("wide", "big", "folders", "tiny", "deep", "flat")
FULL_FIXED_THREADS = (1, 2, 4)
RESULTS = os.path.join(HERE, "RESULTS.md")


def flat_tree(trees, count=200000):
    """One folder of `count` empty subfolders: one wide listing."""
    path = os.path.join(trees, "flat-%d" % count)
    if not os.path.isdir(path):
        partial = path + ".partial"
        shutil.rmtree(partial, ignore_errors=True)
        os.makedirs(partial)
        for number in range(count):
            os.mkdir(os.path.join(partial, "d%06d" % number))
        os.rename(partial, path)
    return path


def full_commands(tallyfold, floor, tree):
    quoted = "'%s'" % tree
    scan = "%s -p -nostats %%s%s > /dev/null" % (tallyfold, quoted)
    return ([("limit_scan", "%s %s" % (floor, quoted)), ("limit_scan -j 2", "%s -j 2 %s" % (floor, quoted)),
             ("tallyfold", scan % "")] +
            [("tallyfold -threads=%d" % n, scan % ("-threads=%d " % n)) for n in FULL_FIXED_THREADS])


class LoadSampler(threading.Thread):
    """The one-minute load average, read every few seconds while the bench runs."""

    def __init__(self):
        super().__init__(daemon=True)
        self.samples = []
        self.done = threading.Event()

    def run(self):
        while not self.done.wait(5):
            with open("/proc/loadavg") as loadavg:
                self.samples.append(float(loadavg.read().split()[0]))

    def summary(self):
        self.done.set()
        if not self.samples:
            return "not sampled"
        return "mean %.1f, from %.1f to %.1f" % (statistics.mean(self.samples), min(self.samples), max(self.samples))

    def busy(self):
        """Whether other work loaded the machine: the bench alone keeps the
        load average near the processors' count (1.2 to 2.1 on two)."""
        return bool(self.samples) and statistics.mean(self.samples) > 1.5 * os.cpu_count()


def start_busy_processes(count):
    """CPU-bound processes beside the bench, at its own priority."""
    return [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]


def full_section(args, tallyfold, floor, scale):
    """Runs every full tree (with --quick a hundredth of each, to try the
    bench itself); the section of RESULTS.md that tells what came out."""
    commit = subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"], capture_output=True,
                            text=True).stdout.strip()
    busy = start_busy_processes(args.load)
    sampler = LoadSampler()
    sampler.start()
    rows = []
    try:
        for kind in FULL_KINDS:
            tree = (flat_tree(args.trees, round(200000 * scale)) if kind == "flat"
                    else tiny_tree(args.trees, scale) if kind == "tiny" else ensure_tree(kind, args.trees, scale))
            tools = full_commands(tallyfold, floor, tree)
            medians = measure(tools, args.runs or 3)
            base = medians["limit_scan"]
            best_fixed = min(medians["tallyfold -threads=%d" % n] for n in FULL_FIXED_THREADS)
            cells = ["%.2f" % (medians[label] / base) for label, _ in tools]
            rows.append("| %s | %.3f | %s | %.2f |" % (kind, base, " | ".join(cells), medians["tallyfold"] / best_fixed))
            print(rows[-1], flush=True)
    finally:
        load = sampler.summary()
        for process in busy:
            process.kill()
    # A run that others' work loaded keeps its own section: it neither
    # stands for the idle machine nor for a known load.
    title = ("Loaded: %d CPU-bound processes beside" % args.load if args.load
             else "Busy: other work beside, not chosen" if sampler.busy() else "Idle: nothing run beside")
    header = ("| tree | limit_scan s | " + " | ".join(label for label, _ in full_commands("", "", "")) +
              " | default / best fixed |")
    return [
        "## " + title, "",
        "%s, commit %s, %d processors, trees at scale %g, warm cache, medians of %d rounds; "
        "load average during the run: %s." % (time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()), commit,
                                              os.cpu_count(), scale, args.runs or 3, load),
        "Ratios to limit_scan (one thread); the last column is the default over the best of -threads=%s." % (
            ", ".join(str(n) for n in FULL_FIXED_THREADS)), "",
        header, "|" + "---|" * (header.count("|") - 1),
    ] + rows + [""]


def write_results(section):
    """Replaces the section of the same kind (idle or loaded) in RESULTS.md and keeps the other."""
    kept = {}
    if os.path.exists(RESULTS):
        current = None
        for line in open(RESULTS).read().split("\n"):
            if line.startswith("## "):
                current = line.split(":")[0]
                kept[current] = []
            if current:
                kept[current].append(line)
    kept[section[0].split(":")[0]] = section
    parts = ["# Bench results", "", "Written by `bench/bench.py --full` (`--load N` for the loaded section).", ""]
    for name in sorted(kept):
        parts += [line for line in kept[name]]
    with open(RESULTS, "w") as results:
        results.write("\n".join(parts).rstrip("\n") + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--trees", default=os.path.join(tempfile.gettempdir(), "tallyfold-bench"))
    parser.add_argument("--runs", type=int, default=None)
    parser.add_argument("--no-usr", action="store_true")
    parser.add_argument("--cold", action="store_true")
    parser.add_argument("--ntfs-files", type=int, default=None)
    parser.add_argument("--full", action="store_true")
    parser.add_argument("--load", type=int, default=0)
    args = parser.parse_args()
    if args.cold and not can_drop_caches():
        sys.exit("bench.py --cold drops the page cache before every run, which needs root: "
                 "run it as root")
    install_missing_peers()
    tallyfold, floor = build(os.path.join(ROOT, "build", "bench"))
    scale = 0.01 if args.quick else 1.0
    if args.full:
        write_results(full_section(args, tallyfold, floor, scale))
        return
    runs = args.runs or (1 if args.quick else 3 if args.cold else 7)
    targets = [ensure_tree("wide", args.trees, scale), ensure_tree("big", args.trees, scale)]
    if not args.cold:
        targets.append(tiny_tree(args.trees, scale))
    if not args.quick and not args.no_usr and not args.cold:
        targets.append("/usr")
    threads = supports_threads(tallyfold)
    for target in targets:
        if args.cold:
            tools = cold_commands(tallyfold, floor, target)
            medians = measure(tools, runs, cold=True, tallyfold=tallyfold)
            best = min((label for label in medians if label.startswith("limit_scan")), key=medians.get)
            base = medians[best]
            print("\n%s, cold cache; ratios to the fastest floor, %s" % (target, best))
        else:
            tools = commands(tallyfold, floor, target, threads, earlier_report(tallyfold, target, args.trees))
            medians = measure(tools, runs)
            base = medians["limit_scan"]
            print("\n%s" % target)
        print("  %-30s %10s %8s %12s" % ("tool", "median s", "ratio", "peak MiB"))
        for label, command in tools:
            print("  %-30s %10.3f %8.2f %12.1f" % (label, medians[label], medians[label] / base,
                                                   peak_memory_mib(command)))
        if MPIRUN:
            print_items_per_rank(tallyfold, 4 if args.cold else 2, target)
    if not args.cold:
        ntfs_rows(tallyfold, args.trees, args.ntfs_files or int(100000 * scale), runs)
        map_page_row(tallyfold, ensure_tree("folders", args.trees, scale), args.trees)
        load_speed_row(tallyfold, ensure_tree("folders", args.trees, scale), args.trees, runs)


if __name__ == "__main__":
    main()
