"""The JSON report read back by real parsers, the growth figures of
-compare= in every output form, and every refusal of an earlier report."""
import csv
import io
import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from tftest import ON_WINE, SEP, TestCase, native_path, run

# Names that a JSON writer must escape or encode; Windows names hold no
# quotes, backslashes or control characters, and Linux names any byte.
ODD_NAMES = ([b"Caf\xc3\xa9 \xe6\x97\xa5\xe6\x9c\xac", b"smile \xf0\x9f\x98\x80", b"it's, a;name"] +
             ([] if ON_WINE else [b'say "hi"', b"back\\slash", b"ctl\x01\x1f\ttab\nline", b"bad\xff\xfeutf8"]))


def json_folders(folder):
    """The folder objects in the walker's order: a folder, then its children."""
    yield folder
    for child in folder.get("children", []):
        yield from json_folders(child)


def comma_rows(output):
    text = output.decode("utf-8", "surrogateescape").replace("\r\n", "\n")
    rows = list(csv.reader(io.StringIO(text, newline="")))
    return [row for row in rows if len(row) > 1 and not row[0].startswith("Tallyfold 5.0 report")]


def raw_name(folder):
    if "nameBytes" in folder:
        return bytes.fromhex(folder["nameBytes"])
    return folder["name"].encode("utf-8")


class JsonReport(TestCase):
    def test_odd_names_read_back_with_the_comma_reports_figures(self):
        for index, name in enumerate(ODD_NAMES):
            folder = os.path.join(self.tree.root.encode(), name)
            os.makedirs(folder)
            with open(os.path.join(folder, b"f"), "wb") as handle:
                handle.truncate(1000 * (index + 1))
        start = native_path(self.tree.path())
        report = run(["-json", "-cl=4096", start])
        self.assertEqual(report.code, 0, report.err)
        self.assertTrue(report.out.isascii())
        document = json.loads(report.out)
        comma = run(["-comma", "-noheader", "-cl=4096", start])
        folders = list(json_folders(document["root"]))
        rows = comma_rows(comma.out)
        self.assertEqual(len(folders), len(rows))
        for folder, row in zip(folders, rows):
            self.assertEqual([str(folder[k]) for k in ("total", "wasted", "own", "files")], row[:4])
        self.assertEqual(document["totals"]["bytes"], folders[0]["total"])
        self.assertEqual(document["path"], start)
        self.assertEqual(sorted(raw_name(f) for f in folders[1:]), sorted(ODD_NAMES))
        if not ON_WINE:  # a redirected Windows comma report is in the ANSI code page
            paths = [row[4].encode("utf-8", "surrogateescape") for row in rows[1:]]
            self.assertEqual(paths, [(start + SEP).encode() + raw_name(f) for f in folders[1:]])
        for folder in folders[1:]:
            self.assertEqual("nameBytes" in folder, folder["name"].startswith("bad"))
        if shutil.which("jq") and not ON_WINE:
            jq = subprocess.run(["jq", "-r", ".root.children[].total"], input=report.out,
                                capture_output=True, check=True)
            self.assertEqual(jq.stdout.split(), [str(f["total"]).encode() for f in folders[1:]])

    def test_a_name_with_the_fold_mark_is_no_fold_and_compares_with_itself(self):
        # Windows drops the dots that end a name.
        names = {"a ... b": False, "plain": True, **({} if ON_WINE else {"x ...": False})}
        for name in names:
            self.tree.file(name + "/f", 5000)
        self.tree.file("plain/inner/f", 5000)
        start = native_path(self.tree.path())
        with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as handle:  # outside the tree
            handle.write(run(["-json", "-cl=4096", "-1", start]).out)
        earlier = handle.name
        self.addCleanup(os.remove, earlier)
        document = json.loads(run(["-json", "-cl=4096", "-1", "-compare=" + native_path(earlier), start]).out)
        children = {child["name"]: child for child in document["root"]["children"] if child["name"] in names}
        self.assertEqual({name: child["folded"] for name, child in children.items()}, names)
        self.assertEqual({child["growth"] for child in json_folders(document["root"])}, {0})
        self.assertEqual(document["gone"], {"folders": 0, "bytes": 0, "list": []})


