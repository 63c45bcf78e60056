"""The fatal-error report from a stand-in program that sets the report up as
the program does and then ends in a chosen fatal error: the exact lines, the
cut name and version, and the error number as exit code."""
import os
import subprocess
import unittest

from tftest import BIN, ON_WINE, SANITIZED, WINE, TestCase, clean_environment, lines, native_path

PROBE = os.environ.get("TALLYFOLD_FATAL_PROBE") or os.path.join(
    os.path.dirname(BIN), "tests", "fatal_probe" + (".exe" if ON_WINE else ""))

NAME = "A program name of more than thirty characters"
VERSION = "10.20.30.40.50"


def report(fault, number):
    return lines(
        "before the fault",
        "*** An error occurred ***",
        *(["Stack overflow error"] if number == 202 else []),
        "",
        "Please email the following information and a description of what you",
        "were doing to support@quenlow.example",
        "",
        "Program: A program name of more than th  Version: 10.20.30.4",
        "Command line: " + " ".join([native_path(PROBE), NAME, VERSION, fault]),
        "Error number %d" % number)


@unittest.skipUnless(os.path.exists(PROBE), "the stand-in program fatal_probe is not built")
class FatalReport(TestCase):
    def probe(self, fault):
        command = ([WINE] if ON_WINE else []) + [PROBE, NAME, VERSION, fault]
        return subprocess.run(command, env=clean_environment(), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)

    def test_each_fatal_error_writes_the_report_and_ends_with_its_number(self):
        # A sanitizer answers a failed allocation with its own report.
        for fault, number in [("overflow", 202), ("null", 216), ("divide", 200),
                              ("throw", 217)] + ([] if SANITIZED else [("nomem", 203)]):
            with self.subTest(fault=fault):
                completed = self.probe(fault)
                self.assertOutput(completed.stdout, report(fault, number))
                self.assertEqual(completed.returncode, number)

    def test_a_normal_end_writes_no_report(self):
        completed = self.probe("normal")
        self.assertEqual(completed.returncode, 0)
        self.assertOutput(completed.stdout, lines("before the fault"))


if __name__ == "__main__":
    unittest.main()
