"""The map page (-map) opened in headless Chromium under its own
Content-Security-Policy: the rectangles its script draws carry each folder's
figures, their areas follow the totals, and a click zooms in and the
breadcrumb leads back. Screenshots of the page at a desktop and a phone size
go to a temporary folder (TALLYFOLD_SHOTS names another)."""
import base64
import hashlib
import html.parser
import json
import os
import re
import tempfile
import unittest

from tftest import ON_WINE, SEP, TestCase, native_path, run
from test_html_in_browser import CHROMIUM, chromium

# Runs in the page after its own script: records the rectangles, clicks
# "Docs", records again, clicks the breadcrumb's first folder, and writes
# what it saw into the page for --dump-dom.
PROBE = """
(function () {
  function cells() {
    return Array.prototype.map.call(document.querySelectorAll("#map .cell"), function (cell) {
      var box = cell.getBoundingClientRect();
      return {title: cell.title, area: box.width * box.height, value: Number(cell.dataset.value)};
    });
  }
  function crumbs() { return document.getElementById("crumbs").textContent; }
  var map = document.getElementById("map");
  var seen = {mapArea: map.clientWidth * map.clientHeight, start: cells(), startCrumbs: crumbs()};
  Array.prototype.filter.call(document.querySelectorAll("#map .cell"), function (cell) {
    return cell.title.split("\\n")[0].slice(-5) === "/Docs" || cell.title.split("\\n")[0].slice(-5) === "\\\\Docs";
  })[0].click();
  seen.zoomed = cells();
  seen.zoomedCrumbs = crumbs();
  document.querySelector("#crumbs button").click();
  setTimeout(function () {
    seen.back = cells();
    seen.backCrumbs = crumbs();
    var out = document.createElement("pre");
    out.id = "probe";
    out.textContent = JSON.stringify(seen);
    document.body.appendChild(out);
  }, 500);
})();
"""


class Probe(html.parser.HTMLParser):
    def __init__(self):
        super().__init__(convert_charrefs=True)
        self.inside = False
        self.text = ""

    def handle_starttag(self, tag, attrs):
        self.inside = tag == "pre" and ("id", "probe") in attrs

    def handle_endtag(self, tag):
        self.inside = False

    def handle_data(self, data):
        if self.inside:
            self.text += data


def with_probe(page):
    """The page with the probe after its scripts, allowed by its hash."""
    digest = base64.b64encode(hashlib.sha256(PROBE.encode()).digest()).decode()
    page = page.replace("script-src ", "script-src 'sha256-%s' " % digest, 1)
    return page.replace("</body></html>", "<script>%s</script></body></html>" % PROBE)


