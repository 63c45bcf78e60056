// Journeys through the browser's navigation on the fake console of the
// browser's tests.
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
using namespace navigation_journey;

namespace {
// A page of 8 lines over a report of 24 (folder lines 2 to 14): the window
// follows the cursor at both edges, and neither leaves the report.
TEST_F(Navigation, CursorMovesByFolderAndPageAndTheWindowFollowsIt) {
  pageLength = 8;
  MakeTree(3);
  const std::vector<std::string> report = WholeReport();
  ASSERT_EQ(report.size(), 24u);
  const auto navFrames = Navigate(Join({{Char('N'), Scan(kScanUp)}, Repeat(Scan(kScanDown), 6),
                                        {Scan(kScanPageDown), Char('j'), Scan(kScanPageUp), Scan(kScanHome),
                                         Scan(kScanEnd), Char('k'), Scan(kScanDown)}}));
  ExpectWindows(navFrames,
                {
                    {"N: the first folder line of the first window", 0, 2},
                    {"Up on the first folder", 0, 2},
                    {"Down", 0, 3}, {"Down", 0, 4}, {"Down", 0, 5}, {"Down", 0, 6}, {"Down", 0, 7},
                    {"Down past the last line of the window", 1, 8},
                    {"Page Down: the window moves a page, the cursor stops at the last folder", 9, 14},
                    {"j on the last folder", 9, 14},
                    {"Page Up", 1, 6},
                    {"Home", 0, 2},
                    {"End: the last folder, at the top of the window", 14, 14},
                    {"k above the window", 13, 13},
                    {"Down", 13, 14},
                },
                report, NavBar("name"));
}

TEST_F(Navigation, StartsOnTheFirstFolderLineOfTheWindowShown) {
  pageLength = 8;
  MakeTree(3);
  const std::vector<std::string> report = WholeReport();
  const struct {
    platform::KeyPress before;
    Window window;
  } kCases[] = {
      {Char('x'), {"the first screen: the start folder", 0, 2}},
      {Char(' '), {"a page on, lines 5 to 12: c0, which holds line 5", 3, 3}},
      {Scan(kScanEnd), {"the end, only footer lines: c2, which holds the last folder", 5, 5}},
  };
  const std::string bar = "Enter:open Space:mark X:delete /:search V:whole subtree O:order=name B:bars R:read again ?:keys";
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.window.what);
    SetUp();
    pageLength = 8;
    ExpectWindows(Navigate({c.before, Char('n')}, kConsoleMode, false), {c.window}, OneLevelView(report), bar);
  }
}

// A folder opens as the start folder of its own report (its full path on
// its line, the footer as before) in every output form, and the way back
// puts the cursor on it again.
TEST_F(Navigation, OpensAFolderAsTheTopOfTheReportAndGoesBack) {
  const struct {
    const OutputOperations& mode;
    platform::KeyPress open, back;
    size_t header;
    const char* name;  // of the folder opened
  } kCases[] = {
      {kConsoleMode, Scan(kScanRight), Scan(kScanLeft), 2, "c1"},
      {OperationsFor(OutputMode::tab), Char('\r'), Char('\b'), 2, "c1"},
      {OperationsFor(OutputMode::comma), Scan(kScanRight), Char('\b'), 2, "c1"},
      {kConsoleMode, Scan(kScanRight), Scan(kScanLeft), 2, "a ... b"},  // only a name, not a fold
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    SetUp();
    MakeTree(3);
    Child(1)->name = c.name;
    const std::vector<std::string> report = WholeReport(c.mode);
    const std::vector<std::string> view = ReportStartingAt(*Child(1), report, c.mode, c.header);
    const auto navFrames =
        Navigate(Join({{Char('N')}, Repeat(Scan(kScanDown), 5), {c.open, c.back, c.back}}), c.mode);
    ASSERT_EQ(navFrames.size(), 10u);
    ExpectWindows({navFrames[6]}, {{"open on c1, line 7: the cursor on its first subfolder", 0, 3}}, view,
                  NavBar("name", true));
    ExpectWindows({navFrames[7], navFrames[8]},
                  {{"back: the cursor on c1 again", 0, 7}, {"back at the start folder: nothing", 0, 7}},
                  report,
                  NavBar("name"));
    FoldSubtree(root);
  }
}

// An HTML header slot may hold two text lines or none, so the window is
// compared from the first folder row on (the 14th text line), away from
// the line with the time of day. The screen is wide enough for its
// longest line, which navigation would cut.
TEST_F(Navigation, HtmlViewDrawsTheOpenedFolderAsItsStartFolder) {
  screenWidth = 200;
  MakeTree(3);
  const OutputOperations& mode = OperationsFor(OutputMode::html);
  const std::vector<std::string> report = WholeReport(mode);
  const std::vector<std::string> view = ReportStartingAt(*Child(1), report, mode, 13);
  const auto navFrames = Navigate(Join({{Char('N')}, Repeat(Scan(kScanDown), 5), {Scan(kScanRight)}}), mode);
  const NavFrame& opened = navFrames[6];
  ASSERT_GT(opened.lines.size(), 13u);
  EXPECT_EQ(Slice(opened.lines, 13, static_cast<int>(opened.lines.size()) - 1),
            Slice(view, 13, static_cast<int>(opened.lines.size()) - 1));
  EXPECT_EQ(opened.cursor, 14) << "the cursor on the first subfolder's row";
}

