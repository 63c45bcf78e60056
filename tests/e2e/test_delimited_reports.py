"""The comma and tab reports of real trees, byte for byte, and read back by
Python's CSV reader.

Also holds run_at_drive_root, which the HTML tests use too: a run whose start
path is a file-system root ("/" on Linux, a drive letter under Wine) that
holds only a small tree, so the run is exact and takes a fraction of a second
instead of scanning the host's disk.
"""
import csv
import io
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from tftest import BIN, EOL, ON_WINE, SEP, Result, TestCase, clean_environment, lines, native_path, run

ALL_TITLES = ["Total with subfolders", "Wasted space", "Without subfolders", "Files", "Folder name"]


_DATE = re.compile(rb"^(Tallyfold 5\.0 report, created at )[^\r\n]*", re.M)


def mask(output):
    """Masks the date of the title line. (tftest.mask's ".*$" also takes the
    CR of a CR LF line end, so it cannot be used on Windows output.)"""
    return _DATE.sub(rb"\1<date>", output)


def comma(*fields):
    return ",".join(fields)


def quoted(*texts):
    return ['"' + t + '"' for t in texts]


def make_sample(tree):
    """The tree of the console test: the start folder holds a 7000-byte file,
    a/ one byte and an empty b/, c/ 8192 bytes. With -cl=4096 each folder
    also takes one cluster for its directory entries (32 bytes each), except
    a drive root."""
    tree.file("f", 7000)
    tree.file("a/one", 1)
    tree.folder("a/b")
    tree.file("c/eight", 8192)


SAMPLE_FILES = [("f", 7000), ("a/one", 1), ("c/eight", 8192)]
SAMPLE_FOLDERS = ["a/b", "c"]


# ---- Runs at a file-system root ---------------------------------------------

_UNSHARE = ["unshare", "--user", "--map-root-user", "--mount", "--pid", "--fork"]

# Inside a private user and mount namespace: a fresh tmpfs becomes "/" by
# chroot. It holds the tree, the program's folder and the system folders
# the program's libraries need, each bind-mounted, so each is another file
# system and the scan does not enter it (a mount point counts as a reparse
# point). /proc is mounted for /proc/self/exe and the mount table.
_ROOT_SCRIPT = r"""
set -e
new="$1"; shift
mount -t tmpfs tmpfs "$new"
cd "$new"
mkdir -p proc .prog
for name in usr lib lib32 lib64 libx32 bin; do
  if [ -L "/$name" ]; then ln -s "$(readlink "/$name")" "$name"
  elif [ -d "/$name" ]; then mkdir "$name"; mount --rbind "/$name" "$name"; fi
done
mount --bind "$PROGRAM_DIR" .prog
mount -t proc proc proc
$MAKE_TREE
exec chroot "$new" "/.prog/$PROGRAM_NAME" "$@"
"""


def _namespaces_work():
    try:
        return subprocess.run(_UNSHARE + ["true"], capture_output=True, timeout=10).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False


def _wine_dosdevices():
    prefix = os.environ.get("WINEPREFIX") or os.path.expanduser("~/.wine")
    return os.path.join(prefix, "dosdevices")


def run_at_drive_root(test, files, folders, args):
    """Runs the program with `args` and a file-system root as the start path;
    the root holds only `folders` and `files` (relative path, size). Returns
    (result, root path as the program writes it). Skips the test when the
    platform cannot provide such a root.

    Linux: "/" of a private namespace (see _ROOT_SCRIPT); the program's own
    folder and the system folders appear there as mount points, which the
    scan leaves out. Wine: a drive letter mapped to a temporary folder in the
    Wine prefix (Z:, which maps the Linux root, would scan the whole host).
    """
    if ON_WINE:
        dosdevices = _wine_dosdevices()
        free = [c for c in "ponmlkjihg" if not os.path.lexists(os.path.join(dosdevices, c + ":"))]
        if not free:
            test.skipTest("no free Wine drive letter")
        link = os.path.join(dosdevices, free[0] + ":")
        folder = tempfile.mkdtemp(prefix="tf-drive-")
        try:
            for relative in folders:
                os.makedirs(os.path.join(folder, relative), exist_ok=True)
            for relative, size in files:
                path = os.path.join(folder, relative)
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as handle:
                    handle.truncate(size)
            os.symlink(folder, link)
            drive = free[0].upper() + ":\\"
            return run(list(args) + [drive]), drive
        finally:
            if os.path.lexists(link):
                os.remove(link)
            shutil.rmtree(folder, ignore_errors=True)
    if not _namespaces_work():
        test.skipTest("user and mount namespaces are not available (unshare)")
    commands = ["mkdir -p '%s'" % f for f in folders]
    for relative, size in files:
        commands.append("mkdir -p \"$(dirname '%s')\"; head -c %d /dev/zero > '%s'" % (relative, size, relative))
    env = clean_environment()
    env.update(PROGRAM_DIR=os.path.dirname(os.path.abspath(BIN)),
               PROGRAM_NAME=os.path.basename(BIN))
    script = _ROOT_SCRIPT.replace("$MAKE_TREE", "\n".join(commands))
    mount_point = tempfile.mkdtemp(prefix="tf-root-")
    try:
        completed = subprocess.run(_UNSHARE + ["sh", "-c", script, "sh", mount_point] + list(args) + ["/"],
                                   env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE, timeout=60)
    finally:
        os.rmdir(mount_point)
    return Result(completed), "/"


