"""Reports made from saved JSON reports (-load=): every form gives what the
scan that wrote the report gave, and several reports merge."""
import csv
import io
import json
import os
import re
import subprocess
import tempfile
import unittest

from test_terminal import BAR, TerminalCase
from tftest import ON_WINE, SEP, TestCase, comma_rows, mask, native_path, run

# The map draws the scan's largest files and types, which most of these
# saved reports do not hold; its own row saves them.
FORMS = [[], ["-tab"], ["-comma"], ["-html"], ["-json"]]
FEW_FORMS = [[], ["-comma"], ["-json"]]
# The round trips: (the options of the saved report, those it is shown with,
# the forms). Each report shown must equal the scan's with the same options.
ROUND_TRIPS = [
    (["-nostats"], ["-nostats"], FORMS),
    (["-nostats", "-sort=total", "-1"], ["-nostats", "-sort=total", "-1"], FORMS),
    (["-nostats", "-sort=none", "-size=10K", "-asval", "-noheader", "-nofiles"],
     ["-nostats", "-sort=none", "-size=10K", "-asval", "-noheader", "-nofiles"], FORMS),
    (["-nostats", "-sort=files", "-dir"], ["-nostats", "-sort=files", "-dir"], FORMS),
    (["-nostats", "-age"], ["-nostats", "-sort=age"], FEW_FORMS),
    (["-nostats", "-top=5", "-types"], ["-nostats", "-top=3"], FEW_FORMS),
    (["-nostats", "-top=5", "-types"], ["-nostats", "-types", "-top=5"], FEW_FORMS),
    (["-nostats", "-types"], ["-nostats", "-types"], [["-html"], ["-tab"]]),
    (["--nostats", "--top=2"], ["--nostats", "--sort=total", "--max-depth=1", "--top=2"], FEW_FORMS),
    (["-nostats", "-top=20000", "-types"], ["-nostats"], [["-map"]]),
]


# A zone away from UTC by a part of an hour: the saved times keep their offset.
AWAY = {"TZ": "IST-5:30"}


def short_options(words):
    """The one-dash spelling of long options."""
    return [re.sub(r"^--max-depth=", "-", word) if word.startswith("--max-depth=") else
            word[1:] if word.startswith("--") else word for word in words]

# The time of the run (a loaded report shows the file's), and the command
# line the HTML report names.
_CREATED = re.compile(rb'(created at |"created":")[^<"\r\n]*')
_PARAMETERS = re.compile(rb"<p>Parameters: .*</p>")


def masked(output):
    return _PARAMETERS.sub(b"", _CREATED.sub(rb"\1<date>", mask(output)))


