#include "report/html_report.h"

#include <string_view>

#include "build_settings.h"
#include "console/format.h"
#include "console/output.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/console_report.h"
#include "report/escape.h"
#include "report/growth.h"
#include "report/report_origin.h"
#include "report/share_bar.h"
#include "report/walker.h"
#include "scan/drive_stats.h"
#include "scan/tree.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kHeaderSlots = 15;

bool WasteColumnShown() { return options.showWaste && !options.dirMode; }

std::string Cell(std::string_view text) { return "<td>" + EscapeHtml(text) + "</td>"; }
std::string TotalsCell(std::string_view text) { return "<td class=\"totals\">" + EscapeHtml(text) + "</td>"; }

// A name of the tree as the output may show it (see AppendShownName).
std::string Shown(std::string_view name) {
  std::string shown;
  AppendShownName(shown, name);
  return shown;
}

std::string ParametersLine() {
  std::string words;
  for (const std::string& argument : commandLine) words += argument + " ";
  return "<p>Parameters: <tt>" + EscapeHtml(words) + "</tt></p>";
}

void WriteHeaderSlot(int32_t slot) {
  switch (slot) {
    case 0: WriteOutLine("<h1>" + EscapeHtml(ProductTitle()) + " Report</h1>"); break;
    case 1: WriteOutLine(CopyrightParagraph()); break;
    case 2: WriteOutLine(""); break;
    case 4:
      WriteOutLine("<p><a href=\"" + EscapeHtml(TALLYFOLD_PRODUCT_URL) + "\">Tallyfold</a>");
      break;
    case 5:
      WriteOutLine("report, created at " + EscapeHtml(ReportCreatedText()) + "</p>");
      WriteOutLine(ParametersLine());
      break;
    case 6: WriteOutLine("<table class=\"report\">"); break;
    case 7: WriteOutLine(options.showTotals ? "<tr><th>Total with subfolders</th>" : "<tr>"); break;
    case 8:
      if (WasteColumnShown()) {
        WriteOutLine(options.wasteAsPercent ? "    <th>% Wasted</th>" : "    <th>Wasted space</th>");
      }
      break;
    case 9:
      if (options.showFileCounts) WriteOutLine("    <th>File count</th>");
      if (AgeColumnShown()) WriteOutLine("    <th>Modified</th>");
      if (options.showBars) WriteOutLine("    <th>Share</th>");
      if (GrowthShown()) WriteOutLine("    <th>Growth</th>");
      break;
    case 10:
      WriteOutLine(options.showOwnSize ? "    <th>Folder name [Without subfolders]</th>"
                                       : "    <th>Folder name</th>");
      break;
    case 11: WriteOutLine("</tr>"); break;
    case 12: WriteOutLine(""); break;
    default: break;  // slots 3, 13 and 14 hold nothing
  }
}

// The figures of the folder at the top of the report with its subtree.
void WriteTotalsRow() {
  const TDirEntry& top = *walkTop.folder;
  const ScanTotals totals = ViewTotals();
  const int64_t grandTotal = TotalBytes(top);
  const int64_t wasted = totals.totalWasted;
  std::string row;
  if (options.showTotals) row += TotalsCell(FormatSize(grandTotal));
  if (WasteColumnShown()) {
    row += TotalsCell(options.wasteAsPercent ? FormatPercent(wasted, grandTotal) : FormatSize(wasted));
  }
  if (options.showFileCounts) row += TotalsCell(FormatCount(totals.totalFiles));
  if (AgeColumnShown()) row += TotalsCell(FolderModifiedText(top));
  if (options.showBars) row += TotalsCell("");
  if (GrowthShown()) row += TotalsCell(GrowthSizeText(GrowthOf(top)));
  // "Wastage:" shows the form of the wasted space that the column does not.
  row += TotalsCell("Cluster size: " + FormatSize(effectiveClusterSize) + " Wastage: " +
                    (options.wasteAsPercent ? FormatSize(wasted) : FormatPercent(wasted, grandTotal)));
  WriteOutLine(row + "</tr>");
}

// The comparison's footer line, then the lines of the largest gone folders.
void WriteComparisonFooter() {
  WriteOutLine("<p>" + EscapeHtml(ComparisonFooterText()) + "</p>");
  for (int32_t line = 0; line < GoneLinesShown(); ++line) WriteOutLine("<p>" + EscapeHtml(GoneLineText(line)) + "</p>");
}

// Slot `slot` (3 to 8) of the statistics of the drive `name`.
void WriteDriveSlot(int32_t slot, const std::string& name, const DriveStats& stats) {
  switch (slot) {
    case 3: WriteOutLine(""); break;
    case 4:
      // The name is the drive letter on Windows (the first character of the
      // start path), the mount point on Linux.
      WriteOutLine("<h2>Statistics for Drive " + EscapeHtml(Shown(name)) + ":<i>" +
                   EscapeHtml(Shown(stats.volumeDescription)) + "</i></h2>");
      break;
    case 5:
      WriteOutLine("<table class=\"summary\"><tr><td>Cluster size:</td>" +
                   Cell(FormatSize(stats.clusterSize)) + "</tr>");
      break;
    case 6:
      WriteOutLine("<tr><td>Free space:</td>" +
                   Cell(FormatSize(stats.freeBytes) + " ( " +
                        FormatPercent(stats.freeBytes, stats.capacityBytes) +
                        " of capacity is free)") +
                   "</tr>");
      break;
    case 7:
      WriteOutLine("<tr><td>Used space: </td>" +
                   Cell(FormatSize(stats.usedBytes)) + "</tr>");
      break;
    case 8:
      WriteOutLine("<tr><td>Capacity: </td>" + Cell(FormatSize(stats.capacityBytes)) +
                   "</tr></table>");
      break;
  }
}

