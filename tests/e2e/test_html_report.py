"""The HTML report of a real tree, byte for byte, with what belongs to the
machine masked: the date, the drive's name and label, the drive figures."""
import os
import re
import unittest

import test_delimited_reports as delimited
from tftest import BIN, EOL, ON_WINE, SEP, TestCase, lines, native_path, run

_DATE = re.compile(rb"(report, created at )[^<\r\n]*(</p>)")
_DRIVE = re.compile(rb"(<h2>Statistics for Drive )[^<\r\n]*<i>[^<\r\n]*(</i></h2>)")
_FIGURE = re.compile(rb"((?:Cluster size:|Free space:|Used space: |Capacity: )</td><td>)[^<\r\n]*(</td>)")


def mask(output):
    output = _DATE.sub(rb"\1<date>\2", output)
    output = _DRIVE.sub(rb"\1<drive>\2", output)
    return _FIGURE.sub(rb"\1<figure>\2", output)


def escape(text):
    """HTML text as the report escapes it."""
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;").replace('"', "&quot;")


def build_settings():
    """The addresses and copyright line this program was built with: from
    the generated header beside it in the build tree, else the defaults."""
    settings = {"TALLYFOLD_MAKER_URL": "https://www.quenlow.example/",
                "TALLYFOLD_PRODUCT_URL": "https://www.quenlow.example/tallyfold/",
                "TALLYFOLD_COPYRIGHT": "Copyright (c) 1997-2026 Quenlow",
                "TALLYFOLD_MAKER": "Quenlow"}
    header = os.path.join(os.path.dirname(os.path.abspath(BIN)), "generated", "build_settings.h")
    if os.path.exists(header):
        with open(header) as handle:
            for name, value in re.findall(r'#define (\w+) "(.*)"', handle.read()):
                settings[name] = value
    return settings


def head():
    folder = native_path(os.path.dirname(os.path.abspath(BIN))) + SEP
    return ['<html><head><meta http-equiv="Content-Type" content="text/html; charset=utf-8">',
            '<link rel="stylesheet" type="text/css" href="' + escape(folder) + 'tf_style.css">']


def top(arguments):
    s = build_settings()
    # The maker's name in the default copyright line links to its home page.
    paragraph = '<p>Copyright (c) 1997-2026 <a href="' + escape(s["TALLYFOLD_MAKER_URL"]) + '">Quenlow</a></p>'
    program = native_path(os.path.abspath(BIN))
    return head() + [
        "<h1>Tallyfold v5.0 Report</h1>",
        paragraph,
        "",
        '<p><a href="' + escape(s["TALLYFOLD_PRODUCT_URL"]) + '">Tallyfold</a>',
        "report, created at <date></p>",
        "<p>Parameters: <tt>" + escape(" ".join([program] + arguments)) + " </tt></p>"]


STATISTICS = [
    "",
    "<h2>Statistics for Drive <drive></i></h2>",
    '<table class="summary"><tr><td>Cluster size:</td><td><figure></td></tr>',
    "<tr><td>Free space:</td><td><figure></td></tr>",
    "<tr><td>Used space: </td><td><figure></td></tr>",
    "<tr><td>Capacity: </td><td><figure></td></tr></table>"]


class HtmlReport(TestCase):
    def setUp(self):
        super().setUp()
        delimited.make_sample(self.tree)
        self.start = native_path(self.tree.path())
        self.name = escape(self.start)

    def report(self, *switches):
        arguments = ["-html", "-cl=4096"] + list(switches) + [self.start]
        result = run(arguments)
        self.assertEqual(result.code, 0, result.err)
        return mask(result.out), top(arguments)

    def test_default_settings(self):
        out, start = self.report()
        self.assertOutput(out, lines(*start,
            '<table class="report">',
            "<tr><th>Total with subfolders</th>",
            "    <th>% Wasted</th>",
            "    <th>File count</th>",
            "    <th>Folder name [Without subfolders]</th>",
            "</tr>",
            "",
            '<tr><td>36 KB</td><td> 42%</td><td>1</td><td class="l">  ' + self.name + "   [12 KB]</td></tr>",
            '<tr><td>12 KB</td><td> 98%</td><td>1</td><td class="l">  |--a   [8 KB]</td></tr>',
            '<tr><td>4 KB</td><td> 98%</td><td>0</td><td class="l">  |  +--b</td></tr>',
            '<tr><td>12 KB</td><td> 33%</td><td>1</td><td class="l">  +--c</td></tr>',
            "<tr>",
            '<td class="totals">36 KB</td><td class="totals"> 58%</td><td class="totals">3</td>'
            '<td class="totals">Cluster size: 4 KB Wastage: 21 KB</td></tr>',
            "</table>",
            *STATISTICS,
            "</body></html>"))

    def test_names_are_escaped_and_kept_whole(self):
        # Windows names cannot hold <, > or ": there an entity-like name
        # shows that & is escaped. Greek and Japanese share no ANSI code
        # page: the UTF-8 page keeps both.
        names = ["a&amp;b" if ON_WINE else '<b>x&"q"', "Ελληνικά", "日本語"]
        for name in names:
            self.tree.folder("c/" + name)
        out, _ = self.report("-nostats", "-nowaste", "-nofiles", "-nototals")
        for name in names:
            with self.subTest(name=name):
                self.assertIn(("--" + escape(name) + "</td></tr>" + EOL.decode()).encode("utf-8"), out)
        self.assertIn(escape(self.start) + " </tt></p>", out.decode("utf-8"))


class HtmlWithoutAReport(TestCase):
    def test_missing_start_folder_gives_head_and_closing_line(self):
        missing = native_path(self.tree.path("nothere"))
        result = run(["-html", missing])
        self.assertEqual(result.code, 1)
        self.assertOutput(result.out, lines(*head(), "</body></html>"))
        self.assertEqual(result.err.decode().strip().splitlines()[-1],
                         "Path was not found (invalid character or maximum path length exceeded?): "
                         + missing + SEP)


class HtmlAtDriveRoot(TestCase):
    def test_root_row_is_the_root_path_alone(self):
        result, top_path = delimited.run_at_drive_root(
            self, delimited.SAMPLE_FILES, delimited.SAMPLE_FOLDERS, ["-html", "-cl=4096", "-nostats"])
        self.assertEqual(result.code, 0, result.err)
        out = result.out
        table = out[out.index(b'<table class="report">'):]
        self.assertOutput(table, lines(
            '<table class="report">',
            "<tr><th>Total with subfolders</th>",
            "    <th>% Wasted</th>",
            "    <th>File count</th>",
            "    <th>Folder name [Without subfolders]</th>",
            "</tr>",
            "",
            # A drive root takes no cluster for its directory entries.
            '<tr><td>32 KB</td><td> 15%</td><td>1</td><td class="l">  ' + top_path + "   [8 KB]</td></tr>",
            '<tr><td>12 KB</td><td> 98%</td><td>1</td><td class="l">  |--a   [8 KB]</td></tr>',
            '<tr><td>4 KB</td><td> 98%</td><td>0</td><td class="l">  |  +--b</td></tr>',
            '<tr><td>12 KB</td><td> 33%</td><td>1</td><td class="l">  +--c</td></tr>',
            "<tr>",
            '<td class="totals">32 KB</td><td class="totals"> 53%</td><td class="totals">3</td>'
            '<td class="totals">Cluster size: 4 KB Wastage: 17 KB</td></tr>',
            "</table>",
            "</body></html>"))


if __name__ == "__main__":
    unittest.main()