class Growth(TestCase):
    """A tree scanned, changed, and scanned again with -compare=, with -2
    (three levels shown) and -size=5000 (an empty folder, 4096 bytes with its
    directory entries, is folded into its parent)."""

    BEFORE = [("r", 1), ("grow/g", 1), ("shrink/s", 20000), ("gone/z", 1), ("gone/inner/i", 1),
              ("mover/m", 1), ("deep/d", 1), ("deep/x/w", 1), ("keep/k", 1), ("keep/small/t", 10000),
              ("fold/f", 1)]
    SETTINGS = ["-cl=4096", "-2", "-size=5000"]

    def setUp(self):
        super().setUp()
        for path, size in self.BEFORE:
            self.tree.file(path, size)
        self.tree.folder("fold/tiny")  # folded into fold, below the threshold
        self.start = native_path(self.tree.path())
        self.reports = tempfile.mkdtemp(prefix="tf-reports-")
        earlier = run(["-json"] + self.SETTINGS + [self.start])
        self.assertEqual(earlier.code, 0, earlier.err)
        # A name outside any ANSI code page: Windows must open it by its wide name.
        self.earlier = os.path.join(self.reports, "earlier-\u65e5\u672c.json")
        with open(self.earlier, "wb") as handle:
            handle.write(earlier.out)
        self.tree.file("grow/g", 30000)
        self.tree.file("shrink/s", 1)
        shutil.rmtree(self.tree.path("gone"))
        os.rename(self.tree.path("mover"), self.tree.path("deep/x/mover"))  # below the depth limit now
        self.tree.file("keep/small/t", 0)  # below the size threshold now
        self.tree.file("added/a", 10000)
        self.tree.file("fold/tiny/t", 10000)  # above the threshold now, its earlier figure unknown

    def tearDown(self):
        shutil.rmtree(self.reports)
        super().tearDown()

    def compared(self, *args):
        result = run(list(args) + self.SETTINGS + ["-compare=" + native_path(self.earlier), self.start])
        self.assertEqual(result.code, 0, result.err)
        return result.out

    # (path below the start folder, growth field of the comma report)
    EXPECTED = [("", "12288"), ("added", "new"), ("deep", "8192"), ("deep" + SEP + "x ...", "8192"),
                ("fold", "12288"), ("fold" + SEP + "tiny", ""), ("grow", "28672"),
                ("keep ...", "-12288"), ("shrink", "-16384")]
    FOOTER = "Growth since the report of %s; gone since then: 3 folders, 24 KB"

    def test_comma_report_gives_every_growth_figure(self):
        rows = comma_rows(self.compared("-comma"))
        self.assertEqual(rows[0], ["Total with subfolders", "Wasted space", "Without subfolders", "Files",
                                   "Growth", "Folder name"])
        base = self.start + SEP
        self.assertEqual([(row[5][len(base):], row[4]) for row in rows[1:]], self.EXPECTED)

    def test_tab_report_aligns_the_growth_field(self):
        rows = [line.split(b"\t") for line in self.compared("-tab", "-noheader").splitlines() if b"\t" in line]
        self.assertEqual([row[4] for row in rows], [growth.rjust(14).encode() for _, growth in self.EXPECTED])

    def test_json_report_gives_growth_gone_and_the_earlier_report(self):
        document = json.loads(self.compared("-json", "-sort=growth"))
        with open(self.earlier) as handle:
            earlier = json.load(handle)
        self.assertEqual(document["comparedWith"], {"created": earlier["created"], "path": self.start})
        self.assertEqual(document["gone"], {"folders": 3, "bytes": 24576, "list": [
            {"path": "gone", "bytes": 16384, "files": 2}, {"path": "mover", "bytes": 8192, "files": 1}]})
        children = [(c["name"], c["growth"]) for c in document["root"]["children"]]
        # Largest growth first; a new folder counts its whole total (16384).
        self.assertEqual(children, [("grow", 28672), ("added", "new"), ("fold", 12288), ("deep", 8192),
                                    ("keep", -12288), ("shrink", -16384)])
        fold = document["root"]["children"][2]
        # Its earlier figure was folded into its folder then.
        self.assertEqual((fold["children"][0]["name"], fold["children"][0]["growth"]), ("tiny", None))

    def test_console_report_shows_the_column_the_totals_growth_and_the_footer_line(self):
        with open(self.earlier) as handle:
            created = json.load(handle)["created"]
        lines = self.compared("-c-", "-nostats").decode("latin-1").splitlines()
        self.assertEqual(lines[2], "Total + subs    Wstd   Files          Growth  Folder name   [Without subfolders]")
        # The growth column and the tree, without the own size in brackets.
        shown = [re.sub(r"  ( \[.*\])?$", "", line[30:]) for line in lines[4:13]]
        self.assertEqual(shown, ["        +12 KB  " + self.start, "           new  |--added",
                                 "         +8 KB  |--deep", "         +8 KB  |  +--x ...",
                                 "        +12 KB  |--fold", "                |  +--tiny",
                                 "        +28 KB  |--grow", "        -12 KB  |--keep ...",
                                 "        -16 KB  +--shrink"])
        self.assertEqual(lines[14][30:46], "        +12 KB  ")
        self.assertEqual(lines[16:19], [self.FOOTER % created, "  gone: gone  16 KB", "  gone: mover  8 KB"])

    def test_html_report_shows_the_column_and_the_footer_line(self):
        with open(self.earlier) as handle:
            created = json.load(handle)["created"]
        html = self.compared("-html", "-sort=growth").decode("latin-1")
        self.assertIn("    <th>File count</th>\n    <th>Growth</th>\n", html.replace("\r\n", "\n"))
        rows = [line for line in html.splitlines() if line.startswith("<tr><td>")]
        self.assertEqual([row.split("</td><td")[3] for row in rows[:3]], [">+12 KB", ">+28 KB", ">new"])
        self.assertIn("</table>\n<p>" + self.FOOTER % created + "</p>\n", html.replace("\r\n", "\n"))

    def test_sort_by_growth_without_a_comparison_orders_by_total(self):
        by_growth, by_total = (run(["-comma", "-noheader", sort] + self.SETTINGS + [self.start]).out
                               for sort in ("-sort=growth", "-sort=total"))
        self.assertEqual(by_growth, by_total)

    def test_compare_with_a_colon_in_the_environment_variable(self):
        result = run(["-comma"] + self.SETTINGS + [self.start],
                     env={"TALLYFOLD": "-compare:" + native_path(self.earlier)})
        self.assertEqual(result.code, 0, result.err)
        self.assertEqual([row[4] for row in comma_rows(result.out)[1:]], [g for _, g in self.EXPECTED])


