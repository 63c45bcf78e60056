// The HTML report of a tree built in memory, compared whole, and the windows
// of lines the browser asks for.
#include "report/html_report.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "build_settings.h"
#include "console/format.h"
#include "console/output.h"
#include "control/options.h"
#include "example_tree.h"
#include "platform/platform.h"
#include "report/walker.h"
#include "scan/drive_stats.h"
#include "scan/tree.h"
#include "settings/settings.h"

namespace {

const std::string kStart = platform::kPathStyle == platform::PathStyle::Posix ? "/data" : "C:\\Data";

// The tree characters as the report writes them.
const std::string kTee = "&#9500;&#9472;&#9472;";
const std::string kCornerRef = "&#9492;&#9472;&#9472;";
const std::string kVerticalRef = "&#9474;";

// The date and time belong to the machine.
std::string MaskDate(std::string text) {
  const std::string lead = "report, created at ";
  const size_t at = text.find(lead);
  if (at == std::string::npos) return text;
  const size_t end = text.find("</p>", at);
  return text.replace(at + lead.size(), end - at - lead.size(), "<date>");
}

// The worked example (example_tree.h), with an argument that needs escaping.
class HtmlReport : public ::testing::Test {
 protected:
  void SetUp() override {
    savedOptions = options;
    savedCommandLine = commandLine;
    options = ReportOptions{};
    options.pauseEachPage = false;
    options.treeChars = kGraphicsChars;
    thousandsSeparator = ',';
    commandLine = {"tallyfold", "-html", "-cl=4K", "<b>&co"};
    docs = BuildExampleTree(kStart);
    CaptureOutput(&output);
  }

  void TearDown() override {
    CaptureOutput(nullptr);
    ReleaseExampleTree();
    options = savedOptions;
    commandLine = savedCommandLine;
  }

  std::string Report() {
    output.clear();
    WalkReport(kHtmlMode);
    return MaskDate(output);
  }

  std::string Window(int32_t first, int32_t count, int32_t total) {
    output.clear();
    lineCursor = first;
    lineBudget = count;
    HtmlHeader();
    ListHtmlFolders(&root);
    HtmlFooter(total);
    return MaskDate(output);
  }

  // Header slots 0 to 5, which no switch changes.
  static std::string Top() {
    return Lines({"<h1>Tallyfold v5.0 Report</h1>", CopyrightParagraph(), "",
                  std::string("<p><a href=\"") + TALLYFOLD_PRODUCT_URL + "\">Tallyfold</a>",
                  "report, created at <date></p>",
                  "<p>Parameters: <tt>tallyfold -html -cl=4K &lt;b&gt;&amp;co </tt></p>"});
  }

  static std::string Statistics() {
    return Lines({"<h2>Statistics for Drive C:<i>DATA (NTFS)</i></h2>",
                  "<table class=\"summary\"><tr><td>Cluster size:</td><td>4 KB</td></tr>",
                  "<tr><td>Free space:</td><td>115.0 GB (  25% of capacity is free)</td></tr>",
                  "<tr><td>Used space: </td><td>350.8 GB</td></tr>",
                  "<tr><td>Capacity: </td><td>465.8 GB</td></tr></table>"});
  }

