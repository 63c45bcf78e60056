// Journeys through the browser on the fake console of browser_journey.h.
#include "browse/browser.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/output.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/console_report.h"
#include "report/growth.h"
#include "report/modes.h"
#include "report/walker.h"
#include "saved/comparison.h"
#include "scan/drive_stats.h"
#include "scan/scanner.h"
#include "scan/tree.h"
#include "scan/tree_edit.h"
#include "settings/settings.h"

#include "browser_journey.h"

using namespace browser_journey;

namespace {

TEST_F(Browser, WorkedExampleOfAHundredLinesOnA24LinePage) {
  MakeTree(22);
  const std::vector<std::string> report = WholeReport();
  ASSERT_EQ(report.size(), 100u);
  std::string after;
  const auto frames = Browse({Char(' '), Scan(kScanUp), Scan(kScanPageUp), Scan(kScanHome),
                              Scan(kScanEnd), Char(' ')},
                             &after);
  ExpectSteps(frames,
              {
                  {"the start: the first screen is two lines short", false, 0, 21, 22},
                  {"Space: the next P - 1 lines below", false, 22, 44, 45},
                  {"Up: one line higher on a cleared screen", true, 20, 43, 44},
                  {"Page Up: would start at -3, so from line 0", true, 0, 23, 24},
                  {"Home: the first window is already shown", false, 1, 0, 24},
                  {"End: the last P lines", true, 76, 99, 100},
              },
              report);
  EXPECT_EQ(keysRead, 6u) << "Space at the end leaves the browser";
  EXPECT_EQ(after, kEraseBar);
}

TEST_F(Browser, LineKeysPageDownCtrlLAndOtherKeys) {
  MakeTree(22);
  const std::vector<std::string> report = WholeReport();
  std::string after;
  const auto frames =
      Browse({Scan(kScanDown), Char('j'), Char('k'), Scan(kScanPageDown), Char('K'), Char(12), Char('x'),
              Scan(kScanEnd), Char('J'), Scan(kScanDown), Scan(kScanPageDown)},
             &after);
  ExpectSteps(frames,
              {
                  {"the start", false, 0, 21, 22},
                  {"Down: one more line", false, 22, 22, 23},
                  {"j: one more line", false, 23, 23, 24},
                  {"k: the first window is shown, nothing moves", false, 1, 0, 24},
                  {"Page Down", false, 24, 46, 47},
                  {"K: one line higher", true, 22, 45, 46},
                  {"Ctrl+L: the same window redrawn", true, 22, 45, 46},
                  {"another key: nothing", false, 1, 0, 46},
                  {"End", true, 76, 99, 100},
                  {"J at the end: nothing more", false, 1, 0, 100},
                  {"Down at the end: nothing more", false, 1, 0, 100},
              },
              report);
  EXPECT_EQ(keysRead, 11u);
  EXPECT_EQ(after, kEraseBar);
}

TEST_F(Browser, PageUpFromAWindowNearTheTopShowsTheFirstWindow) {
  MakeTree(22);
  const std::vector<std::string> report = WholeReport();
  const auto frames = Browse({Char(' '), Char(' '), Scan(kScanPageUp), Scan(kScanPageUp), Scan(kScanPageDown)});
  ExpectSteps(frames,
              {
                  {"the start", false, 0, 21, 22},
                  {"Space", false, 22, 44, 45},
                  {"Space", false, 45, 67, 68},
                  {"Page Up: P - 1 lines higher", true, 21, 44, 45},
                  {"Page Up: the top is less than P - 1 lines from the start", true, 0, 23, 24},
                  {"Page Down", false, 24, 46, 47},
              },
              report);
}

TEST_F(Browser, ShortReportIsShownWholeAndWaits) {
  MakeTree(1);
  const std::vector<std::string> report = WholeReport();
  ASSERT_EQ(report.size(), 16u);
  std::string after;
  const auto frames = Browse({Scan(kScanHome), Scan(kScanUp), Scan(kScanPageUp), Char('k'), Scan(kScanEnd),
                              Char(' ')},
                             &after);
  ExpectSteps(frames,
              {
                  {"the start: all of it", false, 0, 15, 100},
                  {"Home: nothing", false, 1, 0, 100},
                  {"Up: nothing", false, 1, 0, 100},
                  {"Page Up: nothing", false, 1, 0, 100},
                  {"k: nothing", false, 1, 0, 100},
                  {"End: all of it from line 0 on a cleared screen", true, 0, 15, 100},
              },
              report);
  EXPECT_EQ(keysRead, 6u);
  EXPECT_EQ(after, kEraseBar);
}

TEST_F(Browser, PageDownOnTheLastScreenLeaves) {
  MakeTree(1);
  const auto frames = Browse({Scan(kScanPageDown)});
  EXPECT_EQ(frames.size(), 1u);
  EXPECT_EQ(keysRead, 1u);
}

TEST_F(Browser, PercentageIsCutTowardsZero) {
  MakeTree(10);  // 52 lines: the first screen shows 22, 42.3%
  const auto frames = Browse({Scan(kScanDown), Scan(kScanEnd), Char(' ')});
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frames[0].bar, Bar(42));
  EXPECT_EQ(frames[1].bar, Bar(44));  // 23 * 100 / 52 = 44.2
  EXPECT_EQ(frames[2].bar, Bar(100));
}

