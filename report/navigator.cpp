#include "report/navigator.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "report/browser.h"
#include "report/comparison.h"
#include "report/files_report.h"
#include "scan/reading_prompt.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

constexpr uint8_t kCtrlC = 3, kBackspace = 8, kEnter = 13, kEsc = 27;

// The largest files the L key lists.
constexpr int32_t kLargestFilesOfFolder = 20;

constexpr std::string_view kFoldedNotice = "Folded folder: its subfolders were summed into it";

// A folder on the way from the root down to the top of the view.
struct OpenedFolder {
  TDirEntry* folder;
  // The first line of the window its parent's view showed when it was
  // opened, to show again on the way back; -1 when that view was not shown.
  LineNumber parentWindowTop;
};

// The state of navigation. The opened folders outlive one navigation, so
// that leaving it and coming back keeps the way back to the start folder.
struct Navigation {
  const OutputOperations* mode = nullptr;
  std::string startPath;              // the start folder's path, ending in a separator
  std::vector<OpenedFolder> opened;   // from a child of the root down to the top
  LineNumber totalLines = 0;
  LineNumber headerLines = 0;
  LineNumber folderLines = 0;
  LineNumber windowTop = 0;   // the first line on screen
  LineNumber cursorLine = 0;  // a folder line
  std::string_view notice; // shown on the status bar in place of the keys, once
};

Navigation navigation;

// The cycle of the O key; growth only when a comparison gives growth, age
// only under -age.
constexpr struct {
  SortOrder order;
  const char* word;  // as -sort= takes it
} kOrders[] = {{SortOrder::name, "name"},   {SortOrder::total, "total"}, {SortOrder::local, "local"},
               {SortOrder::waste, "waste"}, {SortOrder::files, "files"}, {SortOrder::none, "none"},
               {SortOrder::growth, "growth"}, {SortOrder::age, "age"}};

size_t OrderIndex() {
  for (size_t i = 0; i < std::size(kOrders); ++i) {
    if (kOrders[i].order == options.sortOrder) return i;
  }
  return 0;
}

// At least one line, so that a terminal of two rows still shows the cursor.
LineNumber WindowHeight() { return std::max(pageLength, 1); }

LineNumber FirstFolderLine() { return navigation.headerLines; }
LineNumber LastFolderLine() { return navigation.headerLines + navigation.folderLines - 1; }

void CountViewLines() {
  const OutputOperations& mode = *navigation.mode;
  navigation.totalLines = CountReportLines(mode);
  lineCursor = -1;
  navigation.headerLines = mode.header();
  navigation.folderLines = navigation.totalLines - navigation.headerLines - mode.footer(0);
}

// Moves the window as little as it takes to show the cursor, and never
// past either end of the report.
void ScrollToCursor() {
  Navigation& n = navigation;
  n.cursorLine = std::clamp(n.cursorLine, FirstFolderLine(), LastFolderLine());
  if (n.cursorLine < n.windowTop) n.windowTop = n.cursorLine;
  if (n.cursorLine >= n.windowTop + WindowHeight()) n.windowTop = n.cursorLine - WindowHeight() + 1;
  n.windowTop = std::clamp<LineNumber>(n.windowTop, 0, std::max<LineNumber>(n.totalLines - WindowHeight(), 0));
}

// The folder `remaining` lines below `folder` in line order (0: the folder
// itself), with the folders below `folder` down to it added to `chain`.
TDirEntry* FolderBelow(TDirEntry& folder, LineNumber& remaining, std::vector<TDirEntry*>& chain) {
  if (remaining == 0) return &folder;
  remaining -= 1;
  for (TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    chain.push_back(child);
    if (TDirEntry* found = FolderBelow(*child, remaining, chain)) return found;
    chain.pop_back();
  }
  return nullptr;
}

TDirEntry* FolderAtCursor(std::vector<TDirEntry*>& chain) {
  LineNumber remaining = navigation.cursorLine - FirstFolderLine();
  return FolderBelow(*walkTop.folder, remaining, chain);
}

// Counts in `line` the lines from `folder` to `target`; false when `target`
// is not in its subtree.
bool CountLinesTo(const TDirEntry& folder, const TDirEntry* target, LineNumber& line) {
  if (&folder == target) return true;
  line += 1;
  for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    if (CountLinesTo(*child, target, line)) return true;
  }
  return false;
}

