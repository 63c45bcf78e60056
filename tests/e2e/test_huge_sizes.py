"""Sizes at the 64-bit limit: sparse files of 2^63-1, 2^63-1000 and 2^62
bytes on tmpfs, which allows them. Every sum holds at the limit instead of
wrapping round (the sanitized build of the test command stops at any wrap),
and a figure wider than its column widens the line instead of being cut."""
import json
import os
import tempfile
import unittest

from tftest import ON_WINE, TestCase, comma_rows, lines, mask, run

MAX = 2**63 - 1
TMPFS = "/dev/shm"


def on_tmpfs(folder):
    with open("/proc/self/mounts") as mounts:
        return any(line.split()[1:3] == [folder, "tmpfs"] for line in mounts)


@unittest.skipIf(ON_WINE or not os.path.isdir(TMPFS) or not on_tmpfs(TMPFS),
                 "needs tmpfs, the file system that takes files of 2^63-1 bytes")
class HugeSizes(TestCase):
    def setUp(self):
        super().setUp()
        self.tree.remove()
        self.tree.root = tempfile.mkdtemp(prefix="tf-e2e-", dir=TMPFS)
        # max/ holds more than the limit, and the tree more than that.
        self.tree.file("max/a", MAX)
        self.tree.file("max/b", 2**62)
        self.tree.file("near/deep/c", MAX - 999)
        self.tree.file("quarter/d", 2**62)
        self.start = self.tree.path()

    def test_lengths_hold_at_the_limit_and_widen_the_columns(self):
        result = run(["-dir", "-nostats", self.start])
        self.assertEqual(result.code, 0, result.err)
        self.assertOutput(mask(result.out), lines(
            "Tallyfold 5.0 report, created at <date>",
            "",
            "Total + subs     Files  Folder name   [Without subfolders]",
            "--------------  ------  ----------------------------------------",
            "8,589,934,592.0 GB       0  " + self.start + "   [0 bytes]",
            "8,589,934,592.0 GB       2  |--max  ",
            "8,589,934,592.0 GB       0  |--near   [0 bytes]",
            "8,589,934,592.0 GB       1  |  +--deep  ",
            "4,294,967,296.0 GB       1  +--quarter  ",
            "--------------  ------  ----------------------------------------",
            "8,589,934,592.0 GB       4  Cluster size: 4 KB  Wastage: 0 bytes",
            "--------------  ------  ----------------------------------------",
            "\f"))
        comma = [line for line in run(["-dir", "-comma", "-noheader", self.start]).out.decode().splitlines() if line]
        self.assertEqual(comma, ['%d,%d,%d,"%s"' % row for row in [
            (MAX, 0, 0, self.start + "/"), (MAX, MAX, 2, self.start + "/max"), (MAX - 999, 0, 0, self.start + "/near"),
            (MAX - 999, MAX - 999, 1, self.start + "/near/deep"), (2**62, 2**62, 1, self.start + "/quarter")]])

    def test_a_report_at_the_limit_compares_with_no_growth(self):
        with tempfile.TemporaryDirectory() as reports:
            earlier = os.path.join(reports, "earlier.json")
            with open(earlier, "wb") as handle:
                handle.write(run(["-dir", "-json", self.start]).out)
            result = run(["-dir", "-json", "-compare=" + earlier, self.start])
        self.assertEqual(result.code, 0, result.err)
        document = json.loads(result.out)
        growth = [document["root"]["growth"]] + [child["growth"] for child in document["root"]["children"]]
        self.assertEqual(growth, [0, 0, 0, 0])

    def test_counted_sizes_never_wrap_whether_folded_or_shown(self):
        # Whatever a sparse file counts, every figure lies between 0 and the
        # limit and a folder's total is its own size plus its children's,
        # held at the limit.
        for options in ([], ["-1"]):
            with self.subTest(options=options):
                for form in ("-c-", "-html", "-json"):
                    report = run(options + [form, "-cl=4096", self.start])
                    self.assertEqual(report.code, 0, report.err)
                rows = comma_rows(run(options + ["-comma", "-noheader", "-cl=4096", self.start]))
                for path, (total, wasted, own, files) in rows.items():
                    children = [row[0] for child, row in rows.items()
                                if os.path.dirname(child) == path and child != path]
                    self.assertTrue(0 <= wasted and 0 <= own <= total <= MAX, (path, rows[path]))
                    self.assertGreaterEqual(total, min(MAX, own + sum(children)), path)


if __name__ == "__main__":
    unittest.main()
