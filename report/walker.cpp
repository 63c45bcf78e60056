#include "report/walker.h"

#include <algorithm>
#include <limits>

#include "console/format.h"
#include "console/held_sums.h"
#include "settings/settings.h"

LineNumber lineCursor = 0;
LineNumber lineBudget = 0;
LineNumber lineIndex = 0;
std::string treePrefix;
WalkTop walkTop = {&root, {}, {}};

namespace {

// Beyond any line number a tree can reach, so a counting pass prints nothing.
constexpr LineNumber kCountingCursor = std::numeric_limits<LineNumber>::max();

}  // namespace

bool IsWalkTop(const TDirEntry& folder) { return &folder == walkTop.folder; }

ScanTotals ViewTotals() { return walkTop.folder == &root ? scanTotals : walkTop.totals; }

std::string LineName(const TDirEntry& folder) {
  return IsWalkTop(folder) && &folder != &root ? walkTop.path : MarkedName(folder);
}

LineNumber CountReportLines(const OutputOperations& mode) {
  lineCursor = -1;
  const LineNumber total = mode.header() + mode.footer(0);
  lineCursor = kCountingCursor;
  lineIndex = 0;
  lineBudget = 10;
  mode.folders(walkTop.folder);
  return total + lineIndex;
}

// One pass over the tree: its lines are counted as they are printed, and the
// footer learns the total after them. A pass to count them first walked a
// tree of a million folders once more, a tenth of the report's time.
void WalkReport(const OutputOperations& mode) {
  walkTop = {&root, {}, {}};
  lineCursor = -1;
  mode.header();
  const int32_t footerLines = mode.footer(0);
  lineCursor = 0;
  lineBudget = kCountingCursor;
  mode.header();
  mode.folders(walkTop.folder);
  const LineNumber total = lineCursor + footerLines;
  lineBudget = footerLines;
  mode.footer(total);
}

int32_t NoFooter(LineNumber) { return 0; }

int32_t WalkHeader(int32_t headerLines, void (*writeLine)(int32_t line)) {
  if (lineCursor == -1) return headerLines;
  for (; lineCursor >= 0 && lineCursor < headerLines; ++lineCursor) {
    writeLine(static_cast<int32_t>(lineCursor));
    lineBudget -= 1;
  }
  lineIndex = headerLines;
  return 0;
}

int32_t WalkFooter(LineNumber totalLines, int32_t footerLines, void (*writeLine)(int32_t line)) {
  if (lineCursor == -1) return footerLines;
  for (LineNumber line = lineCursor - (totalLines - footerLines);
       line >= 0 && line < footerLines && lineBudget > 0; ++line) {
    writeLine(static_cast<int32_t>(line));
    lineBudget -= 1;
  }
  return 0;
}

void PushTreeIndent(bool hasNextSibling) {
  treePrefix += hasNextSibling ? options.treeChars[kVertical] : options.treeChars[kBlank];
  treePrefix += "  ";
}

namespace {

// One line of the lister's contract; false once the budget is spent.
bool VisitLine(const TDirEntry& folder, bool hasNextSibling, const FolderLines& lines) {
  if (lineIndex == lineCursor) {
    lineCursor += 1;
    lineBudget -= 1;
    lines.writeLine(folder, hasNextSibling);
  }
  lineIndex += 1;
  return lineBudget > 0;
}

// The top, its subfolders, each followed by a sibling line, and the line
// of its files last.
void ListOneLevel(const FolderLines& lines) {
  if (!VisitLine(*walkTop.folder, false, lines)) return;
  for (const TDirEntry* child = walkTop.folder->firstChild; child != nullptr; child = child->next) {
    if (!VisitLine(*child, true, lines)) return;
  }
  VisitLine(*walkTop.filesLine, false, lines);
}

}  // namespace

void ListFolders(TDirEntry* first, const FolderLines& lines) {
  if (first == walkTop.folder && walkTop.filesLine != nullptr) {
    ListOneLevel(lines);
    return;
  }
  const size_t prefixLength = lines.prefix->size();
  // The prefix's length before each open folder's children.
  std::vector<size_t> prefixLengths;
  WalkSubtrees(
      first,
      [&](TDirEntry& folder, bool) {
        const bool hasNext = folder.next != nullptr;
        if (lineIndex == lineCursor) {
          lineCursor += 1;
          lineBudget -= 1;
          lines.writeLine(folder, hasNext);
        }
        lineIndex += 1;
        if (lineBudget <= 0) return false;
        if (folder.firstChild != nullptr) {
          prefixLengths.push_back(lines.prefix->size());
          if (!IsWalkTop(folder)) lines.descend(folder, hasNext);
        }
        return true;
      },
      [&](TDirEntry& folder) {
        if (folder.firstChild == nullptr) return true;
        lines.prefix->resize(prefixLengths.back());
        prefixLengths.pop_back();
        return lineBudget > 0;
      });
  lines.prefix->resize(prefixLength);
}

int64_t WastageBaseBytes(const TDirEntry& folder) {
  int64_t shown = 0;
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    shown = AddBytes(shown, TotalBytes(*child));
  }
  // subBytes is held below the 64-bit limit, so on a tree of that size the
  // shown children can outweigh it: then nothing folded is known.
  return AddBytes(folder.localBytes, std::max<int64_t>(folder.subBytes - shown, 0));
}

bool AgeColumnShown() { return options.noteAges && options.showAge; }

std::string FolderModifiedText(const TDirEntry& folder) {
  return folder.modifiedSeconds == 0 ? std::string(16, ' ') : FormatLocalMinute(folder.modifiedSeconds);
}
