"""The map page (-map) opened in headless Chromium under its own
Content-Security-Policy, as a user meets it: files and folders drawn with
their figures, coloured by type, with a legend; a click zooms one level;
every view has an address; the rings show the same tree. One table of
checks over what a probe saw in the page. Linux only: the page is the same
from tallyfold.exe. Screenshots at a desktop and a phone size go to a
temporary folder (TALLYFOLD_SHOTS names another). With TALLYFOLD_MAP_PICTURE
naming a folder, the map of that folder at 1280x800 goes there too as
map-picture.png: the README's doc/map.png is the map of /usr."""
import base64
import hashlib
import html.parser
import json
import os
import re
import tempfile
import unittest
import urllib.parse

from tftest import ON_WINE, SEP, TestCase, native_path, run
from test_html_in_browser import CHROMIUM, chromium

# Runs in the page after its own script, one step at a time (each after the
# last one's redraw): records what the map shows as `views`, and writes
# them into the page for --dump-dom.
PROBE = """
(function () {
  var views = [];
  function shapes() {
    return Array.prototype.map.call(document.querySelectorAll("#map .cell, #map .arc"), function (shape) {
      var box = shape.getBoundingClientRect(), style = getComputedStyle(shape);
      var arc = shape.tagName === "path";
      return {title: arc ? shape.querySelector("title").textContent : shape.title, area: box.width * box.height,
              value: Number(shape.dataset.value), colour: arc ? style.fill : style.backgroundColor};
    });
  }
  function record() {
    var map = document.getElementById("map");
    views.push({shapes: shapes(), mapArea: map.clientWidth * map.clientHeight, hash: location.hash,
                crumbs: document.getElementById("crumbs").textContent,
                legend: Array.prototype.map.call(document.querySelectorAll("#legend span"),
                                                 function (item) { return item.textContent; })});
  }
  // The shape whose title begins with the line `first`.
  function shape(first) {
    return Array.prototype.filter.call(document.querySelectorAll("#map .cell, #map .arc"), function (shape) {
      var title = shape.tagName === "path" ? shape.querySelector("title").textContent : shape.title;
      return title.split("\\n")[0] === first;
    })[0];
  }
  var deep = %s;
  // Opened at an address, the page's first view is all the probe records.
  var steps = location.hash ? [] : [
    function () { shape(deep).dispatchEvent(new MouseEvent("click", {bubbles: true})); },
    function () { shape(deep).dispatchEvent(new MouseEvent("click", {bubbles: true})); },
    function () { history.back(); },
    function () { document.dispatchEvent(new KeyboardEvent("keydown", {key: "Escape"})); },
    function () { document.getElementById("rings").click(); },
    function () { shape(deep).dispatchEvent(new MouseEvent("click", {bubbles: true})); }
  ];
  function next() {
    record();
    if (steps.length > 0) {
      steps.shift()();
      setTimeout(next, 300);
      return;
    }
    var out = document.createElement("pre");
    out.id = "probe";
    out.textContent = JSON.stringify(views);
    document.body.appendChild(out);
  }
  setTimeout(next, 300);
})();
"""
# A name that an address must encode.
OLD = "Old #1%"
# The views the probe records, in order.
START, CLICKED, CLICKED_AGAIN, BACK, ESCAPED, RINGS, RINGS_CLICKED = range(7)


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


def with_probe(page, deep):
    """The page with the probe after its scripts, allowed by its hash."""
    probe = PROBE % json.dumps(deep).replace("<", "\\u003c")  # a path may hold "</script>"
    digest = base64.b64encode(hashlib.sha256(probe.encode()).digest()).decode()
    page = page.replace("script-src ", "script-src 'sha256-%s' " % digest, 1)
    return page.replace("</body></html>", "<script>%s</script></body></html>" % probe)


def views_of(address):
    dom = Probe()
    dom.feed(chromium("--virtual-time-budget=10000", "--window-size=1280,800", "--dump-dom", address).decode("utf-8"))
    return json.loads(dom.text)


def shots_folder():
    return os.environ.get("TALLYFOLD_SHOTS") or tempfile.mkdtemp(prefix="tf-map-shots-")


def first_lines(view):
    return sorted(shape["title"].split("\n")[0] for shape in view["shapes"])


