// Journeys through the browser on a fake console: a scripted key source and
// a recording screen. Each key request closes a "frame": what the user saw
// appear since the previous key (a cleared screen or not, report lines, the
// status bar).
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
#include "saved/comparison.h"
#include "report/console_report.h"
#include "report/modes.h"
#include "report/walker.h"
#include "scan/drive_stats.h"
#include "scan/scanner.h"
#include "scan/tree_edit.h"
#include "scan/tree.h"
#include "settings/settings.h"

namespace {

const std::string kClearMark = "<cleared>";
const std::string kEraseBar = std::string(78, '\b') + std::string(78, ' ') + std::string(78, '\b');

std::string output;
std::vector<platform::KeyPress> script;
size_t keysRead = 0;
std::vector<std::string> frames;
size_t frameStart = 0;

platform::KeyPress ScriptedKey() {
  frames.push_back(output.substr(frameStart));
  frameStart = output.size();
  if (keysRead == script.size()) return {0, 0, false};
  return script[keysRead++];
}

void RecordClear() { output += kClearMark; }

const std::string kReverseOn = "<reverse>", kReverseOff = "</reverse>";
void RecordReverse(bool on) { output += on ? kReverseOn : kReverseOff; }

platform::KeyPress Char(char c) { return {static_cast<uint8_t>(c), 0, true}; }
platform::KeyPress Scan(uint8_t code) { return {0, code, true}; }

std::string Bar(int percent) {
  std::string digits = std::to_string(percent);
  return std::string(3 - digits.size(), ' ') + digits +
         "% Up,Down,PgUp,PgDn,Home,End W)aste:D)isplay F)iles S)ub T)otals A)scii Esc";
}

std::vector<std::string> SplitLines(std::string text) {
  std::vector<std::string> lines;
  const std::string end = platform::kLineEnd;
  size_t from = 0;
  for (size_t at; (at = text.find(end, from)) != std::string::npos; from = at + end.size()) {
    lines.push_back(text.substr(from, at - from));
  }
  EXPECT_EQ(from, text.size()) << "text after the last line end: " << text.substr(from);
  return lines;
}

struct Frame {
  bool cleared = false;
  std::vector<std::string> lines;
  std::string bar;
};

// A frame after the first starts by erasing the previous bar in place.
Frame ParseFrame(std::string text, bool first) {
  Frame frame;
  if (!first) {
    EXPECT_EQ(text.substr(0, kEraseBar.size()), kEraseBar) << "the bar is not erased in place";
    text.erase(0, kEraseBar.size());
  }
  if (text.starts_with(kClearMark)) {
    frame.cleared = true;
    text.erase(0, kClearMark.size());
  }
  if (text.size() >= 78) {
    frame.bar = text.substr(text.size() - 78);
    text.erase(text.size() - 78);
  }
  frame.lines = SplitLines(text);
  return frame;
}

std::vector<std::string> Slice(const std::vector<std::string>& lines, int first, int last) {
  return std::vector<std::string>(lines.begin() + first, lines.begin() + last + 1);
}

TDirEntry* NewFolder(const std::string& name, int64_t local, int32_t files) {
  auto* folder = new TDirEntry;
  folder->name = name;
  folder->localBytes = local;
  folder->fileCount = files;
  folder->wastedBytes = local / 10;
  return folder;
}

class Browser : public ::testing::Test {
 protected:
  void SetUp() override {
    options = ReportOptions{};
    options.treeChars = kGraphicsChars;
    pageLength = 24;
    screenWidth = 100;
    effectiveClusterSize = 4096;
    driveStats = {4096, 1000000000, 250000000, 750000000, "DISK (ext4)"};
    driveName = "/";
    keySource = ScriptedKey;
    screenClearer = RecordClear;
    reverseVideoSwitch = RecordReverse;
    output.clear();
    script.clear();
    frames.clear();
    keysRead = 0;
    frameStart = 0;
  }
  void TearDown() override {
    CaptureOutput(nullptr);
    FoldSubtree(root);
    options = ReportOptions{};
    keySource = platform::ReadKey;
    screenClearer = platform::ClearConsoleScreen;
    reverseVideoSwitch = platform::SetReverseVideo;
  }

