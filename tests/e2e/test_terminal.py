"""The page prompt and the browser in a real terminal: the program runs in a
tmux pane of 100 columns and 30 rows (a page of 29 lines), keys are sent as a
user types them, and the screen is read back. Every check polls the screen
until it shows what is expected, so no test depends on how fast it runs.

Each report window is compared with the report the same program writes to a
file (with -c+ for the same tree characters), so every row on the screen is
checked against the line that belongs there.
"""
import os
import re
import shlex
import shutil
import subprocess
import tempfile
import time
import unittest
import uuid

import tftest
from navigation_screens import KEYS_PAGE_BAR, full_rules, navigation_bar, one_level_view
from tftest import ON_WINE, SEP, TestCase, clean_environment, mask, native_path, run

ROWS, COLUMNS = 30, 100
PAGE = ROWS - 1
BAR = "% Up,Down,PgUp,PgDn,Home,End W)aste:D)isplay F)iles S)ub T)otals A)scii Esc"
PROMPT = "-- [Enter] & [Space]=page, [End]=continuous, [Esc]=exit, [j] & [k]=line --"
# The attributes a row begins with, as `capture-pane -e` shows them.
LEADING_STYLE = re.compile(r"^(?:\x1b\[[0-9;]*m)*")
STYLE = re.compile(r"\x1b\[[0-9;]*m")
# Wine starts slowly the first time (it may create its prefix).
TIMEOUT = 60 if ON_WINE else 10
# Wine's console decodes Home and End in their xterm form (ESC [ H, ESC [ F)
# but not in the ESC [ 1 ~ / ESC [ 4 ~ form tmux sends for the keys.
HOME = ["-l", "\x1b[H"] if ON_WINE else ["Home"]
END = ["-l", "\x1b[F"] if ON_WINE else ["End"]
# Report files from Wine carry the graphics characters as code page 437 bytes.
REPORT_ENCODING = "cp437" if ON_WINE else "utf-8"


class Terminal:
    """A tmux server of its own, with one pane running an interactive sh."""

    def __init__(self):
        self.socket = "tftest-%d-%s" % (os.getpid(), uuid.uuid4().hex[:8])
        env = clean_environment()
        env.pop("TMUX", None)
        self.tmux("new-session", "-d", "-x", str(COLUMNS), "-y", str(ROWS), "env PS1='$ ' sh", env=env)
        self.wait_for(lambda rows: rows[0].startswith("$"), "the shell's prompt")
        self.tty = self.tmux("display-message", "-p", "#{pane_tty}").strip()

    def tmux(self, *args, env=None):
        return subprocess.run(["tmux", "-L", self.socket] + list(args), env=env, check=True,
                              capture_output=True, text=True).stdout

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)

    def rows(self, styled=False):
        rows = self.tmux("capture-pane", "-p", *(["-e"] if styled else [])).split("\n")
        return (rows + [""] * ROWS)[:ROWS]

    def type_line(self, text):
        self.tmux("send-keys", "-l", text)
        self.tmux("send-keys", "Enter")

    def keys(self, *keys):
        """Sends keys once the program waits for one: a key typed while the
        terminal is still in its line mode would be echoed onto the screen."""
        self.wait_until_reading_keys()
        self.tmux("send-keys", *keys)

    def wait_until_reading_keys(self):
        deadline = time.monotonic() + TIMEOUT
        while True:
            modes = subprocess.run(["stty", "-F", self.tty, "-a"], capture_output=True, text=True).stdout.split()
            if "-icanon" in modes and "-echo" in modes and "isig" in modes:
                return
            if time.monotonic() > deadline:
                raise AssertionError("the terminal never went into key mode: " + " ".join(modes))
            time.sleep(0.02)

    def wait_for(self, predicate, what, styled=False):
        deadline = time.monotonic() + TIMEOUT
        while True:
            rows = self.rows(styled)
            if predicate(rows):
                return rows
            if time.monotonic() > deadline:
                raise AssertionError("the screen never showed %s; it shows:\n%s" % (what, "\n".join(rows)))
            time.sleep(0.05)

    def run_program(self, args, redirect="", env=()):
        """`env`: NAME=value words set for the program alone."""
        words = list(env) + ([tftest.WINE] if ON_WINE else []) + [tftest.BIN] + args
        self.type_line(" ".join(shlex.quote(w) for w in words) + redirect + "; echo EXIT=$?")

    def wait_for_exit(self):
        """Waits for the exit code and the shell's prompt after it: a line
        typed sooner may reach Wine's console while it is still closing."""
        def ended(rows):
            ends = [i for i, row in enumerate(rows) if row.startswith("EXIT=")]
            return bool(ends) and any(row.startswith("$") for row in rows[ends[-1] + 1:])

        rows = self.wait_for(ended, "the program's end and the shell's prompt")
        return next(r for r in rows if r.startswith("EXIT="))

    def resize(self, columns, rows):
        """Resizes the pane and waits until its terminal has the size."""
        self.tmux("resize-window", "-x", str(columns), "-y", str(rows))
        deadline = time.monotonic() + TIMEOUT
        while subprocess.run(["stty", "-F", self.tty, "size"], capture_output=True,
                             text=True).stdout.split() != [str(rows), str(columns)]:
            if time.monotonic() > deadline:
                raise AssertionError("the terminal never took the size %dx%d" % (columns, rows))
            time.sleep(0.02)

    def terminal_modes(self):
        """The local modes `stty -a` reports, typed at the shell's prompt."""
        self.type_line("stty -a; echo STTY-DONE")
        rows = self.wait_for(lambda rows: "STTY-DONE" in rows, "the terminal's modes")
        return " ".join(rows).split()