@unittest.skipUnless(CHROMIUM and not ON_WINE, "chromium is not installed (the test command installs it)")
class MapInBrowser(TestCase):
    def test_map_of_a_tree(self):
        # A start path that would end the page's data block unescaped.
        top = "in </script> a"
        self.tree.file(top + "/Docs/a.pdf", 5 << 20)
        self.tree.file(top + "/Docs/New/c.pdf", 2 << 20)
        self.tree.file(top + "/Docs/" + OLD + "/b.pdf", 1 << 20)
        self.tree.file(top + "/Music/s.mp3", 20 << 20)
        self.tree.file(top + "/Video/v.mkv", 12 << 20)
        self.tree.file(top + "/big.iso", 6 << 20)
        for k in range(300):  # small files: a large wastage share
            self.tree.file(top + "/Mail/m%03d.eml" % k, 100)
        start = self.tree.path(top)
        # Five files listed: b.pdf and the mail are drawn as their folders' others.
        result = run(["-map", "-cl=4096", "-top=5", start])
        self.assertEqual(result.code, 0, result.err)
        page = result.out.decode("utf-8")
        # Nothing from outside the page is allowed.
        self.assertRegex(page, r"content=\"default-src 'none'; style-src 'sha256-[^']+'; "
                               r"script-src 'sha256-[^']+' 'sha256-[^']+'\"")
        shots = shots_folder()
        with open(os.path.join(shots, "map.html"), "w", encoding="utf-8") as handle:
            handle.write(page)

        def path(*names):
            return SEP.join((start,) + names)

        def address(*names):
            """The page's address of a view: each name percent-encoded."""
            return "#/" + "/".join(urllib.parse.quote(name, safe="") for name in path(*names).split(SEP) if name)

        old_rest = path("Docs", OLD) + " (1 other file)"
        probed = os.path.join(self.tree.path(), "probed.html")
        with open(probed, "w", encoding="utf-8") as handle:
            handle.write(with_probe(page, old_rest))
        seen = views_of("file://" + probed)
        opened = views_of("file://" + probed + address("Docs", OLD))

        def folder(where, total, own, files, wastage):
            return "\n".join([where, "Total: " + total, "Own size: " + own, "Files: " + files, "Wastage: " + wastage])

        def file(where, size, kind):
            return "\n".join([where, "Size: " + size, "Type: " + kind])

        def titles(view):
            return sorted(shape["title"] for shape in view["shapes"])

        def colour_of(view, first):
            return [shape["colour"] for shape in view["shapes"] if shape["title"].split("\n")[0] == first][0]

        start_titles = sorted([
            folder(path("Docs"), "8.0 MB", "5.0 MB", "1", "4 KB (0%)"),
            file(path("Docs", "a.pdf"), "5.0 MB", "pdf"),
            folder(path("Docs", "New"), "2.0 MB", "2.0 MB", "1", "4 KB (0%)"),
            file(path("Docs", "New", "c.pdf"), "2.0 MB", "pdf"),
            folder(path("Docs", OLD), "1.0 MB", "1.0 MB", "1", "4 KB (0%)"),
            old_rest + "\nTotal: 1.0 MB",
            folder(path("Mail"), "1.2 MB", "1.2 MB", "300", "1.1 MB (97%)"),
            path("Mail") + " (300 other files)\nTotal: 1.2 MB",
            folder(path("Music"), "20.0 MB", "20.0 MB", "1", "4 KB (0%)"),
            file(path("Music", "s.mp3"), "20.0 MB", "mp3"),
            folder(path("Video"), "12.0 MB", "12.0 MB", "1", "4 KB (0%)"),
            file(path("Video", "v.mkv"), "12.0 MB", "mkv"),
            file(path("big.iso"), "6.0 MB", "iso")])

        def areas_follow_bytes(view):
            # The start folder's folders and files share the whole map by their bytes.
            top = [shape for shape in view["shapes"] if shape["title"].split("\n")[0].count(SEP) == start.count(SEP) + 1
                   and " other file" not in shape["title"]]
            grand = sum(shape["value"] for shape in top)
            for shape in top:
                share = shape["value"] / grand
                self.assertAlmostEqual(shape["area"] / view["mapArea"], share, delta=share / 100, msg=shape["title"])

        def colours_by_type(view):
            pdfs = {colour_of(view, path("Docs", "a.pdf")), colour_of(view, path("Docs", "New", "c.pdf"))}
            self.assertEqual(len(pdfs), 1)
            kinds = [colour_of(view, where) for where in (path("Docs", "a.pdf"), path("Music", "s.mp3"),
                                                          path("Video", "v.mkv"), path("big.iso"))]
            self.assertEqual(len(set(kinds)), 4, kinds)
            # Folders are outlines.
            self.assertEqual(colour_of(view, path("Docs")), "rgba(0, 0, 0, 0)")

        checks = [
            ("the files and folders of the start folder, with their figures",
             lambda: self.assertEqual(titles(seen[START]), start_titles)),
            ("areas true to bytes", lambda: areas_follow_bytes(seen[START])),
            ("a colour per type; folders as outlines", lambda: colours_by_type(seen[START])),
            ("the legend lists the types by bytes with their shares",
             lambda: self.assertEqual(seen[START]["legend"], [
                 "mp3 20.0 MB (42%)", "mkv 12.0 MB (25%)", "pdf 8.0 MB (17%)", "iso 6.0 MB (13%)",
                 "eml 1.2 MB (2%)", "folder", "other: smaller folders or files summed"])),
            ("a click deep in the map zooms one level, into Docs",
             lambda: self.assertEqual((seen[CLICKED]["crumbs"], seen[CLICKED]["hash"]),
                                      (start + "\u203aDocs (8.0 MB)", address("Docs")))),
            ("Docs shares the map among its own",
             lambda: self.assertEqual(first_lines(seen[CLICKED]), sorted([
                 path("Docs", "a.pdf"), path("Docs", "New"), path("Docs", "New", "c.pdf"), path("Docs", OLD),
                 old_rest]))),
            ("the next click one more, into Old",
             lambda: self.assertEqual(seen[CLICKED_AGAIN]["crumbs"],
                                      start + "\u203aDocs\u203a" + OLD + " (1.0 MB)")),
            ("Back goes up one", lambda: self.assertEqual(seen[BACK]["hash"], address("Docs"))),
            ("Escape goes up one", lambda: self.assertEqual(seen[ESCAPED]["crumbs"], seen[START]["crumbs"])),
            ("the address opens the page zoomed on Old",
             lambda: self.assertEqual((opened[START]["crumbs"], first_lines(opened[START])),
                                      (seen[CLICKED_AGAIN]["crumbs"], [old_rest]))),
            ("the rings show the same folders and files in the same colours",
             lambda: self.assertEqual(
                 sorted((s["title"], s["colour"]) for s in seen[RINGS]["shapes"] if "other file" not in s["title"]),
                 sorted([(s["title"], s["colour"]) for s in seen[START]["shapes"] if "other file" not in s["title"]] +
                        [(seen[RINGS]["shapes"][0]["title"], "rgb(255, 255, 255)")]))),
            ("a click on a ring zooms one level",
             lambda: self.assertEqual(seen[RINGS_CLICKED]["hash"], address("Docs"))),
        ]
        for what, check in checks:
            with self.subTest(what):
                check()

        for width, height in ((1280, 800), (390, 844)):
            shot = os.path.join(shots, "map-%dx%d.png" % (width, height))
            chromium("--virtual-time-budget=2000", "--window-size=%d,%d" % (width, height),
                     "--hide-scrollbars", "--screenshot=" + shot, "file://" + os.path.join(shots, "map.html"))
            self.assertGreater(os.path.getsize(shot), 0)

    @unittest.skipUnless(os.environ.get("TALLYFOLD_MAP_PICTURE"), "TALLYFOLD_MAP_PICTURE names no folder")
    def test_picture_of_a_folder(self):
        result = run(["-map", os.environ["TALLYFOLD_MAP_PICTURE"]])
        self.assertEqual(result.code, 0, result.err)
        page = os.path.join(self.tree.path(), "map.html")
        with open(page, "wb") as handle:
            handle.write(result.out)
        shot = os.path.join(shots_folder(), "map-picture.png")
        chromium("--virtual-time-budget=5000", "--window-size=1280,800", "--hide-scrollbars",
                 "--screenshot=" + shot, "file://" + page)
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
