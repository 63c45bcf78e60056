#include "report/console_report.h"

#include <gtest/gtest.h>

#include <string>

#include "console/output.h"
#include "console/writer.h"
#include "example_tree.h"
#include "platform/platform.h"
#include "scan/drive_stats.h"
#include "scan/scanner.h"
#include "scan/tree.h"
#include "settings/settings.h"

namespace {

// The worked example on drive C:, in the plain characters.
class ExampleReport : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildExampleTree("C:\\DATA");
    options = ReportOptions{};
    options.treeChars = kPlainChars;
    options.pauseEachPage = false;
    screenWidth = 80;
  }
  void TearDown() override {
    ReleaseExampleTree();
    options = ReportOptions{};
  }

  std::string Render() {
    std::string written;
    CaptureOutput(&written);
    WalkReport(kConsoleMode);
    CaptureOutput(nullptr);
    return written;
  }

  static std::string Statistics() {
    return Lines({"", "Statistics for Drive C:DATA (NTFS)", "   Cluster size:           4 KB",
                  "     Free space:       115.0 GB ( 25% of capacity is free)",
                  "     Used space:       350.8 GB", "       Capacity:       465.8 GB"});
  }
};

TEST_F(ExampleReport, WastageAsPercentages) {
  EXPECT_EQ(Render(), Lines({"Total + subs    Wstd   Files  Folder name   [Without subfolders]",
                             "--------------  ----  ------  ----------------------------------------",
                             "       36.0 MB    0%      12  C:\\DATA   [10.0 MB]",
                             "        6.0 MB    4%     100  |--Docs   [5.0 MB]",
                             "        1.0 MB    2%      10  |  +--Old  ",
                             "       20.0 MB    3%     300  +--Music  ",
                             "--------------  ----  ------  ----------------------------------------",
                             "       36.0 MB    2%     422  Cluster size: 4 KB  Wastage: 860 KB",
                             "--------------  ----  ------  ----------------------------------------"}) +
                          Statistics());
}

TEST_F(ExampleReport, WastageAsSizesWithTheRuleCutToTheScreen) {
  options.wasteAsPercent = false;
  const std::string rule = "--------------  --------------  ------  ---------------------------------------";
  EXPECT_EQ(Render(), Lines({"Total + subs      Wasted space   Files  Folder name   [Without subfolders]", rule,
                             "       36.0 MB           40 KB      12  C:\\DATA   [10.0 MB]",
                             "        6.0 MB          200 KB     100  |--Docs   [5.0 MB]",
                             "        1.0 MB           20 KB      10  |  +--Old  ",
                             "       20.0 MB          600 KB     300  +--Music  ", rule,
                             "       36.0 MB          860 KB     422  Cluster size: 4 KB  Wastage:   2%", rule}) +
                          Statistics());
}

TEST_F(ExampleReport, AllColumnsOffLeavesTheTreeAndAFortyBarRule) {
  options.showTotals = false;
  options.showWaste = false;
  options.showFileCounts = false;
  options.showOwnSize = false;
  options.showDriveStats = false;
  options.treeChars = kGraphicsChars;
  std::string bars;
  for (int i = 0; i < 40; ++i) bars += "\u2500";
  EXPECT_EQ(Render(), Lines({"Folder name  ", bars, "C:\\DATA  ", "\u251C\u2500\u2500Docs  ",
                             "\u2502  \u2514\u2500\u2500Old  ", "\u2514\u2500\u2500Music  ", bars,
                             "Cluster size: 4 KB  Wastage: 860 KB", bars}));
}

TEST_F(ExampleReport, ALoneRootMakesTwelveLines) {
  RemoveExampleSubfolders();
  std::string report = Render();
  size_t lines = 0;
  for (size_t at = report.find(platform::kLineEnd); at != std::string::npos;
       at = report.find(platform::kLineEnd, at + 1)) {
    ++lines;
  }
  EXPECT_EQ(lines, 12u);
  EXPECT_NE(report.find("C:\\DATA  " + std::string(platform::kLineEnd)), std::string::npos);  // no bracket
}

// The browser prints windows of the report; each window must hold exactly
// the lines the whole report has at those places.
TEST_F(ExampleReport, WindowsPrintTheSameLinesAsTheWholeReport) {
  const std::string whole = Render();
  std::vector<std::string> wholeLines;
  std::string end = platform::kLineEnd;
  for (size_t from = 0, at; (at = whole.find(end, from)) != std::string::npos; from = at + end.size()) {
    wholeLines.push_back(whole.substr(from, at - from + end.size()));
  }
  ASSERT_EQ(wholeLines.size(), 15u);
  const int32_t total = 15;
  for (int32_t first = 0; first < total; ++first) {
    for (int32_t count = 1; first + count <= total; ++count) {
      // The header prints its lines without testing the budget, and the
      // browser's windows that start in the header are always longer.
      if (first + count <= 2) continue;
      std::string window;
      CaptureOutput(&window);
      lineCursor = first;
      lineBudget = count;
      ConsoleHeader();
      ListConsoleFolders(&root);
      ConsoleFooter(total);
      CaptureOutput(nullptr);
      std::string expected;
      for (int32_t i = first; i < first + count; ++i) expected += wholeLines[i];
      ASSERT_EQ(window, expected) << "lines " << first << " to " << first + count - 1;
      EXPECT_EQ(lineBudget, 0);
    }
  }
}

}  // namespace
