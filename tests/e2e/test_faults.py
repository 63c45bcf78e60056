"""Faults and extremes of real trees and parameter sources: odd names, huge
and deep trees, folders that vanish, enormous parameter strings and every
option with a bad value. Each run must end normally with exact figures."""
import os
import re
import subprocess
import threading
import unittest

from tftest import EOL, ON_WINE, SEP, TestCase, mask, native_path, run, set_stored_defaults

POSIX_ONLY = unittest.skipIf(ON_WINE, "names or depths a Windows path cannot hold")


def rows(result):
    return mask(result.out).decode("utf-8", "replace").split(EOL.decode())


def totals_line(result):
    """The totals line of a console report run with -nostats."""
    return rows(result)[-4]


class OddTrees(TestCase):
    def test_a_folder_of_100000_files_is_counted_whole(self):
        folder = self.tree.folder("many")
        for index in range(100000):
            open(os.path.join(folder, "f%d" % index), "wb").close()
        self.tree.file("many/last", 12345)
        result = run(["-dir", "-nostats", native_path(self.tree.path())])
        self.assertEqual(result.code, 0)
        self.assertRegex(totals_line(result), r"^ +12 KB +100,001  Cluster size: ")

    @POSIX_ONLY
    def test_a_tree_2000_levels_deep_is_read_to_the_bottom(self):
        fd = os.open(self.tree.path(), os.O_RDONLY)
        for _ in range(2000):
            os.mkdir("d", dir_fd=fd)
            inner = os.open("d", os.O_RDONLY, dir_fd=fd)
            os.close(fd)
            fd = inner
        with open(os.open("bottom", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd), "wb") as bottom:
            bottom.truncate(777)
        os.close(fd)
        for threads in ("-threads=1", "-threads=3"):
            result = run(["-dir", "-nostats", "-2", threads, self.tree.path()])
            self.assertEqual(result.code, 0, result.err[-300:])
            self.assertEqual(rows(result)[4:7], ["     777 bytes       0  " + self.tree.path() + "   [0 bytes]",
                                                 "     777 bytes       0  +--d   [0 bytes]",
                                                 "     777 bytes       1     +--d ...   [0 bytes]"])

    @POSIX_ONLY
    def test_names_with_line_breaks_bad_utf8_dashes_and_blanks_are_counted(self):
        names = [b"line\nbreak", b"bad\xff\xfeutf8", b"-2024", b" leading blank", b"trailing blank "]
        for index, name in enumerate(names):
            path = os.path.join(self.tree.path().encode(), name)
            os.mkdir(path)
            with open(os.path.join(path, b"f"), "wb") as handle:
                handle.truncate(1000 * (index + 1))
        result = run(["-dir", "-nostats", "-nofiles", self.tree.path()])
        self.assertEqual(result.code, 0)
        for name in names:
            self.assertIn(name, result.out)
        self.assertRegex(totals_line(result), r"^ +15 KB  Cluster size: ")

    def test_a_start_path_with_and_without_its_trailing_separator(self):
        self.tree.file("a/f", 5000)
        plain = native_path(self.tree.path())
        with_separator = run(["-nostats", "-cl=4096", plain + SEP])
        without = run(["-nostats", "-cl=4096", plain])
        self.assertEqual(rows(with_separator)[4].replace(plain + SEP, plain), rows(without)[4])
        self.assertIn(plain + SEP + "  ", rows(with_separator)[4])
        self.assertEqual(rows(with_separator)[5:], rows(without)[5:])

    @POSIX_ONLY
    def test_folders_removed_during_the_scan_leave_a_whole_report(self):
        for index in range(400):
            self.tree.file("doomed%03d/sub/f" % index, 10)
        self.tree.file("kept/f", 4096)

        def remove_doomed():
            for index in range(400):
                subprocess.run(["rm", "-rf", self.tree.path("doomed%03d" % index)])

        remover = threading.Thread(target=remove_doomed)
        remover.start()
        result = run(["-dir", "-nostats", "-1", self.tree.path()])
        remover.join()
        self.assertEqual(result.code, 0)
        self.assertIn("+--kept  ", rows(result)[-6])


class HugeParameters(TestCase):
    def tearDown(self):
        set_stored_defaults(None)
        super().tearDown()

    @unittest.skipIf(ON_WINE, "Windows holds at most 32,767 characters in a variable or command line")
    def test_a_100000_character_variable_and_stored_string_are_applied_whole(self):
        self.tree.file("f", 10)
        long_string = "-nofiles " * 11112 + "-nototals"
        self.assertGreater(len(long_string), 100000)
        set_stored_defaults(long_string)
        result = run(["-nostats", native_path(self.tree.path())], env={"TALLYFOLD": long_string + " -asval"})
        self.assertEqual(result.code, 0)
        self.assertEqual(rows(result)[2], "  Wasted space  Folder name   [Without subfolders]")


class BadOptionValues(TestCase):
    def test_every_bad_value_is_named_and_leaves_the_report_unchanged(self):
        self.tree.file("a/f", 3000)
        start = native_path(self.tree.path())
        plain = mask(run(["-nostats", start]).out)
        messages = {"-size": "Invalid size specified - {word} (no size limit)",
                    "-cl": "Invalid cluster size specified - {word} (the drive's cluster size is used)",
                    "-sort": "Invalid sorting method specified - {value}\n"
                             "(Valid methods are: name,local,total,waste,files,none,growth,age)",
                    "-threads": "Invalid number of threads - {value} (use 1 to 64, or 0 for one per processor)"}
        values = ["", "-99999999999999999999999", "99999999999999999999999", "1e400", "abc", "12X",
                  "1.5.5", "$FF", "--", " "]
        for option in ["-size=", "-size:", "-cl=", "-cl:", "-sort=", "-threads="]:
            for value in values + (["-1"] if option in ("-sort=", "-threads=") else []):
                with self.subTest(word=option + value):
                    result = run(["-nostats", option + value, start])
                    self.assertEqual(result.code, 0, result.err)
                    message = messages[option[:-1]].format(word=option + value, value=value.upper())
                    self.assertEqual(mask(result.out), (message + "\n").encode().replace(b"\n", EOL) + plain)

    def test_a_depth_word_beyond_32_bits_becomes_the_start_folder(self):
        # The depths of the words that are depths: the options' unit test.
        result = run(["-nostats", "-noheader", native_path(self.tree.path()), "-99999999999"],
                     cwd=self.tree.path())
        self.assertEqual(result.code, 1)
        self.assertIn(("Path was not found (invalid character or maximum path length exceeded?): " +
                       native_path(self.tree.path()) + SEP + "-99999999999" + SEP).encode(), result.err)


if __name__ == "__main__":
    unittest.main()