// Keys that cannot be read would come back as End for ever: the browser
// prints the rest and leaves instead.
TEST_F(Browser, FailingKeyReadsPrintTheRestAndLeave) {
  MakeTree(22);
  const std::vector<std::string> report = WholeReport();
  std::string after;
  const auto frames = Browse({}, &after);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].lines, Slice(report, 0, 21));
  ASSERT_TRUE(after.starts_with(kEraseBar));
  EXPECT_EQ(SplitLines(after.substr(kEraseBar.size())), Slice(report, 22, 99));
}

// The browser only moves the walk's window, so the tab and comma reports,
// one row per line, page through the same keys.
TEST_F(Browser, DelimitedReportsPageThroughTheSameKeys) {
  for (OutputMode outputMode : {OutputMode::tab, OutputMode::comma}) {
    SCOPED_TRACE(static_cast<int>(outputMode));
    SetUp();
    MakeTree(22);
    reportPath = "/data/";
    const OutputOperations& mode = OperationsFor(outputMode);
    const std::vector<std::string> report = WholeReport(mode);
    const int total = static_cast<int>(report.size());
    ASSERT_GT(total, 50);
    const auto frames = Browse({Char(' '), Scan(kScanUp), Scan(kScanEnd), Char(' ')}, nullptr, mode);
    ExpectSteps(frames,
                {
                    {"the start", false, 0, 21, 2200 / total},
                    {"Space", false, 22, 44, 4500 / total},
                    {"Up", true, 20, 43, 4400 / total},
                    {"End", true, total - 24, total - 1, 100},
                },
                report);
    EXPECT_EQ(keysRead, 4u);
    FoldSubtree(root);
  }
}

// An HTML line slot may hold several text lines or none, so only the ends
// of the document are compared (and not the line with the time of day).
TEST_F(Browser, HtmlReportPagesFromItsStartToItsEnd) {
  MakeTree(22);
  const OutputOperations& mode = OperationsFor(OutputMode::html);
  const std::vector<std::string> report = WholeReport(mode);
  const auto frames = Browse({Scan(kScanEnd), Char(' ')}, nullptr, mode);
  ASSERT_EQ(frames.size(), 2u);
  const std::vector<std::string>& first = frames[0].lines;
  ASSERT_FALSE(first.empty());
  ASSERT_LE(first.size(), report.size());
  EXPECT_EQ(first.front(), report.front());
  EXPECT_EQ(first.back(), report[first.size() - 1]);
  ASSERT_LE(frames[1].lines.size(), report.size());
  EXPECT_TRUE(std::equal(frames[1].lines.rbegin(), frames[1].lines.rend(), report.rbegin()));
  EXPECT_TRUE(frames[1].cleared);
  EXPECT_EQ(frames[1].bar, Bar(100));
  EXPECT_EQ(keysRead, 2u);
}

// Titles, rule, folder lines and totals change together, and the number
// of lines stays, so a whole short report is redrawn with the new setting.
TEST_F(Browser, TogglesRedrawTheWholeShortReportWithTheNewSetting) {
  for (const Toggle& toggle : kToggles) {
    SCOPED_TRACE(toggle.keys);
    SetUp();
    MakeTree(1);
    const std::vector<std::string> before = WholeReport();
    toggle.change();
    const std::vector<std::string> changed = WholeReport();
    options = ReportOptions{};
    ASSERT_EQ(changed.size(), before.size());
    ASSERT_NE(changed, before);
    const auto frames = Browse(KeysOf(toggle.keys));
    ASSERT_EQ(frames.size(), strlen(toggle.keys) + 1);
    EXPECT_TRUE(frames.back().cleared);
    EXPECT_EQ(frames.back().lines, changed);
    EXPECT_EQ(frames.back().bar, Bar(100));
    FoldSubtree(root);
  }
}

TEST_F(Browser, TogglesKeepTheWindowInPlace) {
  for (const Toggle& toggle : kToggles) {
    SCOPED_TRACE(toggle.keys);
    SetUp();
    MakeTree(22);
    toggle.change();
    const std::vector<std::string> changed = WholeReport();
    options = ReportOptions{};
    std::vector<platform::KeyPress> keys = KeysOf(toggle.keys);
    keys.insert(keys.begin(), Char(' '));
    const auto frames = Browse(keys);
    ASSERT_EQ(frames.size(), keys.size() + 1);
    EXPECT_TRUE(frames.back().cleared);
    EXPECT_EQ(frames.back().lines, Slice(changed, 21, 44));
    EXPECT_EQ(frames.back().bar, Bar(45));
    FoldSubtree(root);
  }
}

TEST_F(Browser, ATwiceGivesBackTheTreeCharacters) {
  MakeTree(1);
  const std::vector<std::string> graphics = WholeReport();
  const auto frames = Browse({Char('a'), Char('A')});
  ASSERT_EQ(frames.size(), 3u);
  const std::vector<std::string>& plain = frames[1].lines;
  ASSERT_EQ(plain.size(), graphics.size());
  // A last child has the corner, the children of a last child are indented
  // with blanks, a middle child has the tee.
  EXPECT_NE(plain[3].find("  +--c0"), std::string::npos) << plain[3];
  EXPECT_NE(plain[4].find("   |--g0"), std::string::npos) << plain[4];
  EXPECT_NE(plain[6].find("   +--g2"), std::string::npos) << plain[6];
  EXPECT_EQ(frames[2].lines, graphics);
  EXPECT_EQ(options.treeChars, kGraphicsChars);
}

TEST_F(Browser, EscQAndCtrlCEndTheProgram) {
  MakeTree(22);
  ExpectKeysEndTheProgram({Char(' ')}, {'\x1b', 'q', 'Q', '\x03'});
}

// ---- Navigation (the N key) ------------------------------------------------

// What the user sees after a key in navigation: a cleared screen, the

}  // namespace
