// The comma and tab reports of a tree built in memory, compared whole, and
// the windows of lines the browser asks for.
#include "report/delimited_report.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "console/output.h"
#include "console/writer.h"
#include "example_tree.h"
#include "platform/platform.h"
#include "report/walker.h"
#include "scan/scanner.h"
#include "scan/tree.h"
#include "settings/settings.h"

namespace {

const std::string S(1, platform::kPathSeparator);
const std::string kStart = platform::kPathStyle == platform::PathStyle::Posix ? "/data" : "C:\\Data";

// The worked example (example_tree.h).
class DelimitedReport : public ::testing::Test {
 protected:
  void SetUp() override {
    savedOptions = options;
    options = ReportOptions{};
    options.pauseEachPage = false;
    BuildExampleTree(kStart);
    reportPath = kStart + S;
    CaptureOutput(&output);
  }

  void TearDown() override {
    CaptureOutput(nullptr);
    ReleaseExampleTree();
    options = savedOptions;
    reportPath.clear();
  }

  // Everything one report writes, as a redirected run writes it.
  std::string Report(const OutputOperations& mode) {
    output.clear();
    WalkReport(mode);
    EXPECT_EQ(reportPath, kStart + S) << "reportPath is cut back after the walk";
    return output;
  }

  // One window of the browser: `count` lines from line `first`.
  std::string Window(const OutputOperations& mode, int32_t first, int32_t count, int32_t total) {
    output.clear();
    lineCursor = first;
    lineBudget = count;
    mode.header();
    mode.folders(&root);
    mode.footer(total);
    EXPECT_EQ(reportPath, kStart + S) << "reportPath is cut back after a window";
    return output;
  }

