"""A file with three hard links, in three folders: on Linux its bytes and
slack count once, in the folder the scan meets it first, and its name counts
in every folder's file count; -links counts every link in full. The Windows
listing gives no link count, so there every name counts in full. The report
does not depend on the number of threads."""
import os
import unittest

from tftest import ON_WINE, SEP, TestCase, comma_rows, native_path, run

SIZE = 10000
ROUNDED, SLACK = 12288, 2288  # on 4096-byte clusters
FOLDERS = ["a", "b", "c"]
# Each folder's allowance: three entries (".", "..", the link) of 32 bytes.
ALLOWANCE, ALLOWANCE_SLACK = 4096, 4096 - 96


def rows(result):
    """{path: (wasted, own size, files)} of a comma report run with -noheader."""
    return {path: figures[1:] for path, figures in comma_rows(result).items()}


class HardLinks(TestCase):
    def setUp(self):
        super().setUp()
        first = self.tree.file("a/linked", SIZE)
        for folder in FOLDERS[1:]:
            os.link(first, os.path.join(self.tree.folder(folder), "linked"))

    def report(self, *words):
        result = run(["-comma", "-noheader", "-cl=4096"] + list(words) + [native_path(self.tree.path())])
        self.assertEqual(result.code, 0, result.err)
        return result

    def file_figures(self, report):
        """(wasted, own size, files) of each folder, without its allowance."""
        figures = []
        for folder in FOLDERS:
            path = native_path(self.tree.path()) + SEP + folder
            wasted, own, files = report[path]
            figures.append((wasted - ALLOWANCE_SLACK, own - ALLOWANCE, files))
        return figures

    def test_linked_bytes_count_once_unless_every_link_is_asked_for(self):
        counted_once = not ON_WINE
        for words in [[], ["-links"]]:
            outputs = [self.report(*words, threads).out for threads in ("-threads=1", "-threads=4")]
            with self.subTest(words=words):
                self.assertEqual(outputs[0], outputs[1])
                figures = sorted(self.file_figures(rows(self.report(*words))))
                if counted_once and not words:
                    self.assertEqual(figures, [(0, 0, 1), (0, 0, 1), (SLACK, ROUNDED, 1)])
                else:
                    self.assertEqual(figures, [(SLACK, ROUNDED, 1)] * 3)


if __name__ == "__main__":
    unittest.main()
