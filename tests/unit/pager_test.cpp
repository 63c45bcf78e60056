// The page prompt of the paged line writer, with a scripted key source: the
// tests note after how many written lines each prompt asked for a key.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/output.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "settings/settings.h"

namespace {

const std::string kPrompt = "-- [Enter] & [Space]=page, [End]=continuous, [Esc]=exit, [j] & [k]=line --";

std::string written;
std::vector<platform::KeyPress> keys;
size_t keysRead = 0;
std::vector<size_t> promptsAfter;  // lines written when each prompt came

size_t LinesWritten() {
  const std::string end = platform::kLineEnd;
  size_t count = 0;
  for (size_t at = written.find(end); at != std::string::npos; at = written.find(end, at + end.size())) ++count;
  return count;
}

platform::KeyPress ScriptedKey() {
  promptsAfter.push_back(LinesWritten());
  if (keysRead == keys.size()) return {' ', 0, true};
  return keys[keysRead++];
}

platform::KeyPress Char(char c) { return {static_cast<uint8_t>(c), 0, true}; }
platform::KeyPress Scan(uint8_t code) { return {0, code, true}; }
constexpr platform::KeyPress kFailedRead = {0, 0, false};

class Pager : public ::testing::Test {
 protected:
  void SetUp() override {
    options = ReportOptions{};
    pageLength = 24;
    screenWidth = 80;
    pagerLineCount = -2;
    keySource = ScriptedKey;
    written.clear();
    keys.clear();
    keysRead = 0;
    promptsAfter.clear();
  }
  void TearDown() override {
    CaptureOutput(nullptr);
    options = ReportOptions{};
    keySource = platform::ReadKey;
  }

  static void WriteLines(const std::vector<std::string>& lines) {
    CaptureOutput(&written);
    for (const std::string& line : lines) WriteLinePaged(line);
    CaptureOutput(nullptr);
  }

  static std::vector<std::string> ShortLines(int count) {
    std::vector<std::string> lines;
    for (int i = 1; i <= count; ++i) lines.push_back("line " + std::to_string(i));
    return lines;
  }
};

// The count starts at -2: the first prompt after P lines, then one every
// P - 1 lines, so one line of the old page stays in view.
TEST_F(Pager, PromptsAfterPLinesThenEveryPMinusOne) {
  WriteLines(ShortLines(75));
  EXPECT_EQ(promptsAfter, (std::vector<size_t>{24, 47, 70}));
}

TEST_F(Pager, PageLengthFollowsTheScreenBuffer) {
  pageLength = 299;
  WriteLines(ShortLines(300));
  EXPECT_EQ(promptsAfter, (std::vector<size_t>{299}));
}

// Enter, Space and every other key, extended keys included, start a page.
TEST_F(Pager, AnyOtherKeyStartsANewPage) {
  keys = {Char('\r'), Char('x'), Scan(kScanUp), Scan(kScanPageDown)};
  WriteLines(ShortLines(24 + 4 * 23));
  EXPECT_EQ(promptsAfter, (std::vector<size_t>{24, 47, 70, 93}));
}

TEST_F(Pager, JAndKGiveOneMoreLine) {
  keys = {Char('j'), Char('K'), Char('J'), Char('k'), Char(' ')};
  WriteLines(ShortLines(60));
  EXPECT_EQ(promptsAfter, (std::vector<size_t>{24, 25, 26, 27, 28, 51}));
}

// A line as wide as the screen, or wider, takes two rows; widths count
// characters, so 20 box-drawing characters (60 bytes) fill a 20-column
// screen and 10 of them (30 bytes) do not.
TEST_F(Pager, WideLinesCountTwice) {
  screenWidth = 20;
  std::vector<std::string> lines = ShortLines(30);
  lines[2] = std::string(20, 'w');
  lines[5] = std::string(60, 'w');
  lines[7] = std::string(19, 'n');
  std::string boxes;
  for (int i = 0; i < 20; ++i) boxes += "\u2500";
  lines[9] = boxes;
  lines[11] = boxes.substr(0, boxes.size() / 2);
  WriteLines(lines);
  EXPECT_EQ(promptsAfter, (std::vector<size_t>{21}));
}

// End stops pausing for the rest of the run; a key read that fails counts
// as End, so an input that cannot deliver keys never holds the run up.
TEST_F(Pager, EndAndFailedReadsStopPausing) {
  for (platform::KeyPress end : {Scan(kScanEnd), kFailedRead}) {
    SetUp();
    keys = {end};
    WriteLines(ShortLines(100));
    EXPECT_EQ(promptsAfter, (std::vector<size_t>{24}));
    EXPECT_FALSE(options.pauseEachPage);
    EXPECT_EQ(LinesWritten(), 100u);
  }
}

TEST_F(Pager, NoPromptWhenPausingIsOff) {
  options.pauseEachPage = false;
  WriteLines(ShortLines(100));
  EXPECT_TRUE(promptsAfter.empty());
  EXPECT_EQ(written.find(kPrompt), std::string::npos);
}

// The prompt is taken back in place, so the next line is written where it
// stood and nothing of it stays in the output's lines.
TEST_F(Pager, PromptIsErasedInPlace) {
  WriteLines(ShortLines(25));
  const std::string end = platform::kLineEnd;
  const std::string expected = "line 24" + end + kPrompt + std::string(74, '\b') + std::string(74, ' ') +
                               std::string(74, '\b') + "line 25" + end;
  EXPECT_NE(written.find(expected), std::string::npos);
  EXPECT_EQ(kPrompt.size(), 74u);
}

void ReportLinesWritten() { std::fprintf(stderr, "lines written: %zu\n", LinesWritten()); }

TEST_F(Pager, EscEndsTheProgramWithoutWritingTheLine) {
  keys = {Char('\x1b')};
  EXPECT_EXIT(
      {
        std::atexit(ReportLinesWritten);
        WriteLines(ShortLines(30));
        std::exit(2);
      },
      ::testing::ExitedWithCode(0), "lines written: 24");
}

}  // namespace