  TDirEntry* docs = nullptr;
  ReportOptions savedOptions;
  std::vector<std::string> savedCommandLine;
  std::string output;
};

TEST_F(HtmlReport, DefaultSettings) {
  EXPECT_EQ(Report(),
            Top() +
                Lines({"<table class=\"report\">",
                       "<tr><th>Total with subfolders</th>",
                       "    <th>% Wasted</th>",
                       "    <th>File count</th>",
                       "    <th>Folder name [Without subfolders]</th>",
                       "</tr>",
                       "",
                       "<tr><td>36.0 MB</td><td>  0%</td><td>12</td><td class=\"l\">  " + kStart +
                           "   [10.0 MB]</td></tr>",
                       "<tr><td>6.0 MB</td><td>  4%</td><td>100</td><td class=\"l\">  " + kTee +
                           "Docs   [5.0 MB]</td></tr>",
                       "<tr><td>1.0 MB</td><td>  2%</td><td>10</td><td class=\"l\">  " + kVerticalRef + "  " +
                           kCornerRef + "Old</td></tr>",
                       "<tr><td>20.0 MB</td><td>  3%</td><td>300</td><td class=\"l\">  " + kCornerRef +
                           "Music</td></tr>",
                       "<tr>",
                       "<td class=\"totals\">36.0 MB</td><td class=\"totals\">  2%</td>"
                       "<td class=\"totals\">422</td><td class=\"totals\">Cluster size: 4 KB Wastage: 860 KB</td></tr>",
                       "</table>",
                       ""}) +
                Statistics());
}

TEST_F(HtmlReport, NowasteNofiles) {
  options.showWaste = false;
  options.showFileCounts = false;
  EXPECT_EQ(Report(),
            Top() +
                Lines({"<table class=\"report\">", "<tr><th>Total with subfolders</th>",
                       "    <th>Folder name [Without subfolders]</th>", "</tr>", "",
                       "<tr><td>36.0 MB</td><td class=\"l\">  " + kStart + "   [10.0 MB]</td></tr>",
                       "<tr><td>6.0 MB</td><td class=\"l\">  " + kTee + "Docs   [5.0 MB]</td></tr>",
                       "<tr><td>1.0 MB</td><td class=\"l\">  " + kVerticalRef + "  " + kCornerRef + "Old</td></tr>",
                       "<tr><td>20.0 MB</td><td class=\"l\">  " + kCornerRef + "Music</td></tr>",
                       "<tr>",
                       "<td class=\"totals\">36.0 MB</td><td class=\"totals\">Cluster size: 4 KB Wastage: 860 KB</td></tr>",
                       "</table>", ""}) +
                Statistics());
}

TEST_F(HtmlReport, NototalsNosubsAsvalNostats) {
  options.showTotals = false;
  options.showOwnSize = false;
  options.wasteAsPercent = false;
  options.showDriveStats = false;
  EXPECT_EQ(Report(),
            Top() +
                Lines({"<table class=\"report\">", "<tr>", "    <th>Wasted space</th>", "    <th>File count</th>",
                       "    <th>Folder name</th>", "</tr>", "",
                       "<tr><td>40 KB</td><td>12</td><td class=\"l\">  " + kStart + "</td></tr>",
                       "<tr><td>200 KB</td><td>100</td><td class=\"l\">  " + kTee + "Docs</td></tr>",
                       "<tr><td>20 KB</td><td>10</td><td class=\"l\">  " + kVerticalRef + "  " + kCornerRef +
                           "Old</td></tr>",
                       "<tr><td>600 KB</td><td>300</td><td class=\"l\">  " + kCornerRef + "Music</td></tr>",
                       "<tr>",
                       "<td class=\"totals\">860 KB</td><td class=\"totals\">422</td>"
                       "<td class=\"totals\">Cluster size: 4 KB Wastage:   2%</td></tr>",
                       "</table>"}));
}

TEST_F(HtmlReport, DirModeDropsTheWastedSpaceColumn) {
  options.dirMode = true;
  options.showDriveStats = false;
  const std::string report = Report();
  EXPECT_EQ(report.find("Wasted"), std::string::npos);
  EXPECT_NE(report.find("<tr><td>36.0 MB</td><td>12</td><td class=\"l\">"), std::string::npos);
}

TEST_F(HtmlReport, NamesStartPathAndParametersAreEscaped) {
  root.name = "/x&y";
  docs->name = "<b>x</b> \"q\"";
  options.treeChars = kPlainChars;
  options.showWaste = false;
  options.showFileCounts = false;
  options.showTotals = false;
  options.showDriveStats = false;
  const std::string report = Report();
  EXPECT_EQ(report.substr(report.find("<tr><td class=\"l\">")),
            Lines({"<tr><td class=\"l\">  /x&amp;y   [10.0 MB]</td></tr>",
                   "<tr><td class=\"l\">  |--&lt;b&gt;x&lt;/b&gt; &quot;q&quot;   [5.0 MB]</td></tr>",
                   "<tr><td class=\"l\">  |  +--Old</td></tr>",
                   "<tr><td class=\"l\">  +--Music</td></tr>",
                   "<tr>",
                   "<td class=\"totals\">Cluster size: 4 KB Wastage: 860 KB</td></tr>",
                   "</table>"}));
}

TEST_F(HtmlReport, VolumeLabelIsEscapedAndAnEmptyLabelKeepsTheBlank) {
  driveStats.volumeDescription = " (ext4)";
  driveName = "/";
  std::string report = Report();
  EXPECT_NE(report.find(Lines({"<h2>Statistics for Drive /:<i> (ext4)</i></h2>"})), std::string::npos);
  driveStats.volumeDescription = "A<B> (NTFS)";
  report = Report();
  EXPECT_NE(report.find(Lines({"<h2>Statistics for Drive /:<i>A&lt;B&gt; (NTFS)</i></h2>"})), std::string::npos);
}

TEST_F(HtmlReport, HeadDeclaresUtf8AndLinksTheStyleSheet) {
  output.clear();
  WriteHtmlHead();
  WriteHtmlClose();
  EXPECT_EQ(output, Lines({"<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">",
                           "<link rel=\"stylesheet\" type=\"text/css\" href=\"" + platform::ProgramFolder() +
                               "tf_style.css\">",
                           "</body></html>"}));
}

TEST_F(HtmlReport, CopyrightParagraphLinksTheMakersName) {
  if (std::string(TALLYFOLD_COPYRIGHT) != "Copyright (c) 1997-2026 Quenlow" ||
      std::string(TALLYFOLD_MAKER) != "Quenlow") {
    GTEST_SKIP() << "the build sets its own copyright line";
  }
  EXPECT_EQ(CopyrightParagraph(),
            std::string("<p>Copyright (c) 1997-2026 <a href=\"") + TALLYFOLD_MAKER_URL + "\">Quenlow</a></p>");
}

// Lines: header slots 0-14, root 15, Docs 16, Old 17, Music 18, footer
// slots 19-27 (T = 28).
TEST_F(HtmlReport, WindowsPrintExactlyTheirSlots) {
  const std::string rootRow = "<tr><td>36.0 MB</td><td>  0%</td><td>12</td><td class=\"l\">  " + kStart +
                              "   [10.0 MB]</td></tr>";
  const std::string docsRow =
      "<tr><td>6.0 MB</td><td>  4%</td><td>100</td><td class=\"l\">  " + kTee + "Docs   [5.0 MB]</td></tr>";
  const std::string oldRow = "<tr><td>1.0 MB</td><td>  2%</td><td>10</td><td class=\"l\">  " + kVerticalRef +
                             "  " + kCornerRef + "Old</td></tr>";
  const std::string musicRow =
      "<tr><td>20.0 MB</td><td>  3%</td><td>300</td><td class=\"l\">  " + kCornerRef + "Music</td></tr>";

  // Old's row needs the indentation of Docs although Docs's row is not printed.
  EXPECT_EQ(Window(17, 1, 28), Lines({oldRow}));
  EXPECT_EQ(Window(16, 3, 28), Lines({docsRow, oldRow, musicRow}));
  EXPECT_EQ(lineCursor, 19);
  // Slots 13 and 14 write nothing but take their share of the budget.
  EXPECT_EQ(Window(12, 4, 28), Lines({"", rootRow}));
  EXPECT_EQ(lineBudget, 0);
  // Slot 5 is one slot of two lines.
  EXPECT_EQ(Window(5, 1, 28),
            Lines({"report, created at <date></p>",
                   "<p>Parameters: <tt>tallyfold -html -cl=4K &lt;b&gt;&amp;co </tt></p>"}));
  // A window across the last folder and into the footer.
  EXPECT_EQ(Window(18, 3, 28),
            Lines({musicRow, "<tr>",
                   "<td class=\"totals\">36.0 MB</td><td class=\"totals\">  2%</td>"
                   "<td class=\"totals\">422</td><td class=\"totals\">Cluster size: 4 KB Wastage: 860 KB</td></tr>"}));
  EXPECT_EQ(lineCursor, 19);  // the footer does not move the cursor
  // The end of the footer, with budget to spare.
  EXPECT_EQ(Window(26, 5, 28), Lines({"<tr><td>Used space: </td><td>350.8 GB</td></tr>",
                                      "<tr><td>Capacity: </td><td>465.8 GB</td></tr></table>"}));
  EXPECT_EQ(lineBudget, 3);
}

}  // namespace
