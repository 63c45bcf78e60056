// Navigation one level at a time: the view with its files line, folded
// folders read again to open, marks, search, the page of the keys and
// lines fitted to the screen.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "console/line_fit.h"
#include "fake_listing.h"
#include "scan/drive_stats.h"
#include "settings/settings.h"

#include "browser_journey.h"

using namespace browser_journey;
using namespace navigation_journey;

namespace {

const std::string kOneLevelBar =
    "Enter:open Space:mark X:delete /:search V:whole subtree O:order=name B:bars R:read again ?:keys";
const std::string kOpenedOneLevelBar =
    "Enter:open Left:up Space:mark X:delete /:search V:whole subtree O:order=name B:bars ?:keys";

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

// The view of one level lists the top, its subfolders and its own files,
// which add up to its total; V shows the whole subtree and back, Enter
// opens a subfolder one level down, Left goes back onto it.
TEST_F(Navigation, OneLevelAtATimeWithTheFilesOfEachFolder) {
  MakeTree(3);
  const std::vector<std::string> report = WholeReport();
  const std::vector<std::string> oneLevel = OneLevelView(report);
  std::vector<std::string> c0 = ReportStartingAt(*Child(0), report, kConsoleMode, 2);
  c0[5].replace(c0[5].find(kGraphicsChars[kCorner]), kGraphicsChars[kCorner].size(), kGraphicsChars[kTee]);
  c0.insert(c0.begin() + 6, "          5 KB   10%       2  " + kGraphicsChars[kCorner] + kGraphicsChars[kBar] +
                                kGraphicsChars[kBar] + "[files]  ");
  const auto navFrames = Navigate({Char('N'), Scan(kScanDown), Char('v'), Char('V'), Char('\r'), Char('\b')},
                                  kConsoleMode, false);
  ASSERT_EQ(navFrames.size(), 7u);
  ExpectWindows({navFrames[0], navFrames[1]}, {{"N: the start folder", 0, 2}, {"Down: c0", 0, 3}}, oneLevel,
                kOneLevelBar);
  ExpectWindows({navFrames[2]}, {{"V: the whole subtree, the cursor on c0", 0, 3}}, report, NavBar("name"));
  ExpectWindows({navFrames[3]}, {{"V: one level again", 0, 3}}, oneLevel, kOneLevelBar);
  ExpectWindows({navFrames[4]}, {{"Enter: c0's subfolders and files", 0, 3}}, c0, kOpenedOneLevelBar);
  ExpectWindows({navFrames[5]}, {{"Backspace: the cursor on c0", 0, 3}}, oneLevel, kOneLevelBar);
}

// With -1 every subfolder of the start folder is folded; Enter reads it
// again one level deeper, as the scan would have shown it, and opens it.
TEST_F(Navigation, AFoldedFolderIsReadAgainAndOpened) {
  const char sep = platform::kPathSeparator;
  const std::string data = std::string(1, sep) + "data";
  fakeFolders[data + sep] = {platform::ListStatus::Listed, {Dir("a"), File("f", 4096)}};
  fakeFolders[data + sep + "a" + sep] = {platform::ListStatus::Listed, {Dir("b"), Dir("c"), File("x", 8192)}};
  fakeFolders[data + sep + "a" + sep + "b" + sep] = {platform::ListStatus::Listed, {Dir("d"), File("y", 4096)}};
  fakeFolders[data + sep + "a" + sep + "b" + sep + "d" + sep] = {platform::ListStatus::Listed, {File("z", 4096)}};
  fakeFolders[data + sep + "a" + sep + "c" + sep] = {};
  options.maxDepth = 1;
  reportPath = data + sep;
  ASSERT_TRUE(ScanFake(data, 4096));
  options.pauseEachPage = true;
  const auto navFrames = Navigate({Char('N'), Scan(kScanDown), Char('\r'), Scan(kScanRight)}, kConsoleMode, false);
  ResetScan();
  ASSERT_EQ(navFrames.size(), 5u);
  // The names of the first `count` folder lines, after the figures.
  const auto names = [](const NavFrame& frame, size_t count) {
    std::vector<std::string> names;
    for (size_t line = 2; line < 2 + count; ++line) names.push_back(frame.lines.at(line).substr(30));
    return names;
  };
  const std::string tee = kGraphicsChars[kTee] + kGraphicsChars[kBar] + kGraphicsChars[kBar];
  const std::string corner = kGraphicsChars[kCorner] + kGraphicsChars[kBar] + kGraphicsChars[kBar];
  // Each folder's own bytes hold a cluster for its entry in its parent.
  EXPECT_EQ(navFrames[1].lines[3].substr(30), tee + "a ...   [12 KB]");
  EXPECT_EQ(names(navFrames[2], 4), (std::vector<std::string>{data + sep + "a   [12 KB]", tee + "b ...   [8 KB]", tee + "c  ",
                                                           corner + "[files]  "}))
      << Lines(navFrames[2].lines);
  EXPECT_EQ(navFrames[2].lines[2].substr(0, 14), navFrames[1].lines[3].substr(0, 14)) << "the same total";
  EXPECT_EQ(names(navFrames[3], 3),
            (std::vector<std::string>{data + sep + "a" + sep + "b   [8 KB]", tee + "d  ", corner + "[files]  "}))
      << Lines(navFrames[3].lines);
}

// Space marks the folder at the cursor and moves on; Delete with marks
// asks once for them all; Esc drops the marks and stays.
TEST_F(Navigation, SpaceMarksFoldersForOneQuestionAndEscDropsTheMarks) {
  MakeTree(3);
  const auto navFrames = Navigate({Char('N'), Scan(kScanDown), Char(' '), Char(' '), Scan(kScanDelete), Char('n'),
                                   Char('\x1b'), Char('n')},
                                  kConsoleMode, false);
  ASSERT_EQ(navFrames.size(), 8u);
  const NavFrame& marked = navFrames[3];
  EXPECT_EQ(marked.cursor, 5) << "on c2";
  for (int line : {3, 4}) EXPECT_TRUE(marked.lines[line].starts_with(kLineMark)) << marked.lines[line];
  for (int line : {2, 5, 6}) EXPECT_TRUE(marked.lines[line].starts_with(" ")) << marked.lines[line];
  EXPECT_EQ(marked.bar,
            "Enter:open Space:mark X:delete 2 marked /:search V:whole subtree O:order=name B:bars ?:keys");
  EXPECT_EQ(navFrames[4].bar, "Move 2 folders (21 KB, 10 files) to the trash? y/N");
  EXPECT_TRUE(navFrames[5].lines[3].starts_with(kLineMark)) << "no keeps the marks";
  EXPECT_TRUE(navFrames[6].lines[3].starts_with(" ")) << "Esc drops them";
  EXPECT_EQ(navFrames[6].bar, kOneLevelBar) << "still in navigation";
  EXPECT_EQ(navFrames[7].cursor, -1) << "n leaves it";
}

// Where one marked folder cannot go (swapped for a link since the scan),
// the other still goes to the trash, the bar names the failure, and the
// view shows what a fresh scan finds: neither (a link is not counted).
TEST_F(Navigation, WhereOneMarkedFolderCannotGoTheRestGo) {
  if (platform::kPathStyle != platform::PathStyle::Posix) GTEST_SKIP() << "Wine makes no links";
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() / "tallyfold_marked_removal";
  fs::remove_all(base);
  for (const char* name : {"a", "b"}) {
    fs::create_directories(base / "tree" / name);
    std::ofstream(base / "tree" / name / "f") << name;
  }
  fs::create_directories(base / "outside");
  fs::create_directories(base / "data");  // a data home outside the home folder is never made
  static std::string trashSetting;  // the environment keeps this very text
  trashSetting = "XDG_DATA_HOME=" + (base / "data").string();
  putenv(trashSetting.data());
  const std::string tree = (base / "tree").string();
  root.name = tree;
  reportPath = tree + platform::kPathSeparator;
  scanPath = tree;
  platform::BeginWalk(tree);
  ASSERT_TRUE(ScanFolder(root));
  platform::EndWalk();
  ASSERT_TRUE(ReadDriveStats(tree));
  fs::rename(base / "tree" / "a", base / "a-moved");
  fs::create_directory_symlink(base / "outside", base / "tree" / "a");
  const auto navFrames = Navigate({Char('N'), Scan(kScanDown), Char(' '), Char(' '), Char('x'), Char('y')},
                                  kConsoleMode, false);
  putenv(const_cast<char*>("XDG_DATA_HOME="));
  ASSERT_EQ(navFrames.size(), 7u);
  const NavFrame& after = navFrames[5];
  EXPECT_TRUE(after.bar.starts_with("Cannot delete " + tree + platform::kPathSeparator + "a: ")) << after.bar;
  EXPECT_FALSE(fs::exists(base / "tree" / "b"));
  EXPECT_TRUE(fs::exists(base / "data" / "Trash" / "files" / "b" / "f"));
  EXPECT_TRUE(fs::exists(base / "outside"));
  ASSERT_GT(after.lines.size(), 4u);
  EXPECT_TRUE(after.lines[3].ends_with(kGraphicsChars[kCorner] + kGraphicsChars[kBar] + kGraphicsChars[kBar] +
                                       "[files]  "))
      << Lines(after.lines);
  fs::remove_all(base);
}

// / finds the next name that holds the text, without regard to case, and
// / with Enter alone the one after it; a text that no name holds is named.
TEST_F(Navigation, SlashFindsTheNextNameHoldingTheText) {
  MakeTree(3);
  const std::vector<std::string> report = WholeReport();
  const auto navFrames = Navigate(Join({{Char('N'), Char('/'), Char('G'), Char('1'), Char('\r'), Char('/'),
                                         Char('\r'), Char('/'), Char('z'), Char('\r')}}));
  ASSERT_EQ(navFrames.size(), 11u);
  EXPECT_EQ(navFrames[2].bar, "/G");
  ExpectWindows({navFrames[4]}, {{"/G1 Enter: g1 of c0", 0, 5}}, report, NavBar("name"));
  ExpectWindows({navFrames[6]}, {{"/ Enter: g1 of c1", 0, 9}}, report, NavBar("name"));
  ExpectWindows({navFrames[9]}, {{"/z Enter", 0, 9}}, report, "Not found: z");
}

// ? and F1 (where no help file opens) show the keys, in navigation and in
// the browser; Esc and ? close the page.
TEST_F(Navigation, QuestionMarkAndF1ShowThePageOfTheKeys) {
  pageLength = 40;
  MakeTree(3);
  Navigate({Scan(kScanF1), Char('?'), Char('N'), Char('?'), Scan(kScanDown), Char('?'), Scan(kScanF1), Char('\x1b')},
           kConsoleMode, false);
  ASSERT_GE(frames.size(), 9u);
  const auto page = [](size_t frame) { return ParseNavFrame(frames[frame]); };
  for (size_t frame : {1, 4, 5, 7}) {
    SCOPED_TRACE(frame);
    EXPECT_TRUE(page(frame).cleared);
    EXPECT_EQ(page(frame).bar, "Up/Down:scroll Esc/?:close");
    ASSERT_GE(page(frame).lines.size(), 18u);
    EXPECT_EQ(page(frame).lines[0], frame == 1 ? "The keys of the browser" : "The keys of navigation");
  }
  EXPECT_EQ(page(1).lines[2], "  Up, K             one line back");
  EXPECT_EQ(page(4).lines[5], "  Enter, Right      open the folder at the cursor (a folded one is read again)");
  EXPECT_EQ(page(5).lines, page(4).lines) << "Down scrolls nothing on a page that fits";
  EXPECT_EQ(page(2).bar, Bar(100)) << "? closes the browser's page";
  EXPECT_EQ(page(6).cursor, 2) << "? closes navigation's page";
  EXPECT_EQ(page(8).cursor, 2) << "Esc closes it";
}

// A line wider than the screen loses the middle of its name, which keeps
// its end; a name too short for that leaves the cut to the line's end.
TEST(LineFit, ANameTooLongIsCutInItsMiddle) {
  const struct {
    size_t width;
    const char* line;
    size_t nameStart, nameEnd;
    const char* fitted;
  } kRows[] = {
      {30, "  12 KB  name  [4 KB]", 9, 13, "  12 KB  name  [4 KB]"},
      {24, "  12 KB  a-long-folder-name  [4 KB]", 9, 27, "  12 KB  a-...me  [4 KB]"},
      {30, "  12 KB  a-long-folder-name  [4 KB]", 9, 27, "  12 KB  a-lon...-name  [4 KB]"},
      {28, "  12 KB  \xc3\xa9t\xc3\xa9-2025-rapport-final  [4 KB]", 9, 33, "  12 KB  \xc3\xa9t\xc3\xa9-...inal  [4 KB]"},
      {12, "  12 KB  name  [4 KB]", 9, 13, "  12 KB  name  [4 KB]"},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.line);
    lineFit.width = row.width;
    std::string line = row.line;
    FitName(line, row.nameStart, row.nameEnd);
    EXPECT_EQ(line, row.fitted);
  }
  lineFit = {};
}

}  // namespace
