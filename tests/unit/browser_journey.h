// Journeys through the browser on a fake console: a scripted key source and
// a recording screen. Each key request closes a "frame": what the user saw
// appear since the previous key (a cleared screen or not, report lines, the
// status bar). Shared by the browser's and the navigation's tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "browse/browser.h"
#include "browse/folder_actions.h"
#include "console/output.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/console_report.h"
#include "report/walker.h"
#include "scan/drive_stats.h"
#include "scan/scanner.h"
#include "scan/tree.h"
#include "scan/tree_edit.h"
#include "settings/settings.h"

namespace browser_journey {


inline const std::string kClearMark = "<cleared>";
inline const std::string kEraseBar = std::string(78, '\b') + std::string(78, ' ') + std::string(78, '\b');

inline std::string output;
inline std::vector<platform::KeyPress> script;
inline size_t keysRead = 0;
inline std::vector<std::string> frames;
inline size_t frameStart = 0;

inline platform::KeyPress ScriptedKey() {
  frames.push_back(output.substr(frameStart));
  frameStart = output.size();
  if (keysRead == script.size()) return {0, 0, false};
  return script[keysRead++];
}

inline void RecordClear() { output += kClearMark; }

inline const std::string kReverseOn = "<reverse>", kReverseOff = "</reverse>";
inline void RecordReverse(bool on) { output += on ? kReverseOn : kReverseOff; }

inline platform::KeyPress Char(char c) { return {static_cast<uint8_t>(c), 0, true}; }
inline platform::KeyPress Scan(uint8_t code) { return {0, code, true}; }

inline std::string Bar(int percent) {
  std::string digits = std::to_string(percent);
  return std::string(3 - digits.size(), ' ') + digits +
         "% Up,Down,PgUp,PgDn,Home,End W)aste:D)isplay F)iles S)ub T)otals A)scii Esc";
}

inline std::vector<std::string> SplitLines(std::string text) {
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
inline Frame ParseFrame(std::string text, bool first) {
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

inline std::vector<std::string> Slice(const std::vector<std::string>& lines, int first, int last) {
  return std::vector<std::string>(lines.begin() + first, lines.begin() + last + 1);
}

inline TDirEntry* NewFolder(const std::string& name, int64_t local, int32_t files) {
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

inline void ExpectSteps(const std::vector<Frame>& frames, const std::vector<Step>& steps,
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

// Esc, Q and Ctrl+C end the program at once, with exit code 0.
// Each of `keys`, pressed after `before`, ends the program with exit code 0.
inline void ExpectKeysEndTheProgram(const std::vector<platform::KeyPress>& before, std::initializer_list<char> keys) {
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

// The column keys, each with the change it makes to the settings.
struct Toggle {
  const char* keys;
  void (*change)();  // the same change made to the settings directly
};

inline const Toggle kToggles[] = {
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

inline std::vector<platform::KeyPress> KeysOf(const char* text) {
  std::vector<platform::KeyPress> keys;
  for (const char* c = text; *c != '\0'; ++c) keys.push_back(Char(*c));
  return keys;
}

}  // namespace browser_journey

// Journeys through the browser's navigation: frames of a window with one
// line in reverse video, and the fixture that starts navigation.
namespace navigation_journey {

using namespace browser_journey;

// What navigation shows after a key: a cleared screen, the window's lines
// with one of them in reverse video, and the status bar.
struct NavFrame {
  bool cleared = false;
  std::vector<std::string> lines;
  int cursor = -1;  // the line in reverse video
  std::string bar;
};

inline size_t CountLineEnds(const std::string& text) {
  size_t count = 0;
  for (size_t at = 0; (at = text.find(platform::kLineEnd, at)) != std::string::npos; ++at) ++count;
  return count;
}

inline NavFrame ParseNavFrame(std::string text) {
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

// The bar of the whole subtree's view (V) at the tests' width of 100: the
// keys that fit, then "?:keys".
inline std::string NavBar(const std::string& order, bool opened = false) {
  return std::string("Enter:open ") + (opened ? "Left:up " : "") +
         "Space:mark X:delete /:search V:one level O:order=" + order + " B:bars R:read again ?:keys";
}

// A window of the report: lines `top` to `top` + P - 1 (fewer at the end),
// the cursor on report line `cursor`.
struct Window {
  const char* what;  // the key just pressed
  int top, cursor;
};

class Navigation : public Browser {
 protected:
  // The folders of these journeys are fake listings, which no way to the
  // disk reaches: every way is taken as the scan saw it.
  void SetUp() override {
    Browser::SetUp();
    reportPath = Data();
    wayCheck = [](const platform::ItemWay&) { return platform::RemovalResult{}; };
  }
  void TearDown() override {
    wayCheck = platform::CheckWay;
    Browser::TearDown();
  }

  static std::string Data() { return std::string("/data") + platform::kPathSeparator; }

  // Browses with the keys given; the frames from the one after the first
  // N. In the view of the whole subtree, V follows that N, and its frame
  // comes first.
  static std::vector<NavFrame> Navigate(std::vector<platform::KeyPress> keys,
                                        const OutputOperations& mode = kConsoleMode, bool wholeSubtree = true) {
    script = std::move(keys);
    size_t first = 0;
    while (first < script.size() && script[first].character != 'N' && script[first].character != 'n') ++first;
    if (wholeSubtree && first < script.size()) script.insert(script.begin() + first + 1, Char('V'));
    CaptureOutput(&output);
    ShowReport(mode);
    CaptureOutput(nullptr);
    std::vector<NavFrame> parsed;
    for (size_t i = first + (wholeSubtree ? 2 : 1); i < frames.size(); ++i) parsed.push_back(ParseNavFrame(frames[i]));
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

  // The view of one level of MakeTree(3): the root's line, its children's
  // lines as the whole report draws them (the last one now followed by a
  // sibling), the line of the root's own files, and the whole footer.
  static std::vector<std::string> OneLevelView(const std::vector<std::string>& whole) {
    std::vector<std::string> view = {whole[0], whole[1], whole[2], whole[3], whole[7], whole[11]};
    const std::string corner = kGraphicsChars[kCorner], tee = kGraphicsChars[kTee];
    view.back().replace(view.back().find(corner), corner.size(), tee);
    view.push_back("          7 KB    0%       3  " + corner + kGraphicsChars[kBar] + kGraphicsChars[kBar] + "[files]  ");
    view.insert(view.end(), whole.begin() + 15, whole.end());
    return view;
  }

  static TDirEntry* Child(int index) {
    TDirEntry* child = root.firstChild;
    while (index-- > 0) child = child->next;
    return child;
  }
};

inline std::vector<platform::KeyPress> Repeat(platform::KeyPress key, int times) {
  return std::vector<platform::KeyPress>(times, key);
}

inline std::vector<platform::KeyPress> Join(std::initializer_list<std::vector<platform::KeyPress>> parts) {
  std::vector<platform::KeyPress> keys;
  for (const auto& part : parts) keys.insert(keys.end(), part.begin(), part.end());
  return keys;
}

}  // namespace navigation_journey
