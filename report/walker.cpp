#include "report/walker.h"

#include "control/settings.h"
#include "report/browser.h"

int32_t lineCursor = 0;
int32_t lineBudget = 0;
int32_t lineIndex = 0;
std::string treePrefix;

namespace {

// Above any real line number, so a counting pass prints nothing.
constexpr int32_t kCountingCursor = 0xFFFFF;

int32_t CountLines(const OutputOperations& mode) {
  lineCursor = -1;
  int32_t total = mode.header() + mode.footer(0);
  lineCursor = kCountingCursor;
  lineIndex = 0;
  lineBudget = 10;
  mode.folders(&root);
  return total + lineIndex;
}

}  // namespace

void WalkReport(const OutputOperations& mode) {
  int32_t total = CountLines(mode);
  lineCursor = 0;
  if (options.pauseEachPage) {
    BrowseReport(mode, total);
    return;
  }
  lineBudget = total;
  mode.header();
  mode.folders(&root);
  mode.footer(total);
}

int32_t NoFooter(int32_t) { return 0; }

int32_t WalkFooter(int32_t totalLines, int32_t footerLines, void (*writeLine)(int32_t line)) {
  if (lineCursor == -1) return footerLines;
  for (int32_t line = lineCursor - (totalLines - footerLines);
       line >= 0 && line < footerLines && lineBudget > 0; ++line) {
    writeLine(line);
    lineBudget -= 1;
  }
  return 0;
}

void PushTreeIndent(bool hasNextSibling) {
  treePrefix += hasNextSibling ? options.treeChars[kVertical] : options.treeChars[kBlank];
  treePrefix += "  ";
}

void ListFolders(TDirEntry* first, const FolderLines& lines) {
  const size_t prefixLength = lines.prefix->size();
  for (TDirEntry* folder = first; folder != nullptr; folder = folder->next) {
    const bool hasNext = folder->next != nullptr;
    if (lineIndex == lineCursor) {
      lineCursor += 1;
      lineBudget -= 1;
      lines.writeLine(*folder, hasNext);
    }
    lineIndex += 1;
    if (lineBudget <= 0) break;
    if (folder->firstChild != nullptr) {
      if (folder != &root) lines.descend(*folder, hasNext);
      ListFolders(folder->firstChild, lines);
      lines.prefix->resize(prefixLength);
      if (lineBudget <= 0) break;
    }
  }
  lines.prefix->resize(prefixLength);
}
