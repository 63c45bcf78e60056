"""The settings program: it stores a string (typed at its prompt or given on
its command line), a report run then obeys it, and it explains each word the
way the program's own parser takes it."""
import os
import subprocess
import unittest

from tftest import BIN, EOL, ON_WINE, WINE, TestCase, clean_environment, native_path, run, set_stored_defaults

SETTINGS = os.path.join(os.path.dirname(BIN), "config.exe" if ON_WINE else "tallyfold-config")


def ends_with(out, text):
    """Whether a line ends with `text`: typed answers are not echoed when the
    input is not a terminal, so a reply follows its prompt on one line."""
    return any(line.endswith(text) for line in out)


def settings(args, typed=None):
    command = ([WINE] if ON_WINE else []) + [SETTINGS] + list(args)
    completed = subprocess.run(command, env=clean_environment(), input=(typed or "").encode(),
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return completed.returncode, completed.stdout.decode("utf-8", "replace").split(EOL.decode())


@unittest.skipUnless(os.path.exists(SETTINGS), "the settings program is not built")
class SettingsProgram(TestCase):
    def setUp(self):
        super().setUp()
        set_stored_defaults(None)
        self.tree.file("a/one", 1)
        self.tree.file("two", 2)

    def tearDown(self):
        set_stored_defaults(None)
        super().tearDown()

    def report_titles(self):
        result = run(["-noheader", "-nostats", native_path(self.tree.path())])
        self.assertEqual(result.code, 0)
        return result.out.split(EOL)[0].decode()

    def test_a_string_given_on_the_command_line_is_obeyed_by_the_next_run(self):
        self.assertIn("Files", self.report_titles())
        code, out = settings(["--set", "-nowaste -nofiles"])
        self.assertEqual(code, 0)
        self.assertIn("  -nowaste    hides the wastage column", out)
        self.assertIn("  -nofiles    hides the file counts", out)
        titles = self.report_titles()
        self.assertNotIn("Wstd", titles)
        self.assertNotIn("Files", titles)

    def test_a_string_typed_at_the_prompt_is_stored_after_confirmation(self):
        code, out = settings([], typed="-nowaste -nofiles -nosubs\ny\n")
        self.assertEqual(code, 0)
        self.assertTrue(any("Default parameters stored in" in line for line in out), out)
        self.assertEqual(self.report_titles().rstrip(), "Total + subs    Folder name")
        code, out = settings(["--show"])
        self.assertIn("  -nowaste -nofiles -nosubs", out)

    def test_a_typed_string_not_confirmed_changes_nothing(self):
        settings(["--set", "-nofiles"])
        for typed in ["-nowaste\nn\n", "\n", ""]:
            with self.subTest(typed=typed):
                code, out = settings([], typed=typed)
                self.assertEqual(code, 0)
                self.assertTrue(ends_with(out, "Nothing was changed."), out)
                self.assertIn("  -nofiles", settings(["--show"])[1])

    def test_words_after_set_are_joined_by_blanks(self):
        code, _ = settings(["--set", "-nowaste", "-nofiles"])
        self.assertEqual(code, 0)
        self.assertEqual(settings(["--show"])[1][1], "  -nowaste -nofiles")

    def test_set_without_a_string_removes_the_defaults(self):
        settings(["--set", "-nofiles"])
        code, _ = settings(["--set"])
        self.assertEqual(code, 0)
        self.assertIn("Files", self.report_titles())

    def test_words_are_explained_as_the_program_takes_them(self):
        code, out = settings([], typed='-SORT=Size -cl=128K -0 "My Files" -w -help\ny\n')
        self.assertEqual(code, 0)
        self.assertEqual(settings(["--show"])[1][1], '  -SORT=Size -cl=128K -0 "My Files" -w -help')
        for expected in [
                "  -SORT=Size  writes: Invalid sorting method specified - SIZE",
                "  -cl=128K    counts wastage for a cluster size of 65536 bytes",
                "              writes: Invalid cluster size > 64K ignored.",
                "  -0          shows folders up to 255 levels deep",
                "  My Files    is not an option: it becomes the start folder",
                "  -w          shows the welcome screen",
                'Warning: "My Files" becomes the start folder of every run whose command line names no folder.',
                'Warning: "-w" ends every run before the command line is read.',
                'Warning: "-help" opens the help file on every run.']:
            self.assertIn(expected, out)

    def test_the_json_and_comparison_words_are_explained(self):
        settings(["--set", "-json -compare:old.json -sort=growth"])
        out = settings(["--show"])[1]
        self.assertEqual(out[3:6], [
            "  -json       makes a JSON report",
            "  -compare:old.json shows each folder's growth since the earlier JSON report old.json",
            "  -sort=growth sorts subfolders by growth since the compared report, largest first"])

    def test_exclusions_and_links_are_explained(self):
        code, out = settings([], typed='-exclude=.git "-exclude:src/old build" -exclude=src/**/gen -links -map -bars\nn\n')
        self.assertEqual(code, 0)
        for expected in [
                "  -map        makes a page that draws the tree as a treemap",
                "  -bars       shows a bar of each folder's share of its parent's total",
                "  -exclude=.git leaves out every folder named .git, at any depth",
                "  -exclude=src/**/gen leaves out the folders whose path below the start folder matches src/**/gen",
                "  -exclude:src/old build leaves out the folder src/old build below the start folder",
                "  -links      counts a file with several hard links in full under each of its names"]:
            self.assertIn(expected, out)

    def test_an_unknown_option_of_its_own_shows_its_usage(self):
        code, out = settings(["--bogus"])
        self.assertEqual(code, 2)
        self.assertTrue(out[0].startswith("Usage: "), out)


if __name__ == "__main__":
    unittest.main()
