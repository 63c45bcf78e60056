"""Reports made from saved JSON reports (-load=): every form gives what the
scan that wrote the report gave, and several reports merge."""
import json
import os
import re
import subprocess
import tempfile
import unittest

from tftest import SEP, TestCase, comma_rows, mask, native_path, run

# The map draws the scan's largest files and types, which this test's
# saved reports do not hold.
FORMS = [[], ["-tab"], ["-comma"], ["-html"], ["-json"]]
OPTIONS = [["-nostats"], ["-nostats", "-sort=total", "-1"],
           ["-nostats", "-sort=none", "-size=10K", "-asval", "-noheader", "-nofiles"],
           ["-nostats", "-sort=files", "-dir"]]

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
                           ("d/e/f", 1), ("d/E/f", 1), ("small/f", 10)]:
            self.tree.file(path, size)
        self.start = native_path(self.tree.path())
        self.reports = tempfile.mkdtemp(prefix="tf-reports-")
        self.addCleanup(subprocess.run, ["rm", "-rf", self.reports])

    def saved(self, name, options, start=None):
        path = os.path.join(self.reports, name)
        with open(path, "wb") as handle:
            handle.write(run(["-json"] + options + [start or self.start]).out)
        return native_path(path)

    def test_every_form_of_a_loaded_report_is_the_scans(self):
        for options in OPTIONS:
            report = self.saved("r.json", options)
            for form in FORMS:
                with self.subTest(form=form, options=options):
                    scanned = run(form + options + [self.start])
                    loaded = run(form + options + ["-load=" + report])
                    self.assertEqual((loaded.code, masked(loaded.out)), (0, masked(scanned.out)))
                    if "-dir" in options:
                        self.assertIn(b"Cannot be applied to a loaded report - -dir", loaded.err)

    def test_the_created_time_is_the_reports(self):
        report = self.saved("r.json", ["-nostats"])
        with open(os.path.join(self.reports, "r.json")) as handle:
            created = json.load(handle)["created"]
        document = json.loads(run(["-json", "-load=" + report]).out)
        self.assertEqual(document["created"], created)

    def test_two_reports_merge_one_from_standard_input(self):
        self.tree.file("other/f", 50000)
        first = self.saved("first.json", ["-nostats"])
        second = os.path.join(self.reports, "second.json")
        with open(second, "wb") as handle:
            handle.write(run(["-json", "-nostats", self.start + SEP + "other"]).out)
        with open(second, "rb") as handle:
            merged = run(["-comma", "-noheader", "-1", "-load=" + first, "-load=-"], stdin=handle)
        self.assertEqual(merged.code, 0, merged.err)
        with open(second) as handle:
            host = json.load(handle)["host"]
        totals = {path: figures[0] for path, figures in comma_rows(merged).items()}
        merged_root, part = "(2 reports)" + SEP, "%s:%s" % (host, self.start)
        top = totals.pop(merged_root)
        self.assertEqual(sorted(totals), [merged_root + part + " ...", merged_root + part + SEP + "other"])
        self.assertEqual(top, sum(totals.values()))


if __name__ == "__main__":
    unittest.main()
