"""tallyfold-mpi under mpirun: with 1, 2 and 4 ranks every form and scan
option gives the single program's report byte for byte (the creation time
masked) and the same lines on standard error; a tree that is one wide folder
is read by every rank; what waits at rank 0 for its scan stays within
-rankmemory; a rank killed during the walk ends the run with no report. The MPI program is built beside tallyfold when TALLYFOLD_MPI is on."""
import concurrent.futures
import glob
import json
import os
import re
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from tftest import BIN, ON_WINE, TestCase, clean_environment, run

# Thousands of folders are made and removed in memory in a fraction of the
# time a disk takes.
if os.path.isdir("/dev/shm"):
    tempfile.tempdir = "/dev/shm"
MPI_BIN = os.path.join(os.path.dirname(BIN), "tallyfold-mpi") if BIN else ""
MPIRUN = ["mpirun", "--oversubscribe", "--allow-run-as-root"]
RANKS = (1, 2, 4)
WIDE = 5000
CHAIN = 400
# Rank 0 reads from the start, while MPI starts: a skewed tree that shows the
# work spread must outlast that start by far.
HUB = 50000

# Each row one form, with the scan options that go with it (-threads=4: each
# rank reads four folders at once); every run also has -cl=4096 -nostats,
# since the drive's figures move between two runs.
ROWS = [
    [],
    ["-tab", "-dir"],
    ["-comma", "-links"],
    ["-html", "-2"],
    ["-json", "-age", "-sort=age"],
    ["-map", "-size=20K"],
    ["-top=5"],
    ["-types", "-exclude=skipped"],
    ["-compare={earlier}", "-sort=growth"],
    ["-sort=total", "-mounts"],
    ["-sort=local", "-cl=512"],
    ["-sort=waste", "-3"],
    ["-sort=files", "-threads=4"],
    ["-sort=none"],
]

_CREATED = re.compile(rb"\d\d/\d\d/\d\d \d\d:\d\d:\d\d|\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d[+-]\d\d:\d\d")


def masked(output):
    """The creation time masked, and the program's own name in the HTML
    report's parameters line read as the single program's."""
    return _CREATED.sub(b"<created>", output).replace(b"/tallyfold-mpi ", b"/tallyfold ")


def mpi_command(ranks, words, program=()):
    return MPIRUN + ["-np", str(ranks)] + list(program) + [MPI_BIN] + words


_SESSIONS = tempfile.TemporaryDirectory(prefix="tallyfold-mpi-")


def mpi_environment():
    """Each launch with a session folder of its own: two launches that make
    the shared one at once can fail with "File exists"."""
    env = clean_environment()
    env["TMPDIR"] = tempfile.mkdtemp(prefix="ompi-", dir=_SESSIONS.name)
    return env