  // A root with `children` folders of three subfolders each: with the two
  // header and nine footer lines the report has 12 + 4 * children lines.
  static void MakeTree(int children) {
    root = TDirEntry{};
    root.name = "/data";
    root.localBytes = 7000;
    root.fileCount = 3;
    TDirEntry** link = &root.firstChild;
    for (int c = 0; c < children; ++c) {
      TDirEntry* child = NewFolder(std::string("c").append(std::to_string(c)), 5000 + c, 2);
      TDirEntry** grandLink = &child->firstChild;
      for (int g = 0; g < 3; ++g) {
        *grandLink = NewFolder(std::string("g").append(std::to_string(g)), 1000 * (g + 1) + c, 1);
        child->subBytes += (*grandLink)->localBytes;
        grandLink = &(*grandLink)->next;
      }
      root.subBytes += TotalBytes(*child);
      *link = child;
      link = &child->next;
    }
    scanTotals = {3 + 5 * children, TotalBytes(root) / 10};
  }

  // The whole report printed in one pass with the current settings.
  static std::vector<std::string> WholeReport(const OutputOperations& mode = kConsoleMode) {
    const bool pause = options.pauseEachPage;
    options.pauseEachPage = false;
    std::string whole;
    CaptureOutput(&whole);
    WalkReport(mode);
    CaptureOutput(nullptr);
    options.pauseEachPage = pause;
    return SplitLines(whole);
  }

  // Browses with the keys given; returns the frames, and in `after` what
  // was written once the browser returned.
  static std::vector<Frame> Browse(std::vector<platform::KeyPress> keys, std::string* after = nullptr,
                                   const OutputOperations& mode = kConsoleMode) {
    script = std::move(keys);
    CaptureOutput(&output);
    ShowReport(mode);
    CaptureOutput(nullptr);
    std::vector<Frame> parsed;
    for (size_t i = 0; i < frames.size(); ++i) parsed.push_back(ParseFrame(frames[i], i == 0));
    if (after != nullptr) *after = output.substr(frameStart);
    return parsed;
  }
};

struct Step {
  const char* what;  // the key just pressed
  bool cleared;
  int first, last;   // report lines shown, first > last for none
  int percent;
};

void ExpectSteps(const std::vector<Frame>& frames, const std::vector<Step>& steps,
                 const std::vector<std::string>& report) {
  ASSERT_EQ(frames.size(), steps.size());
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& step = steps[i];
    SCOPED_TRACE(std::string("after ") + step.what);
    EXPECT_EQ(frames[i].cleared, step.cleared);
    const std::vector<std::string> shown =
        step.first <= step.last ? Slice(report, step.first, step.last) : std::vector<std::string>{};
    EXPECT_EQ(frames[i].lines, shown);
    EXPECT_EQ(frames[i].bar, Bar(step.percent));
  }
}

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

struct Toggle {
  const char* keys;
  void (*change)();  // the same change made to the settings directly
};

const Toggle kToggles[] = {
    {"F", [] { options.showFileCounts = false; }},
    {"d", [] { options.wasteAsPercent = false; }},
    {"S", [] { options.showOwnSize = false; }},
    {"t", [] { options.showTotals = false; }},
    {"W", [] { options.showWaste = false; }},
    {"A", [] { options.treeChars = kPlainChars; }},
    // D flips the form of the wastage while its column is hidden: the
    // totals line's "Wastage:" figure changes form.
    {"WD", [] {
       options.showWaste = false;
       options.wasteAsPercent = false;
     }},
};

