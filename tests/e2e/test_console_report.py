"""The console report of a real tree, written to a file, byte for byte."""
import unittest

from tftest import EOL, SEP, TestCase, lines, mask, native_path, run


class ConsoleReport(TestCase):
    def setUp(self):
        super().setUp()
        # Start folder: one 7000-byte file; a/ holds 1 byte and a/b/ nothing;
        # c/ holds 8192 bytes. Each folder also takes 32 bytes per entry.
        self.tree.file("f7000", 7000)
        self.tree.file("a/one", 1)
        self.tree.folder("a/b")
        self.tree.file("c/eight", 8192)
        self.start = native_path(self.tree.path())

    def test_default_report_in_a_file(self):
        result = run(["-cl=4096", self.start])
        self.assertEqual(result.code, 0)
        self.assertOutput(mask(result.out), lines(
            "Tallyfold 5.0 report, created at <date>",
            "",
            "Total + subs    Wstd   Files  Folder name   [Without subfolders]",
            "--------------  ----  ------  ----------------------------------------",
            "         36 KB   42%       1  " + self.start + "   [12 KB]",
            "         12 KB   98%       1  |--a   [8 KB]",
            "          4 KB   98%       0  |  +--b  ",
            "         12 KB   33%       1  +--c  ",
            "--------------  ----  ------  ----------------------------------------",
            "         36 KB   58%       3  Cluster size: 4 KB  Wastage: 21 KB",
            "--------------  ----  ------  ----------------------------------------",
            "",
            "Statistics for Drive <drive>",
            "   Cluster size: <figure>",
            "     Free space: <figure>",
            "     Used space: <figure>",
            "       Capacity: <figure>",
            "\f"))


if __name__ == "__main__":
    unittest.main()
