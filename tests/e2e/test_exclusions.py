"""-exclude=PATTERN: a table of patterns against one tree, read in the comma
report. An excluded folder is not read and adds nothing to any figure, but
its entry still counts in its parent's directory-entry allowance, so every
folder left keeps its own size."""
import unittest

from tftest import ON_WINE, SEP, TestCase, comma_rows, native_path, run, set_stored_defaults

FILES = {"keep/f": 1000, "node_modules/f": 2000, "src/node_modules/f": 3000, "src/Build/f": 4000,
         "src/build.old/f": 5000, "docs/tmp1/f": 600, "docs/tmpAB/f": 700, "docs/with blank/f": 800}
START_NAME = "start"

# patterns, the folders excluded (with everything below them)
CASES = [
    (["node_modules"], ["node_modules", "src/node_modules"]),
    (["src/node_modules"], ["src/node_modules"]),
    (["/node_modules"], ["node_modules"]),
    (["node_modules/"], ["node_modules", "src/node_modules"]),  # a trailing separator only says "a folder"
    (["**/node_modules"], ["node_modules", "src/node_modules"]),
    (["{start}/src/Build"], ["src/Build"]),  # an absolute path below the start folder
    (["src" + ("\\" if ON_WINE else "/") + "Build/"], ["src/Build"]),
    (["build.*"], ["src/build.old"]),
    (["build"], ["src/Build"] if ON_WINE else []),  # names ignore case on Windows only
    (["Build"], ["src/Build"]),
    (["tmp?"], ["docs/tmp1"]),
    (["docs/tmp*"], ["docs/tmp1", "docs/tmpAB"]),
    (["*/node_modules"], ["src/node_modules"]),
    (["with blank"], ["docs/with blank"]),
    (["keep", "docs"], ["keep", "docs"]),
    ([START_NAME], []),  # the start folder itself is never excluded
]


def folder_rows(result):
    """{path: (total, own size, files)} of a comma report run with -noheader."""
    return {path: (total, own, files) for path, (total, _wasted, own, files) in comma_rows(result).items()}


class Exclusions(TestCase):
    def setUp(self):
        super().setUp()
        for name, size in FILES.items():
            self.tree.file(START_NAME + "/" + name, size)
        self.start = native_path(self.tree.path(START_NAME))

    def report(self, *words):
        result = run(["-comma", "-noheader", "-cl=1"] + list(words) + [self.start])
        self.assertEqual(result.code, 0, result.err)
        return folder_rows(result)

    def path_of(self, relative):
        return self.start + SEP + relative.replace("/", SEP)

    def test_each_pattern_leaves_out_its_folders_and_nothing_else(self):
        whole = self.report()
        for patterns, excluded in CASES:
            with self.subTest(patterns=patterns):
                rows = self.report(*["-exclude=" + p.format(start=self.start) for p in patterns])
                left_out = [self.path_of(x) for x in excluded]
                expected = {path for path in whole
                            if not any(path == x or path.startswith(x + SEP) for x in left_out)}
                self.assertEqual(set(rows), expected)
                for path, (_total, own, files) in rows.items():
                    self.assertEqual((own, files), whole[path][1:], path)
                self.assertEqual(rows[self.path_of("")][0], sum(own for _t, own, _f in rows.values()))

    def test_patterns_come_from_every_source_and_add_up(self):
        set_stored_defaults('"-exclude=with blank"')
        try:
            rows = self.report("-exclude=keep")
            env_rows = folder_rows(run(["-comma", "-noheader", "-cl=1", "-exclude=docs", self.start],
                                       env={"TALLYFOLD": "-exclude:node_modules"}))
        finally:
            set_stored_defaults(None)
        self.assertNotIn(self.path_of("docs/with blank"), rows)
        self.assertNotIn(self.path_of("keep"), rows)
        self.assertIn(self.path_of("docs"), rows)
        self.assertNotIn(self.path_of("node_modules"), env_rows)
        self.assertNotIn(self.path_of("docs"), env_rows)
        self.assertIn(self.path_of("keep"), env_rows)

    def test_a_pattern_that_can_match_nothing_is_named(self):
        outside = "-exclude=" + native_path("/etc")
        for word, message in [("-exclude=", "Invalid exclusion pattern specified - -exclude= (no folder is left out for it)"),
                              ("-EXCLUDE:/", "Invalid exclusion pattern specified - -EXCLUDE:/ (no folder is left out for it)"),
                              (outside, "Exclusion pattern matches nothing below the start folder - " + outside)]:
            with self.subTest(word=word):
                result = run(["-comma", "-noheader", "-cl=1", word, self.start])
                self.assertIn(message, result.err.decode("utf-8").splitlines())
                # The run goes on without the word: every folder is listed.
                listed = [line for line in result.out.decode("utf-8").splitlines() if line.endswith('"')]
                self.assertEqual(len(listed), 11)


if __name__ == "__main__":
    unittest.main()
