"""The scan with workers reading ahead, with a fixed count or the count it
chooses itself, writes exactly what the scan alone writes, and loses no
folder to the open-file limit."""
import os
import random
import resource
import unittest

from tftest import ON_WINE, TestCase, native_path, run


class ParallelScan(TestCase):
    def setUp(self):
        super().setUp()
        rng = random.Random(7)
        folders = [""]
        for index in range(600):
            parent = rng.choice(folders)
            folder = (parent + "/" if parent else "") + "d%d" % rng.randrange(40)
            self.tree.folder(folder)
            if folder not in folders:
                folders.append(folder)
            for number in range(rng.randrange(4)):
                self.tree.file("%s/f%d" % (folder, number), rng.randrange(200000))
        self.start = native_path(self.tree.path())

    def output(self, *words, preexec_fn=None):
        # The drive's free space moves while other programs write.
        result = run(["-noheader", "-nostats", "-cl=4096"] + list(words) + [self.start], preexec_fn=preexec_fn)
        self.assertEqual(result.code, 0, result.err)
        return result.out

    def test_the_tree_matches_the_single_threaded_scan(self):
        # The reports are written from the tree after the scan: the console
        # form, which shows the tree, stands for them all.
        for shape in [[], ["-sort=none", "-2", "-dir"]]:
            alone = self.output("-threads=1", *shape)
            self.assertGreater(alone.count(b"\n"), 5)
            for threads in ([], ["-threads=2"], ["-threads=5"]):
                with self.subTest(shape=shape, threads=threads):
                    self.assertEqual(self.output(*(threads + shape)), alone)

    @unittest.skipIf(ON_WINE, "the open-file limit is the Linux program's")
    def test_a_low_open_file_limit_loses_no_folder(self):
        # Under a limit of 8 descriptors four are left for the folders being
        # listed: 64 readers, each a while on a folder of 500 files, run out
        # and must try their opens again.
        for top in range(64):
            for number in range(500):
                self.tree.file("wide/t%d/f%d" % (top, number), 0)
        self.start = native_path(self.tree.path("wide"))
        alone = self.output("-threads=1", "-comma")

        def low_limit():
            resource.setrlimit(resource.RLIMIT_NOFILE, (8, 8))
        self.assertEqual(self.output("-threads=64", "-comma", preexec_fn=low_limit), alone)

    def test_a_bad_thread_count_is_refused_with_a_message(self):
        result = run(["-threads=65", "-nostats", self.start])
        self.assertTrue(result.out.startswith(
            b"Invalid number of threads - 65 (use 1 to 64, or 0 for one per processor)"))


if __name__ == "__main__":
    unittest.main()