LineNumber LineOf(const TDirEntry* folder) {
  LineNumber line = 0;
  CountLinesTo(*walkTop.folder, folder, line);
  return FirstFolderLine() + line;
}

// Makes the innermost opened folder the top of the report, its line showing
// its full path, and reportPath the path its subfolders' paths start with.
void ShowInnermostFolder() {
  const Navigation& n = navigation;
  if (n.opened.empty()) {
    walkTop = {&root, {}};
    reportPath = n.startPath;
  } else {
    std::string path = n.startPath;
    for (const OpenedFolder& opened : n.opened) path += MarkedName(*opened.folder) + platform::kPathSeparator;
    path.pop_back();
    walkTop = {n.opened.back().folder, path};
    reportPath = path + platform::kPathSeparator;
  }
  CountViewLines();
}

void OpenFolderAtCursor() {
  Navigation& n = navigation;
  std::vector<TDirEntry*> chain;
  TDirEntry* folder = FolderAtCursor(chain);
  if (folder == nullptr || chain.empty()) return;  // the top is open already
  if (folder->folded) {
    n.notice = kFoldedNotice;
    return;
  }
  if (folder->firstChild == nullptr) return;
  n.opened.push_back({chain.front(), n.windowTop});
  for (size_t i = 1; i < chain.size(); ++i) n.opened.push_back({chain[i], -1});
  ShowInnermostFolder();
  n.windowTop = 0;
  n.cursorLine = FirstFolderLine() + 1;  // its first subfolder
  ScrollToCursor();
}

void GoBack() {
  Navigation& n = navigation;
  if (n.opened.empty()) return;
  const OpenedFolder left = n.opened.back();
  n.opened.pop_back();
  ShowInnermostFolder();
  n.cursorLine = LineOf(left.folder);
  n.windowTop = std::max<LineNumber>(left.parentWindowTop, 0);
  ScrollToCursor();
}

// Reads the subtree of `path` again for its largest files, keeping every
// figure of the report's own scan.
void NoteLargestFilesBelow(const std::string& path) {
  const ReportOptions kept = options;
  const ScanTotals keptTotals = scanTotals;
  const std::string keptScanPath = scanPath;
  options.topFiles = kLargestFilesOfFolder;
  options.fileTypes = false;
  options.noteAges = false;
  scanPath = path;
  TDirEntry folder;
  folder.name = path;
  ShowReadingPrompt(0);
  platform::BeginWalk(path);
  RescanFolder(folder);
  platform::EndWalk();
  EndReadingPrompt();
  FoldSubtree(folder);
  options = kept;
  scanTotals = keptTotals;
  scanPath = keptScanPath;
}

// The L key: a page of the largest files below the folder at the cursor,
// until Esc (or Left, Backspace) goes back.
void ShowLargestFilesAtCursor() {
  std::vector<TDirEntry*> chain;
  if (FolderAtCursor(chain) == nullptr) return;
  std::string path = reportPath;
  for (const TDirEntry* folder : chain) path += folder->name + platform::kPathSeparator;
  NoteLargestFilesBelow(path);
  ClearScreen();
  std::string title = "The largest files below ";
  AppendShownName(title, path);
  WriteOutLine(title);
  WriteOutLine("");
  WriteLargestFilesLines();
  WriteOut("Esc:back");
  while (true) {
    const KeyRead key = GetKeyPress();
    const uint8_t character = key.character;
    if (character == kCtrlC || character == 'q' || character == 'Q') EndProgram(0);
    if (key.failed || character == kEsc || character == kBackspace || (character == 0 && key.scanCode == kScanLeft)) {
      return;
    }
  }
}

void NextOrder() {
  Navigation& n = navigation;
  std::vector<TDirEntry*> chain;
  const TDirEntry* atCursor = FolderAtCursor(chain);
  options.sortOrder = kOrders[(OrderIndex() + 1) % std::size(kOrders)].order;
  if (options.sortOrder == SortOrder::growth && !Comparing()) options.sortOrder = SortOrder::age;
  if (options.sortOrder == SortOrder::age && !options.noteAges) options.sortOrder = kOrders[0].order;
  // Growth orders the tree as the run does: after the scan's linking, which
  // keeps the listing order for it.
  RelinkTree(root);
  if (options.sortOrder == SortOrder::growth) OrderByGrowth();
  n.cursorLine = LineOf(atCursor);
  ScrollToCursor();
}

