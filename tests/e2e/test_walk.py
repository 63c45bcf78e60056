"""Where the Linux walk goes: another file system is named and entered only
with -mounts, a bind mount of an ancestor is a loop that is not entered, a
path of any length is read, and a start folder that cannot be read makes no
report. Mounting needs root (CI runs as root); those rows are skipped
otherwise."""
import os
import subprocess
import unittest

from tftest import ON_WINE, TestCase, run


def start_total(result):
    """The start folder's total: the first figure of a -dir comma report."""
    return int(result.out.split(b",")[0])


@unittest.skipIf(ON_WINE, "the Linux walk")
class Walk(TestCase):
    def setUp(self):
        super().setUp()
        self.mounted = []

    def tearDown(self):
        # Unmounted before the tree goes, the last mounted first.
        for point in reversed(self.mounted):
            subprocess.run(["umount", point], capture_output=True)
        super().tearDown()

    def mount(self, *args):
        if os.geteuid() != 0:
            self.skipTest("mounting needs root")
        if subprocess.run(["mount"] + list(args), capture_output=True).returncode != 0:
            self.skipTest("mount is not allowed here")
        self.mounted.append(args[-1])

    def scan(self, *words, start=None, unprivileged=False):
        return run(["-comma", "-noheader", "-nostats", "-dir"] + list(words) + [start or self.tree.path()],
                   unprivileged=unprivileged)

    def test_other_file_systems_and_loops(self):
        self.tree.file("f", 10)
        self.tree.file("sub/g", 20)
        self.mount("-t", "tmpfs", "tmpfs", self.tree.folder("mnt"))
        self.tree.file("mnt/m", 300)
        self.mount("--bind", self.tree.path(), self.tree.folder("sub/loop"))
        start = self.tree.path() + "/"
        not_scanned = "Not scanned: %s%s/ (another file system; -mounts scans it)\n"
        rows = [
            ([], 30, not_scanned % (start, "mnt") + not_scanned % (start, "sub/loop")),
            (["-mounts"], 330, "Folder loop: %ssub/loop/\n" % start),
        ]
        for words, total, errors in rows:
            with self.subTest(words=words):
                result = self.scan(*words)
                self.assertEqual(result.code, 0)
                self.assertEqual(start_total(result), total)
                self.assertEqual(result.err.decode(), errors)

    def test_a_path_of_any_length_is_read(self):
        # 25 levels of 200-byte names: the file lies more than 5,000 bytes deep.
        name = "n" * 200
        folder = os.open(self.tree.path(), os.O_RDONLY)
        for _ in range(25):
            os.mkdir(name, dir_fd=folder)
            deeper = os.open(name, os.O_RDONLY, dir_fd=folder)
            os.close(folder)
            folder = deeper
        with open(os.open("f", os.O_WRONLY | os.O_CREAT, dir_fd=folder), "wb") as handle:
            handle.write(b"x" * 1234)
        os.close(folder)
        result = self.scan("-1")
        self.assertEqual((result.code, result.err), (0, b""))
        self.assertEqual(start_total(result), 1234)

    def test_an_unreadable_start_folder_makes_no_report(self):
        # Run as an unprivileged user, whom permissions bind, also under root.
        start = self.tree.folder("closed")
        os.chmod(start, 0)
        for words, out in (([], b""), (["-html"], b"</body></html>\n")):
            with self.subTest(words=words):
                result = self.scan(*words, start=start, unprivileged=True)
                self.assertEqual(result.code, 1)
                self.assertTrue(result.out.endswith(out))
                self.assertEqual(result.err.decode().splitlines()[-1],
                                 "Cannot read folder %s/: Permission denied" % start)


if __name__ == "__main__":
    unittest.main()
