"""The largest files (-top), the file types (-types) and the folders' newest
files (-age) of one tree of known files, through the comma and JSON forms."""
import csv
import datetime
import io
import json
import os
import unittest

from tftest import ON_WINE, SEP, TestCase, native_path, run

# (path, length, modified): on 4096-byte clusters 10000 bytes count 12288,
# 5000 count 8192, 3000 and 100 count 4096.
FILES = [("big.iso", 10000, 1700000000), ("docs/a.TXT", 5000, 1600000000),
         ("docs/deep/b.txt", 5000, 1650000000), ("docs/deep/c", 100, 1500000000),
         ("x.log", 3000, 1710000000)]
COUNTED = {10000: 12288, 5000: 8192, 3000: 4096, 100: 4096}


def iso(seconds):
    return datetime.datetime.fromtimestamp(seconds).astimezone().isoformat()


class FileLists(TestCase):
    def setUp(self):
        super().setUp()
        for path, length, modified in FILES:
            os.utime(self.tree.file(path, length), (modified, modified))
        self.start = native_path(self.tree.path())

    def report(self, *words):
        result = run(["-cl=4096", "-nostats"] + list(words) + [self.start])
        self.assertEqual(result.code, 0, result.err)
        return result.out.decode("utf-8")

    def test_the_largest_files_come_largest_first_and_equal_sizes_by_path(self):
        expected = [(path.replace("/", SEP), COUNTED[length], length, iso(modified))
                    for path, length, modified in FILES[:3]]
        rows = list(csv.reader(io.StringIO(self.report("-top=3", "-comma", "-noheader"))))
        self.assertEqual([(row[3], int(row[0]), int(row[1]), row[2]) for row in rows if len(row) > 1],
                         [(self.start + SEP + path, counted, length, modified)
                          for path, counted, length, modified in expected])
        document = json.loads(self.report("-top=3", "-json"))
        self.assertEqual(document["root"]["name"], self.start)
        self.assertEqual([(f["path"], f["bytes"], f["length"], f["modified"]) for f in document["files"]],
                         expected)

    def test_the_types_sum_their_files_by_bytes(self):
        # Windows names ignore case: .TXT and .txt are one type there.
        txt = [("txt", 2, 16384, 2 * 8192 - 10000)] if ON_WINE else [("TXT", 1, 8192, 3192), ("txt", 1, 8192, 3192)]
        expected = [("iso", 1, 12288, 2288)] + txt + [("(none)", 1, 4096, 3996), ("log", 1, 4096, 1096)]
        expected.sort(key=lambda t: (-t[2], t[0]))
        rows = list(csv.reader(io.StringIO(self.report("-types", "-comma", "-noheader"))))
        self.assertEqual([(row[4], int(row[0]), int(row[1]), int(row[3])) for row in rows if len(row) > 1], expected)
        document = json.loads(self.report("-types", "-json"))
        self.assertEqual([(t["extension"], t["files"], t["bytes"], t["wasted"]) for t in document["types"]], expected)

    def test_each_folder_shows_its_newest_file(self):
        newest = {"": iso(1710000000), "docs": iso(1650000000), SEP.join(["docs", "deep"]): iso(1650000000)}
        rows = list(csv.reader(io.StringIO(self.report("-age", "-sort=age", "-comma", "-noheader"))))
        self.assertEqual([(row[5], row[4]) for row in rows if len(row) > 1],
                         [(self.start + SEP + path if path else self.start + SEP, modified)
                          for path, modified in newest.items()])
        document = json.loads(self.report("-age", "-json"))
        docs = document["root"]["children"][0]
        self.assertEqual((document["root"]["modified"], docs["modified"], docs["children"][0]["modified"]),
                         tuple(newest.values()))


if __name__ == "__main__":
    unittest.main()
