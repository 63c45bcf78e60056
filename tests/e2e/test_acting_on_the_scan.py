"""The keys of the browser that act on the disk, in a real terminal (see
test_terminal): each reaches only what the scan saw and refuses what no
removal may take; text from an earlier report reaches the terminal masked."""
import json
import os
import subprocess
import unittest

import tftest
from tftest import ON_WINE, native_path
from test_terminal import Terminal, TerminalCase


def bind_mount(test, source, target):
    subprocess.run(["mount", "--bind", source, target], check=True, capture_output=True)
    test.mounted.append(target)


def unmount_all(test):
    """Before the tree goes: its removal must not pass through a mount."""
    while test.mounted:
        subprocess.run(["umount", "-l", test.mounted.pop()], capture_output=True)


def swap_start_for_link(test, t):
    os.rename(t.path("t"), t.path("t.old"))
    os.symlink(t.path("victim"), t.path("t"))


# The bar's text after a removal that leaves the start folder's line as a
# fresh scan gives it.
FRESH = "the start folder's line of a fresh scan"


@unittest.skipIf(ON_WINE, "Linux links and mounts")
class ActingOnWhatTheScanSaw(TerminalCase):
    """Each key that acts on the disk reaches only what the scan saw, and
    refuses what no removal may take, whatever happened since the scan. Each
    row: the files of the tree (the start folder is t; "name=other": a hard
    link to other, made before), folders bind-mounted
    before the scan, the options, settings and keys from the start of
    navigation to the item, what changes on the disk after the scan, the keys of the
    action, the bar's text after it (None: the removal went through), and
    the paths that must stay and go."""

    ROWS = [
        ("the start folder swapped for a link: the scanned one's folder goes",
         ["t/b/f", "victim/b/f"], [], ["Down"], swap_start_for_link, ["x", "y"], None,
         ["victim/b/f"], ["t.old/b"]),
        ("a folder on the way bind-mounted over: nothing goes",
         ["t/a/precious/f", "bindsrc/precious/f"], [], ["Down", "Enter"],
         lambda test, t: bind_mount(test, t.path("bindsrc"), t.path("t/a")), ["x"],
         "Changed since the scan: {t}/a; R reads it again", ["bindsrc/precious/f", "t/a/precious/f"], []),
        ("R on a folder bind-mounted over names the mount, as the scan does",
         ["t/a/f", "bindsrc/g"], [], ["Down"],
         lambda test, t: bind_mount(test, t.path("bindsrc"), t.path("t/a")), ["r"],
         "Not scanned: {t}/a/ (another file system; -mounts scans it)", ["bindsrc/g"], []),
        ("a folder that holds a mount point stays out of the trash",
         ["t/x/bm/", "bindsrc/g"], [("bindsrc", "t/x/bm")], ["Down"], None, ["x", "y"],
         "Holds a mount point: {t}/x; left alone", ["t/x/bm/g", "bindsrc/g"], []),
        ("the home trash's info/ is refused",
         ["t/Trash/files/", "t/Trash/info/i.trashinfo"], [], ["Down", "Enter", "Down"], None, ["x", "y"],
         "This is the trash; empty it from the desktop", ["t/Trash/info/i.trashinfo"], []),
        ("a trash inside the tree grows by what moved into it",
         ["t/big/f:2900000", "t/Trash/files/", "t/Trash/info/"], [], ["Down"], None, ["x", "y"], FRESH, [],
         ["t/big"]),
        ("the question counts the folders left out of the scan",
         ["t/proj/f", "t/proj/node_modules/big:3000000"], [], ["-exclude=node_modules", "Down"], None, ["x"],
         "Move {t}/proj (2.9 MB, 2 files) to the trash? y/N", ["t/proj/node_modules/big"], []),
        ("a linked file counts at its other name once the counted one went",
         ["t/a/f:4800000", "t/b/g=t/a/f", "data/"], [], ["XDG_DATA_HOME=data", "Down"], None, ["x", "y"], FRESH,
         ["t/b/g"], ["t/a"]),
        ("R on a folder that holds a linked file counted elsewhere counts it once",
         ["t/a/f:4800000", "t/b/g=t/a/f"], [], ["Down", "Down"], None, ["r"], FRESH, ["t/b/g"], []),
    ]

    def setUp(self):
        super().setUp()
        self.mounted = []
        if os.geteuid() != 0:
            self.skipTest("bind mounts need root")

    def tearDown(self):
        unmount_all(self)
        super().tearDown()

    def test_every_action_reaches_only_what_the_scan_saw(self):
        for what, files, mounts, to_item, change, action, bar, stays, goes in self.ROWS:
            with self.subTest(what):
                unmount_all(self)
                self.tree.remove()
                self.tree = t = tftest.Tree()
                self.terminal.close()
                self.terminal = Terminal()
                self.addCleanup(self.terminal.close)
                for name in files:
                    name, _, linked = name.partition("=")
                    name, size = (name.split(":") + ["10"])[:2]
                    if linked:
                        os.makedirs(os.path.dirname(t.path(name)), exist_ok=True)
                        os.link(t.path(linked), t.path(name))
                    else:
                        t.folder(name) if name.endswith("/") else t.file(name, int(size))
                for source, target in mounts:
                    bind_mount(self, t.path(source), t.folder(target))
                # The trash is that of the tree's file system; a row may scan it,
                # or name another folder of the tree for it ("NAME=folder").
                options = [key for key in to_item if key.startswith("-")]
                settings = [key.split("=")[0] + "=" + t.path(key.split("=")[1]) for key in to_item
                            if "=" in key and not key.startswith("-")]
                self.terminal.run_program(options + [t.path("t")], env=settings or ["XDG_DATA_HOME=" + t.path("t")])
                self.terminal.keys("n", *[key for key in to_item if not key.startswith("-") and "=" not in key])
                if change:
                    change(self, t)
                self.terminal.keys(action[0])
                for key in action[1:]:
                    self.terminal.wait_for(lambda rows: any(row.endswith("y/N") for row in rows), "the question")
                    self.terminal.keys(key)
                if bar == FRESH:
                    for name in goes:
                        self.terminal.wait_for(lambda rows: not os.path.exists(t.path(name)), name + " gone")
                    fresh = tftest.run(["-c+", t.path("t")]).out.decode().split("\n")
                    line = next(row.rstrip() for row in fresh if t.path("t") + "   [" in row)
                    self.terminal.wait_for(lambda rows: line in [row.rstrip() for row in rows], line)
                elif bar:
                    text = bar.format(t=t.path("t"))
                    self.terminal.wait_for(lambda rows: any(row.startswith(text) for row in rows), text)
                for name in goes:
                    self.terminal.wait_for(lambda rows: not os.path.exists(t.path(name)), name + " gone")
                for name in stays:
                    self.assertTrue(os.path.exists(t.path(name)), name)
                if bar and bar.endswith("y/N"):
                    self.terminal.keys("n")
                self.terminal.keys("q")
                self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")


class ReportTextOnTheTerminal(TerminalCase):
    """Text an earlier report holds (a gone folder's name, its creation
    time) reaches the terminal masked, as every name does."""

    def test_the_comparison_footer_masks_control_characters(self):
        self.tree.file("kept/f", 10)
        start = native_path(self.tree.path())
        earlier = os.path.join(self.tree.path(), "earlier.json")
        with open(earlier, "w") as handle:
            json.dump({"program": "tallyfold", "created": "2026\x1b]52;c;SGVsbG8=\x07", "path": start,
                       "clusterSize": 4096, "dirMode": False, "includeOffline": True,
                       "root": {"name": start, "total": 9000,
                                "children": [{"name": "evil\x1b[31mRED", "total": 5000}]}}, handle)
        self.terminal.run_program(["-compare=" + native_path(earlier), start])
        shown = lambda rows: any("report of 2026?]52;c;SGVsbG8=?;" in row for row in rows) and \
            any(row.startswith("  gone: ") and "evil?[31mRED" in row for row in rows)
        self.terminal.wait_for(shown, "the footer's lines masked")
        self.terminal.keys("q")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")


if __name__ == "__main__":
    unittest.main()