def report_text(start, **changes):
    """A minimal report of `start` with default settings and -cl=4096."""
    report = {"program": "tallyfold", "version": "5.0", "created": "2026-11-07T10:00:00+01:00",
              "path": start, "clusterSize": 4096, "dirMode": False, "includeOffline": True,
              "root": {"name": start, "total": 4096, "own": 4096, "wasted": 0, "files": 0, "folded": False}}
    report.update(changes)
    return json.dumps(report)


class Refusals(TestCase):
    def test_each_refusal_says_why_and_makes_no_report(self):
        start = native_path(self.tree.path())
        reports = tempfile.mkdtemp(prefix="tf-reports-")
        deep_folders = '{"program":"tallyfold","root":' + '{"name":"a","total":1,"children":[' * 100000
        cases = [
            ("missing.json", None, "Cannot read the earlier report %s: "),
            ("folder", "", "Cannot read the earlier report %s: it is a folder"),
            ("text.json", "hello", "The earlier report %s is not JSON (syntax error at byte 1)"),
            ("array.json", "[1, 2]", "The earlier report %s is not a report of Tallyfold"),
            ("other.json", report_text(start, program="other"), "The earlier report %s is not a report of Tallyfold"),
            ("nototal.json", report_text(start, root={"name": start}), "The earlier report %s is not a report of Tallyfold"),
            ("deep.json", "[" * 100000 + "]" * 100000, "The earlier report %s is not a report of Tallyfold"),
            ("deepfolders.json", deep_folders + "]}" * 100000 + "}", "The earlier report %s is not a report of Tallyfold"),
            ("cut.json", report_text(start)[:-20], "The earlier report %s is cut short"),
            ("path.json", report_text(start + "x"), "The earlier report %s is of " + start + "x, not of " + start),
            ("cluster.json", report_text(start, clusterSize=512),
             "The earlier report %s was counted with a cluster size of 512: give -cl=512 to compare with it"),
            ("dir.json", report_text(start, dirMode=True),
             "The earlier report %s counted plain file sizes: give -dir to compare with it"),
            ("offline.json", report_text(start, includeOffline=False),
             "The earlier report %s ignored the sizes of offline files: give -nooffline to compare with it"),
            ("links.json", report_text(start, links=True), "The earlier report %s counted a file with several "
             "hard links under every name: give -links to compare with it"),
            ("mounts.json", report_text(start, mounts=True),
             "The earlier report %s entered other mounted file systems: give -mounts to compare with it"),
            ("exclude.json", report_text(start, exclude=["node_modules", ".git"]), "The earlier report %s left out "
             "the folders of -exclude=node_modules -exclude=.git: give the same -exclude= to compare with it"),
            # A plain earlier report, compared by a run with the option.
            ("plain-links.json", report_text(start), "The earlier report %s counted a file with several hard links "
             "once: leave out -links to compare with it", ["-links"]),
            ("plain-mounts.json", report_text(start), "The earlier report %s did not enter other mounted file "
             "systems: leave out -mounts to compare with it", ["-mounts"]),
            ("plain-exclude.json", report_text(start), "The earlier report %s left out no folders: leave out "
             "-exclude= to compare with it", ["-exclude=node_modules"]),
        ]
        try:
            for name, content, message, *words in cases:
                with self.subTest(name):
                    path = os.path.join(reports, name)
                    if content == "":
                        os.mkdir(path)
                    elif content is not None:
                        with open(path, "w") as handle:
                            handle.write(content)
                    result = run(["-json", "-cl=4096"] + sum(words, []) + ["-compare=" + native_path(path), start])
                    self.assertEqual((result.code, result.out), (1, b""))
                    errors = [l for l in result.err.decode("latin-1").splitlines() if not l.startswith("wine:")]
                    self.assertTrue(errors[-1].startswith(message % native_path(path)), errors)
        finally:
            shutil.rmtree(reports)

    def test_the_same_report_compares_with_no_growth(self):
        start = native_path(self.tree.path())
        with tempfile.TemporaryDirectory() as reports:
            path = os.path.join(reports, "same.json")
            with open(path, "wb") as handle:
                handle.write(run(["-json", "-cl=4096", start]).out)
            # The same folder by another path.
            other = start + SEP + ".." + SEP + os.path.basename(self.tree.path())
            result = run(["-comma", "-noheader", "-cl=4096", "-compare=" + native_path(path), other])
            self.assertEqual((result.code, [row[4] for row in comma_rows(result.out)]), (0, ["0"]))

    @unittest.skipIf(ON_WINE, "Windows names are UTF-16")
    def test_a_start_path_that_is_not_utf8_compares_by_its_bytes(self):
        start = os.path.join(self.tree.root.encode(), b"bad\xffname")
        os.mkdir(start)
        with tempfile.TemporaryDirectory() as reports:
            path = os.path.join(reports, "bad.json")
            with open(path, "wb") as handle:
                handle.write(run([b"-json", start]).out)
            result = run([b"-comma", b"-noheader", b"-compare=" + path.encode(), start])
        self.assertEqual((result.code, result.out.split(b",")[4]), (0, b"0"))

    def test_hand_edited_totals_at_the_limit_hold(self):
        start = native_path(self.tree.path())
        limit = 2**63 - 1
        gone = [{"name": name, "total": limit} for name in ("a", "b")]
        with tempfile.TemporaryDirectory() as reports:
            path = os.path.join(reports, "edited.json")
            with open(path, "w") as handle:
                handle.write(report_text(start, root={"name": start, "total": limit, "children": gone}))
            result = run(["-json", "-cl=4096", "-compare=" + native_path(path), start])
        document = json.loads(result.out)
        self.assertEqual((document["root"]["growth"], document["gone"]),
                         (4096 - limit, {"folders": 2, "bytes": limit, "list": [
                             {"path": "a", "bytes": limit, "files": 0}, {"path": "b", "bytes": limit, "files": 0}]}))


