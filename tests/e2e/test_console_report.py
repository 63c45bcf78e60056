"""The console report of a real tree, written to a file, byte for byte."""
import os
import re
import unittest

from tftest import EOL, ON_WINE, SEP, TestCase, folded_sample, lines, mask, native_path, run, set_stored_defaults


class ConsoleReport(TestCase):
    def setUp(self):
        super().setUp()
        # Start folder: one 7000-byte file; a/ holds 1 byte and a/b/ nothing;
        # c/ holds 8192 bytes. Each folder also takes 32 bytes per entry.
        self.tree.file("f7000", 7000)
        self.tree.file("a/one", 1)
        self.tree.folder("a/b")
        self.tree.file("c/eight", 8192)
        self.start = native_path(self.tree.path())

    def test_default_report_in_a_file(self):
        result = run(["-cl=4096", self.start])
        self.assertEqual(result.code, 0)
        self.assertOutput(mask(result.out), lines(
            "Tallyfold 5.0 report, created at <date>",
            "",
            "Total + subs    Wstd   Files  Folder name   [Without subfolders]",
            "--------------  ----  ------  ----------------------------------------",
            "         36 KB   42%       1  " + self.start + "   [12 KB]",
            "         12 KB   98%       1  |--a   [8 KB]",
            "          4 KB   98%       0  |  +--b  ",
            "         12 KB   33%       1  +--c  ",
            "--------------  ----  ------  ----------------------------------------",
            "         36 KB   58%       3  Cluster size: 4 KB  Wastage: 21 KB",
            "--------------  ----  ------  ----------------------------------------",
            "",
            "Statistics for Drive <drive>",
            "   Cluster size: <figure>",
            "     Free space: <figure>",
            "     Used space: <figure>",
            "       Capacity: <figure>",
            "\f"))


    @unittest.skipIf(ON_WINE, "Windows counts what is not free as used")
    def test_used_space_is_the_blocks_in_use_as_df_shows_them(self):
        drive = os.statvfs(self.tree.path())
        in_use = (drive.f_blocks - drive.f_bfree) * drive.f_frsize
        not_free = (drive.f_blocks - drive.f_bavail) * drive.f_frsize
        if not_free - in_use < 1 << 30:
            self.skipTest("the file system keeps too few blocks for root to tell the two apart")
        shown = re.search(rb"Used space: +([\d,]+\.\d) GB", run([self.start]).out)
        # Within a tenth of a gigabyte, as the figure is rounded, and the
        # others may write meanwhile.
        self.assertAlmostEqual(float(shown.group(1).replace(b",", b"")) * (1 << 30), in_use, delta=0.2 * (1 << 30))