  ReportOptions savedOptions;
  std::string output;
};

TEST_F(DelimitedReport, CommaWithAllColumns) {
  EXPECT_EQ(Report(kCommaMode),
            Lines({"\"Total with subfolders\",\"Wasted space\",\"Without subfolders\",\"Files\",\"Folder name\"",
                   "",
                   "37748736,40960,10485760,12,\"" + kStart + S + "\"",
                   "6291456,204800,5242880,100,\"" + kStart + S + "Docs\"",
                   "1048576,20480,1048576,10,\"" + kStart + S + "Docs" + S + "Old\"",
                   "20971520,614400,20971520,300,\"" + kStart + S + "Music\""}));
}

TEST_F(DelimitedReport, TabWithAllColumnsPadsTheSizesTo14) {
  EXPECT_EQ(Report(kTabMode),
            Lines({"\"Total with subfolders\"\t\"Wasted space\"\t\"Without subfolders\"\t\"Files\"\t\"Folder name\"",
                   "",
                   "      37748736\t         40960\t      10485760\t12\t\"" + kStart + S + "\"",
                   "       6291456\t        204800\t       5242880\t100\t\"" + kStart + S + "Docs\"",
                   "       1048576\t         20480\t       1048576\t10\t\"" + kStart + S + "Docs" + S + "Old\"",
                   "      20971520\t        614400\t      20971520\t300\t\"" + kStart + S + "Music\""}));
}

TEST_F(DelimitedReport, NoheaderLeavesOutTheTitlesAndTheEmptyLine) {
  options.showHeader = false;
  EXPECT_EQ(Report(kCommaMode),
            Lines({"37748736,40960,10485760,12,\"" + kStart + S + "\"",
                   "6291456,204800,5242880,100,\"" + kStart + S + "Docs\"",
                   "1048576,20480,1048576,10,\"" + kStart + S + "Docs" + S + "Old\"",
                   "20971520,614400,20971520,300,\"" + kStart + S + "Music\""}));
}

TEST_F(DelimitedReport, NowasteAndNofilesLeaveThreeFields) {
  options.showWaste = false;
  options.showFileCounts = false;
  EXPECT_EQ(Report(kCommaMode),
            Lines({"\"Total with subfolders\",\"Without subfolders\",\"Folder name\"", "",
                   "37748736,10485760,\"" + kStart + S + "\"",
                   "6291456,5242880,\"" + kStart + S + "Docs\"",
                   "1048576,1048576,\"" + kStart + S + "Docs" + S + "Old\"",
                   "20971520,20971520,\"" + kStart + S + "Music\""}));
  EXPECT_EQ(Report(kTabMode),
            Lines({"\"Total with subfolders\"\t\"Without subfolders\"\t\"Folder name\"", "",
                   "      37748736\t      10485760\t\"" + kStart + S + "\"",
                   "       6291456\t       5242880\t\"" + kStart + S + "Docs\"",
                   "       1048576\t       1048576\t\"" + kStart + S + "Docs" + S + "Old\"",
                   "      20971520\t      20971520\t\"" + kStart + S + "Music\""}));
}

TEST_F(DelimitedReport, DirModeDropsTheWastedSpaceColumn) {
  options.dirMode = true;
  EXPECT_EQ(Report(kCommaMode),
            Lines({"\"Total with subfolders\",\"Without subfolders\",\"Files\",\"Folder name\"", "",
                   "37748736,10485760,12,\"" + kStart + S + "\"",
                   "6291456,5242880,100,\"" + kStart + S + "Docs\"",
                   "1048576,1048576,10,\"" + kStart + S + "Docs" + S + "Old\"",
                   "20971520,20971520,300,\"" + kStart + S + "Music\""}));
}

TEST_F(DelimitedReport, SwitchesOfOtherReportsChangeNothing) {
  const std::string comma = Report(kCommaMode);
  const std::string tab = Report(kTabMode);
  options.showOwnSize = false;    // -nosubs
  options.showTotals = false;     // -nototals
  options.wasteAsPercent = false; // -asval
  options.showDriveStats = false; // -nostats
  EXPECT_EQ(Report(kCommaMode), comma);
  EXPECT_EQ(Report(kTabMode), tab);
}

TEST_F(DelimitedReport, StartFolderWithoutSubfolders) {
  RemoveExampleSubfolders();
  EXPECT_EQ(Report(kCommaMode),
            Lines({"\"Total with subfolders\",\"Wasted space\",\"Without subfolders\",\"Files\",\"Folder name\"",
                   "", "10485760,40960,10485760,12,\"" + kStart + S + "\""}));
}

TEST_F(DelimitedReport, DriveRootGetsNoSecondSeparator) {
  const std::string driveRoot = platform::kPathStyle == platform::PathStyle::Posix ? "/" : "D:\\";
  root.name = driveRoot;
  reportPath = driveRoot;  // what EnsureTrailingBackslash makes of it
  output.clear();
  options.showHeader = false;
  WalkReport(kCommaMode);
  EXPECT_EQ(output, Lines({"37748736,40960,10485760,12,\"" + driveRoot + "\"",
                           "6291456,204800,5242880,100,\"" + driveRoot + "Docs\"",
                           "1048576,20480,1048576,10,\"" + driveRoot + "Docs" + S + "Old\"",
                           "20971520,614400,20971520,300,\"" + driveRoot + "Music\""}));
  reportPath = kStart + S;
}

TEST_F(DelimitedReport, QuotesInNamesAreDoubledAndOtherCharactersStayInTheField) {
  root.firstChild->name = "say \"hi\", then\tgo\nhome";
  root.firstChild->firstChild->folded = true;  // shown as "Old ..."
  options.showHeader = false;
  options.showWaste = false;
  options.showFileCounts = false;
  EXPECT_EQ(Report(kCommaMode),
            Lines({"37748736,10485760,\"" + kStart + S + "\"",
                   "6291456,5242880,\"" + kStart + S + "say \"\"hi\"\", then\tgo\nhome\"",
                   "1048576,1048576,\"" + kStart + S + "say \"\"hi\"\", then\tgo\nhome" + S + "Old ...\"",
                   "20971520,20971520,\"" + kStart + S + "Music\""}));
}

TEST_F(DelimitedReport, LongNumbersAreWrittenWholeInTheTabReport) {
  RemoveExampleSubfolders();
  root.localBytes = 123456789012345678;  // 18 digits
  root.wastedBytes = -5;
  options.showHeader = false;
  EXPECT_EQ(Report(kTabMode), Lines({"123456789012345678\t            -5\t123456789012345678\t12\t\"" +
                                     kStart + S + "\""}));
}

TEST_F(DelimitedReport, Utf8MarksOnlyACommaReportWrittenToAFileOrPipe) {
  const bool savedRedirected = outputRedirected;
  const struct {
    OutputMode mode;
    bool utf8;
    bool redirected;
    const char* begins;
  } cases[] = {
      {OutputMode::comma, true, true, "\xEF\xBB\xBF"},
      {OutputMode::comma, true, false, ""},
      {OutputMode::tab, true, true, ""},
      {OutputMode::comma, false, true, ""},
  };
  for (const auto& c : cases) {
    options.outputMode = c.mode;
    options.utf8 = c.utf8;
    outputRedirected = c.redirected;
    output.clear();
    BeginDelimitedOutput();
    EXPECT_EQ(output, c.begins) << static_cast<int>(c.mode) << c.utf8 << c.redirected;
  }
  outputRedirected = savedRedirected;
}

// Lines: 0 titles, 1 empty, 2 root, 3 Docs, 4 Old, 5 Music (T = 6).
TEST_F(DelimitedReport, WindowsPrintExactlyTheirLines) {
  const std::string titles =
      "\"Total with subfolders\",\"Wasted space\",\"Without subfolders\",\"Files\",\"Folder name\"";
  const std::string rootRow = "37748736,40960,10485760,12,\"" + kStart + S + "\"";
  const std::string docsRow = "6291456,204800,5242880,100,\"" + kStart + S + "Docs\"";
  const std::string oldRow = "1048576,20480,1048576,10,\"" + kStart + S + "Docs" + S + "Old\"";
  const std::string musicRow = "20971520,614400,20971520,300,\"" + kStart + S + "Music\"";
  EXPECT_EQ(Window(kCommaMode, 0, 3, 6), Lines({titles, "", rootRow}));
  EXPECT_EQ(lineCursor, 3);
  EXPECT_EQ(Window(kCommaMode, 1, 2, 6), Lines({"", rootRow}));
  // Old's row needs Docs in its path although Docs's row is not printed.
  EXPECT_EQ(Window(kCommaMode, 4, 1, 6), Lines({oldRow}));
  EXPECT_EQ(lineBudget, 0);
  EXPECT_EQ(Window(kCommaMode, 3, 2, 6), Lines({docsRow, oldRow}));
  EXPECT_EQ(Window(kCommaMode, 4, 10, 6), Lines({oldRow, musicRow}));
  EXPECT_EQ(lineCursor, 6);
  EXPECT_EQ(lineBudget, 8);  // no footer lines
  EXPECT_EQ(Window(kCommaMode, 5, 1, 6), Lines({musicRow}));
}

TEST_F(DelimitedReport, NoheaderWindowsChargeTheHiddenLines) {
  options.showHeader = false;
  // Lines 0 and 1 print nothing but take the budget: a window of 3 from
  // line 0 shows only the root's row.
  EXPECT_EQ(Window(kTabMode, 0, 3, 6),
            Lines({"      37748736\t         40960\t      10485760\t12\t\"" + kStart + S + "\""}));
  EXPECT_EQ(lineCursor, 3);
  EXPECT_EQ(lineBudget, 0);
}

}  // namespace
