"""The Windows program under Wine on trees that Windows treats specially: a
folder name outside the ANSI code page, a link to a folder (which Wine shows
as a reparse point), paths longer than the system's old 260-character limit,
and names that end in a dot or a blank."""
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
class LongPaths(TestCase):
    def test_a_file_300_characters_deep_is_counted(self):
        top = "d" * 45
        deep = os.path.join(*[top] * 7)
        self.tree.file(os.path.join(deep, "big"), 1 << 20)
        root = native_path(self.tree.path())
        self.assertGreater(len(native_path(self.tree.path(deep))), 300)
        result = run(["-dir", "-comma", "-1", root])
        self.assertEqual(result.code, 0)
        self.assertEqual(error_lines(result), [])
        self.assertEqual(comma_rows(result), [
            ('1048576,0,0,"%s\\"' % root).encode(),
            ('1048576,0,1,"%s\\%s ..."' % (root, top)).encode(),
        ])

    def test_names_ending_in_a_dot_or_a_blank_are_folders_of_their_own(self):
        self.tree.file("data/f", 700)
        self.tree.file("data./g", 300)
        self.tree.file("data /h", 50)
        root = native_path(self.tree.path())
        result = run(["-dir", "-comma", root])
        self.assertEqual(error_lines(result), [])
        self.assertEqual(comma_rows(result), [
            ('1050,0,0,"%s\\"' % root).encode(),
            ('700,700,1,"%s\\data"' % root).encode(),
            ('50,50,1,"%s\\data "' % root).encode(),
            ('300,300,1,"%s\\data."' % root).encode(),
        ])


if __name__ == "__main__":
    unittest.main()