std::vector<platform::KeyPress> KeysOf(const char* text) {
  std::vector<platform::KeyPress> keys;
  for (const char* c = text; *c != '\0'; ++c) keys.push_back(Char(*c));
  return keys;
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

// Esc, Q and Ctrl+C end the program at once, with exit code 0.
// Each of `keys`, pressed after `before`, ends the program with exit code 0.
void ExpectKeysEndTheProgram(const std::vector<platform::KeyPress>& before, std::initializer_list<char> keys) {
  for (char key : keys) {
    script = before;
    script.push_back(Char(key));
    EXPECT_EXIT(
        {
          CaptureOutput(&output);
          ShowReport(kConsoleMode);
          std::exit(2);
        },
        ::testing::ExitedWithCode(0), "")
        << "key " << int(key);
  }
}

TEST_F(Browser, EscQAndCtrlCEndTheProgram) {
  MakeTree(22);
  ExpectKeysEndTheProgram({Char(' ')}, {'\x1b', 'q', 'Q', '\x03'});
}

// ---- Navigation (the N key) ------------------------------------------------

// What the user sees after a key in navigation: a cleared screen, the
// window's lines with one of them in reverse video, and the status bar.
struct NavFrame {
  bool cleared = false;
  std::vector<std::string> lines;
  int cursor = -1;  // the line in reverse video
  std::string bar;
};

size_t CountLineEnds(const std::string& text) {
  size_t count = 0;
  for (size_t at = 0; (at = text.find(platform::kLineEnd, at)) != std::string::npos; ++at) ++count;
  return count;
}

NavFrame ParseNavFrame(std::string text) {
  NavFrame frame;
  // The browser erases its own bar when N is read.
  if (text.starts_with(kEraseBar)) text.erase(0, kEraseBar.size());
  if (text.starts_with(kClearMark)) {
    frame.cleared = true;
    text.erase(0, kClearMark.size());
  }
  const size_t on = text.find(kReverseOn);
  if (on != std::string::npos) {
    text.erase(on, kReverseOn.size());
    const size_t off = text.find(kReverseOff, on);
    EXPECT_NE(off, std::string::npos) << "reverse video is not switched off";
    EXPECT_EQ(CountLineEnds(text.substr(on, off - on)), 1u) << "reverse video covers one whole line";
    frame.cursor = static_cast<int>(CountLineEnds(text.substr(0, on)));
    text.erase(off, kReverseOff.size());
  }
  const size_t lastEnd = text.rfind(platform::kLineEnd);
  const size_t barStart = lastEnd == std::string::npos ? 0 : lastEnd + strlen(platform::kLineEnd);
  frame.bar = text.substr(barStart);
  frame.lines = SplitLines(text.substr(0, barStart));
  return frame;
}

std::string NavBar(const std::string& order) {
  return "Enter/Right:open Left/Backspace:back O:order=" + order + " N/Esc:leave navigation";
}

const std::string kFoldedNotice = "Folded folder: its subfolders were summed into it";

// A window of the report: lines `top` to `top` + P - 1 (fewer at the end),
// the cursor on report line `cursor`.
struct Window {
  const char* what;  // the key just pressed
  int top, cursor;
};

class Navigation : public Browser {
 protected:
  void SetUp() override {
    Browser::SetUp();
    reportPath = Data();
  }

  static std::string Data() { return std::string("/data") + platform::kPathSeparator; }

  // Browses with the keys given; the frames from the one after the first N.
  static std::vector<NavFrame> Navigate(std::vector<platform::KeyPress> keys,
                                        const OutputOperations& mode = kConsoleMode) {
    script = std::move(keys);
    CaptureOutput(&output);
    ShowReport(mode);
    CaptureOutput(nullptr);
    size_t first = 0;
    while (first < script.size() && script[first].character != 'N' && script[first].character != 'n') ++first;
    std::vector<NavFrame> parsed;
    for (size_t i = first + 1; i < frames.size(); ++i) parsed.push_back(ParseNavFrame(frames[i]));
    return parsed;
  }

  static void ExpectWindows(const std::vector<NavFrame>& navFrames, const std::vector<Window>& windows,
                            const std::vector<std::string>& report, const std::string& bar) {
    ASSERT_GE(navFrames.size(), windows.size());
    for (size_t i = 0; i < windows.size(); ++i) {
      const Window& window = windows[i];
      SCOPED_TRACE(std::string("after ") + window.what);
      const int last = std::min(window.top + pageLength, static_cast<int>(report.size())) - 1;
      EXPECT_TRUE(navFrames[i].cleared);
      EXPECT_EQ(navFrames[i].lines, Slice(report, window.top, last));
      EXPECT_EQ(navFrames[i].cursor, window.cursor - window.top);
      EXPECT_EQ(navFrames[i].bar, bar);
    }
  }

  // The report a run started at `folder` draws, with `path` as its start
  // folder: its header lines are taken from `whole`, the report of the
  // start folder, as a view of the folder keeps them; its totals are the
  // folder's.
  static std::vector<std::string> ReportStartingAt(const TDirEntry& folder,
                                                   const std::vector<std::string>& whole,
                                                   const OutputOperations& mode, size_t header) {
    const std::string path = std::string("/data") + platform::kPathSeparator + folder.name;
    const TDirEntry wholeRoot = root;
    const ScanTotals wholeTotals = scanTotals;
    const std::string wholePath = reportPath;
    root = folder;
    root.name = path;
    root.next = nullptr;
    scanTotals = SubtreeTotals(folder);
    reportPath = path + platform::kPathSeparator;
    const std::vector<std::string> started = WholeReport(mode);
    root = wholeRoot;
    scanTotals = wholeTotals;
    reportPath = wholePath;
    std::vector<std::string> view(whole.begin(), whole.begin() + header);
    view.insert(view.end(), started.begin() + header, started.end());
    return view;
  }

  static TDirEntry* Child(int index) {
    TDirEntry* child = root.firstChild;
    while (index-- > 0) child = child->next;
    return child;
  }
};

std::vector<platform::KeyPress> Repeat(platform::KeyPress key, int times) {
  return std::vector<platform::KeyPress>(times, key);
}

std::vector<platform::KeyPress> Join(std::initializer_list<std::vector<platform::KeyPress>> parts) {
  std::vector<platform::KeyPress> keys;
  for (const auto& part : parts) keys.insert(keys.end(), part.begin(), part.end());
  return keys;
}

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
      {Char('x'), {"the first screen", 0, 2}},
      {Char(' '), {"a page on: lines 5 to 12", 5, 5}},
      {Scan(kScanEnd), {"the end: only footer lines, so the last folder", 14, 14}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.window.what);
    SetUp();
    pageLength = 8;
    ExpectWindows(Navigate({c.before, Char('n')}), {c.window}, report, NavBar("name"));
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
                  NavBar("name"));
    ExpectWindows({navFrames[7], navFrames[8]},
                  {{"back: the cursor on c1 again", 0, 7}, {"back at the start folder: nothing", 0, 7}},
                  report,
                  NavBar("name"));
    FoldSubtree(root);
  }
}

