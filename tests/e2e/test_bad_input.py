"""Bad input and faults: each gets its message or a sound outcome, never a
crash, a hang or silently lost bytes."""
import os
import subprocess
import unittest

import test_delimited_reports as delimited
from tftest import EOL, ON_WINE, SEP, Result, TestCase, clean_environment, command_line, lines, mask, native_path, run

POSIX_ONLY = unittest.skipIf(ON_WINE, "a Linux file-system feature")


def unknown_option_lines(result):
    return [line for line in result.err.decode("utf-8", "replace").splitlines()
            if line.startswith("Unknown option")]


def report_rows(result):
    """The folder lines of a console report, title line included."""
    return mask(result.out).decode("utf-8", "replace").split(EOL.decode())


class BadWords(TestCase):
    def test_unknown_words_become_the_start_folder_and_are_not_found(self):
        for word in ["-xyz", "/tab", "-sort:name", "-5x"]:
            with self.subTest(word=word):
                result = run([word], cwd=self.tree.path())
                self.assertEqual(result.code, 1)
                # "/tab" is a full path on Linux and a relative one on Windows.
                full = word.startswith("/") and not ON_WINE
                path = word if full else native_path(self.tree.path()) + SEP + word
                self.assertIn(("Path was not found (invalid character or maximum path length exceeded?): "
                               + path + SEP).encode(), result.err)

    def test_a_word_that_looks_like_an_option_is_warned_about_and_changes_nothing_else(self):
        self.tree.file("a/f", 10)
        for name in ["-2x", "--help=1"]:
            self.tree.file(name + "/g", 20)
        start = native_path(self.tree.path())
        for args, env, warnings in [
                (["-nofile", start], {}, ["Unknown option -nofile - ignored"]),
                ([start], {"TALLYFOLD": "-tabs"}, ["Unknown option -tabs - ignored"]),
                (["-x", "-", start], {}, ["Unknown option -x - ignored", "Unknown option - - ignored"]),
                (["/tab", start], {}, []),
                ([start, "-2x"], {}, ["Unknown option -2x - taken as the start folder"]),
                (["-nofile", "-help=1"], {}, ["Unknown option -nofile - ignored",
                                             "Unknown option -help=1 - taken as the start folder"])]:
            with self.subTest(args=args, env=env):
                result = run(["-comma", "-nostats"] + args, env=env, cwd=self.tree.path())
                # Without the ignored words, and the one taken as the start folder
                # written as a path, which no one mistakes for an option.
                as_path = lambda words: (["." + SEP + words[-1]] if words and words[-1].startswith("-")
                                         else [w for w in words if not w.startswith("-")])
                plain = run(["-comma", "-nostats"] + as_path(args),
                            env={k: " ".join(as_path(v.split())) for k, v in env.items()}, cwd=self.tree.path())
                self.assertEqual(unknown_option_lines(result), warnings)
                self.assertEqual(unknown_option_lines(plain), [])
                self.assertEqual((result.code, mask(result.out)), (plain.code, mask(plain.out)))


def unmapped_drive():
    """A drive letter that Wine maps to nothing, such as "Y:"."""
    dosdevices = delimited._wine_dosdevices()
    return next(c.upper() + ":" for c in "yxwvutsrq" if not os.path.lexists(os.path.join(dosdevices, c + ":")))


class ExitCodes(TestCase):
    def test_the_exit_code_is_1_only_when_no_report_could_be_made(self):
        self.tree.file("a/f", 10)
        start = native_path(self.tree.path())
        missing = native_path(self.tree.path("nothere"))
        not_found = b"Path was not found"
        # A missing folder's console and HTML outputs are tested whole with
        # their reports.
        cases = [([start], 0, b"Total + subs"), (["-comma", missing], 1, not_found),
                 (["-tab", native_path(self.tree.path("a/f"))], 1, b"Not a folder: "),
                 # The listing of over-long paths names a missing folder: that is its report.
                 (["-longest", missing], 0, missing.encode())]
        if ON_WINE:
            cases.append((["-comma", unmapped_drive() + "\\data"], 1, b"Invalid drive"))
        for args, code, message in cases:
            with self.subTest(args=args):
                result = run(args)
                self.assertEqual(result.code, code)
                self.assertIn(message, result.out + result.err)