TEST_F(Navigation, AFolderWithoutSubfoldersIsNotOpenedInTheWholeSubtree) {
  MakeTree(3);
  const std::vector<std::string> report = WholeReport();
  const auto navFrames = Navigate(Join({{Char('N')}, Repeat(Scan(kScanDown), 2), {Char('\r'), Char(12)}}));
  ExpectWindows({navFrames[3]}, {{"Enter on g1", 0, 4}}, report, "No subfolders");
  ExpectWindows({navFrames[4]}, {{"Ctrl+L: the keys again", 0, 4}}, report, NavBar("name"));
}

void ReverseChildren(TDirEntry& folder) {
  TDirEntry* reversed = nullptr;
  while (TDirEntry* child = folder.firstChild) {
    folder.firstChild = child->next;
    child->next = reversed;
    reversed = child;
    ReverseChildren(*child);
  }
  folder.firstChild = reversed;
}

// O links every folder's children in the next order; the cursor stays on
// its folder, and six presses give back the order the run began with.
TEST_F(Navigation, OChangesTheOrderOfTheWholeTreeAndTheCursorFollowsItsFolder) {
  MakeTree(3);
  const std::vector<std::string> byName = WholeReport();
  // Totals grow with the names here, so the order by total is the reverse.
  ReverseChildren(root);
  const std::vector<std::string> byTotal = WholeReport();
  ReverseChildren(root);
  const auto navFrames = Navigate(Join({{Char('N'), Scan(kScanDown)}, Repeat(Char('o'), 6)}));
  ASSERT_EQ(navFrames.size(), 9u);
  ExpectWindows({navFrames[2]}, {{"O: by total, c0 under the cursor comes last", 0, 11}}, byTotal,
                NavBar("total"));
  const char* kCycle[] = {"total", "local", "waste", "files", "none", "name"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(navFrames[2 + i].bar, NavBar(kCycle[i])) << i;
  ExpectWindows({navFrames[7]}, {{"six times O", 0, 3}}, byName, NavBar("name"));
}

// The browser's frames after navigation was left, without reverse video.
std::vector<Frame> BrowserFrames(size_t first) {
  std::vector<Frame> parsed;
  for (size_t i = first; i < frames.size(); ++i) {
    const NavFrame frame = ParseNavFrame(frames[i]);
    EXPECT_EQ(frame.cursor, -1) << "a cursor in frame " << i;
    parsed.push_back({frame.cleared, frame.lines, frame.bar});
  }
  return parsed;
}

std::vector<std::string> RootChildNames() {
  std::vector<std::string> names;
  for (const TDirEntry* child = root.firstChild; child != nullptr; child = child->next) names.push_back(child->name);
  return names;
}

// With an earlier report to compare with, growth follows none among the
// orders of O: c0 grew by 10,000 bytes, c2 by 1,000 and c1 not at all.
TEST_F(Navigation, WithAComparisonOOrdersByGrowthAfterNone) {
  MakeTree(3);
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "tallyfold-navigation-test.json";
  std::ofstream(file) << R"({"program":"tallyfold","created":"2026-11-07T10:00:00+01:00","path":"/data",)"
                      << R"("clusterSize":4096,"dirMode":false,"includeOffline":true,"root":{"name":"/data",)"
                      << R"("total":30000,"children":[{"name":"c0","total":1000},{"name":"c1","total":11004},)"
                      << R"({"name":"c2","total":10008}]}})";
  std::string refusal;
  ASSERT_TRUE(LoadComparison(file.string(), "/data", refusal)) << refusal;
  std::filesystem::remove(file);
  CompareWithTree();
  const auto navFrames = Navigate(Join({{Char('N')}, Repeat(Char('O'), 6)}));
  EXPECT_EQ(navFrames[6].bar, NavBar("growth"));
  EXPECT_EQ(RootChildNames(), (std::vector<std::string>{"c0", "c2", "c1"}));
  ReleaseComparison();
}

// N and Esc leave navigation for the browser, on the window shown and with
// the folder opened at the top still: the browser goes on in that report.
TEST_F(Navigation, NAndEscLeaveForTheBrowserOnTheWindowShown) {
  pageLength = 8;
  MakeTree(3);
  const std::vector<std::string> report = WholeReport();
  const std::vector<std::string> view = ReportStartingAt(*Child(0), report, kConsoleMode, 2);
  Navigate({Char('N'), Scan(kScanPageDown), Char('\x1b'), Scan(kScanDown)});
  ExpectSteps(BrowserFrames(4),
              {{"Esc: the window of lines 8 to 15 without the cursor", true, 8, 15, 16 * 100 / 24},
               {"Down in the browser", false, 16, 16, 17 * 100 / 24}},
              report);
  SetUp();
  pageLength = 8;
  Navigate({Char('N'), Scan(kScanDown), Scan(kScanRight), Char('n'), Scan(kScanEnd)});
  ExpectSteps(BrowserFrames(5),
              {{"n: the view of c0, 15 lines", true, 0, 7, 8 * 100 / 15},
               {"End in the browser", true, 7, 14, 100}},
              view);
}

TEST_F(Navigation, ColumnKeysRedrawTheWindowWithTheCursorInPlace) {
  for (const Toggle& toggle : kToggles) {
    SCOPED_TRACE(toggle.keys);
    SetUp();
    MakeTree(3);
    toggle.change();
    const std::vector<std::string> changed = WholeReport();
    options = ReportOptions{};
    const auto navFrames = Navigate(Join({{Char('N'), Scan(kScanDown)}, KeysOf(toggle.keys)}));
    ExpectWindows({navFrames[1 + strlen(toggle.keys)]}, {{toggle.keys, 0, 3}}, changed, NavBar("name"));
    FoldSubtree(root);
  }
}

TEST_F(Navigation, QAndCtrlCEndTheProgram) {
  MakeTree(3);
  ExpectKeysEndTheProgram({Char('N'), Scan(kScanDown)}, {'q', '\x03'});
}

}  // namespace