class LoadReport(TestCase):
    def setUp(self):
        super().setUp()
        # Equal totals and names that differ in case only: the ties of every
        # order depend on the scan's order.
        for path, size in [("a/f", 1), ("B/f", 1), ("b/f", 1), ("c/deep/er/f", 20000), ("d/f", 30000),
                           ("d/e/f", 1), ("d/E/f", 1), ("small/f", 10), ("c/x.iso", 9000), ("d/y.txt", 5000)]:
            self.tree.file(path, size)
        self.start = native_path(self.tree.path())
        self.reports = tempfile.mkdtemp(prefix="tf-reports-")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.reports])

    def saved(self, name, options, start=None):
        path = os.path.join(self.reports, name)
        with open(path, "wb") as handle:
            handle.write(run(["-json"] + options + [start or self.start], env=AWAY).out)
        return native_path(path)

    def test_every_form_of_a_loaded_report_is_the_scans_and_compares_with_no_growth(self):
        for saved_with, shown_with, forms in ROUND_TRIPS:
            report = self.saved("r.json", saved_with)
            for form in forms:
                with self.subTest(form=form, saved=saved_with, shown=shown_with):
                    scanned = run(form + short_options(shown_with) + [self.start], env=AWAY)
                    loaded = run(form + shown_with + ["-load=" + report], env=AWAY)
                    self.assertEqual((loaded.code, masked(loaded.out)), (0, masked(scanned.out)))
                    if "-dir" in shown_with:
                        self.assertIn(b"Cannot be applied to a loaded report - -dir", loaded.err)
            with self.subTest("compared", saved=saved_with):
                folders_with = [word for word in short_options(saved_with) if not word.startswith(("-top", "-types"))]
                compared = run(["-comma", "-noheader"] + folders_with + ["-compare=" + report, self.start])
                rows = [row for row in csv.reader(io.StringIO(compared.out.decode())) if len(row) > 4]
                self.assertEqual((compared.code, {row[-2] for row in rows}), (0, {"0"}))

    def test_two_folders_in_one_run_report_both_and_load_back(self):
        folders = [self.start + SEP + "c", self.start + SEP + "d"]
        both = run(["-comma", "-noheader", "-nostats"] + folders)
        self.assertEqual(both.code, 0, both.err)
        rows = comma_rows(both)
        root = "(2 folders)" + SEP
        expected = {}
        for folder in folders:
            alone = comma_rows(run(["-comma", "-noheader", "-nostats", folder]))
            expected.update({root + path.rstrip(SEP): figures for path, figures in alone.items()})
        self.assertEqual(rows.pop(root)[0], sum(expected[root + folder][0] for folder in folders))
        self.assertEqual(rows, expected)
        report = os.path.join(self.reports, "both.json")
        with open(report, "wb") as handle:
            handle.write(run(["-json", "-nostats"] + folders).out)
        loaded = run(["-comma", "-noheader", "-load=" + native_path(report)])
        self.assertEqual((loaded.code, loaded.out), (0, both.out))

    @unittest.skipIf(ON_WINE or not os.path.ismount("/dev/shm"), "needs a second file system")
    def test_two_folders_on_two_drives_give_the_statistics_of_each(self):
        elsewhere = tempfile.mkdtemp(dir="/dev/shm")
        self.addCleanup(os.rmdir, elsewhere)
        for form, heading in [([], rb"^Statistics for Drive (.*):"), (["-html"], rb"<h2>Statistics for Drive (.*):<i>")]:
            with self.subTest(form=form):
                result = run(form + [self.start, elsewhere])
                drives = re.findall(heading, result.out, re.M)
                self.assertEqual((result.code, len(drives), drives[-1]), (0, 2, b"/dev/shm"))

    def test_the_created_time_is_the_reports(self):
        report = self.saved("r.json", ["-nostats"])
        with open(os.path.join(self.reports, "r.json")) as handle:
            created = json.load(handle)["created"]
        document = json.loads(run(["-json", "-load=" + report]).out)
        self.assertEqual(document["created"], created)

    def test_two_reports_merge_one_from_standard_input(self):
        self.tree.file("other/f", 50000)
        first = self.saved("first.json", ["-nostats"])
        # A subtree, as another machine reports it: no overlap.
        second = os.path.join(self.reports, "second.json")
        document = json.loads(run(["-json", "-nostats", self.start + SEP + "other"]).out)
        document["host"] = "elsewhere"
        with open(second, "w") as handle:
            json.dump(document, handle)
        with open(second, "rb") as handle:
            merged = run(["-comma", "-noheader", "-1", "-load=" + first, "-load=-"], stdin=handle)
        self.assertEqual(merged.code, 0, merged.err)
        with open(os.path.join(self.reports, "first.json")) as handle:
            host = json.load(handle)["host"]
        totals = {path: figures[0] for path, figures in comma_rows(merged).items()}
        merged_root = "(2 reports)" + SEP
        top = totals.pop(merged_root)
        self.assertEqual(sorted(totals), sorted([merged_root + "elsewhere:" + self.start + SEP + "other",
                                                 merged_root + "%s:%s ..." % (host, self.start)]))
        self.assertEqual(top, sum(totals.values()))


def crafted_report(start, folder_name):
    """A report of `start` whose one subfolder has the name `folder_name`."""
    return json.dumps({"program": "tallyfold", "version": "5.0", "created": "2026-11-07T10:00:00+01:00",
                       "path": start, "clusterSize": 4096, "dirMode": False, "includeOffline": True,
                       "root": {"name": start, "total": 8192, "own": 4096, "wasted": 0, "files": 0,
                                "children": [{"name": folder_name, "total": 4096, "own": 4096}]}})