def reversed_rows(styled_rows):
    """The rows that begin in reverse video: the attribute itself on Linux,
    a background colour where Wine's console swaps the colours."""
    def reversed(row):
        codes = [int(n) for n in re.findall(r"\d+", LEADING_STYLE.match(row).group(0))]
        return 7 in codes or any(40 <= n <= 47 for n in codes)

    return [i for i, row in enumerate(styled_rows) if reversed(row)]


def comparable(rows):
    """Rows as the screen holds them: no trailing blanks, drive figures masked."""
    text = "\n".join(row.rstrip() for row in rows)
    return mask(text.encode("utf-8")).decode("utf-8").split("\n")


@unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
class TerminalCase(TestCase):
    def setUp(self):
        super().setUp()
        self.terminal = Terminal()
        self.addCleanup(self.terminal.close)

    def assertModesRestored(self):
        modes = self.terminal.terminal_modes()
        self.assertIn("icanon", modes)
        self.assertIn("echo", modes)
        self.assertNotIn("-icanon", modes)
        self.assertNotIn("-echo", modes)


class Browser(TerminalCase):
    def setUp(self):
        super().setUp()
        # 40 folders of two subfolders each: 121 folder lines, several pages.
        for k in range(40):
            self.tree.file("d%03d/s%03da/f" % (k, k), 1000 * k)
            self.tree.folder("d%03d/s%03db" % (k, k))
        self.start = native_path(self.tree.path())
        self.report = self.report_lines([])
        self.total = len(self.report)
        self.assertEqual(self.total, 2 + 121 + 9)

    def report_lines(self, extra, folder=None):
        """The report as the program writes it into a file, without the
        header line, the blank line after it and the closing form feed."""
        return comparable(self.raw_report_lines(extra, folder))

    def view(self, extra, folder="", width=COLUMNS - 1):
        """Navigation's view of one level of `folder` below the start folder
        (see navigation_screens.one_level_view)."""
        path = self.start + (SEP + folder.replace("/", SEP) if folder else "")
        return comparable(one_level_view(self.raw_report_lines(extra, path), path, width))

    def screen_report(self, extra):
        """The report as the browser shows it on the screen: its rules are
        cut at the screen's width, not at a redirected report's 79."""
        report = self.raw_report_lines(extra)
        return comparable(full_rules(report, report[0].index("Folder name"), COLUMNS - 1))

    def raw_report_lines(self, extra, folder=None):
        result = run(["-c+"] + extra + [folder or self.start])
        self.assertEqual(result.code, 0)
        text = result.out.decode(REPORT_ENCODING).replace("\r\n", "\n")
        self.assertTrue(text.endswith("\n\f\n"))
        return text[:-len("\n\f\n")].split("\n")[2:]

    def expect_window(self, shown_end, report=None):
        """Waits for the status bar of a window whose last line is line
        `shown_end` - 1, with the report's lines above it."""
        report = report or self.report
        bar = "%3d%s" % (shown_end * 100 // len(report), BAR)
        count = min(shown_end, PAGE)
        expected = report[shown_end - count:shown_end]

        def shows_window(rows):
            rows = comparable(rows)
            return bar in rows and rows[rows.index(bar) - count:rows.index(bar)] == expected

        self.terminal.wait_for(shows_window, "lines %d to %d and the bar '%s'" % (shown_end - count, shown_end - 1, bar))

    def expect_navigation(self, top, cursor, report, bar=None, page=PAGE):
        """Waits for the window of navigation from line `top`, the cursor in
        reverse video on line `cursor`, and the bar (the keys of a view of
        one level of the start folder unless given)."""
        count = min(page, len(report) - top)
        expected = report[top:top + count] + [bar or navigation_bar()]

        def shows_window(styled_rows):
            rows = comparable([STYLE.sub("", row) for row in styled_rows])
            return rows[:count + 1] == expected and reversed_rows(styled_rows) == [cursor - top]

        what = "lines %d to %d with the cursor on line %d:\n%s" % (top, top + count - 1, cursor, "\n".join(expected))
        self.terminal.wait_for(shows_window, what, styled=True)

    def remove_after_yes(self, paths):
        """Answers y to the question on the bar, and yes to each question
        for good where no trash can take a folder, until `paths` are gone."""
        self.terminal.keys("y")
        gone = lambda: not any(os.path.exists(path) for path in paths)
        while not gone():
            rows = self.terminal.wait_for(lambda rows: gone() or any("Type yes" in row for row in rows),
                                          "%s gone, or the question for good" % paths)
            if not gone() and any("Type yes" in row for row in rows):
                self.terminal.keys("-l", "yes")
                self.terminal.keys("Enter")
                self.terminal.wait_for(lambda rows: not any("Type yes" in row for row in rows), "the answer taken")

    # The whole way through navigation, every screen compared with the
    # program's own report of what is on the disk: -nav (here from the
    # TALLYFOLD variable) starts in the view
    # of one level (the top, its subfolders, its own files); Enter reads a
    # folder folded by -1 again and opens it; ? shows the keys; M shows ages
    # in a run without -age; two marks go to the trash after one question;
    # / finds a name; O orders by total; Esc goes back to the browser.
    def test_navigation_from_nav_to_marks_search_and_order(self):
        trash_home = tempfile.mkdtemp(prefix="tf-xdg-")
        self.addCleanup(shutil.rmtree, trash_home, True)
        opened = navigation_bar(opened=True)
        # Without a console -nav changes nothing.
        self.assertEqual(mask(run(["-nav", "-1", self.start]).out), mask(run(["-1", self.start]).out))
        self.terminal.run_program(["-1", self.start], env=["TALLYFOLD=-nav", "XDG_DATA_HOME=" + trash_home])
        self.expect_navigation(0, 2, self.view(["-1"]))
        self.terminal.keys("Down", "Enter")
        self.expect_navigation(0, 3, self.view([], "d000"), opened)
        self.terminal.keys("?")
        self.terminal.wait_for(lambda rows: rows[0] == "The keys of navigation" and KEYS_PAGE_BAR in rows,
                               "the page of the keys")
        self.terminal.keys("Escape")
        self.expect_navigation(0, 3, self.view([], "d000"), opened)
        self.terminal.keys("m")
        self.expect_navigation(0, 3, self.view(["-age"], "d000"), opened)
        # A removal does not take back the age of what it removed from the
        # folders above it, so the ages are hidden again before it.
        self.terminal.keys("m")
        d000 = self.view([], "d000")
        self.expect_navigation(0, 3, d000, opened)
        self.terminal.keys("Space", "Space")
        marked = d000[:3] + ["*" + line[1:] for line in d000[3:5]] + d000[5:]
        self.expect_navigation(0, 5, marked, "Enter:open Left:up Space:mark X:delete 2 marked /:search "
                                             "V:whole subtree O:order=name M:ages ?:keys")
        self.terminal.keys("x")
        question = re.compile(r"^Move 2 folders \(.+, 1 files\) to the trash\? y/N$")
        self.terminal.wait_for(lambda rows: any(question.match(row) for row in rows), "the question for both")
        self.remove_after_yes([self.tree.path("d000/s000a"), self.tree.path("d000/s000b")])
        self.expect_navigation(0, 3, self.view([], "d000"), opened)
        if not ON_WINE:
            for name in ["s000a", "s000b"]:
                self.assertTrue(os.path.isdir(os.path.join(trash_home, "Trash", "files", name)))
        self.terminal.keys("Left")
        root = self.view(["-1"])
        self.expect_navigation(0, 3, root)
        self.terminal.keys("/")
        self.terminal.keys("-l", "D017")
        self.terminal.keys("Enter")
        self.expect_navigation(0, 20, root)
        self.terminal.keys("o")
        by_total = self.view(["-1", "-sort=total"])
        cursor = next(i for i, line in enumerate(by_total) if re.search(r"\u2500d017\b", line))
        top = max(cursor - PAGE + 1, 0)
        self.expect_navigation(top, cursor, by_total, navigation_bar("total"))
        self.terminal.keys("Escape")
        self.expect_window(top + PAGE, self.screen_report(["-1", "-sort=total"]))
        self.assertEqual(reversed_rows(self.terminal.rows(styled=True)), [])
        self.terminal.keys("Escape")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
        self.assertModesRestored()

        # No line wraps: at 80 columns every column stays and names too long
        # lose their middle; at 60 the bars and the ages leave the view, and
        # the bar says so.
        for columns, rows, extra, bar in [
                (80, 24, ["-bars", "-age"], navigation_bar().replace(" M:ages B:bars", "")),
                (60, 20, [], "Too narrow for bars and ages Enter:open Space:mark ?:keys")]:
            with self.subTest(columns=columns):
                self.terminal.resize(columns, rows)
                self.terminal.run_program(["-nav", "-bars", "-age", self.start])
                self.expect_navigation(0, 2, self.view(extra, width=columns - 1), bar, page=rows - 1)
                self.terminal.keys("q")
                self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")

    # L lists the largest files below the folder at the cursor (the start
    # folder here) as -top=20 lists them; Esc goes back to navigation.
    def test_l_lists_the_largest_files_of_the_folder_at_the_cursor(self):
        largest = self.report_lines(["-top=20"])[:22]
        self.terminal.run_program([self.start])
        self.expect_window(PAGE - 2)
        self.terminal.keys("n")
        self.expect_navigation(0, 2, self.view([]))
        self.terminal.keys("l")
        bar = "Up/Down:file Delete/X:delete Esc:back"
        self.terminal.wait_for(lambda rows: comparable(rows)[2:25] == largest + [bar],
                               "the largest files")
        self.terminal.keys("Escape")
        self.expect_navigation(0, 2, self.view([]))

    def answer_removal(self, key, shown, files, path):
        """Presses `key`, answers y to the question for the trash, and yes
        to the question for good where no trash can take the item at `path`."""
        self.terminal.keys(key)
        question = re.compile(r"^Move %s.+%s\) to the trash\? y/N$" % (re.escape(shown), files))
        self.terminal.wait_for(lambda rows: any(question.match(row) for row in rows), "the question")
        self.remove_after_yes([path])

    # One journey through the keys that act on the disk. After each, the
    # screen equals the report of a fresh run over what is on the disk.
    def test_delete_rescan_and_open_act_on_the_folder_at_the_cursor(self):
        trash_home = tempfile.mkdtemp(prefix="tf-xdg-")
        self.addCleanup(shutil.rmtree, trash_home, True)
        sep = tftest.SEP
        self.terminal.run_program([self.start], env=["XDG_DATA_HOME=" + trash_home, "SHELL=/bin/sh"])
        self.expect_window(PAGE - 2)
        self.terminal.keys("n", "Down")
        self.answer_removal("DC", self.start + sep + "d000 (", ", 1 files", self.tree.path("d000"))
        self.expect_navigation(0, 3, self.view([]))
        if not ON_WINE:
            with open(os.path.join(trash_home, "Trash", "info", "d000.trashinfo")) as info:
                self.assertIn("Path=%s/d000\n" % self.start, info.read())
            self.assertTrue(os.path.isdir(os.path.join(trash_home, "Trash", "files", "d000", "s000a")))

        # d001 opens with the cursor on s001a, which is read again.
        opened = navigation_bar(opened=True)
        self.tree.file("d001/s001a/new", 50000)
        self.terminal.keys("Enter", "r")
        self.expect_navigation(0, 3, self.view([], "d001"), opened)
        self.terminal.keys("Enter")  # a folder without subfolders opens on its files
        self.expect_navigation(0, 3, self.view([], "d001/s001a"), opened)
        self.terminal.keys("x")
        self.expect_navigation(0, 3, self.view([], "d001/s001a"),
                               "The [files] line holds the folder's own files, no folder")
        self.terminal.keys("Left")

        # The largest file below s001a leaves the disk and the figures.
        self.terminal.keys("l")
        self.terminal.wait_for(lambda rows: "Up/Down:file Delete/X:delete Esc:back" in rows, "the largest files")
        self.answer_removal("x", self.start + sep + "d001" + sep + "s001a" + sep + "new (", "",
                            self.tree.path("d001/s001a/new"))
        self.terminal.keys("Escape")
        self.expect_navigation(0, 3, self.view([], "d001"), opened)

        if not ON_WINE:
            # Without a desktop the shell starts in the folder; the browser
            # comes back when it ends.
            self.terminal.keys("e")
            self.terminal.wait_for(lambda rows: rows[0].startswith("$"), "the shell in the folder")
            self.terminal.type_line("pwd > %s/pwd; exit" % trash_home)
            self.expect_navigation(0, 3, self.view([], "d001"), opened)
            with open(os.path.join(trash_home, "pwd")) as pwd:
                self.assertEqual(pwd.read(), self.tree.path("d001/s001a") + "\n")
        self.terminal.keys("Left")
        self.terminal.keys(*HOME)
        self.terminal.keys("x")
        self.expect_navigation(0, 2, self.view([]), bar="Cannot delete the start folder")
        self.terminal.keys("Escape")
        self.terminal.wait_for(lambda rows: any(row.endswith(BAR) for row in rows), "the browser")
        self.terminal.keys("Escape")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")

    def test_keys_that_act_on_the_disk_refuse_a_loaded_report(self):
        saved = tempfile.NamedTemporaryFile(suffix=".json", delete=False)
        self.addCleanup(os.remove, saved.name)
        saved.write(run(["-json", self.start]).out)
        saved.close()
        self.terminal.run_program(["-load=" + native_path(saved.name)])
        self.terminal.wait_for(lambda rows: any(row.endswith(BAR) for row in rows), "the browser")
        self.terminal.keys("n")
        refused = lambda rows: "Not on a loaded report" in rows
        for key in ["x", "r", "e"]:
            self.terminal.keys(key)
            self.terminal.wait_for(refused, "the refusal of " + key)
            self.terminal.keys("Down")
            self.terminal.wait_for(lambda rows: not refused(rows), "the keys again")
        self.assertTrue(os.path.isdir(self.tree.path("d000")))

    def test_keys_move_the_window_and_esc_ends_the_run(self):
        self.terminal.run_program([self.start])
        self.expect_window(PAGE - 2)  # the first screen is two lines short
        steps = [
            (["Space"], 27 + 28),
            (["Down"], 56),
            (["Up"], 55),
            (["PPage"], PAGE),  # would start above line 0
            (["NPage"], PAGE + 28),
            (HOME, PAGE),
            (["j"], PAGE + 1),
            (END, self.total),
            (["k"], self.total - 1),
            (["Space"], self.total - 1 + 28),
        ]
        for keys, shown_end in steps:
            with self.subTest(keys=keys):
                self.terminal.keys(*keys)
                self.expect_window(min(shown_end, self.total))
        self.terminal.keys("a")
        self.expect_window(self.total, self.report_lines(["-c-"]))
        self.terminal.keys("t")
        self.expect_window(self.total, self.report_lines(["-c-", "-nototals"]))
        self.terminal.keys("b")
        self.expect_window(self.total, self.report_lines(["-c-", "-nototals", "-bars"]))
        self.terminal.keys("Escape")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
        self.assertModesRestored()

    def test_space_at_the_end_returns_and_q_ends_the_run(self):
        self.terminal.run_program([self.start])
        self.expect_window(PAGE - 2)
        self.terminal.keys(*END)
        self.expect_window(self.total)
        self.terminal.keys("Space")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
        self.terminal.run_program([self.start])
        self.expect_window(PAGE - 2)
        self.terminal.keys("q")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
        self.assertModesRestored()

    def test_ctrl_c_ends_the_run_and_restores_the_terminal(self):
        self.terminal.run_program([self.start])
        self.expect_window(PAGE - 2)
        self.terminal.keys("C-c")
        self.terminal.wait_for(lambda rows: comparable(rows)[-1] == "$" or "$" in comparable(rows)[PAGE - 1:],
                               "the shell's prompt")
        self.assertModesRestored()

    # Standard input is no terminal while standard output is: no key can be
    # read, so the rest of the report is printed and the run ends.
    def test_report_goes_on_when_keys_cannot_be_read(self):
        self.terminal.run_program([self.start], " < /dev/null")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
        rows = comparable(self.terminal.rows())
        exit_row = rows.index("EXIT=0")
        self.assertEqual(rows[exit_row - PAGE + 2:exit_row], self.report[-(PAGE - 2):])
        self.assertFalse(any(BAR in row for row in rows))

    @unittest.skipIf(ON_WINE, "Wine's console decodes the escape sequences itself")
    def test_escape_sequences_of_common_terminals(self):
        self.terminal.run_program([self.start])
        self.expect_window(PAGE - 2)
        page_down = "\x1b[6~"
        steps = [
            (page_down, 55),
            ("\x1b[1;2A", 55),      # Shift+Up is ignored
            ("\x1bOB", 56),          # Down, application mode
            ("\x1b[B", 57),
            ("\x1b[A", 56),          # Up
            ("\x1bOA", 55),
            ("\x1b[5~", PAGE),      # Page Up
            (page_down, PAGE + 28),
            ("\x1bOH", PAGE),        # Home: xterm application mode
            (page_down, PAGE + 28),
            ("\x1b[1~", PAGE),      # VT220, tmux
            (page_down, PAGE + 28),
            ("\x1b[7~", PAGE),      # rxvt
            ("\x1b[F", self.total),  # End: xterm
            ("\x1b[H", PAGE),        # Home: xterm
            ("\x1bOF", self.total),
            ("\x1b[1~", PAGE),
            ("\x1b[4~", self.total),
            ("\x1b[1~", PAGE),
            ("\x1b[8~", self.total),
        ]
        for sequence, shown_end in steps:
            with self.subTest(sequence=sequence.encode()):
                self.terminal.keys("-l", sequence)
                self.expect_window(shown_end)
        self.terminal.keys("-l", "\x1b")  # a lone Esc, no key after it
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")


@unittest.skipIf(ON_WINE, "a Linux mount")
class DeletionForGood(TerminalCase):
    """Where no trash can take a folder (its own file system, whose top
    holds a file where the trash would be), it is deleted for good after a
    typed yes; one swapped for a link meanwhile is not followed."""

    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("mounting needs root")
        self.top = self.tree.folder("mnt")
        if subprocess.run(["mount", "-t", "tmpfs", "tmpfs", self.top], capture_output=True).returncode != 0:
            self.skipTest("mount is not allowed here")
        self.addCleanup(subprocess.run, ["umount", self.top], capture_output=True)
        self.tree.file("mnt/.Trash-%d" % os.getuid(), 0)
        self.tree.file("mnt/start/gone/f", 10)
        self.tree.file("mnt/start/swapped/f", 10)
        self.tree.file("outside/kept", 10)
        self.start = self.tree.path("mnt/start")
        self.terminal.run_program([self.start], env=["XDG_DATA_HOME=" + self.tree.path("xdg")])
        self.terminal.keys("n")

    def ask_for_good(self, name):
        self.terminal.keys("DC")
        self.terminal.wait_for(lambda rows: any(row.endswith("to the trash? y/N") for row in rows), "the question")
        self.terminal.keys("y")
        question = "Delete %s/%s permanently? Type yes" % (self.start, name)
        self.terminal.wait_for(lambda rows: any(question in row for row in rows), "the question for good")

    def test_a_folder_goes_for_good_and_a_link_put_in_its_place_is_not_followed(self):
        self.terminal.keys("Down")  # gone
        self.ask_for_good("gone")
        self.terminal.keys("-l", "yes")
        self.terminal.keys("Enter")
        self.terminal.wait_for(lambda rows: not os.path.exists(self.tree.path("mnt/start/gone")), "gone deleted")
        self.terminal.wait_for(lambda rows: rows[3].endswith("swapped"), "the line of gone left out")
        self.ask_for_good("swapped")  # the cursor stays on the line, now swapped's
        os.rename(self.tree.path("mnt/start/swapped"), self.tree.path("mnt/swapped"))
        os.symlink(self.tree.path("outside"), self.tree.path("mnt/start/swapped"))
        self.terminal.keys("-l", "yes")
        self.terminal.keys("Enter")
        self.terminal.wait_for(lambda rows: any(row.startswith("Cannot delete %s/swapped" % self.start) for row in rows),
                               "the refusal")
        self.assertTrue(os.path.exists(self.tree.path("outside/kept")))
        self.assertTrue(os.path.exists(self.tree.path("mnt/swapped/f")))
        self.terminal.keys("q")  # the bar is taken back: the shell's line starts clean
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")


if __name__ == "__main__":
    unittest.main()