def run_mpi(ranks, words, timeout=120, program=(), env=None):
    completed = subprocess.run(mpi_command(ranks, words, program), env=env or mpi_environment(),
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
    return completed.returncode, completed.stdout, completed.stderr


# Runs each rank under Python, which tells how much memory the rank took at
# its peak.
PEAK = [sys.executable, "-c", "import os, resource, subprocess, sys\n"
        "code = subprocess.call(sys.argv[1:])\n"
        "sys.stderr.write('rank %s peak %d KB\\n' % (os.environ['OMPI_COMM_WORLD_RANK'],"
        " resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss))\n"
        "sys.exit(code)"]


def error_lines(err):
    return sorted(line for line in err.decode("utf-8", "replace").splitlines() if line)


class MpiTestCase(TestCase):
    def setUp(self):
        super().setUp()
        if ON_WINE or not os.path.exists(MPI_BIN):
            self.skipTest("tallyfold-mpi is not built here")


class SameReport(MpiTestCase):
    def build_tree(self):
        tree = self.tree
        tree.file("hard/a/linked", 10000)
        os.link(tree.path("hard/a/linked"), tree.folder("other/deep/er") + "/linked")
        os.link(tree.path("hard/a/linked"), tree.path("hard/second"))
        tree.file("sparse/big", 3 << 30)
        tree.file("skipped/inside/f", 7000)
        chain = tree.folder("/".join(["c"] * CHAIN))
        tree.file(os.path.join(chain, "end"), 1)
        for i in range(WIDE):
            os.mkdir(tree.folder("wide") + "/w%04d" % i)
        tree.file("wide/w0042/f", 5000)
        tree.file("ünïcødé/日本語/ファイル", 3000)
        tree.file("Ünïcødé/f", 12)
        os.symlink("../hard", tree.path("other/to_folder"))
        os.symlink("../hard/a/linked", tree.path("other/to_file"))
        earlier = tree.path("earlier.json")
        result = run(["-json", "-cl=4096", "-sort=growth", tree.path("hard")])
        with open(earlier, "wb") as handle:
            handle.write(result.out.replace(tree.path("hard").encode(), tree.path().encode()))
        json.loads(result.out)
        return earlier

    def test_every_form_and_rank_count_gives_the_single_programs_report(self):
        earlier = self.build_tree()
        jobs = []
        with concurrent.futures.ThreadPoolExecutor(max_workers=6) as pool:
            for row in ROWS:
                words = ["-cl=4096", "-nostats"] + [w.format(earlier=earlier) for w in row] + [self.tree.path()]
                single = pool.submit(run, words)
                runs = [(ranks, pool.submit(run_mpi, ranks, words)) for ranks in RANKS]
                jobs.append((row, single, runs))
            for row, single, runs in jobs:
                expected = single.result()
                for ranks, job in runs:
                    code, out, err = job.result()
                    with self.subTest(row=row, ranks=ranks):
                        self.assertEqual(code, expected.code, err)
                        self.assertGreater(len(expected.out), 200)
                        self.assertEqual(masked(out), masked(expected.out))
                        self.assertEqual(error_lines(err), error_lines(expected.err))


class Ranks(MpiTestCase):
    def test_work_spreads_rank_zero_stays_within_its_bound_and_a_killed_rank_ends_the_run(self):
        self.check_transports_of_absent_adapters_are_left_out()
        self.check_a_wide_folder_is_read_by_every_rank()
        self.check_what_waits_at_rank_zero_stays_within_the_bound()
        self.check_a_killed_rank_ends_the_run()

    def check_a_wide_folder_is_read_by_every_rank(self):
        for i in range(HUB):
            os.makedirs(self.tree.path("hub/f%05d" % i))
        code, out, err = run_mpi(4, ["-ranks", "-cl=4096", self.tree.path()])
        self.assertEqual(code, 0, err)
        lines = re.findall(rb"^rank (\d): (\d+) folders, (\d+) entries, \d+\.\d\d s busy$", err, re.M)
        self.assertEqual([int(rank) for rank, _, _ in lines], [0, 1, 2, 3])
        folders = [int(count) for _, count, _ in lines]
        self.assertEqual(sum(folders), 2 + HUB)
        self.assertTrue(all(count > 0 for count in folders), folders)

    def check_transports_of_absent_adapters_are_left_out(self):
        """Without the devices, OpenMPI's psm2 component is not even loaded,
        unless the user chose the transports."""
        if glob.glob("/dev/hfi1*") or glob.glob("/dev/ipath*"):
            return
        loaded = {}
        for chosen in (None, "^ofi"):
            env = mpi_environment()
            env["OMPI_MCA_mtl_base_verbose"] = "10"
            if chosen:
                env["OMPI_MCA_mtl"] = chosen
            code, _, err = run_mpi(1, ["-nostats", self.tree.path()], env=env)
            self.assertEqual(code, 0, err)
            loaded[chosen] = b"found loaded component psm2" in err
        # Shown only where OpenMPI is built with psm2.
        if loaded["^ofi"]:
            self.assertFalse(loaded[None])

    def check_a_killed_rank_ends_the_run(self):
        launcher = subprocess.Popen(mpi_command(2, ["-json", self.tree.path()]), env=mpi_environment(),
                                    stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Rank 0 reads from the start; the walk cannot end without rank 1.
        self.rank_process(launcher.pid, 0, walking=True)
        reader = self.rank_process(launcher.pid, 1)
        os.kill(reader, signal.SIGSTOP)
        time.sleep(1)
        os.kill(reader, signal.SIGKILL)
        out, err = launcher.communicate(timeout=60)
        self.assertNotEqual(launcher.returncode, 0)
        self.assertEqual(out, b"")
        self.assertIn(b"rank 1", err)

    def check_what_waits_at_rank_zero_stays_within_the_bound(self):
        # Rank 1 takes z, the folder the scan reaches last, and reads its
        # 10 MB of listings while rank 0 reads a: unbounded, they would all
        # wait at rank 0.
        for i in range(300):
            for j in range(300):
                os.makedirs(self.tree.path("a/%03d/%03d" % (i, j)))
        for i in range(100):
            for j in range(400):
                self.tree.file("z/%03d/%03d%s" % (i, j, "x" * 240), 0)
        peaks = {}
        for ranks, words in ((1, []), (2, ["-rankmemory=1M"])):
            code, _, err = run_mpi(ranks, words + ["-cl=4096", self.tree.path()], program=PEAK)
            self.assertEqual(code, 0, err)
            peaks[ranks] = int(re.search(rb"^rank 0 peak (\d+) KB$", err, re.M).group(1))
        self.assertLess(peaks[2], peaks[1] + 5120, peaks)

    def rank_process(self, launcher, rank, walking=False):
        """The process of `rank`; walking: once it holds the tree's folder open."""
        deadline = time.time() + 30
        while time.time() < deadline:
            for pid in self.children(launcher):
                try:
                    with open("/proc/%d/environ" % pid, "rb") as handle:
                        if b"OMPI_COMM_WORLD_RANK=%d\0" % rank not in handle.read():
                            continue
                    if not walking or any(os.readlink("/proc/%d/fd/%s" % (pid, fd)) == self.tree.path()
                                          for fd in os.listdir("/proc/%d/fd" % pid)):
                        return pid
                except OSError:
                    continue
        self.fail("rank %d never began the walk" % rank if walking else "rank %d never started" % rank)

    @staticmethod
    def children(parent):
        found = []
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open("/proc/%s/stat" % entry) as handle:
                        if int(handle.read().rsplit(")", 1)[1].split()[1]) == parent:
                            found.append(int(entry))
                except (OSError, IndexError, ValueError):
                    continue
        return found


if __name__ == "__main__":
    unittest.main()
