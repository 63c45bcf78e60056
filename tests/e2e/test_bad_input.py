"""Bad input and faults: each gets its message or a sound outcome, never a
crash, a hang or silently lost bytes."""
import os
import subprocess
import unittest

from tftest import EOL, ON_WINE, SEP, Result, TestCase, clean_environment, command_line, lines, mask, native_path, run

POSIX_ONLY = unittest.skipIf(ON_WINE, "a Linux file-system feature")


def report_rows(result):
    """The folder lines of a console report, title line included."""
    return mask(result.out).decode("utf-8", "replace").split(EOL.decode())


class BadWords(TestCase):
    def test_unknown_words_become_the_start_folder_and_are_not_found(self):
        for word in ["-xyz", "/tab", "-sort:name", "-5x"]:
            with self.subTest(word=word):
                result = run([word], cwd=self.tree.path())
                self.assertEqual(result.code, 0)
                # "/tab" is a full path on Linux and a relative one on Windows.
                full = word.startswith("/") and not ON_WINE
                path = word if full else native_path(self.tree.path()) + SEP + word
                self.assertIn(("Path was not found (invalid character or maximum path length exceeded?): "
                               + path + SEP).encode(), result.err)

    def test_bad_numbers_are_taken_as_zero(self):
        self.tree.file("a/f", 10)
        result = run(["-size=abc", "-cl=12X", "-nostats", native_path(self.tree.path())])
        self.assertEqual(result.code, 0)
        rows = report_rows(result)
        # -cl=12X counts as 0: the drive's own cluster size is used, silently.
        self.assertTrue(rows[-4].startswith("  "), rows)
        self.assertIn("|  ", "".join(rows) + "|  ")
        self.assertEqual(rows[5][30:], "+--a  ")


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
        self.assertEqual(result.code, 0)
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

    def test_a_file_as_start_folder_is_not_found(self):
        path = self.tree.file("plain", 10)
        result = run([native_path(path)])
        self.assertIn(b"Path was not found", result.err)
        self.assertOutput(mask(result.out), lines("Tallyfold 5.0 report, created at <date>", "", "\f"))

    @POSIX_ONLY
    def test_sparse_files_of_terabytes_keep_every_figure(self):
        for index in range(4):
            self.tree.file("huge/f%d" % index, 3 << 40)
        result = run(["-cl=65536", "-nostats", self.tree.path()])
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

    @POSIX_ONLY
    def test_a_reader_that_stops_early_ends_the_run_without_a_hang(self):
        # More than a pipe holds, so that writes go on after the reader left.
        for index in range(3000):
            self.tree.folder("folder%04d" % index)
        reader = subprocess.Popen(["head", "-1"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        program = subprocess.Popen(command_line([self.tree.path()]), stdout=reader.stdin,
                                   stderr=subprocess.PIPE, env=clean_environment())
        reader.stdin.close()
        _, err = program.communicate(timeout=60)
        reader.wait(timeout=60)
        reader.stdout.close()
        self.assertEqual(program.returncode, 1)
        self.assertEqual(err.count(b"Cannot write to standard output"), 1)


if __name__ == "__main__":
    unittest.main()
