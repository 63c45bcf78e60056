"""The usage and welcome screens, the first-argument "?" rule, and the
launchers with a stand-in opener: what each writes, what it opens, and the
failure path (error lines, clipboard, exit code 1)."""
import base64
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from tftest import BIN, EOL, ON_WINE, SEP, WINE, TestCase, clean_environment, lines, native_path, run, \
    set_stored_defaults
from test_html_report import build_settings
from test_terminal import Terminal

LINUX_ONLY = unittest.skipIf(ON_WINE, "the stand-in opener is xdg-open, found through PATH")

USAGE = [
    "",
    "Usage: tallyfold [options] [folder] [options]",
    "",
    "Where [options] is zero or more of",
    "  -#        Only show folders up to # levels deep (1..)",
    "  -size=#   Only show folder if # bytes or larger (use K,M,G suffix",
    "            K=1024  M=1024K  G=1024M e.g. 2M=2 megabytes)",
    "  -cl=#     Show wastage for cluster size of #",
    "  -dir      Give same results as DIR - exclude wastage",
    "  -asper    Show per-folder wastage as a percentage (default)",
    "  -asval    Show per-folder wastage as a number",
    "  -nowaste  Do not show per-folder wasted space information",
    "  -nofiles  Do not show file count",
    "  -nooffline  Ignore sizes of offline files in calculations",
    "  -nosubs   Do not show sub folder counts in square brackets",
    "  -nototals Do not show folder totals on the left hand side",
    "  -nostats  Do not include drive statistics at end of report",
    "  -noheader Do not include report header for CSV or Tab reports",
    "  -tab      Database output, fixed columns",
    "  -comma    Database output, comma delimited",
    "  -html     HTML Output",
    "  -c+       Use graphics chars, even if redirected",
    "  -c-       Use standard chars, even if not redirected",
    "  -p        Do NOT pause between pages if not redirected",
    "  -sort=[name | local | total | waste | files | none]",
    "            Choose sort order",
    "  -longest  Show paths exceeding 255 characters",
    "  -?        Display this help screen",
    "  -config   To set Tallyfold's default parameters",
    "  -support  Technical support",
    "  -vantor  To go to the Quenlow web site",
    "  -tallyfold  To go to the Tallyfold home page",
    "  -manual   To display the Tallyfold user manual",
    "  -help     To display the Tallyfold user manual",
    "  -w        Display welcome/help screen",
    "",
    "Use the configuration program CONFIG.EXE to set your most often used or",
    "standard parameters. These can be overridden by the environment variable",
    "TALLYFOLD, for which you should use a colon instead of an equals sign i.e.",
    "-cl:# and -size:#",
]

WELCOME_ADDRESS = re.compile(r"^  (https?://\S+)$")


def welcome(maker, support):
    return [
        "Tallyfold is a great utility for finding disk-space hungry applications or",
        "network space hogs. It can show you how much of your precious hard disk",
        "space is being wasted, and can easily show you how much disk space a set",
        "of folders will use when copied elsewhere.",
        "",
        "Don't forget to visit Quenlow's homepage on the InterNet:",
        "",
        "  " + maker,
        "",
        "Here you can download updates, join mailing lists, leave comments,",
        "suggestions or bug reports, as well as try out our other products.",
        "Technical support is available at",
        "",
        "  " + support,
        "",
        "Type tallyfold -? for help",
    ]


def addresses_on_the_welcome_screen():
    """The maker's and the support addresses, which are settings of the build."""
    out = run(["-w"]).out.decode().split(EOL.decode())
    return [m.group(1) for m in map(WELCOME_ADDRESS.match, out) if m]


_EXCEPTION = re.compile(rb"^(Exception EShellError in module \S+ at )[0-9A-F]+\.", re.M)


def mask_address(output):
    return _EXCEPTION.sub(rb"\1<address>.", output)


def failure_lines(message, target, module):
    return lines(message,
                 "Exception EShellError in module " + module + " at <address>.",
                 "Shell command failed. It has been copied to the clipboard.",
                 target + ".")


