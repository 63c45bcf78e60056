#include "report/console_report.h"

#include "console/format.h"
#include "console/line_fit.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "report/growth.h"
#include "report/share_bar.h"
#include "report/walker.h"
#include "scan/drive_stats.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kHeaderLines = 2;

bool WasteColumnShown() { return options.showWaste && !options.dirMode; }

// Appends a figure right-aligned in `width` characters, and the gap after it.
template <typename AppendFigure>
void AppendColumn(std::string& line, uint8_t width, AppendFigure appendFigure) {
  const size_t start = line.size();
  appendFigure(line);
  PadLeftFrom(line, start, width);
  line += "  ";
}

// The figure columns shared by folder lines and the totals line; the
// percentage form of the wastage is `wasted` as a share of `wastageBase`.
void AppendFigureColumns(std::string& line, int64_t total, int64_t wasted, int64_t wastageBase,
                         int64_t files, const TDirEntry& folder) {
  if (options.showTotals) AppendColumn(line, 14, [total](std::string& out) { AppendSize(out, total); });
  if (WasteColumnShown()) {
    if (options.wasteAsPercent) {
      AppendColumn(line, 4, [=](std::string& out) { AppendPercent(out, wasted, wastageBase); });
    } else {
      AppendColumn(line, 14, [wasted](std::string& out) { AppendSize(out, wasted); });
    }
  }
  if (options.showFileCounts) AppendColumn(line, 6, [files](std::string& out) { AppendCount(out, files); });
  if (AgeColumnShown()) line += FolderModifiedText(folder) + "  ";
}

// The figures a folder line's columns show, and which columns show: folder
// lines with the same figures have the same columns, byte for byte.
struct ShownFigures {
  int64_t total, wasted, wastageBase, files, modified;
  bool totals, waste, wasteAsPercent, fileCounts, age;
  char separator;
  bool operator==(const ShownFigures&) const = default;
};

ShownFigures FiguresOfLine(const TDirEntry& folder) {
  const bool percent = WasteColumnShown() && options.wasteAsPercent;
  return {TotalBytes(folder), folder.wastedBytes, percent ? WastageBaseBytes(folder) : 0, folder.fileCount,
          AgeColumnShown() ? folder.modifiedSeconds : 0, options.showTotals, WasteColumnShown(),
          options.wasteAsPercent, options.showFileCounts, AgeColumnShown(), thousandsSeparator};
}

// A folder line's figure columns. Many lines show the same figures (empty
// folders, folders of a few small files): the columns of the line before
// are taken again when they are, and formatting them, two thirds of a
// line's cost, is spared.
void AppendFolderFigureColumns(std::string& line, const TDirEntry& folder) {
  static ShownFigures lastFigures;
  static std::string lastColumns;
  static bool haveLast = false;
  const ShownFigures figures = FiguresOfLine(folder);
  if (haveLast && figures == lastFigures) {
    line += lastColumns;
    return;
  }
  const size_t start = line.size();
  AppendFigureColumns(line, figures.total, figures.wasted, figures.wastageBase, figures.files, folder);
  lastColumns.assign(line, start);
  lastFigures = figures;
  haveLast = true;
}

// The share bar of -bars, after the file count; blank for the top folder
// and the totals line, which have no parent.
void AppendBarColumn(std::string& line, int64_t total, int64_t parentTotal) {
  if (!options.showBars) return;
  line += parentTotal < 0 ? std::string(kShareBarWidth, ' ') : ShareBarText(total, parentTotal);
  line += "  ";
}

// The growth column of -compare=, just left of the folder names.
void AppendGrowthColumn(std::string& line, const TDirEntry& folder) {
  if (!GrowthShown()) return;
  AppendPadLeft(line, GrowthSizeText(GrowthOf(folder)), 14);
  line += "  ";
}

void WriteColumnTitles() {
  std::string titles;
  if (options.showTotals) titles += "Total + subs    ";
  if (WasteColumnShown()) titles += options.wasteAsPercent ? "Wstd  " : "  Wasted space  ";
  if (options.showFileCounts) titles += " Files  ";
  if (AgeColumnShown()) titles += "Modified          ";
  if (options.showBars) titles += "Share         ";
  if (GrowthShown()) titles += "        Growth  ";
  titles += "Folder name  ";
  if (options.showOwnSize) titles += " [Without subfolders]";
  WriteOutLine(titles);
}

void WriteColumnRule() {
  const std::string& bar = options.treeChars[kBar];
  std::string rule;
  if (options.showTotals) rule += RepeatChar(14, bar) + "  ";
  if (WasteColumnShown()) rule += RepeatChar(options.wasteAsPercent ? 4 : 14, bar) + "  ";
  if (options.showFileCounts) rule += RepeatChar(6, bar) + "  ";
  if (AgeColumnShown()) rule += RepeatChar(16, bar) + "  ";
  if (options.showBars) rule += RepeatChar(kShareBarWidth, bar) + "  ";
  if (GrowthShown()) rule += RepeatChar(14, bar) + "  ";
  rule += RepeatChar(40, bar);
  WriteOutLine(FirstChars(rule, static_cast<size_t>(screenWidth - 1)));
}

