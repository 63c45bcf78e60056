"""An HTML report opened in a real browser (headless Chromium): the DOM it
builds has one row per folder, the expected cells, and the odd names as
text, not markup."""
import html.parser
import os
import shutil
import subprocess
import tempfile
import unittest

from tftest import ON_WINE, TestCase, native_path, run

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")


def chromium(*arguments):
    """Runs headless Chromium with a fresh profile; returns its standard output."""
    profile = tempfile.mkdtemp(prefix="tf-chromium-")
    try:
        return subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile] + list(arguments),
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
            timeout=120, check=True).stdout
    finally:
        shutil.rmtree(profile, ignore_errors=True)


class Tables(html.parser.HTMLParser):
    """The DOM's tables as rows of (tag, class, text) cells, and every tag met."""

    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.tables = []  # (class, rows)
        self.tags = []
        self._cell = None

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        attrs = dict(attrs)
        if tag == "table":
            self.tables.append((attrs.get("class"), []))
        elif tag == "tr" and self.tables:
            self.tables[-1][1].append([])
        elif tag in ("td", "th") and self.tables:
            self._cell = [tag, attrs.get("class"), ""]
            self.tables[-1][1][-1].append(self._cell)

    def handle_endtag(self, tag):
        if tag in ("td", "th"):
            self._cell = None

    def handle_data(self, data):
        if self._cell is not None:
            self._cell[2] += data

    def table(self, css_class):
        return [rows for name, rows in self.tables if name == css_class]


@unittest.skipUnless(CHROMIUM, "chromium is not installed (the test command installs it)")
class HtmlInBrowser(TestCase):
    def test_dom_of_a_report(self):
        # Windows names cannot hold <, > or ": there an entity-like name
        # shows that & is escaped.
        odd = "a&amp;b" if ON_WINE else '<b>x&"q"'
        self.tree.file("Docs/Old/f", 1 << 20)
        self.tree.file("Docs/f", 5 << 20)
        self.tree.file("Music/f", 20 << 20)
        self.tree.file(odd + "/f", 10)
        start = native_path(self.tree.path())
        result = run(["-html", "-c+", "-cl=4096", start])
        self.assertEqual(result.code, 0, result.err)
        page = os.path.join(self.tree.path(), "report.html")
        with open(page, "wb") as handle:
            handle.write(result.out)

        dom = Tables()
        dom.feed(chromium("--dump-dom", "file://" + page).decode("utf-8"))

        report, = dom.table("report")
        titles, *folders, totals = report
        self.assertEqual([(tag, text) for tag, _, text in titles],
                         [("th", "Total with subfolders"), ("th", "% Wasted"), ("th", "File count"),
                          ("th", "Folder name [Without subfolders]")])
        # One row per folder, four cells each, the tree in the "l" cell.
        self.assertEqual([[tag for tag, _, _ in row] for row in folders], [["td"] * 4] * 5)
        self.assertEqual([row[3][1] for row in folders], ["l"] * 5)
        self.assertEqual([row[3][2] for row in folders], [
            "  " + start + "   [4 KB]",
            "  \u251c\u2500\u2500" + odd,
            "  \u251c\u2500\u2500Docs   [5.0 MB]",
            "  \u2502  \u2514\u2500\u2500Old",
            "  \u2514\u2500\u2500Music"])
        self.assertEqual([row[0][2] for row in folders], ["26.0 MB", "8 KB", "6.0 MB", "1.0 MB", "20.0 MB"])
        self.assertEqual([(cls, text) for _, cls, text in totals][:3],
                         [("totals", "26.0 MB"), ("totals", "  0%"), ("totals", "4")])
        self.assertEqual(len(totals), 4)
        self.assertTrue(totals[3][2].startswith("Cluster size: 4 KB Wastage: "))
        # The odd name is text: no element came out of it.
        self.assertNotIn("b", dom.tags)
        summary, = dom.table("summary")
        self.assertEqual([row[0][2] for row in summary],
                         ["Cluster size:", "Free space:", "Used space: ", "Capacity: "])


if __name__ == "__main__":
    unittest.main()