@unittest.skipIf(ON_WINE, "permissions mean nothing to Wine's root")
class Unreadable(TestCase):
    """A folder that nobody may read, scanned as nobody: marked on its line
    and in JSON, counted, exit code 2, and no growth in a comparison."""

    def test_an_unreadable_folder_is_never_silent(self):
        self.tree.file("locked/inner/f", 10000)
        self.tree.file("open/f", 5000)
        start = self.tree.path()
        reports = tempfile.mkdtemp(prefix="tf-reports-")
        os.chmod(reports, 0o755)
        self.addCleanup(shutil.rmtree, reports)
        earlier = os.path.join(reports, "earlier.json")
        with open(earlier, "wb") as handle:
            handle.write(run(["-json", "-cl=4096", start]).out)
        os.chmod(self.tree.path("locked"), 0)
        try:
            self.check_unreadable(start, earlier, os.path.join(reports, "saved.json"))
        finally:
            os.chmod(self.tree.path("locked"), 0o755)

    def check_unreadable(self, start, earlier, saved):
        def as_nobody(*words):
            result = run(["-cl=4096", "-nostats"] + list(words) + [start], unprivileged=True)
            self.assertEqual(result.code, 2, result.err)
            return result.out.decode()

        with open(saved, "w") as handle:
            handle.write(as_nobody("-json"))
        with open(saved) as handle:
            document = json.load(handle)
        self.assertEqual(document["totals"]["unreadable"], 1)
        self.assertEqual([(c["name"], c.get("unreadable")) for c in document["root"]["children"]],
                         [("locked", True), ("open", None)])
        self.assertIn("|--locked (unreadable)  \n", as_nobody("-c-"))
        self.assertIn("|--locked (unreadable)</td>", as_nobody("-html"))
        loaded = run(["-c-", "-load=" + saved])
        self.assertEqual(loaded.code, 0, loaded.err)
        self.assertIn("|--locked (unreadable)  \n", loaded.out.decode())
        compared = json.loads(as_nobody("-json", "-sort=growth", "-compare=" + earlier))
        self.assertEqual([(c["name"], c["growth"]) for c in compared["root"]["children"]],
                         [("open", 0), ("locked", "?")])
        self.assertEqual(compared["gone"]["folders"], 0)


if __name__ == "__main__":
    unittest.main()
