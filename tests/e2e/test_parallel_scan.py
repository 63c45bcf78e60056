"""The scan with workers reading ahead, with a fixed count or the count it
chooses itself, writes exactly what the scan alone writes, in every output
mode and with every shaping switch, and loses no folder to the open-file
limit."""
import os
import random
import re
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
        # The HTML report's date line belongs to the moment, not to the scan.
        return re.sub(rb"report, created at [^<]*", b"report, created at", result.out)

    def test_every_mode_and_shape_matches_the_single_threaded_scan(self):
        shapes = [[], ["-sort=total"], ["-sort=none", "-2"], ["-sort=files", "-size=300K"],
                  ["-sort=waste", "-1"], ["-sort=local", "-dir"]]
        modes = [[], ["-tab"], ["-comma"], ["-html"]]
        for shape in shapes:
            for mode in modes:
                words = shape + mode
                alone = self.output("-threads=1", *words)
                if "-html" in mode:  # the parameters line names the words
                    alone = alone.replace(b"-threads=1 ", b"")
                self.assertGreater(alone.count(b"\n"), 5)
                for threads in ([], ["-threads=2"], ["-threads=5"]):
                    with self.subTest(words=words, threads=threads):
                        ahead = self.output(*(threads + words))
                        if "-html" in mode and threads:
                            ahead = ahead.replace(threads[0].encode() + b" ", b"")
                        self.assertEqual(ahead, alone)

    @unittest.skipIf(ON_WINE, "the open-file limit is the Linux program's")
    def test_a_low_open_file_limit_loses_no_folder(self):
        # Many folders on two levels: every worker caches descriptors, and
        # 64 workers caching 64 each would need far more than 256.
        for top in range(40):
            for sub in range(40):
                os.makedirs(self.tree.path("wide/t%d/s%d" % (top, sub)))
        self.start = native_path(self.tree.path())
        alone = self.output("-threads=1", "-comma")

        def low_limit():
            resource.setrlimit(resource.RLIMIT_NOFILE, (256, 256))
        for threads in ([], ["-threads=64"], ["-threads=2"]):
            with self.subTest(threads=threads):
                self.assertEqual(self.output(*threads, "-comma", preexec_fn=low_limit), alone)

    def test_a_bad_thread_count_is_refused_with_a_message(self):
        result = run(["-threads=65", "-nostats", self.start])
        self.assertTrue(result.out.startswith(
            b"Invalid number of threads - 65 (use 1 to 64, or 0 for one per processor)"))


if __name__ == "__main__":
    unittest.main()
