"""-mft: the tree read from the NTFS master file table equals the walk.

An image made by mkntfs is filled through an ntfs-3g mount (as root) with
what makes the table hard to read: resident, large and sparse files, two
files fragmented in turn until their runs need an attribute list, a folder
of 3,000 entries, hard links, names in Greek, Japanese, emoji and of 255
characters, deleted files, files moved into a folder made after them, a
symbolic link, a named stream, a file that ties with -top's least, met
last, and fixed times.
Then -mft over the mount gives the walk's report byte for byte in every
form; -mft=FILE reads the image unmounted (and tallyfold.exe under Wine gives
the Linux program's report); and a table that cannot be read falls back to
the walk, or, for -mft=FILE, ends with exit code 1."""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

from tftest import BIN, EOL, ON_WINE, TestCase, native_path, run
from test_terminal import Terminal

IMAGE_BYTES = 64 << 20
FRAGMENTED_APPENDS = 600
# The forms and options compared; each row one run of the walk and one of -mft.
FORMS = [
    ["-p"], ["-p", "-dir"], ["-p", "-links"], ["-p", "-sort=none"], ["-p", "-sort=total", "-2"],
    ["-p", "-size=64K"], ["-tab"], ["-comma"], ["-html"], ["-json"], ["-p", "-top=20"], ["-json", "-top=20"],
    ["-p", "-types"], ["-p", "-top=3", "-types"],
    ["-p", "-age", "-sort=age"], ["-p", "-threads=4"], ["-p", "-cl=512"], ["-map"],
]
# What a run cannot repeat: the time it was made.
_STAMP = re.compile(rb"\d\d/\d\d/\d\d \d\d:\d\d:\d\d|\"created\": *\"[^\"]*\"")


def usable():
    if ON_WINE and not os.path.exists(linux_program()):
        return "the Linux program to compare with is not built"
    if os.geteuid() != 0:
        return "making and mounting an NTFS image needs root"
    if not (shutil.which("mkntfs") and shutil.which("ntfs-3g") and os.path.exists("/dev/fuse")):
        return "mkntfs, ntfs-3g or FUSE is missing"
    return None


def linux_program():
    return os.path.join(os.path.dirname(BIN), "..", "linux", "tallyfold")