// Slots 3 to 8 are the first drive's statistics, each six more another
// drive's (moreDrives).
void WriteFooterSlot(int32_t slot) {
  switch (slot) {
    case 0: WriteOutLine("<tr>"); break;
    case 1: WriteTotalsRow(); break;
    case 2:
      WriteOutLine("</table>");
      if (Comparing()) WriteComparisonFooter();
      break;
    default: {
      const int32_t drive = (slot - 3) / kDriveStatisticsLines;
      const int32_t driveSlot = 3 + (slot - 3) % kDriveStatisticsLines;
      if (drive == 0) {
        WriteDriveSlot(driveSlot, driveName, driveStats);
      } else {
        const NamedDrive& more = moreDrives[static_cast<size_t>(drive - 1)];
        WriteDriveSlot(driveSlot, more.name, more.stats);
      }
    }
  }
}

void DescendTree(const TDirEntry& folder, bool hasNextSibling) {
  NoteDescent(folder);
  PushTreeIndent(hasNextSibling);
}

// The share bar of -bars: a cell whose bar the style sheet draws as wide as
// the share; empty for the top folder, which has no parent.
std::string BarCell(const TDirEntry& folder) {
  const int64_t parentTotal = ParentTotalOfLine(folder);
  if (parentTotal < 0) return "<td class=\"bar\"></td>";
  const std::string percent = std::to_string(SharePercent(TotalBytes(folder), parentTotal)) + "%";
  return "<td class=\"bar\" title=\"" + percent + "\"><span style=\"width:" + percent + "\"></span></td>";
}

}  // namespace

void WriteHtmlHead() {
  // The page is UTF-8 on every system, so that no name is lost to a code
  // page: Linux names are written as the file system gives them, in practice
  // UTF-8, and Windows writes the document in UTF-8 instead of the ANSI code
  // page. What was written before the page keeps its encoding.
  FlushOut();
  platform::WriteStandardOutputInUtf8();
  WriteOutLine("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">");
  WriteOutLine("<link rel=\"stylesheet\" type=\"text/css\" href=\"" +
               EscapeHtml(platform::CompanionPath("tf_style.css")) + "\">");
}

void WriteHtmlIntroduction() {
  for (int32_t slot = 0; slot <= 5; ++slot) WriteHeaderSlot(slot);
}

void WriteHtmlDriveStatistics() {
  for (int32_t slot = 3; slot < 3 + kDriveStatisticsLines * DrivesShown(); ++slot) WriteFooterSlot(slot);
}

void WriteHtmlClose() { WriteOutLine("</body></html>"); }

std::string CopyrightParagraph() {
  const std::string_view copyright = TALLYFOLD_COPYRIGHT;
  const std::string_view maker = TALLYFOLD_MAKER;
  const std::string link = "<a href=\"" + EscapeHtml(TALLYFOLD_MAKER_URL) + "\">" + EscapeHtml(maker) + "</a>";
  const size_t at = maker.empty() ? std::string_view::npos : copyright.rfind(maker);
  if (at == std::string_view::npos) return "<p>" + EscapeHtml(copyright) + " " + link + "</p>";
  return "<p>" + EscapeHtml(copyright.substr(0, at)) + link +
         EscapeHtml(copyright.substr(at + maker.size())) + "</p>";
}

int32_t HtmlHeader() {
  if (lineCursor == -1) return kHeaderSlots;
  treePrefix = "  ";
  // A slot with nothing to write still takes its number and its share of
  // the budget, so the header always counts 15 lines.
  while (lineCursor >= 0 && lineBudget > 0 && lineCursor < kHeaderSlots) {
    WriteHeaderSlot(lineCursor);
    lineBudget -= 1;
    lineCursor += 1;
  }
  lineIndex = kHeaderSlots;
  return 0;
}

void WriteHtmlLine(const TDirEntry& folder, bool hasNextSibling) {
  std::string row = "<tr>";
  if (options.showTotals) row += Cell(FormatSize(TotalBytes(folder)));
  if (WasteColumnShown()) {
    row += Cell(options.wasteAsPercent ? FormatPercent(folder.wastedBytes, WastageBaseBytes(folder))
                                       : FormatSize(folder.wastedBytes));
  }
  if (options.showFileCounts) row += Cell(FormatCount(folder.fileCount));
  if (AgeColumnShown()) row += Cell(FolderModifiedText(folder));
  if (options.showBars) row += BarCell(folder);
  if (GrowthShown()) row += Cell(GrowthSizeText(GrowthOf(folder)));
  std::string tree = treePrefix;
  if (!IsWalkTop(folder)) {
    const TreeChars& chars = options.treeChars;
    tree += chars[hasNextSibling ? kTee : kCorner] + chars[kBar] + chars[kBar];
  }
  AppendShownName(tree, LineName(folder));
  if (folder.unreadable) tree += kUnreadableMark;
  if (options.showOwnSize && folder.subBytes != 0) tree += "   [" + FormatSize(folder.localBytes) + "]";
  WriteOutLine(row + "<td class=\"l\">" + EscapeHtml(tree) + "</td></tr>");
}

void ListHtmlFolders(TDirEntry* first) {
  static const FolderLines kLines = {WriteHtmlLine, DescendTree, &treePrefix};
  ListFolders(first, kLines);
}

int32_t HtmlFooter(LineNumber totalLines) {
  return WalkFooter(totalLines, options.showDriveStats ? 3 + kDriveStatisticsLines * DrivesShown() : 3,
                    WriteFooterSlot);
}
