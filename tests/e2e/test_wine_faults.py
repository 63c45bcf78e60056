"""The Windows program under Wine on trees that Windows treats specially: a
folder name outside the ANSI code page, a link to a folder (which Wine shows
as a reparse point), and paths at the 255-character limit."""
import os
import unittest

from tftest import EOL, ON_WINE, TestCase, native_path, run

WINE_ONLY = unittest.skipUnless(ON_WINE, "a Windows file-system rule, tested under Wine")


def comma_rows(result):
    """The folder rows of a comma report: after the title line and the blank
    line that follows the header, up to the closing form feed."""
    body = result.out.split(EOL + EOL, 2)[2]
    return body.split(b"\f")[0].split(EOL)[:-1]


def error_lines(result):
    """Standard error without Wine's own notices (the volume lookup writes
    "wine: Read access denied for device ...")."""
    return [line for line in result.err.decode("utf-8", "replace").splitlines()
            if line and not line.startswith("wine:")]


@WINE_ONLY
class WindowsNames(TestCase):
    def test_a_folder_named_outside_the_ansi_code_page_is_read_and_counted(self):
        self.tree.file("real/f", 5000)
        self.tree.file("\u03a9mega_\u65e5\u672c/g", 3000)
        root = native_path(self.tree.path())
        result = run(["-dir", "-comma", root])
        self.assertEqual(result.code, 0)
        self.assertEqual(error_lines(result), [])
        # A redirected report is in the ANSI code page, where those letters
        # are "?"; the folder's bytes are still in every figure.
        self.assertEqual(comma_rows(result), [
            ('8000,0,0,"%s\\"' % root).encode(),
            ('5000,5000,1,"%s\\real"' % root).encode(),
            ('3000,3000,1,"%s\\?mega_??"' % root).encode(),
        ])

    def test_a_link_to_a_folder_is_neither_followed_nor_counted(self):
        self.tree.file("real/f", 5000)
        os.symlink(self.tree.path("real"), self.tree.path("link"))
        os.symlink(self.tree.path("real"), self.tree.path("real/loop"))
        root = native_path(self.tree.path())
        result = run(["-dir", "-comma", root])
        self.assertEqual(result.code, 0)
        self.assertEqual(error_lines(result), [])
        self.assertEqual(comma_rows(result), [
            ('5000,0,0,"%s\\"' % root).encode(),
            ('5000,5000,1,"%s\\real"' % root).encode(),
        ])


@WINE_ONLY
class PathLimit(TestCase):
    def folder_of_250(self):
        """A folder whose path, with its trailing backslash, has 250 characters."""
        padding = 250 - len(native_path(self.tree.path()) + "\\") - 1
        folder = self.tree.folder("p" * padding)
        self.assertEqual(len(native_path(folder) + "\\"), 250)
        return folder

    def test_a_child_reaching_255_is_read_and_one_passing_it_is_skipped(self):
        folder = self.folder_of_250()
        self.tree.file(os.path.join(folder, "ab", "f"), 700)
        self.tree.file(os.path.join(folder, "abc", "g"), 900)
        start = native_path(folder)
        result = run(["-dir", "-comma", start])
        self.assertEqual(result.code, 0)
        # 250 + 2 + 3 = 255 fits; 250 + 3 + 3 does not.
        self.assertEqual(error_lines(result), [
            "Maximum path length of 255 exceeded for folder %s\\abc" % start,
            "Path skipped",
        ])
        self.assertEqual(comma_rows(result), [
            ('700,0,0,"%s\\"' % start).encode(),
            ('700,700,1,"%s\\ab"' % start).encode(),
            ('0,0,0,"%s\\abc"' % start).encode(),
        ])


if __name__ == "__main__":
    unittest.main()