class ReportOptions(TestCase):
    """The columns, folding and ordering switches on a real tree."""

    def setUp(self):
        super().setUp()
        self.start = folded_sample(self.tree)

    def report_lines(self, *options):
        result = run(["-cl=4096"] + list(options) + [self.start])
        self.assertEqual(result.code, 0, result.err)
        return mask(result.out).decode("utf-8").split(EOL.decode())

    def test_noheader_starts_with_the_titles_and_keeps_the_form_feed(self):
        out = self.report_lines("-noheader")
        self.assertEqual(out[0], "Total + subs    Wstd   Files  Folder name   [Without subfolders]")
        self.assertEqual(out[-2:], ["\f", ""])

    def test_asval_shows_wasted_bytes_and_the_percentage_in_the_totals(self):
        out = self.report_lines("-asval")
        self.assertEqual(out[2], "Total + subs      Wasted space   Files  Folder name   [Without subfolders]")
        self.assertEqual(out[3], "--------------  --------------  ------  " + "-" * 39)
        self.assertRegex(out[-10], r"^ +\S+ KB +\S+ KB +4  Cluster size: 4 KB  Wastage: +\d+%$")

    def test_all_columns_off_leaves_the_tree(self):
        out = self.report_lines("-nofiles", "-nowaste", "-nototals", "-nosubs", "-nostats")
        self.assertEqual(out[2:11], [
            "Folder name  ", "-" * 40,
            self.start + "  ", "|--big  ", "|  +--inner  ", "+--small  ",
            "-" * 40, "Cluster size: 4 KB  Wastage: 29 KB", "-" * 40])

    def test_depth_one_folds_and_marks_deeper_folders(self):
        out = self.report_lines("-1", "-nostats")
        self.assertEqual([line[30:] for line in out[4:7]],
                         [self.start + "   [8 KB]", "|--big ...   [12 KB]", "+--small  "])

    def test_size_threshold_folds_small_folders_into_their_parent(self):
        out = self.report_lines("-size=16K", "-nostats")
        self.assertEqual([line[30:] for line in out[4:7]],
                         [self.start + " ...   [8 KB]", "+--big   [12 KB]", "   +--inner  "])

    def test_sort_by_total_puts_the_largest_first(self):
        self.tree.file("aaa/f", 50000)
        out = self.report_lines("-sort=total", "-nostats", "-nofiles", "-nowaste", "-nototals", "-nosubs")
        self.assertEqual(out[5:9], ["|--big  ", "|  +--inner  ", "|--aaa  ", "+--small  "])

    def test_dir_counts_plain_sizes_without_wastage(self):
        out = self.report_lines("-dir", "-nostats")
        self.assertEqual(out[2], "Total + subs     Files  Folder name   [Without subfolders]")
        self.assertEqual(out[4], "        103 KB       1  " + self.start + "   [1 bytes]")
        self.assertEqual(out[-4], "        103 KB       4  Cluster size: 4 KB  Wastage: 0 bytes")

    def test_cluster_size_above_64k_is_capped_with_a_message(self):
        out = self.report_lines("-cl=65537", "-nostats")
        self.assertEqual(out[0], "Invalid cluster size > 64K ignored.")
        self.assertIn("Cluster size: 64 KB  Wastage:", out[-4])


class ParameterSources(TestCase):
    """Stored defaults, then TALLYFOLD, then the command line."""

    def tearDown(self):
        set_stored_defaults(None)
        super().tearDown()

    def test_later_sources_override_earlier_ones(self):
        self.tree.file("a/f", 10)
        self.tree.file("b/f", 5000)
        set_stored_defaults("-nofiles -sort=total -cl:512")
        result = run(["-sort=name", native_path(self.tree.path()), "-nostats"],
                     env={"TALLYFOLD": "-asval -sort=none -cl:4096"})
        out = mask(result.out).decode().split(EOL.decode())
        self.assertEqual(out[2], "Total + subs      Wasted space  Folder name   [Without subfolders]")
        self.assertEqual([line[32:] for line in out[5:7]], ["|--a  ", "+--b  "])
        self.assertIn("Cluster size: 4 KB", out[-4])

    def test_stored_defaults_alone_apply(self):
        set_stored_defaults("-nototals -nowaste")
        result = run(["-nostats", native_path(self.tree.path())])
        self.assertEqual(mask(result.out).decode().split(EOL.decode())[2], " Files  Folder name   [Without subfolders]")


class LongPaths(TestCase):
    def test_longest_lists_folders_from_the_path_limit_on(self):
        name = "n" * 50
        relative = "/".join([name] * 6)
        self.tree.folder(relative)
        self.tree.folder("short/x")
        start = native_path(self.tree.path())
        # The first folder whose path with its separator reaches 255 characters.
        path = start
        for _ in range(6):
            path += SEP + name
            if len(path) + 1 >= 255:
                break
        result = run(["-longest", start])
        self.assertEqual(result.code, 0)
        self.assertOutput(mask(result.out), lines(
            "Tallyfold 5.0 report, created at <date>", "", path + SEP, "\f"))
        self.assertNotIn(b"Reading folder", result.err)


class MissingFolder(TestCase):
    def test_a_missing_start_folder_gives_one_error_line_and_no_report(self):
        missing = native_path(self.tree.path("nothere"))
        result = run([missing])
        self.assertEqual(result.code, 1)
        self.assertOutput(mask(result.out), lines("Tallyfold 5.0 report, created at <date>", "", "\f"))
        self.assertEqual(result.err.decode().strip().splitlines()[-1],
                         "Path was not found (invalid character or maximum path length exceeded?): "
                         + missing + SEP)


if __name__ == "__main__":
    unittest.main()
