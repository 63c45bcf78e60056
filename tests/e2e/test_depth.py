"""A tree of any depth: a chain of 100,000 folders is scanned and reported,
its JSON report loads back and compares, and a deep chain is read under a
low open-file limit, each folder opened from its parent's descriptor. (The
forms whose lines grow with the depth, console, tab, comma and HTML, walk a
chain as deep in the unit tests.)"""
import os
import re
import resource
import tempfile
import unittest

from tftest import ON_WINE, TestCase, Tree, comma_rows, run

CHAIN = 100000


class MemoryTree(Tree):
    """A tree in memory where the system offers a tmpfs at /dev/shm: 100,000
    folders on a disk take minutes of writes on a busy machine."""

    def __init__(self):
        memory = "/dev/shm"
        usable = os.path.isdir(memory) and os.access(memory, os.W_OK)
        self.root = tempfile.mkdtemp(prefix="tf-depth-", dir=memory if usable else None)


def make_chain(top, depth, name):
    """`depth` folders, each the only subfolder of the one above, made one
    name at a time from the parent's descriptor."""
    folder = os.open(top, os.O_RDONLY)
    for _ in range(depth):
        os.mkdir(name, dir_fd=folder)
        deeper = os.open(name, os.O_RDONLY, dir_fd=folder)
        os.close(folder)
        folder = deeper
    os.close(folder)


def without_creation_time(report):
    return re.sub(rb'"created":"[^"]*"', b"", report)


@unittest.skipIf(ON_WINE, "a chain this deep passes the 32,767 characters of a Windows path")
class Depth(TestCase):
    @classmethod
    def setUpClass(cls):
        cls.chain = MemoryTree()
        make_chain(cls.chain.path(), CHAIN, "d")

    @classmethod
    def tearDownClass(cls):
        cls.chain.remove()

    def report(self, *words):
        result = run(["-cl=4096", "-nostats"] + list(words))
        self.assertEqual((result.code, result.err), (0, b""))
        return result.out

    def test_a_chain_of_100000_folders_is_reported_and_loads_back(self):
        start = self.chain.path()
        scanned = self.report("-json", start)
        saved = self.tree.file("chain.json", 0)
        with open(saved, "wb") as handle:
            handle.write(scanned)
        rows = [
            # form, what it shows of the chain
            (["-json", start], lambda out: self.assertEqual(out.count(b'"name":"d"'), CHAIN)),
            (["-load=" + saved, "-json"],
             lambda out: self.assertEqual(without_creation_time(out), without_creation_time(scanned))),
            (["-compare=" + saved, "-json", start],
             lambda out: self.assertEqual(out.count(b'"growth":0'), CHAIN + 1)),
            (["-load=" + saved, "-map"], lambda out: self.assertTrue(out.endswith(b"</html>\n"))),
        ]
        for words, shows in rows:
            with self.subTest(words=words[0]):
                shows(self.report(*words))

    def test_a_deep_chain_is_read_under_a_low_open_file_limit(self):
        # 2,500 names of 100 bytes: the path passes PATH_MAX by far.
        make_chain(self.tree.path(), 2500, "n" * 100)

        def low_limit():
            resource.setrlimit(resource.RLIMIT_NOFILE, (40, 40))
        # The run's own time-out guards against a hang; read from the start
        # each time, the chain takes many times as long.
        result = run(["-comma", "-noheader", "-nostats", "-2", self.tree.path()], preexec_fn=low_limit,
                     timeout=10)
        self.assertEqual((result.code, result.err), (0, b""))
        self.assertEqual(len(comma_rows(result)), 3)


if __name__ == "__main__":
    unittest.main()
