"""What a newcomer trips over, each mended: the wastage share of folded
folders, the free space a user can write, names that cannot drive a
terminal, data files that hold only data, and a reader that stops early.
One table per behaviour; the same tests run the Linux program and
tallyfold.exe under Wine."""
import os
import re
import shutil
import subprocess
import unittest

from tftest import EOL, ON_WINE, TestCase, clean_environment, command_line, folded_sample, run
from test_terminal import Terminal, comparable

POSIX_ONLY = unittest.skipIf(ON_WINE, "Windows names cannot hold control characters")


def without_wine_notices(err):
    return b"".join(line for line in err.splitlines(True) if not line.startswith(b"wine:"))


class HonestOutput(TestCase):
    def setUp(self):
        super().setUp()
        # -cl=4096: the start folder holds 8 KB (a 1-byte file and its entry
        # allowance, 8,031 bytes of slack); big/ 12 KB (7,160 slack) with
        # big/inner/ 104 KB (6,400 slack); small/ 8 KB (8,086 slack).
        self.start = folded_sample(self.tree)

    def report(self, *args):
        result = run(["-cl=4096", "-nostats"] + list(args) + [self.start])
        self.assertEqual(result.code, 0, result.err)
        return result.out.decode("latin-1")

    def test_a_folded_folders_wastage_is_a_share_of_what_was_folded_in(self):
        big = self.start + "\\big ..." if ON_WINE else self.start + "/big ..."
        for args, line in [
                # 13,560 of 118,784 bytes (100% when it was over its own 12 KB).
                (["-1"], "        116 KB   11%       2  |--big ...   [12 KB]"),
                (["-1", "-html"],
                 '<tr><td>116 KB</td><td> 11%</td><td>2</td><td class="l">  |--big ...   [12 KB]</td></tr>'),
                # small/ folded into the start folder: 16,117 of 16,384 bytes.
                (["-size=16K"], "        132 KB   98%       2  " + self.start + " ...   [8 KB]"),
                # Nothing folded: the share of its own bytes, as ever.
                ([], "        116 KB   58%       1  |--big   [12 KB]"),
                # Sizes, raw figures and the totals do not change.
                (["-1", "-asval"], "        116 KB           13 KB       2  |--big ...   [12 KB]"),
                (["-1", "-comma"], '118784,13560,12288,2,"%s"' % big),
                (["-1"], "        132 KB   22%       4  Cluster size: 4 KB  Wastage: 29 KB")]:
            with self.subTest(args=args):
                self.assertIn(line, self.report(*args).split(EOL.decode()))

    @unittest.skipIf(ON_WINE, "Wine reports the free space of the Linux disk as Windows does")
    def test_free_space_is_what_a_user_can_still_write(self):
        def available_gb():
            figures = os.statvfs(self.tree.path())
            return figures.f_bavail * figures.f_frsize / 2 ** 30

        before = available_gb()
        out = run([self.tree.path()]).out.decode()
        after = available_gb()
        shown = float(re.search(r"Free space: +([\d,.]+) GB", out).group(1).replace(",", ""))
        self.assertLessEqual(min(before, after) - 0.05, shown, "f_bfree counts the blocks kept for root")
        self.assertLessEqual(shown, max(before, after) + 0.05)

    def test_messages_of_data_forms_go_to_standard_error(self):
        words = [("-sort=biggest", ["Invalid sorting method specified - BIGGEST",
                                    "(Valid methods are: name,local,total,waste,files,none,growth,age)"]),
                 ("-cl=128K", ["Invalid cluster size > 64K ignored."]),
                 ("-size=abc", ["Invalid size specified - -size=abc (no size limit)"]),
                 ("-size=1,5M", ["Invalid size specified - -size=1,5M (no size limit)"]),
                 ("-size=", ["Invalid size specified - -size= (no size limit)"]),
                 ("-cl=xyz", ["Invalid cluster size specified - -cl=xyz (the drive's cluster size is used)"])]
        messages = lines_of([line for _, expected in words for line in expected])
        # The form is chosen after the bad words, so their messages wait for it.
        for form, data, last in [([], b"Total + subs", b"\f"),
                                 (["-tab"], b'"Total with subfolders"\t', b"\f"),
                                 (["-comma"], b'"Total with subfolders",', b"\f"),
                                 (["-html"], b"<html>", b"</body></html>"),
                                 (["-json"], b'{"program":"tallyfold"', b"}")]:
            with self.subTest(form=form):
                result = run([word for word, _ in words] + form + [self.start])
                self.assertEqual(result.code, 0)
                err = without_wine_notices(result.err)
                out, other = (result.out, err) if not form else (err, result.out)
                self.assertTrue(out.startswith(messages), out[:300])
                self.assertNotIn(b"Invalid", other)
                self.assertIn(data, result.out)
                self.assertTrue(result.out.endswith(last + EOL))

    def test_a_reader_that_stops_early_ends_the_run_quietly(self):
        # More than a pipe holds, so that writes go on after the reader left.
        for index in range(3000):
            self.tree.folder("folder%04d" % index)
        reader = subprocess.Popen(["head", "-1"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        program = subprocess.Popen(command_line([self.start]), stdout=reader.stdin,
                                   stderr=subprocess.PIPE, env=clean_environment())
        reader.stdin.close()
        _, err = program.communicate(timeout=120)
        reader.stdout.read()
        reader.stdout.close()
        reader.wait(timeout=60)
        self.assertEqual(program.returncode, 1)
        self.assertEqual(without_wine_notices(err), b"")

    @POSIX_ONLY
    def test_redirected_reports_keep_the_bytes_of_names(self):
        self.tree.folder("esc\x1b[31mred")
        self.tree.folder("line\nbreak")
        redirected = run(["-1", self.start]).out
        self.assertIn(b"|--esc\x1b[31mred  ", redirected)
        self.assertIn(b"|--line\nbreak  ", redirected)

    @POSIX_ONLY
    @unittest.skipUnless(shutil.which("tmux"), "tmux is not installed")
    def test_names_cannot_drive_the_terminal(self):
        self.tree.folder("esc\x1b[31mred")
        self.tree.folder("line\nbreak")
        terminal = Terminal()
        self.addCleanup(terminal.close)
        # The browser, with the folded share too; then an error line.
        terminal.run_program(["-cl=4096", "-1", "-nostats", "-c-", self.start])
        expected = ["        116 KB   11%       2  |--big ...   [12 KB]",
                    "          4 KB   98%       0  |--esc?[31mred",
                    "          4 KB   98%       0  |--line?break",
                    "          8 KB   99%       1  +--small"]
        terminal.wait_for(lambda rows: all(line in comparable(rows) for line in expected), "the masked names")
        terminal.keys("Escape")
        terminal.wait_for_exit()
        terminal.type_line('%s "$(printf "%s/gone\\033[31mx")"' % (command_line([])[-1], self.start))
        # The line is wider than the pane: its rows are joined again.
        terminal.wait_for(lambda rows: self.start + "/gone?[31mx/" in "".join(rows), "the masked error line")


def lines_of(texts):
    return b"".join(text.encode() + EOL for text in texts)


if __name__ == "__main__":
    unittest.main()