class LoadRefusals(TestCase):
    def test_each_refusal_says_why_once(self):
        start = native_path(self.tree.path())
        self.tree.file("d/f", 1)
        reports = tempfile.mkdtemp(prefix="tf-reports-")
        self.addCleanup(subprocess.run, ["rm", "-rf", reports])

        def written(name, text):
            with open(os.path.join(reports, name), "wb") as handle:
                handle.write(text)
            return native_path(os.path.join(reports, name))

        plain = written("plain.json", run(["-json", "-nostats", start]).out)
        inner = written("inner.json", run(["-json", "-nostats", start + SEP + "d"]).out)
        host = json.loads(run(["-json", "-nostats", start]).out)["host"]
        folder_report = run(["-load=" + plain]).out
        bad_names = ["..", ".", "a/b", "a\0b", ""] + (["a\\b"] if ON_WINE else [])
        crafted = [written("name%d.json" % i, crafted_report(start, name).encode()) for i, name in enumerate(bad_names)]
        not_a_report = "The report %s is not a report of Tallyfold"
        # (words, exit code, the only line on standard error or None, the folder report follows)
        cases = [
            (["-top", "-load=" + plain], 0, "The report holds no file list; write it with -json -top=20", True),
            (["-types", "-load=" + plain], 0, "The report holds no file types; write it with -json -types", True),
            (["-age", "-load=" + plain], 0, "The report holds no ages; write it with -json -age", True),
            (["-load=" + plain, "-load=" + plain], 1, "Reports overlap: %s:%s and %s:%s" % (host, start, host, start),
             False),
            (["-load=" + inner, "-load=" + plain], 1,
             "Reports overlap: %s:%s and %s:%s" % (host, start + SEP + "d", host, start), False),
            (["-load=" + written("fine.json", crafted_report(start, "fine").encode())], 0, None, False),
            (["--bogus", start], 1, "Unknown option --bogus", False),
            ([start + SEP + "d", start], 1, "Folders overlap: %s and %s" % (start + SEP + "d", start), False),
        ] + [(["-load=" + path], 1, not_a_report % path, False) for path in crafted]
        for words, code, message, folders_follow in cases:
            with self.subTest(words=words):
                result = run(words)
                errors = [l for l in result.err.decode("utf-8").splitlines() if not l.startswith("wine:")]
                self.assertEqual((result.code, errors), (code, [message] if message else []))
                if folders_follow:
                    self.assertEqual(result.out, folder_report)
                elif code:
                    self.assertEqual(result.out.strip(b"\f\r\n"), b"")


class LargestFilesOfALoadedReport(TerminalCase):
    def test_l_lists_the_files_the_report_holds_and_never_reads_the_disk(self):
        self.tree.file("a/saved.bin", 30000)
        self.tree.file("b/other.bin", 20000)
        start = native_path(self.tree.path())
        reports = tempfile.mkdtemp(prefix="tf-reports-")
        self.addCleanup(subprocess.run, ["rm", "-rf", reports])
        paths = {}
        for name, words in [("files", ["-top=5"]), ("plain", [])]:
            paths[name] = os.path.join(reports, name + ".json")
            with open(paths[name], "wb") as handle:
                handle.write(run(["-json"] + words + [start]).out)
        self.tree.file("a/later.bin", 90000)  # on the disk, not in the reports
        for name, shown in [("plain", "Not on a loaded report"), ("files", "saved.bin")]:
            with self.subTest(name):
                self.terminal.run_program(["-load=" + native_path(paths[name])])
                self.terminal.wait_for(lambda rows: any(row.endswith(BAR) for row in rows), "the browser")
                self.terminal.keys("n")
                self.terminal.keys("Down", "l")  # on a
                rows = self.terminal.wait_for(lambda rows: any(shown in row for row in rows), shown)
                self.assertFalse(any("later.bin" in row or "other.bin" in row for row in rows), rows)
                self.terminal.keys("q")
                self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
                self.terminal.type_line("clear")


if __name__ == "__main__":
    unittest.main()
