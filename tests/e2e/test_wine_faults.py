"""The Windows program under Wine on trees that Windows treats specially: a
folder name outside the ANSI code page, a link to a folder (which Wine shows
as a reparse point), paths longer than the system's old 260-character limit,
and names that end in a dot or a blank."""
import os
import unittest

from tftest import EOL, ON_WINE, TestCase, native_path, run

BYTE_ORDER_MARK = b"\xef\xbb\xbf"
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
    def test_names_outside_the_ansi_code_page_are_counted_and_kept_with_utf8(self):
        names = ["\u03a9mega", "\u65e5\u672c", "\U0001F600emoji"]  # Greek, Japanese, emoji
        self.tree.file("real/f", 5000)
        for name in names:
            self.tree.file(name + "/g", 1000)
        root = native_path(self.tree.path())

        def rows(shown):
            return ([('8000,0,0,"%s\\"' % root).encode(), ('5000,5000,1,"%s\\real"' % root).encode()] +
                    [('1000,1000,1,"%s\\%s"' % (root, name)).encode("utf-8") for name in shown])

        # In the ANSI code page those letters are "?"; the folders' bytes
        # are still in every figure, and standard error says so once.
        plain = run(["-dir", "-comma", root])
        self.assertEqual(plain.code, 0)
        self.assertEqual(error_lines(plain), ["Some names cannot be shown in the code page: use -utf8"])
        self.assertEqual(comma_rows(plain), rows(["?mega", "??", "??emoji"]))

        utf8 = run(["-dir", "-comma", "-utf8", root])
        self.assertEqual(error_lines(utf8), [])
        self.assertTrue(utf8.out.startswith(BYTE_ORDER_MARK + b"Tallyfold"))
        self.assertEqual(comma_rows(utf8), rows(names))

        tab = run(["-dir", "-tab", "-utf8", "-noheader", root])
        self.assertEqual(error_lines(tab), [])
        self.assertTrue(tab.out.startswith(b"          8000\t"))
        self.assertIn(('"%s\\%s"' % (root, names[2])).encode("utf-8"), tab.out)

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