# ---- The tests ----------------------------------------------------------------

class DelimitedReports(TestCase):
    def setUp(self):
        super().setUp()
        make_sample(self.tree)
        self.start = native_path(self.tree.path())
        self.s = self.start + SEP

    def report(self, *args):
        result = run(["-cl=4096"] + list(args) + [self.start])
        self.assertEqual(result.code, 0, result.err)
        return mask(result.out)

    def test_comma_with_all_columns(self):
        self.assertOutput(self.report("-comma"), lines(
            "Tallyfold 5.0 report, created at <date>",
            "",
            comma(*quoted(*ALL_TITLES)),
            "",
            '36864,5128,12288,1,"' + self.s + '"',
            '12288,8063,8192,1,"' + self.s + 'a"',
            '4096,4032,4096,0,"' + self.s + "a" + SEP + 'b"',
            '12288,4000,12288,1,"' + self.s + 'c"',
            "\f"))


class DriveRoot(TestCase):
    def test_a_root_start_path_gets_no_second_separator(self):
        result, top = run_at_drive_root(self, SAMPLE_FILES, SAMPLE_FOLDERS, ["-cl=4096", "-comma", "-noheader"])
        self.assertEqual(result.code, 0, result.err)
        # A drive root takes no cluster for its directory entries.
        self.assertOutput(result.out, lines(
            '32768,1192,8192,1,"' + top + '"',
            '12288,8063,8192,1,"' + top + 'a"',
            '4096,4032,4096,0,"' + top + "a" + SEP + 'b"',
            '12288,4000,12288,1,"' + top + 'c"',
            "\f"))


class ReadBackByCsv(TestCase):
    """Names that a careless writer would break: the CSV reader must get the
    same number of fields on every row and the exact paths back."""

    # Windows names cannot hold quotes, tabs or line breaks; Linux names can.
    NAMES = (["a,b", "x y", "semi;colon"] if ON_WINE else
             ["a,b", 'say "hi"', "tab\there", "two\nlines", 'all "of, it"\r\n\t', "x y"])

    def read(self, mode, delimiter):
        for name in self.NAMES:
            self.tree.file(os.path.join(name, "f"), 100)
        self.tree.folder(os.path.join(self.NAMES[1], "inner,\"q\"" if not ON_WINE else "inner,q"))
        start = native_path(self.tree.path())
        result = run(["-cl=4096", mode, "-noheader", start])
        self.assertEqual(result.code, 0, result.err)
        self.assertTrue(result.out.endswith(b"\f" + EOL))
        text = result.out[:-len(b"\f" + EOL)].decode("utf-8")
        rows = list(csv.reader(io.StringIO(text, newline=""), delimiter=delimiter))
        inner = "inner,\"q\"" if not ON_WINE else "inner,q"
        expected = [start + SEP] + [start + SEP + n for n in sorted(self.NAMES, key=str.upper)]
        expected.insert(expected.index(start + SEP + self.NAMES[1]) + 1,
                        start + SEP + self.NAMES[1] + SEP + inner)
        self.assertEqual([row[-1] for row in rows], expected)
        self.assertEqual({len(row) for row in rows}, {5})
        for row in rows:
            int(row[0]), int(row[1]), int(row[2]), int(row[3])  # the figures are numbers

    def test_comma(self):
        self.read("-comma", ",")

    def test_tab(self):
        self.read("-tab", "\t")


if __name__ == "__main__":
    unittest.main()