def fill(root):
    """Writes the content into the mounted volume at `root`."""
    def write(relative, data):
        path = os.path.join(root, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as handle:
            handle.write(data)
        return path

    write("docs/small.txt", b"x" * 300)            # resident
    write("docs/report.bin", b"r" * 700000)        # runs of its own
    write("docs/deeper/more/leaf.txt", b"l" * 5000)
    with open(os.path.join(root, "docs/sparse.img"), "wb") as handle:
        handle.truncate(20 << 20)
        handle.seek(10 << 20)
        handle.write(b"s" * 8192)
    for i in range(3000):
        write("many/entry%04d" % i, b"m" * (i % 7 * 200))
    # Folders enough for an index of several blocks, whose order the listing keeps.
    for i in range(300):
        os.makedirs(os.path.join(root, "wide/sub%03d" % (i * 7 % 300)))
    linked = write("links/original", b"h" * 10000)
    os.link(linked, os.path.join(root, "links/second"))
    os.link(linked, os.path.join(root, "docs/third"))
    write("names/Ελληνικά.txt", b"g" * 10)
    # A Win32 name with its DOS alias, as Windows writes them.
    os.setxattr(write("names/Long Name.text", b"w" * 20), "system.ntfs_dos_name", b"LONGNA~1.TEX")
    write("names/日本語のファイル", b"j" * 2000)
    write("names/\U0001F600 smile", b"e" * 30)
    write("names/" + "n" * 255, b"n" * 40)
    os.makedirs(os.path.join(root, "names/" + "D" * 255))
    for i in range(40):
        os.remove(write("gone/deleted%02d" % i, b"d" * 6000))
    os.symlink("docs", os.path.join(root, "to-docs"))
    # Files moved into a folder made after them: the table holds them before it.
    moved = [write("early/moved%d" % i, b"v" * 100 * i) for i in range(3)]
    os.makedirs(os.path.join(root, "late"))
    for path in moved:
        os.rename(path, os.path.join(root, "late", os.path.basename(path)))
    stream = write("docs/streamed", b"a" * 100)
    os.setxattr(stream, "user.note", b"n" * 50000)  # a named stream
    fragment(root)
    # As large as the least of -top's largest, met after them, of an earlier path.
    write("a/tie-met-last", b"t" * 4096)
    for folder, _, files in os.walk(root):
        for name in files:
            os.utime(os.path.join(folder, name), (1500000000, 1500000000 + len(name)))


def fragment(root):
    """Two files grown by appends taken in turn, each into a hole of its own:
    the volume is filled, every other one-cluster file of the last ones
    removed, and the appends take the holes one by one."""
    cluster = os.statvfs(root).f_frsize
    os.makedirs(os.path.join(root, "frag"))
    filler = os.path.join(root, "frag/filler")
    with open(filler, "wb") as handle:
        handle.write(b"\0" * ((os.statvfs(root).f_bavail - 2 * FRAGMENTED_APPENDS - 200) * cluster))
    pads = []
    try:
        while True:
            pads.append(os.path.join(root, "frag/pad%05d" % len(pads)))
            with open(pads[-1], "wb") as handle:
                handle.write(b"p" * cluster)
    except OSError:
        pass
    for pad in pads[::2]:
        if os.path.exists(pad):
            os.remove(pad)
    try:
        for _ in range(FRAGMENTED_APPENDS):
            for name in ("frag/one.log", "frag/two.log"):
                with open(os.path.join(root, name), "ab") as handle:
                    handle.write(b"f" * cluster)
    except OSError:
        pass  # the holes are taken
    for pad in [filler] + pads[1::2]:
        if os.path.exists(pad):
            os.remove(pad)


class MasterFileTable(TestCase):
    @classmethod
    def setUpClass(cls):
        cls.reason = usable()
        if cls.reason:
            return
        cls.work = tempfile.mkdtemp(prefix="tf-mft-")
        os.chmod(cls.work, 0o755)
        cls.image = os.path.join(cls.work, "volume.img")
        cls.mount = os.path.join(cls.work, "mnt")
        os.mkdir(cls.mount)
        with open(cls.image, "wb") as handle:
            handle.truncate(IMAGE_BYTES)
        os.chmod(cls.image, 0o600)
        subprocess.run(["mkntfs", "-q", "-F", "-f", "-L", "TFTEST", cls.image], check=True, capture_output=True)
        subprocess.run(["ntfs-3g", cls.image, cls.mount], check=True)
        fill(cls.mount)
        cls.mounted = True

    @classmethod
    def tearDownClass(cls):
        if cls.reason:
            return
        if cls.mounted:
            subprocess.run(["umount", cls.mount], check=False)
        shutil.rmtree(cls.work, ignore_errors=True)

    def setUp(self):
        if self.reason:
            self.skipTest(self.reason)
        super().setUp()

    def set_mounted(self, mounted):
        if mounted == self.mounted:
            return
        subprocess.run(["ntfs-3g", self.image, self.mount] if mounted else ["umount", self.mount], check=True)
        type(self).mounted = mounted

    def report(self, words, **how):
        result = run(list(words), **how)
        return result.code, _STAMP.sub(b"<time>", result.out), result.err

    @unittest.skipIf(ON_WINE, "the walk of Windows counts hard links and sparse files otherwise")
    def test_every_form_over_the_mount_equals_the_walk(self):
        self.set_mounted(True)
        for words in FORMS:
            with self.subTest(words=words):
                walk = self.report(words + [native_path(self.mount)])
                code, out, err = self.report(words + ["-mft", native_path(self.mount)])
                self.assertEqual(walk[0], 0, walk[2])
                # The HTML page names the run's parameters.
                self.assertEqual((code, out.replace(b" -mft ", b" "), err), walk)
        # A folder below the mount point, as the start folder: its largest
        # files are smaller than the volume's.
        names = native_path(os.path.join(self.mount, "names"))
        for words in (["-p"], ["-p", "-top=3"]):
            self.assertEqual(self.report(words + ["-mft", names]), self.report(words + [names]))

    @unittest.skipIf(ON_WINE, "the walk of Windows counts hard links and sparse files otherwise")
    def test_the_unmounted_image_gives_the_walks_figures(self):
        self.set_mounted(True)
        walks = {form: self.report(["-p", "-noheader", form, native_path(self.mount)]) for form in ("-c-", "-dir")}
        self.set_mounted(False)
        for form, walk in walks.items():
            with self.subTest(form=form):
                code, out, err = self.report(["-p", "-noheader", form, "-mft=" + native_path(self.image), "/"])
                self.assertEqual((code, err), (0, b""))
                expected = walk[1].replace(native_path(self.mount).encode(), native_path(self.image).encode() + b":/")
                expected = re.sub(rb"Statistics for Drive .*", b"Statistics for Drive %s:TFTEST (NTFS)" %
                                  native_path(self.image).encode(), expected)
                self.assertEqual(out.replace(b"\\", b"/"), expected.replace(b"\\", b"/"))

    @unittest.skipUnless(ON_WINE, "compares tallyfold.exe with the Linux program")
    def test_windows_reads_the_image_as_linux_does(self):
        self.set_mounted(False)
        for form in (["-p"], ["-comma"]):
            with self.subTest(form=form):
                linux = subprocess.run([linux_program(), "-noheader"] + form + ["-mft=" + self.image, "/"],
                                       capture_output=True)
                code, out, err = self.report(["-noheader"] + form + ["-mft=" + native_path(self.image), "\\"])
                self.assertEqual(code, 0, err)
                out = out.replace(native_path(self.image).encode(), self.image.encode())
                self.assertEqual(out.replace(b"\r\n", b"\n").replace(b"\\", b"/"), linux.stdout)

    @unittest.skipIf(ON_WINE, "Wine runs as the user who started it")
    def test_a_table_that_cannot_be_read_falls_back_to_the_walk(self):
        self.set_mounted(True)
        path = native_path(self.mount)
        walk = self.report(["-p", path], unprivileged=True)
        code, out, err = self.report(["-p", "-mft", path], unprivileged=True)
        self.assertEqual((code, out), walk[:2])
        self.assertEqual(err, b"Cannot read the master file table of %s: Permission denied; "
                         b"listing the folders instead" % self.image.encode() + EOL)
        self.set_mounted(False)
        code, _, err = self.report(["-p", "-mft=" + self.image, "/"], unprivileged=True)
        self.assertEqual((code, err), (1, b"Cannot read the master file table of %s: Permission denied" %
                                       self.image.encode() + EOL))

    def small_volume(self, name):
        """A small image of its own, mounted at the folder returned."""
        image, mount = os.path.join(self.work, name + ".img"), os.path.join(self.work, name)
        with open(image, "wb") as handle:
            handle.truncate(16 << 20)
        subprocess.run(["mkntfs", "-q", "-F", "-f", image], check=True, capture_output=True)
        os.mkdir(mount)
        subprocess.run(["ntfs-3g", image, mount], check=True)
        return image, mount

    @unittest.skipIf(ON_WINE or not shutil.which("tmux"), "the browser over a Linux mount, in tmux")
    def test_the_browser_acts_over_the_mount_and_not_on_the_image(self):
        image, mount = self.small_volume("browsed")
        terminal = Terminal()
        self.addCleanup(terminal.close)
        try:
            os.mkdir(os.path.join(mount, "gone"))
            with open(os.path.join(mount, "gone/f"), "wb") as handle:
                handle.write(b"g" * 100000)
            # The scan's identities are those the actions check.
            terminal.run_program(["-mft", mount], env=["XDG_DATA_HOME=" + mount])
            terminal.keys("n", "Down", "x")
            terminal.wait_for(lambda rows: any(row.endswith("to the trash? y/N") for row in rows), "the question")
            terminal.keys("y")
            terminal.wait_for(lambda rows: not os.path.exists(os.path.join(mount, "gone")), "gone moved")
            terminal.keys("q")
            self.assertEqual(terminal.wait_for_exit(), "EXIT=0")
            os.mkdir(os.path.join(mount, "kept"))
        finally:
            subprocess.run(["umount", mount], check=True)
        # An image has no path on the disk: its keys are refused as a loaded report's.
        terminal.run_program(["-mft=" + image, "/"])
        terminal.keys("n", "Down")
        refused = lambda rows: "Not on a loaded report" in rows
        for key in ["x", "r", "l"]:
            terminal.keys(key)
            terminal.wait_for(refused, "the refusal of " + key)
            terminal.keys("Down")
            terminal.wait_for(lambda rows: not refused(rows), "the keys again")

    @unittest.skipIf(ON_WINE, "reads the table as the Linux program does")
    def test_the_largest_files_past_a_junction_leave_room_for_the_trees(self):
        # The volume's largest files, met first, lie in a folder that is a
        # junction, which no scan enters.
        image, mount = self.small_volume("junction")
        try:
            for path, size in [("hidden/big%d" % i, 300000) for i in range(3)] + [("seen/f%d" % i, i * 1000)
                                                                                 for i in range(1, 6)]:
                os.makedirs(os.path.join(mount, os.path.dirname(path)), exist_ok=True)
                with open(os.path.join(mount, path), "wb") as handle:
                    handle.write(b"b" * size)
            os.setxattr(os.path.join(mount, "hidden"), "system.ntfs_reparse_data", junction_data("\\??\\C:\\x"))
        finally:
            subprocess.run(["umount", mount], check=True)
        words = ["-p", "-top=3", "-mft=" + native_path(image), "/"]
        code, out, err = self.report(words)
        self.assertEqual((code, err), (0, b""))
        self.assertIn(b"seen/f5", out)
        # With an exclusion every file is kept one by one.
        self.assertEqual((code, out, err), self.report(["-exclude=none"] + words))

    def test_a_damaged_table_is_named(self):
        self.set_mounted(True)
        record = {name: os.stat(os.path.join(self.mount, name)).st_ino
                  for name in ("docs/small.txt", "docs/deeper", "docs/deeper/more")}
        self.set_mounted(False)

        def tear(data, place):
            # The last two bytes of the record's first sector no longer carry
            # its update sequence number.
            data[place + 510:place + 512] = b"\xff\xff"

        def loop(data, place):
            # deeper's parent becomes more, the folder inside it.
            more = table_place(data, record["docs/deeper/more"])
            sequence = int.from_bytes(data[more + 0x10:more + 0x12], "little")
            value = file_name_value(data, place)
            data[value:value + 8] = (record["docs/deeper/more"] | sequence << 48).to_bytes(8, "little")

        for damage, name in [(tear, "docs/small.txt"), (loop, "docs/deeper")]:
            with self.subTest(damage=damage.__name__):
                with open(self.image, "rb") as handle:
                    data = bytearray(handle.read())
                damage(data, table_place(data, record[name]))
                damaged = os.path.join(self.work, "damaged.img")
                with open(damaged, "wb") as handle:
                    handle.write(data)
                code, _, err = self.report(["-p", "-mft=" + native_path(damaged), "/"])
                self.assertEqual((code, err), (1, b"The master file table of %s is damaged at record %d" %
                                               (native_path(damaged).encode(), record[name]) + EOL))


def junction_data(target):
    """The reparse data of a junction (a mount point) to `target`."""
    substitute, shown = target.encode("utf-16-le"), target[4:].encode("utf-16-le")
    body = (struct.pack("<4H", 0, len(substitute), len(substitute) + 2, len(shown)) +
            substitute + b"\0\0" + shown + b"\0\0")
    return struct.pack("<IHH", 0xA0000003, len(body), 0) + body


def table_place(data, record):
    """Where a record of the master file table lies in the image (its table
    is in one piece on an image this small)."""
    cluster = int.from_bytes(data[11:13], "little") * data[13]
    return int.from_bytes(data[48:56], "little") * cluster + record * 1024


def file_name_value(data, place):
    """Where the value of a record's first $FILE_NAME attribute begins."""
    at = place + int.from_bytes(data[place + 0x14:place + 0x16], "little")
    while int.from_bytes(data[at:at + 4], "little") != 0x30:
        at += int.from_bytes(data[at + 4:at + 8], "little")
    return at + int.from_bytes(data[at + 0x14:at + 0x16], "little")

if __name__ == "__main__":
    unittest.main()