class FaultyTrees(TestCase):
    @POSIX_ONLY
    def test_links_are_neither_counted_nor_followed(self):
        self.tree.file("real/f", 5000)
        os.symlink(self.tree.path("nowhere"), self.tree.path("dangling"))
        os.symlink(self.tree.path("real"), self.tree.path("real/loop"))
        os.symlink(self.tree.path("real/f"), self.tree.path("filelink"))
        result = run(["-dir", "-nostats", native_path(self.tree.path())])
        self.assertEqual(result.code, 0)
        self.assertEqual(result.err.count(b"Path was not found"), 0)
        rows = report_rows(result)
        self.assertEqual(rows[4:6], ["          5 KB       0  " + self.tree.path() + "   [0 bytes]",
                                     "          5 KB       1  +--real  "])

    @POSIX_ONLY
    def test_an_unreadable_folder_is_reported_and_counts_as_empty(self):
        self.tree.file("open/f", 3000)
        self.tree.file("closed/f", 7000)
        self.tree.file("unsearchable/f", 5000)  # its names can be listed, its files not looked at
        os.chmod(self.tree.path("closed"), 0)
        os.chmod(self.tree.path("unsearchable"), 0o444)
        try:
            result = run(["-dir", "-nostats", self.tree.path()], unprivileged=True)
        finally:
            os.chmod(self.tree.path("closed"), 0o755)
            os.chmod(self.tree.path("unsearchable"), 0o755)
        self.assertEqual(result.code, 2)
        self.assertEqual(sorted(result.err.decode().splitlines()),
                         ["Cannot read folder " + self.tree.path(name) + "/: Permission denied"
                          for name in ["closed", "unsearchable"]])
        self.assertEqual(report_rows(result)[4][:14], "          3 KB")

    @POSIX_ONLY
    def test_a_removed_current_folder_is_reported_unless_the_start_path_is_full(self):
        self.tree.file("data/f", 3000)
        removed = self.tree.folder("removed")

        def enter_and_remove():
            os.chdir(removed)
            os.rmdir(removed)

        for args, code in [([], 1), (["."], 1), (["sub"], 1), (["-dir", "-nostats", self.tree.path("data")], 0)]:
            with self.subTest(args=args):
                completed = subprocess.run(command_line(args), env=clean_environment(), preexec_fn=enter_and_remove,
                                           stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
                self.assertEqual(completed.returncode, code)
                if code == 1:
                    self.assertEqual(completed.stderr.decode().splitlines()[-1],
                                     "Cannot read the current folder: No such file or directory")
                    self.assertEqual(completed.stdout, b"")
                else:
                    self.assertEqual(report_rows(Result(completed))[4][:14], "          3 KB")
                self.tree.folder("removed")

    def test_a_file_as_start_folder_is_no_folder(self):
        path = self.tree.file("plain", 10)
        result = run([native_path(path)])
        self.assertEqual(result.err.decode().splitlines(), ["Not a folder: " + native_path(path)])
        self.assertOutput(mask(result.out), lines("Tallyfold 5.0 report, created at <date>", "", "\f"))

    @POSIX_ONLY
    def test_sparse_files_of_terabytes_keep_every_figure(self):
        for index in range(4):
            self.tree.file("huge/f%d" % index, 3 << 40)
        result = run(["-cl=65536", "-nostats", "-dir", self.tree.path()])
        rows = report_rows(result)
        self.assertEqual(rows[5][:14], "   12,288.0 GB")
        self.assertIn("Cluster size: 64 KB", rows[-4])


class BrokenOutput(TestCase):
    @POSIX_ONLY
    def test_a_full_disk_is_reported_and_fails_the_run(self):
        self.tree.file("f", 1)
        with open("/dev/full", "wb") as full:
            result = run([self.tree.path()], stdout=full)
        self.assertEqual(result.code, 1)
        self.assertIn(b"Cannot write to standard output: No space left on device", result.err)


if __name__ == "__main__":
    unittest.main()