class Screens(TestCase):
    def tearDown(self):
        set_stored_defaults(None)
        super().tearDown()

    def test_a_question_mark_in_the_first_argument_shows_the_usage_screen(self):
        for first in ["-?", "/?", "?", "a?b"]:
            with self.subTest(first=first):
                result = run([first, "-tab"])
                self.assertEqual(result.code, 0)
                self.assertOutput(result.out, lines(*USAGE))

    def test_a_question_mark_as_second_argument_becomes_the_start_folder(self):
        result = run([native_path(self.tree.path()), "-?"], cwd=self.tree.path())
        self.assertEqual(result.code, 1)
        self.assertNotIn(b"Usage:", result.out)
        self.assertIn(("Path was not found (invalid character or maximum path length exceeded?): "
                       + native_path(self.tree.path("-?")) + SEP).encode(), result.err)

    def test_version_words_answer_without_the_banner_and_end_the_run(self):
        for args, expected in [(["--version"], ["tallyfold 5.0"]), (["-Version"], ["tallyfold 5.0"]),
                               (["-sort=big", "--version"],
                                ["Invalid sorting method specified - BIG",
                                 "(Valid methods are: name,local,total,waste,files,none,growth,age)", "tallyfold 5.0"]),
                               ([native_path(self.tree.path()), "--version", "-w"], ["tallyfold 5.0"])]:
            with self.subTest(args=args):
                result = run(args)
                self.assertEqual(result.code, 0)
                self.assertOutput(result.out, lines(*expected))

    def test_long_help_lists_the_options_in_the_usual_form(self):
        result = run(["--help"])
        self.assertEqual(result.code, 0)
        self.assertEqual(result.err, b"")
        for args in [["-h"], ["-html", "--HELP", "elsewhere"]]:
            self.assertEqual(run(args).out, result.out, args)
        out = result.out.decode().split(EOL.decode())
        self.assertEqual(out[0], "Usage: tallyfold [OPTION]... [FOLDER]... [OPTION]...")
        settings = "config.exe" if ON_WINE else "tallyfold-config"
        self.assertIn("  -config          start " + settings + " to set the default parameters", out)
        self.assertNotIn(b"CONFIG.EXE", result.out)

    def test_a_folder_named_like_a_long_word_is_given_with_a_path(self):
        self.tree.file("--help/f", 10)
        result = run(["-comma", "-noheader", "." + SEP + "--help"], cwd=self.tree.path())
        self.assertEqual(result.code, 0)
        self.assertIn((',"' + native_path(self.tree.path("--help")) + SEP + '"').encode(), result.out)

    def test_the_welcome_screen_alone_ends_the_run(self):
        maker, support = addresses_on_the_welcome_screen()
        result = run(["-w", native_path(self.tree.path())])
        self.assertEqual(result.code, 0)
        self.assertOutput(result.out, lines(*welcome(maker, support)))
        self.assertEqual(result.err, b"")

    def test_w_in_the_stored_defaults_ends_every_run_before_the_command_line(self):
        maker, support = addresses_on_the_welcome_screen()
        set_stored_defaults("-nofiles -w")
        for args in [[], ["-?"], ["-support"], [native_path(self.tree.path())]]:
            with self.subTest(args=args):
                result = run(args)
                self.assertEqual(result.code, 0)
                self.assertOutput(result.out, lines(*welcome(maker, support)))


class StandInOpener:
    """A folder holding an xdg-open that records its argument and exits with
    `status`, or no xdg-open at all when `status` is None."""

    def __init__(self, status):
        self.folder = tempfile.mkdtemp(prefix="tf-opener-")
        self.record = os.path.join(self.folder, "opened")
        if status is not None:
            script = os.path.join(self.folder, "xdg-open")
            with open(script, "w") as handle:
                handle.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s"\nexit %d\n' % (self.record, status))
            os.chmod(script, 0o755)

    def environment(self):
        return {"PATH": self.folder}

    def opened(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record) as handle:
            return handle.read().splitlines()

    def remove(self):
        shutil.rmtree(self.folder, ignore_errors=True)


