"""The page prompt, the reading prompt and the console's input mode in a
real terminal (see test_terminal): a long message pages a line or a page at
a key, a short scan writes nothing of the reading prompt, and the console
gets its input mode back."""
import os
import shlex
import unittest

import tftest
from test_terminal import PAGE, PROMPT, TerminalCase
from tftest import ON_WINE, native_path, run


class PagePrompt(TerminalCase):
    def setUp(self):
        super().setUp()
        result = run(["-?"])
        self.usage = result.out.decode("latin-1").replace("\r\n", "\n").split("\n")[:-1]
        self.assertGreater(len(self.usage), PAGE + 2)

    def expect_prompt_after(self, line_count):
        def prompt_below_line(rows):
            rows = [row.rstrip() for row in rows]
            return PROMPT in rows and rows[rows.index(PROMPT) - 1] == self.usage[line_count - 1].rstrip()

        self.terminal.wait_for(prompt_below_line, "the prompt below line %d" % line_count)

    def test_pages_lines_and_end_of_a_long_message(self):
        self.terminal.run_program(["-?"])
        self.expect_prompt_after(PAGE)
        self.terminal.keys("j")
        self.expect_prompt_after(PAGE + 1)
        self.terminal.keys("K")
        self.expect_prompt_after(PAGE + 2)
        self.terminal.keys("Enter")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
        rows = [row.rstrip() for row in self.terminal.rows()]
        exit_row = rows.index("EXIT=0")
        self.assertEqual(rows[exit_row - 9:exit_row], [line.rstrip() for line in self.usage[-9:]])
        self.assertNotIn(PROMPT, rows)
        self.assertModesRestored()

    def test_esc_ends_the_run_without_the_next_line(self):
        self.terminal.run_program(["-?"])
        self.expect_prompt_after(PAGE)
        self.terminal.keys("Escape")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
        rows = [row.rstrip() for row in self.terminal.rows()]
        self.assertEqual(rows[rows.index("EXIT=0") - 1], self.usage[PAGE - 1].rstrip())
        self.assertModesRestored()


MODE_PROBE = os.path.join(os.path.dirname(tftest.BIN), "tests", "console_mode_probe.exe")


class ReadingPrompt(TerminalCase):
    # A scan shorter than a second writes nothing of the reading prompt, so
    # a terminal costs no more than a file.
    def test_a_short_scan_shows_no_reading_prompt(self):
        self.tree.folder("a/b")
        self.terminal.run_program(["-p", native_path(self.tree.path())], " > /dev/null")
        self.assertEqual(self.terminal.wait_for_exit(), "EXIT=0")
        self.assertFalse([row for row in self.terminal.rows() if "Reading folder" in row])


@unittest.skipUnless(ON_WINE and os.path.exists(MODE_PROBE), "the console's input mode is Windows' own")
class ConsoleInputMode(TerminalCase):
    def test_the_console_gets_its_input_mode_back(self):
        # One console for all three: the probe, the program, the probe again.
        probe, program = native_path(MODE_PROBE), native_path(tftest.BIN)
        command = "%s & %s -? > NUL & %s" % (probe, program, probe)
        self.terminal.type_line(shlex.join([tftest.WINE, "cmd", "/c", command]) + "; echo EXIT=$?")
        self.terminal.wait_for_exit()
        modes = [row.strip() for row in self.terminal.rows() if row.startswith("MODE=")]
        self.assertEqual(len(modes), 2, modes)
        self.assertEqual(modes[1], modes[0])


if __name__ == "__main__":
    unittest.main()
