"""Helpers of the end-to-end tests: build a folder tree of exact sizes in a
temporary folder, run the program on it (the Linux build, or tallyfold.exe
under Wine), and compare whole outputs with the parts that belong to the
machine (date and time, drive figures) masked.

The program under test comes from the environment:
  TALLYFOLD_BIN     path of tallyfold or tallyfold.exe
  TALLYFOLD_WINE    path of the Wine launcher when the program is tallyfold.exe
  TALLYFOLD_SANITIZE  the sanitizers it was built with, if any
"""
import csv
import io
import os
import re
import shutil
import subprocess
import tempfile
import unittest

BIN = os.environ.get("TALLYFOLD_BIN", "")
WINE = os.environ.get("TALLYFOLD_WINE", "")
ON_WINE = bool(WINE)
# A sanitized program reserves terabytes of address space for its shadow
# memory and answers a failed allocation with its own report.
SANITIZED = bool(os.environ.get("TALLYFOLD_SANITIZE"))
EOL = b"\r\n" if ON_WINE else b"\n"
SEP = "\\" if ON_WINE else "/"


def native_path(path):
    """The program's spelling of a Linux path: Wine maps the root to Z:."""
    if not ON_WINE:
        return path
    return "Z:" + path.replace("/", "\\")


def lines(*texts):
    """Expected output: each text a line, with the program's line ends."""
    return b"".join(t.encode("utf-8") + EOL for t in texts)


# Files up to this size are written out, so that they count their length;
# larger ones are sparse, costing no disk, and count what is allocated to
# them: their lengths show with -dir.
WRITTEN_FILE_LIMIT = 64 << 20


class Tree:
    """A folder tree in a temporary folder; sizes are lengths, and files above
    WRITTEN_FILE_LIMIT are sparse."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="tf-e2e-")
        os.chmod(self.root, 0o755)  # readable by the unprivileged runs too

    def folder(self, relative):
        path = os.path.join(self.root, relative)
        os.makedirs(path, exist_ok=True)
        return path

    def file(self, relative, size):
        path = os.path.join(self.root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            if size <= WRITTEN_FILE_LIMIT:
                handle.write(b"\0" * size)
            handle.truncate(size)
        return path

    def path(self, relative=""):
        return os.path.join(self.root, relative) if relative else self.root

    def remove(self):
        # rm, not shutil.rmtree, whose recursion stops short of deep trees.
        subprocess.run(["rm", "-rf", self.root], check=False)


class Result:
    def __init__(self, completed):
        self.code = completed.returncode
        self.out = completed.stdout
        self.err = completed.stderr


_program_for_everyone = None


def program_for_everyone():
    """A copy of the program that any user may run, wherever the build is."""
    global _program_for_everyone
    if _program_for_everyone is None:
        folder = tempfile.mkdtemp(prefix="tf-bin-")
        os.chmod(folder, 0o755)
        _program_for_everyone = shutil.copy(BIN, folder)
        os.chmod(_program_for_everyone, 0o755)
    return _program_for_everyone


def command_line(args, unprivileged=False):
    if unprivileged and os.geteuid() == 0 and not ON_WINE:
        # Permissions mean nothing to root; run as nobody where they matter.
        return ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                program_for_everyone()] + list(args)
    return ([WINE] if ON_WINE else []) + [BIN] + list(args)


# Wine now and then fails to start a process at all ("failed to map the
# shared user data", about once in 10,000 starts with six at a time; a
# trivial program fails alike). With Wine's messages off that is exit code 1
# with no output, which no run of these tests gives otherwise, so such a run
# is started again.
WINE_START_ATTEMPTS = 3


def wine_failed_to_start(completed):
    return ON_WINE and completed.returncode == 1 and not completed.stdout and not completed.stderr


def run(args, env=None, cwd=None, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, timeout=120,
        unprivileged=False, preexec_fn=None):
    """Runs the program with `args`; standard output is a pipe (or `stdout`),
    so the program sees it redirected."""
    full_env = clean_environment()
    full_env.update(env or {})
    for _ in range(WINE_START_ATTEMPTS):
        completed = subprocess.run(command_line(args, unprivileged), env=full_env, cwd=cwd, stdin=stdin,
                                   stdout=stdout, stderr=subprocess.PIPE, timeout=timeout,
                                   preexec_fn=preexec_fn)
        if not wine_failed_to_start(completed):
            break
    return Result(completed)


_config_home = tempfile.mkdtemp(prefix="tf-config-")


def clean_environment():
    """No TALLYFOLD variable and an empty stored-defaults file location."""
    env = {k: v for k, v in os.environ.items() if k.upper() != "TALLYFOLD"}
    env["XDG_CONFIG_HOME"] = _config_home
    env["WINEDEBUG"] = "-all"
    return env


def set_stored_defaults(value):
    """Stores the default parameter string where the program reads it."""
    if ON_WINE:
        key = r"HKCU\SOFTWARE\Quenlow\Tallyfold"
        if value is None:
            subprocess.run([WINE, "reg", "delete", key, "/v", "DefaultParams", "/f"],
                           env=clean_environment(), capture_output=True)
        else:
            subprocess.run([WINE, "reg", "add", key, "/v", "DefaultParams", "/d", value, "/f"],
                           env=clean_environment(), capture_output=True, check=True)
        return
    folder = os.path.join(_config_home, "tallyfold")
    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "config")
    if value is None:
        if os.path.exists(path):
            os.remove(path)
    else:
        with open(path, "w") as handle:
            handle.write("DefaultParams=" + value + "\n")


# A line's rest stops before its line end, CR LF included.
_HEADER = re.compile(rb"^Tallyfold 5\.0 report, created at [^\r\n]*", re.M)
_DRIVE = re.compile(rb"^(Statistics for Drive )[^\r\n]*", re.M)
_FIGURES = re.compile(rb"^(   Cluster size: |     Free space: |     Used space: |       Capacity: )[^\r\n]*", re.M)


def mask(output):
    """Masks what belongs to the machine: the report's date and time and the
    drive's name and figures."""
    output = _HEADER.sub(b"Tallyfold 5.0 report, created at <date>", output)
    output = _DRIVE.sub(rb"\1<drive>", output)
    return _FIGURES.sub(rb"\1<figure>", output)


def comma_rows(result):
    """{path: (total, wasted, own size, files)} of a comma report run with -noheader."""
    fields = [row for row in csv.reader(io.StringIO(result.out.decode("utf-8"))) if len(row) == 5]
    return {path: tuple(int(figure) for figure in figures) for *figures, path in fields}


def folded_sample(tree):
    """The tree of the report-option tests: big/ with a subfolder, small/, and a
    file at the top; answers the start path as the program spells it."""
    tree.file("big/inner/f", 100000)
    tree.file("big/g", 5000)
    tree.file("small/f", 10)
    tree.file("top", 1)
    return native_path(tree.path())


class TestCase(unittest.TestCase):
    """A test with a fresh tree in self.tree."""

    maxDiff = None

    def setUp(self):
        if not BIN:
            self.skipTest("TALLYFOLD_BIN is not set")
        self.tree = Tree()

    def tearDown(self):
        self.tree.remove()

    def assertOutput(self, actual, expected):
        self.assertEqual(actual.decode("latin-1"), expected.decode("latin-1"))
