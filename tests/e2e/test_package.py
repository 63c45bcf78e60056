"""The Debian package: built with CPack in the build folder of the program
under test, its files listed, unpacked into a scratch folder, and the
unpacked program run as the installed one would be, finding its companions
in ../share/tallyfold/."""
import glob
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from test_help_screens import USAGE, StandInOpener
from tftest import BIN, ON_WINE, Tree, clean_environment, lines

PACKAGED_FILES = {
    "./usr/bin/tallyfold",
    "./usr/bin/tallyfold-config",
    "./usr/share/tallyfold/tallyfold.html",
    "./usr/share/tallyfold/tf_style.css",
    "./usr/share/man/man1/tallyfold.1.gz",
    "./usr/share/man/man1/tallyfold-config.1.gz",
    "./usr/share/bash-completion/completions/tallyfold",
    "./usr/share/doc/tallyfold/copyright",
    "./usr/share/doc/tallyfold/changelog.gz",
}

# The option words of the usage screen, as typed ("-size=" rather than
# "-size=#"), and the options the screen keeps quiet about.
USAGE_WORDS = {m.group(1) for m in map(re.compile(r"^  (-[^\s#\[]+)").match, USAGE) if m}
OPTION_WORDS = USAGE_WORDS | {"-threads=", "-json", "-map", "-bars", "-utf8", "-compare=", "-load=", "-exclude=",
                              "-links", "-mounts", "-mft", "-mft=", "-top=", "-top", "-types", "-age", "-nav", "-h", "--help", "-version",
                              "--version"}
SORT_ORDERS = re.search(r"-sort=\[(.*)\]", "".join(USAGE)).group(1).replace(" ", "").split("|") + ["growth", "age"]


def sanitized_build():
    """True in the sanitizer builds, whose programs are never packaged."""
    cache = os.path.join(os.path.dirname(os.path.abspath(BIN)), "CMakeCache.txt")
    if not os.path.exists(cache):
        return False
    with open(cache) as handle:
        return re.search(r"^TALLYFOLD_SANITIZE:STRING=.+$", handle.read(), re.M) is not None


@unittest.skipIf(ON_WINE or not BIN, "the Debian package is made by the Linux build")
@unittest.skipIf(BIN and sanitized_build(), "the package is made from the release build")
@unittest.skipUnless(shutil.which("dpkg-deb") and shutil.which("cmake"), "needs dpkg-deb and cmake")
class DebianPackage(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        build = os.path.dirname(os.path.abspath(BIN))
        subprocess.run(["cmake", "--build", build, "--target", "package"], check=True, capture_output=True)
        cls.package = max(glob.glob(os.path.join(build, "tallyfold_*.deb")), key=os.path.getmtime)
        cls.root = tempfile.mkdtemp(prefix="tf-package-")
        subprocess.run(["dpkg-deb", "-x", cls.package, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def installed(self, path):
        return os.path.join(self.root, path.lstrip("./"))

    def run_installed(self, args, env=None):
        return subprocess.run([self.installed("usr/bin/tallyfold")] + args, env=dict(clean_environment(), **(env or {})),
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=60)

    def test_the_package_installs_the_programs_and_their_companions(self):
        listing = subprocess.run(["dpkg-deb", "-c", self.package], check=True, capture_output=True, text=True)
        files = {line.split()[-1] for line in listing.stdout.splitlines() if not line.startswith("d")}
        self.assertEqual(files, PACKAGED_FILES)

    def test_the_installed_program_answers_and_finds_its_companions(self):
        opener = StandInOpener(0)
        self.addCleanup(opener.remove)
        tree = Tree()
        self.addCleanup(tree.remove)
        shared = self.installed("usr/share/tallyfold/")
        for args, first_lines in [(["-?"], lines(*USAGE)), (["--version"], lines("tallyfold 5.0")),
                                  (["-help", "-w"], lines("Starting program to display Tallyfold help manual")),
                                  (["-html", "-nostats", tree.path()],
                                   lines(*['<html><head><meta http-equiv="Content-Type" content="text/html; '
                                           'charset=utf-8">',
                                           '<link rel="stylesheet" type="text/css" href="' + shared
                                           + 'tf_style.css">']))]:
            with self.subTest(args=args):
                result = self.run_installed(args, env=opener.environment())
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertEqual(result.stdout[:len(first_lines)], first_lines)
        self.assertEqual(opener.opened(), [shared + "tallyfold.html"])

    @unittest.skipUnless(shutil.which("lintian"), "lintian is not installed")
    def test_lintian_finds_no_error(self):
        result = subprocess.run(["lintian", self.package], capture_output=True, text=True, timeout=300)
        self.assertEqual(re.findall(r"^E: .*", result.stdout, re.M), [])

    def test_bash_completes_the_option_words_and_the_sort_orders(self):
        script = self.installed("usr/share/bash-completion/completions/tallyfold")
        tree = Tree()
        self.addCleanup(tree.remove)
        for folder in ["data", "dump", "other"]:
            tree.folder(folder)
        tree.file("done", 1)
        for line, expected in [("tallyfold -", OPTION_WORDS), ("tallyfold -nos", {"-nostats", "-nosubs"}),
                               ("tallyfold -p -sort=", set(SORT_ORDERS)), ("tallyfold -SORT=t", {"total"}),
                               ("tallyfold -size=1", set()), ("tallyfold d", {"data", "dump"})]:
            with self.subTest(line=line):
                completion = subprocess.run(
                    ["bash", "-c", 'source "$1"; COMP_LINE=$2; COMP_POINT=${#2}; _tallyfold; '
                     'printf "%s\\n" "${COMPREPLY[@]}"', "complete", script, line],
                    cwd=tree.path(), capture_output=True, text=True, timeout=60)
                self.assertEqual(set(completion.stdout.split()), expected)


if __name__ == "__main__":
    unittest.main()