@unittest.skipUnless(CHROMIUM, "chromium is not installed (the test command installs it)")
class MapInBrowser(TestCase):
    def test_map_of_a_tree(self):
        # A start path that would end the page's data block unescaped (a
        # Windows name holds neither "<" nor "/").
        top = "in a" if ON_WINE else "in </script> a"
        self.tree.file(top + "/Docs/Old/f", 1 << 20)
        self.tree.file(top + "/Docs/New/f", 2 << 20)
        self.tree.file(top + "/Docs/f", 5 << 20)
        self.tree.file(top + "/Music/f", 20 << 20)
        self.tree.file(top + "/Video/f", 12 << 20)
        for k in range(300):  # small files: a large wastage share
            self.tree.file(top + "/Mail/m%03d" % k, 100)
        start = native_path(self.tree.path(top))
        result = run(["-map", "-cl=4096", start])
        self.assertEqual(result.code, 0, result.err)
        page = result.out.decode("utf-8")
        # Nothing from outside the page is allowed.
        self.assertRegex(page, r"content=\"default-src 'none'; style-src 'sha256-[^']+'; "
                               r"script-src 'sha256-[^']+' 'sha256-[^']+'\"")
        shots = os.environ.get("TALLYFOLD_SHOTS") or tempfile.mkdtemp(prefix="tf-map-shots-")
        with open(os.path.join(shots, "map.html"), "w", encoding="utf-8") as handle:
            handle.write(page)
        probed = os.path.join(self.tree.path(), "probed.html")
        with open(probed, "w", encoding="utf-8") as handle:
            handle.write(with_probe(page))

        dom = Probe()
        dom.feed(chromium("--virtual-time-budget=5000", "--window-size=1280,800", "--dump-dom",
                          "file://" + probed).decode("utf-8"))
        seen = json.loads(dom.text)

        def path(*names):
            return SEP.join((start,) + names)

        def title(folder, total, own, files, wastage):
            return "\n".join([folder, "Total: " + total, "Own size: " + own, "Files: " + files,
                              "Wastage: " + wastage])

        self.assertEqual(sorted(cell["title"] for cell in seen["start"]), sorted([
            title(path("Docs"), "8.0 MB", "5.0 MB", "1", "4 KB (0%)"),
            title(path("Docs", "New"), "2.0 MB", "2.0 MB", "1", "4 KB (0%)"),
            title(path("Docs", "Old"), "1.0 MB", "1.0 MB", "1", "4 KB (0%)"),
            title(path("Mail"), "1.2 MB", "1.2 MB", "300", "1.1 MB (97%)"),
            title(path("Music"), "20.0 MB", "20.0 MB", "1", "4 KB (0%)"),
            title(path("Video"), "12.0 MB", "12.0 MB", "1", "4 KB (0%)")]))
        # The start folder's subfolders share the whole map by their totals.
        grand = sum(cell["value"] for cell in seen["start"] if cell["title"].count(SEP) == path().count(SEP) + 1)
        for cell in seen["start"]:
            if cell["title"].count(SEP) == path().count(SEP) + 1:
                share = cell["value"] / grand
                self.assertAlmostEqual(cell["area"] / seen["mapArea"], share, delta=share / 100)
        # A click on Docs gives it the map: its subfolders by their share of it.
        zoomed = {cell["title"].split("\n")[0]: cell["area"] for cell in seen["zoomed"]}
        self.assertEqual(sorted(zoomed), [path("Docs", "New"), path("Docs", "Old")])
        self.assertAlmostEqual(zoomed[path("Docs", "New")] / seen["mapArea"], 2 / 8.0, delta=0.0025)
        self.assertAlmostEqual(zoomed[path("Docs", "Old")] / seen["mapArea"], 1 / 8.0, delta=0.00125)
        self.assertEqual(seen["zoomedCrumbs"], start + "\u203aDocs (8.0 MB)")
        # The breadcrumb leads back to the start folder.
        self.assertEqual(seen["backCrumbs"], seen["startCrumbs"])
        self.assertEqual(seen["back"], seen["start"])

        for width, height in ((1280, 800), (390, 844)):
            shot = os.path.join(shots, "map-%dx%d.png" % (width, height))
            chromium("--virtual-time-budget=2000", "--window-size=%d,%d" % (width, height),
                     "--hide-scrollbars", "--screenshot=" + shot, "file://" + os.path.join(shots, "map.html"))
            self.assertGreater(os.path.getsize(shot), 0)


class MapOfALoadedReport(TestCase):
    def test_a_wastage_of_the_largest_figure_is_the_whole_share(self):
        saved = os.path.join(self.tree.path(), "saved.json")
        with open(saved, "w") as handle:
            json.dump({"program": "tallyfold", "created": "2026-11-07T10:00:00+01:00", "path": SEP + "r",
                       "clusterSize": 4096, "dirMode": False, "includeOffline": True,
                       "root": {"name": SEP + "r", "total": 8192, "wasted": 2 ** 63 - 1}}, handle)
        result = run(["-map", "-load=" + native_path(saved)])
        self.assertEqual(result.code, 0, result.err)
        data = re.search(r'id="tree">(.*?)</script>', result.out.decode("utf-8")).group(1)
        self.assertIn('"r":1.000', data)


if __name__ == "__main__":
    unittest.main()