// An HTML header slot may hold two text lines or none, so the window is
// compared from the first folder row on (the 14th text line), away from
// the line with the time of day.
TEST_F(Navigation, HtmlViewDrawsTheOpenedFolderAsItsStartFolder) {
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

TEST_F(Navigation, AFoldedFolderIsNotOpenedAndTheBarSaysWhy) {
  MakeTree(3);
  MarkFolded(*Child(1));
  const std::vector<std::string> report = WholeReport();
  const auto navFrames = Navigate(Join({{Char('N')}, Repeat(Scan(kScanDown), 5),
                                        {Scan(kScanRight), Char(12), Scan(kScanDown), Char('\r')}}));
  ASSERT_EQ(navFrames.size(), 11u);
  ExpectWindows({navFrames[6]}, {{"Right on c1 ...", 0, 7}}, report, kFoldedNotice);
  ExpectWindows({navFrames[7], navFrames[8]}, {{"Ctrl+L: the keys again", 0, 7}, {"Down", 0, 8}}, report,
                NavBar("name"));
  ExpectWindows({navFrames[9]}, {{"Enter on a folder without subfolders", 0, 8}}, report, "No subfolders");
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
  ExpectSteps(BrowserFrames(3),
              {{"Esc: the window of lines 8 to 15 without the cursor", true, 8, 15, 16 * 100 / 24},
               {"Down in the browser", false, 16, 16, 17 * 100 / 24}},
              report);
  SetUp();
  pageLength = 8;
  Navigate({Char('N'), Scan(kScanDown), Scan(kScanRight), Char('n'), Scan(kScanEnd)});
  ExpectSteps(BrowserFrames(4),
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