void MoveCursor(LineNumber lines) {
  navigation.cursorLine += lines;
  ScrollToCursor();
}

// Page Up and Page Down move the window and the cursor alike.
void MovePage(LineNumber direction) {
  navigation.windowTop = std::max<LineNumber>(navigation.windowTop + direction * WindowHeight(), 0);
  MoveCursor(direction * WindowHeight());
}

void JumpTo(LineNumber windowTop, LineNumber cursorLine) {
  navigation.windowTop = windowTop;
  navigation.cursorLine = cursorLine;
  ScrollToCursor();
}

// Prints `count` lines of the report from line `first` through the mode's
// operations; the lister and footer are not asked once the budget is spent,
// since the lister prints the line it stands on before it tests the budget.
void PrintLines(LineNumber first, LineNumber count) {
  if (count <= 0) return;
  const OutputOperations& mode = *navigation.mode;
  lineCursor = first;
  lineBudget = count;
  mode.header();
  if (lineBudget > 0) mode.folders(walkTop.folder);
  if (lineBudget > 0) mode.footer(navigation.totalLines);
}

std::string StatusBar() {
  if (!navigation.notice.empty()) return std::string(navigation.notice);
  return std::string("Enter/Right:open Left/Backspace:back O:order=") + kOrders[OrderIndex()].word +
         " N/Esc:leave navigation";
}

void DrawWindow() {
  Navigation& n = navigation;
  ClearScreen();
  PrintLines(n.windowTop, n.cursorLine - n.windowTop);
  ShowReversed(true);
  PrintLines(n.cursorLine, 1);
  ShowReversed(false);
  PrintLines(n.cursorLine + 1, n.windowTop + WindowHeight() - n.cursorLine - 1);
  WriteOut(FirstChars(StatusBar(), static_cast<size_t>(std::max<LineNumber>(screenWidth - 1, 0))));
  n.notice = {};
}

uint8_t UpperAscii(uint8_t character) {
  return character >= 'a' && character <= 'z' ? static_cast<uint8_t>(character - 'a' + 'A') : character;
}

void ActOnScanCode(uint8_t scanCode) {
  switch (scanCode) {
    case kScanUp: MoveCursor(-1); break;
    case kScanDown: MoveCursor(1); break;
    case kScanPageUp: MovePage(-1); break;
    case kScanPageDown: MovePage(1); break;
    case kScanHome: JumpTo(0, FirstFolderLine()); break;
    case kScanEnd: JumpTo(navigation.totalLines - WindowHeight(), LastFolderLine()); break;
    case kScanRight: OpenFolderAtCursor(); break;
    case kScanLeft: GoBack(); break;
    case kScanF1: helpKeyAction(); break;
    default: break;
  }
}

// False when the key leaves navigation.
bool ActOnKey(const KeyRead& key) {
  const uint8_t character = UpperAscii(key.character);
  if (character == kCtrlC || character == 'Q') EndProgram(0);
  if (key.failed || character == kEsc || character == 'N') return false;
  if (character == 0) {
    ActOnScanCode(key.scanCode);
  } else if (character == 'K') {
    MoveCursor(-1);
  } else if (character == 'J') {
    MoveCursor(1);
  } else if (character == kEnter) {
    OpenFolderAtCursor();
  } else if (character == kBackspace) {
    GoBack();
  } else if (character == 'O') {
    NextOrder();
  } else if (character == 'L') {
    ShowLargestFilesAtCursor();
  } else {
    // A column key keeps every line where it is; Ctrl+L and the rest only
    // draw the window again.
    FlipColumnSetting(character);
  }
  return true;
}

}  // namespace

LineNumber NavigateReport(const OutputOperations& mode, LineNumber totalLines) {
  Navigation& n = navigation;
  const LineNumber shownEnd = std::min(lineCursor, totalLines);
  n.mode = &mode;
  if (walkTop.folder == &root) {
    n.opened.clear();
    n.startPath = reportPath;
  }
  CountViewLines();
  // The cursor starts on the first folder line of the window shown.
  n.windowTop = std::max<LineNumber>(shownEnd - WindowHeight(), 0);
  n.cursorLine = std::max(n.windowTop, FirstFolderLine());
  ScrollToCursor();
  while (true) {
    DrawWindow();
    if (!ActOnKey(GetKeyPress())) break;
  }
  lineCursor = std::min<LineNumber>(n.windowTop + WindowHeight(), n.totalLines);
  return n.totalLines;
}