@LINUX_ONLY
class Launchers(TestCase):
    def setUp(self):
        super().setUp()
        self.maker, self.support = addresses_on_the_welcome_screen()
        self.program_folder = os.path.dirname(os.path.realpath(BIN))

    def opener(self, status):
        opener = StandInOpener(status)
        self.addCleanup(opener.remove)
        return opener

    def test_each_launch_writes_its_line_opens_its_target_and_ends_the_run(self):
        for switch, message, target in [
                ("-support", "Starting Web browser to show Quenlow support page.", self.support),
                ("-vantor", "Starting Web browser to show Quenlow home page.", self.maker),
                ("-tallyfold", "Starting Web browser for Tallyfold homepage",
                 build_settings()["TALLYFOLD_PRODUCT_URL"])]:
            with self.subTest(switch=switch):
                opener = self.opener(0)
                result = run([switch, "-w", self.tree.path()], env=opener.environment())
                self.assertEqual(result.code, 0)
                self.assertOutput(result.out, lines(message))
                self.assertEqual(opener.opened(), [target])

    def test_config_runs_the_settings_program_in_the_terminal(self):
        opener = self.opener(0)
        result = run(["-config", "-w"], env=opener.environment())
        self.assertEqual(result.code, 0)
        out = result.out.decode().split("\n")
        self.assertEqual(out[0], "Starting Tallyfold configuration program")
        self.assertTrue(out[1].startswith("Default parameters, stored in "), out[1])
        self.assertEqual(opener.opened(), [])

    def test_help_opens_the_help_file_and_the_report_follows(self):
        self.tree.file("one", 10)
        opener = self.opener(0)
        for switch in ["-help", "-MANUAL"]:
            with self.subTest(switch=switch):
                result = run([switch, "-noheader", "-nostats", self.tree.path()], env=opener.environment())
                self.assertEqual(result.code, 0)
                out = result.out.decode().split("\n")
                self.assertEqual(out[0], "Starting program to display Tallyfold help manual")
                self.assertTrue(out[1].startswith("Total + subs"), out[1])
                self.assertIn(self.tree.path(), out[3])
        self.assertEqual(opener.opened(), [os.path.join(self.program_folder, "tallyfold.html")] * 2)

    def test_a_refused_launch_reports_the_error_and_ends_with_code_1(self):
        for status, switch, message, target in [
                (1, "-support", "Starting Web browser to show Quenlow support page.", self.support),
                (None, "-vantor", "Starting Web browser to show Quenlow home page.", self.maker),
                (1, "-help", "Starting program to display Tallyfold help manual",
                 os.path.join(self.program_folder, "tallyfold.html"))]:
            with self.subTest(switch=switch, opener=status):
                result = run([switch, self.tree.path()], env=self.opener(status).environment())
                self.assertEqual(result.code, 1)
                self.assertOutput(mask_address(result.out), failure_lines(message, target, "tallyfold"))
                self.assertNotIn(b"An error occurred", result.out)

    @unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
    def test_help_without_a_desktop_shows_the_man_page_in_the_terminal(self):
        manual = os.path.join(self.program_folder, "tallyfold.html")
        beside = os.path.join(self.program_folder, "tallyfold.1")
        for installed, shown in [(0, "tallyfold"), (16, "-l " + beside)]:
            with self.subTest(installed=installed):
                opener = self.opener(1)
                # A stand-in man: "man -w" answers whether the page is installed.
                man = os.path.join(opener.folder, "man")
                with open(man, "w") as handle:
                    handle.write('#!/bin/sh\n[ "$1" = -w ] && exit %d\necho "$*" >> "%s"\n'
                                 % (installed, opener.record))
                os.chmod(man, 0o755)
                terminal = Terminal()
                self.addCleanup(terminal.close)
                terminal.type_line("PATH=%s %s -help -p -nostats %s; echo EXIT=$?"
                                   % (opener.folder, BIN, self.tree.path()))
                self.assertEqual(terminal.wait_for_exit(), "EXIT=0")
                self.assertEqual(opener.opened(), [manual, shown])

    def test_a_refused_target_goes_to_the_terminal_clipboard(self):
        # The clipboard sequence needs a terminal; standard error is one here.
        master, slave = os.openpty()
        try:
            completed = subprocess.run([BIN, "-support"], env=dict(clean_environment(), PATH=self.opener(1).folder),
                                       stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=slave,
                                       timeout=60)
            os.close(slave)
            terminal = b""
            while True:
                try:
                    chunk = os.read(master, 4096)
                except OSError:
                    break
                if not chunk:
                    break
                terminal += chunk
        finally:
            os.close(master)
        self.assertEqual(completed.returncode, 1)
        self.assertIn(b"\x1b]52;c;" + base64.b64encode(self.support.encode()) + b"\x07", terminal)


@unittest.skipUnless(ON_WINE, "the Windows program's settings program is config.exe")
class MissingSettingsProgram(TestCase):
    def test_config_without_config_exe_beside_the_program_fails(self):
        folder = self.tree.folder("alone")
        shutil.copy(BIN, folder)
        program = os.path.join(folder, os.path.basename(BIN))
        completed = subprocess.run([WINE, program, "-config"], env=clean_environment(),
                                   stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   timeout=120)
        self.assertEqual(completed.returncode, 1)
        self.assertOutput(mask_address(completed.stdout),
                          failure_lines("Starting Tallyfold configuration program",
                                        native_path(os.path.join(folder, "config.exe")),
                                        os.path.basename(BIN)))


DOC = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "doc")
USAGE_OPTIONS = sorted({m.group(1) for m in map(re.compile(r"^  (-[a-z+?-]+)").match, USAGE) if m}
                       - {"-?"}) + ["-size=", "-cl=", "-sort=", "--help", "--version"]


@unittest.skipIf(ON_WINE, "the documentation is checked once, in the Linux run")
class Documentation(unittest.TestCase):
    @unittest.skipUnless(shutil.which("man"), "man is not installed")
    def test_the_man_page_renders_without_warnings_and_covers_every_option(self):
        completed = subprocess.run(["man", "--warnings", "-l", os.path.join(DOC, "tallyfold.1")],
                                   env=dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING=""),
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(completed.returncode, 0)
        self.assertEqual(completed.stderr.decode(), "")
        page = re.sub(r".\x08", "", completed.stdout.decode()).replace("\u2010", "-")
        for option in USAGE_OPTIONS:
            self.assertIn(option, page)

    def test_the_manual_explains_every_option(self):
        with open(os.path.join(DOC, "tallyfold.html"), encoding="utf-8") as handle:
            manual = handle.read()
        for option in USAGE_OPTIONS:
            self.assertIn("<code>" + option, manual)


if __name__ == "__main__":
    unittest.main()
