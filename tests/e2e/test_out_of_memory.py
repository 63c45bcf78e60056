"""Out of memory, wherever it happens: under a limit of address space each
run either writes the report an unlimited run writes, or the fatal-error
report with error number 203, and none ends by a signal."""
import shutil
import subprocess
import unittest

from tftest import BIN, ON_WINE, SANITIZED, TestCase, clean_environment, lines, mask, run

MIB = 1 << 20
# From too little to start a worker to more than enough for eight; the
# failed allocations come at other points of the run with each.
LIMITS_MIB = (12, 24, 48, 96)
THREADS = ("-threads=8", "-threads=0")


def fatal_report(command, identity):
    return lines(
        "*** An error occurred ***",
        "",
        "Please email the following information and a description of what you",
        "were doing to support@quenlow.example",
        "",
        identity,
        "Command line: " + " ".join(command),
        "Error number 203")


@unittest.skipIf(ON_WINE or SANITIZED or not shutil.which("prlimit"),
                 "needs the Linux program without sanitizers, and prlimit")
class OutOfMemory(TestCase):
    def setUp(self):
        super().setUp()
        # Some thousands of folders, as the reading ahead holds them.
        for top in range(40):
            for sub in range(60):
                self.tree.file("wide%d/folder%d/file" % (top, sub), top + sub)

    def limited(self, limit, command):
        return subprocess.run(["prlimit", "--as=%d" % limit, "--"] + command, env=clean_environment(),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=120)

    def test_each_run_gives_the_report_or_the_fatal_error_report(self):
        unlimited = run(["-p", "-tab", self.tree.path()])
        self.assertEqual(unlimited.code, 0, unlimited.err)
        endings = []
        for threads in THREADS:
            for limit in LIMITS_MIB:
                with self.subTest(threads=threads, limit=limit):
                    command = [BIN, threads, "-p", "-tab", self.tree.path()]
                    completed = self.limited(limit * MIB, command)
                    endings.append(completed.returncode)
                    if completed.returncode == 203:
                        report = completed.stdout[completed.stdout.find(b"*** An error occurred ***"):]
                        # Before the start-up names the program, its name is not known.
                        self.assertIn(report, [fatal_report(command, "Program: Tallyfold  Version: 5.0"),
                                               fatal_report(command, "Program:   Version: ")])
                    else:
                        self.assertEqual((completed.returncode, mask(completed.stdout)),
                                         (0, mask(unlimited.out)))
        self.assertIn(203, endings)


if __name__ == "__main__":
    unittest.main()