void WriteFolderLine(const TDirEntry& folder, bool hasNextSibling) {
  // One buffer for every line: a report has a line per folder.
  static std::string line;
  line.clear();
  AppendFolderFigureColumns(line, folder);
  AppendBarColumn(line, TotalBytes(folder), ParentTotalOfLine(folder));
  AppendGrowthColumn(line, folder);
  line += treePrefix;
  if (!IsWalkTop(folder)) {
    const TreeChars& chars = options.treeChars;
    line += chars[hasNextSibling ? kTee : kCorner];
    line += chars[kBar];
    line += chars[kBar];
  }
  const size_t nameStart = line.size();
  // The name as it stands, where the line shows it so, without a copy.
  if (folder.folded || IsWalkTop(folder)) {
    AppendShownName(line, LineName(folder));
  } else {
    AppendShownName(line, folder.name);
  }
  const size_t nameEnd = line.size();
  if (folder.unreadable) line += kUnreadableMark;
  line += "  ";
  if (options.showOwnSize && folder.subBytes != 0) {
    line += " [";
    AppendSize(line, folder.localBytes);
    line += "]";
  }
  FitName(line, nameStart, nameEnd);
  WriteOutLine(line);
}

// The figures of the folder at the top of the report with its subtree.
void WriteTotalsLine() {
  const TDirEntry& top = *walkTop.folder;
  const ScanTotals totals = ViewTotals();
  const int64_t grandTotal = TotalBytes(top);
  std::string line;
  AppendFigureColumns(line, grandTotal, totals.totalWasted, grandTotal, totals.totalFiles, top);
  AppendBarColumn(line, grandTotal, -1);
  AppendGrowthColumn(line, top);
  line += "Cluster size: " + FormatSize(effectiveClusterSize) + "  Wastage: ";
  // The wastage in the form the column does not use.
  line += options.wasteAsPercent ? FormatSize(totals.totalWasted) : FormatPercent(totals.totalWasted, grandTotal);
  WriteOutLine(line);
}

void WriteDriveHeading(const std::string& name, const DriveStats& stats) {
  std::string line = "Statistics for Drive ";
  AppendShownName(line, name);
  line += ":";
  AppendShownName(line, stats.volumeDescription);
  WriteOutLine(line);
}

void WriteFooterLine(int32_t line) {
  switch (line) {
    case 0: case 2: WriteColumnRule(); break;
    case 1: WriteTotalsLine(); break;
    default: WriteDriveStatisticsLine(line - 3); break;
  }
}

}  // namespace

int32_t FigureColumnsWidth() {
  int32_t width = 0;
  if (options.showTotals) width += 16;
  if (WasteColumnShown()) width += options.wasteAsPercent ? 6 : 16;
  if (options.showFileCounts) width += 8;
  if (AgeColumnShown()) width += 18;
  if (options.showBars) width += kShareBarWidth + 2;
  if (GrowthShown()) width += 16;
  return width;
}

int32_t DrivesShown() { return 1 + static_cast<int32_t>(moreDrives.size()); }

void WriteDriveStatisticsLine(int32_t line) {
  const int32_t drive = line / kDriveStatisticsLines;
  const DriveStats& stats = drive == 0 ? driveStats : moreDrives[static_cast<size_t>(drive - 1)].stats;
  switch (line % kDriveStatisticsLines) {
    case 0: WriteOutLine(""); break;
    case 1: WriteDriveHeading(drive == 0 ? driveName : moreDrives[static_cast<size_t>(drive - 1)].name, stats); break;
    case 2: WriteOutLine("   Cluster size: " + PadLeft(FormatSize(stats.clusterSize), 14)); break;
    case 3:
      WriteOutLine("     Free space: " + PadLeft(FormatSize(stats.freeBytes), 14) + " (" +
                   FormatPercent(stats.freeBytes, stats.capacityBytes) + " of capacity is free)");
      break;
    case 4:
      WriteOutLine("     Used space: " +
                   PadLeft(FormatSize(stats.usedBytes), 14));
      break;
    case 5: WriteOutLine("       Capacity: " + PadLeft(FormatSize(stats.capacityBytes), 14)); break;
  }
}

namespace {

// Under -compare= the footer line of the comparison follows the totals
// block's closing rule, and the lines of the largest gone folders follow it.
constexpr int32_t kComparisonLine = 3;

void WriteComparedFooterLine(int32_t line) {
  const int32_t goneLines = GoneLinesShown();
  if (line < kComparisonLine) {
    WriteFooterLine(line);
  } else if (line == kComparisonLine) {
    WriteOutLine(ComparisonFooterText());
  } else if (line <= kComparisonLine + goneLines) {
    WriteOutLine(GoneLineText(line - kComparisonLine - 1));
  } else {
    WriteFooterLine(line - 1 - goneLines);
  }
}

void DescendTree(const TDirEntry& folder, bool hasNextSibling) {
  NoteDescent(folder);
  PushTreeIndent(hasNextSibling);
}

void WriteConsoleHeaderLine(int32_t line) {
  if (line == 0) {
    WriteColumnTitles();
  } else {
    WriteColumnRule();
  }
}

}  // namespace

int32_t ConsoleHeader() {
  if (lineCursor != -1) treePrefix.clear();
  return WalkHeader(kHeaderLines, WriteConsoleHeaderLine);
}

void ListConsoleFolders(TDirEntry* first) {
  static const FolderLines kLines = {WriteFolderLine, DescendTree, &treePrefix};
  ListFolders(first, kLines);
}

int32_t ConsoleFooter(LineNumber totalLines) {
  const int32_t lines = options.showDriveStats ? 3 + kDriveStatisticsLines * DrivesShown() : 3;
  if (Comparing()) return WalkFooter(totalLines, lines + 1 + GoneLinesShown(), WriteComparedFooterLine);
  return WalkFooter(totalLines, lines, WriteFooterLine);
}
