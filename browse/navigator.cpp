#include "browse/navigator.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "browse/bar_input.h"
#include "browse/column_keys.h"
#include "browse/files_page.h"
#include "browse/folder_actions.h"
#include "browse/key_help.h"
#include "browse/marks.h"
#include "browse/navigation_bar.h"
#include "console/line_fit.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "report/growth.h"
#include "scan/scanner.h"
#include "scan/tree_edit.h"
#include "settings/settings.h"

namespace {

constexpr std::string_view kNoSubfoldersNotice = "No subfolders";
constexpr std::string_view kFilesLineNotice = "The [files] line holds the folder's own files, no folder";

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
  bool wholeSubtree = false;          // V: the top's whole subtree, not one level
  TDirEntry filesLine;                // the one-level view's line of the top's own files
  LineNumber totalLines = 0;
  LineNumber headerLines = 0;
  LineNumber folderLines = 0;
  LineNumber windowTop = 0;   // the first line on screen
  LineNumber cursorLine = 0;  // a folder line
  std::string notice;  // shown on the status bar in place of the keys, once
  std::string search;  // the text / looked for last
};

Navigation navigation;

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

// The folders of the view in line order, from its top; the one-level view
// ends with its files line.
std::vector<const TDirEntry*> ViewFolders() {
  TDirEntry& top = *walkTop.folder;
  std::vector<const TDirEntry*> lines = {&top};
  if (!navigation.wholeSubtree) {
    for (const TDirEntry* child = top.firstChild; child != nullptr; child = child->next) lines.push_back(child);
    lines.push_back(&navigation.filesLine);
    return lines;
  }
  // Pre-order without recursion, so that a view of any depth is listed.
  std::vector<const TDirEntry*> pending;
  for (const TDirEntry* folder = &top; folder != nullptr;) {
    if (folder != &top) lines.push_back(folder);
    if (folder->next != nullptr && folder != &top) pending.push_back(folder->next);
    if (folder->firstChild != nullptr) {
      folder = folder->firstChild;
    } else if (!pending.empty()) {
      folder = pending.back();
      pending.pop_back();
    } else {
      folder = nullptr;
    }
  }
  return lines;
}

// The folder `remaining` lines below `folder` in the whole subtree's line
// order (0: the folder itself), with the folders below `folder` down to it
// added to `chain`. The walk keeps its place in `chain` itself, with no call
// per level.
TDirEntry* FolderBelow(TDirEntry& folder, LineNumber& remaining, std::vector<TDirEntry*>& chain) {
  const size_t above = chain.size();
  TDirEntry* at = &folder;
  while (remaining != 0) {
    remaining -= 1;
    if (at->firstChild != nullptr) {
      at = at->firstChild;
      chain.push_back(at);
      continue;
    }
    while (chain.size() > above && chain.back()->next == nullptr) chain.pop_back();
    if (chain.size() == above) return nullptr;
    at = chain.back() = chain.back()->next;
  }
  return at;
}

// The folder at the cursor, with the folders below the top down to it in
// `chain`; none on the files line.
TDirEntry* FolderAtCursor(std::vector<TDirEntry*>& chain) {
  LineNumber remaining = navigation.cursorLine - FirstFolderLine();
  TDirEntry& top = *walkTop.folder;
  if (navigation.wholeSubtree) return FolderBelow(top, remaining, chain);
  if (remaining == 0) return &top;
  for (TDirEntry* child = top.firstChild; child != nullptr; child = child->next) {
    if (--remaining == 0) {
      chain.push_back(child);
      return child;
    }
  }
  return nullptr;
}

// Counts in `line` the lines from `folder` to `target` in the whole
// subtree's line order; false when `target` is not in its subtree.
bool CountLinesTo(const TDirEntry& folder, const TDirEntry* target, LineNumber& line) {
  std::vector<const TDirEntry*> below;  // the folders from a child of `folder` down to `at`
  const TDirEntry* at = &folder;
  while (at != target) {
    line += 1;
    if (at->firstChild != nullptr) {
      at = at->firstChild;
      below.push_back(at);
      continue;
    }
    while (!below.empty() && below.back()->next == nullptr) below.pop_back();
    if (below.empty()) return false;
    at = below.back() = below.back()->next;
  }
  return true;
}

// The line of `folder` in the view, or of the subfolder that holds it in
// the view of one level; the top's when the view does not hold it.
LineNumber LineOf(const TDirEntry* folder) {
  const TDirEntry& top = *walkTop.folder;
  LineNumber line = 0;
  if (navigation.wholeSubtree || folder == &top) {
    return FirstFolderLine() + (CountLinesTo(top, folder, line) ? line : 0);
  }
  LineNumber index = 1;
  for (const TDirEntry* child = top.firstChild; child != nullptr; child = child->next, ++index) {
    if (CountLinesTo(*child, folder, line)) return FirstFolderLine() + index;
  }
  return FirstFolderLine();
}

// The one-level view's last line: the top's own files, with the bytes of
// any subfolders folded into it, so that the level adds up to its total.
void NoteFilesLine(const TDirEntry& top) {
  TDirEntry& files = navigation.filesLine;
  files = TDirEntry{};
  files.name = "[files]";
  files.localBytes = WastageBaseBytes(top);
  files.fileCount = top.fileCount;
  files.wastedBytes = top.wastedBytes;
  // The scan keeps the newest file of each subtree only: the files' own is
  // known when no subfolder holds one as new.
  int64_t newestBelow = 0;
  for (const TDirEntry* child = top.firstChild; child != nullptr; child = child->next) {
    newestBelow = std::max(newestBelow, child->modifiedSeconds);
  }
  if (top.modifiedSeconds > newestBelow) files.modifiedSeconds = top.modifiedSeconds;
}

// Makes the innermost opened folder the top of the report, its line showing
// its full path, and reportPath the path its subfolders' paths start with.
void ShowInnermostFolder() {
  Navigation& n = navigation;
  if (n.opened.empty()) {
    walkTop = {&root, {}, {}};
    reportPath = n.startPath;
  } else {
    std::string path = n.startPath;
    for (const OpenedFolder& opened : n.opened) path += MarkedName(*opened.folder) + platform::kPathSeparator;
    path.pop_back();
    walkTop = {n.opened.back().folder, path, SubtreeTotals(*n.opened.back().folder)};
    reportPath = path + platform::kPathSeparator;
  }
  NoteFilesLine(*walkTop.folder);
  walkTop.filesLine = n.wholeSubtree ? nullptr : &n.filesLine;
  CountViewLines();
}

// The folders from a child of the root down to `below`'s last.
FolderChain FullChain(const std::vector<TDirEntry*>& below) {
  FolderChain chain;
  for (const OpenedFolder& opened : navigation.opened) chain.push_back(opened.folder);
  chain.insert(chain.end(), below.begin(), below.end());
  return chain;
}

// The folders from a child of the root down to the folder at the cursor;
// none on the files line.
std::optional<FolderChain> ChainAtCursor() {
  std::vector<TDirEntry*> below;
  if (FolderAtCursor(below) == nullptr) return std::nullopt;
  return FullChain(below);
}

bool IsChildOf(const TDirEntry& parent, const TDirEntry* folder) {
  for (const TDirEntry* child = parent.firstChild; child != nullptr; child = child->next) {
    if (child == folder) return true;
  }
  return false;
}

// After the tree changed: an opened folder that went is left for the
// nearest one still there, the view shows its top folder's figures again,
// and the cursor stays on its line as far as the report still reaches.
void ShowChangedTree() {
  Navigation& n = navigation;
  const TDirEntry* parent = &root;
  for (size_t i = 0; i < n.opened.size(); parent = n.opened[i++].folder) {
    if (!IsChildOf(*parent, n.opened[i].folder)) {
      n.opened.resize(i);
      n.cursorLine = FirstFolderLine();
      break;
    }
  }
  ShowInnermostFolder();
  ScrollToCursor();
}

// A folder folded by the depth limit or the size threshold is read again
// with its subfolders kept, each of them folded in turn, so that it opens
// one level deeper as the scan would have shown it. False when it went.
bool ReadFoldedFolder(const FolderChain& chain) {
  // A folder folded by size may keep its large subfolders, which the read
  // releases.
  DropMarksWithin(*chain.back());
  const int32_t keptDepth = options.maxDepth;
  const int64_t keptSize = options.minFolderBytes;
  options.maxDepth = static_cast<int32_t>(chain.size()) + 1;
  options.minFolderBytes = 0;
  EraseBar();
  navigation.notice = RescanFolderAt({navigation.startPath, chain});
  options.maxDepth = keptDepth;
  options.minFolderBytes = keptSize;
  ShowChangedTree();
  return navigation.notice.empty();
}

void OpenFolderAtCursor() {
  Navigation& n = navigation;
  std::vector<TDirEntry*> below;
  TDirEntry* folder = FolderAtCursor(below);
  if (folder == nullptr || below.empty()) return;  // the files line, or the top open already
  if (folder->folded && !ReadFoldedFolder(FullChain(below))) return;
  if (n.wholeSubtree && folder->firstChild == nullptr) {
    n.notice = kNoSubfoldersNotice;
    return;
  }
  n.opened.push_back({below.front(), n.windowTop});
  for (size_t i = 1; i < below.size(); ++i) n.opened.push_back({below[i], -1});
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

// V: the cursor stays on its folder, or on the line that holds it.
void FlipWholeSubtree() {
  std::vector<TDirEntry*> below;
  const TDirEntry* atCursor = FolderAtCursor(below);
  navigation.wholeSubtree = !navigation.wholeSubtree;
  ShowInnermostFolder();
  navigation.cursorLine = atCursor == nullptr ? LastFolderLine() : LineOf(atCursor);
  ScrollToCursor();
}

void DrawWindow();

KeyRead AskKeyOnBar(const std::string& question) {
  navigation.notice = question;
  DrawWindow();
  return GetKeyPress();
}

std::string AskWordOnBar(const std::string& question) { return TypedWord(question + " ", AskKeyOnBar).value_or(""); }

constexpr BarQuestions kBarQuestions = {AskKeyOnBar, AskWordOnBar};

// Delete and X: the marked folders, else the folder at the cursor. Marks
// name folders by their records: before a folder is read again, those in
// it are dropped, since the read releases its subfolders' records.
void DeleteAtCursor() {
  if (MarkCount() > 0) {
    navigation.notice = DeleteMarkedFolders(navigation.startPath, kBarQuestions);
  } else if (const std::optional<FolderChain> chain = ChainAtCursor()) {
    navigation.notice = DeleteFolder({navigation.startPath, *chain}, kBarQuestions);
  } else {
    navigation.notice = kFilesLineNotice;
  }
  ShowChangedTree();
}

// Space: marks or unmarks the folder at the cursor, then moves it down.
void FlipMarkAtCursor() {
  std::vector<TDirEntry*> below;
  const TDirEntry* folder = FolderAtCursor(below);
  if (folder == nullptr || (below.empty() && navigation.opened.empty())) return;
  FlipMark(*folder);
  navigation.cursorLine += 1;
  ScrollToCursor();
}

// The reading prompt takes the bar's place while the folder is read.
void RescanFolderAtCursor() {
  const std::optional<FolderChain> chain = ChainAtCursor();
  if (!chain) return;
  DropMarksWithin(chain->empty() ? root : *chain->back());
  EraseBar();
  navigation.notice = RescanFolderAt({navigation.startPath, *chain});
  ShowChangedTree();
}

void OpenFolderAtCursorOnDesktop() {
  if (const std::optional<FolderChain> chain = ChainAtCursor()) {
    navigation.notice = OpenFolderAt({navigation.startPath, *chain});
  }
}

void ShowLargestFilesAtCursor() {
  const FolderChain chain = ChainAtCursor().value_or(FullChain({}));
  if (navigation.notice = ShowLargestFilesPage({navigation.startPath, chain}); !navigation.notice.empty()) return;
  ShowChangedTree();
}

// The cycle of the O key; growth only when a comparison gives growth, age
// only when the scan noted ages.
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

void NextOrder() {
  Navigation& n = navigation;
  std::vector<TDirEntry*> below;
  const TDirEntry* atCursor = FolderAtCursor(below);
  options.sortOrder = kOrders[(OrderIndex() + 1) % std::size(kOrders)].order;
  if (options.sortOrder == SortOrder::growth && !Comparing()) options.sortOrder = SortOrder::age;
  if (options.sortOrder == SortOrder::age && !options.noteAges) options.sortOrder = kOrders[0].order;
  // Growth orders the tree as the run does: after the scan's linking, which
  // keeps the listing order for it.
  RelinkTree(root);
  if (options.sortOrder == SortOrder::growth) OrderByGrowth();
  n.cursorLine = atCursor == nullptr ? LastFolderLine() : LineOf(atCursor);
  ScrollToCursor();
}

// /: the next line of the view after the cursor whose name holds the text,
// without regard to case; / and Enter alone look for the last text again.
void SearchView() {
  Navigation& n = navigation;
  const std::optional<std::string> typed = TypedWord("/", AskKeyOnBar);
  if (!typed) return;
  if (!typed->empty()) n.search = *typed;
  if (n.search.empty()) return;
  const std::string wanted = UpperText(n.search);
  const std::vector<const TDirEntry*> lines = ViewFolders();
  const size_t count = lines.size();
  const size_t cursor = static_cast<size_t>(n.cursorLine - FirstFolderLine());
  for (size_t step = 1; step <= count; ++step) {
    const size_t index = (cursor + step) % count;
    if (UpperText(LineName(*lines[index])).find(wanted) != std::string::npos) {
      n.cursorLine = FirstFolderLine() + static_cast<LineNumber>(index);
      ScrollToCursor();
      return;
    }
  }
  n.notice = "Not found: " + n.search;
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

// The window in three passes: above the cursor, its line, below it.
void PrintWindow() {
  const Navigation& n = navigation;
  PrintLines(n.windowTop, n.cursorLine - n.windowTop);
  ShowReversed(true);
  PrintLines(n.cursorLine, 1);
  ShowReversed(false);
  PrintLines(n.cursorLine + 1, n.windowTop + WindowHeight() - n.cursorLine - 1);
}

// With marks, each folder line by itself, a marked folder's with its mark;
// the header's lines together, since a header prints all it is asked for.
void PrintMarkedWindow() {
  const Navigation& n = navigation;
  const std::vector<const TDirEntry*> folders = ViewFolders();
  const LineNumber end = std::min(n.windowTop + WindowHeight(), n.totalLines);
  LineNumber line = n.windowTop;
  if (line < FirstFolderLine()) {
    PrintLines(line, std::min(FirstFolderLine(), end) - line);
    line = FirstFolderLine();
  }
  for (; line < end; ++line) {
    const LineNumber index = line - FirstFolderLine();
    lineFit.marked = index >= 0 && index < static_cast<LineNumber>(folders.size()) && IsMarked(*folders[index]);
    if (line == n.cursorLine) ShowReversed(true);
    PrintLines(line, 1);
    if (line == n.cursorLine) ShowReversed(false);
  }
  lineFit.marked = false;
}

void DrawWindow() {
  Navigation& n = navigation;
  const size_t width = static_cast<size_t>(std::max(screenWidth - 1, 1));
  const ColumnsDropped dropped = DropColumnsForWidth(width);
  ClearScreen();
  lineFit.width = width;
  if (MarkCount() > 0) {
    PrintMarkedWindow();
  } else {
    PrintWindow();
  }
  lineFit = {};
  RestoreColumns(dropped);
  const BarFacts facts = {kOrders[OrderIndex()].word, !n.opened.empty(), n.wholeSubtree, MarkCount(), dropped};
  WriteOut(FirstChars(n.notice.empty() ? NavigationBar(facts, width) : n.notice, width));
  n.notice = {};
}

// Esc drops the marks before it leaves.
bool LeavesOnEsc() {
  if (MarkCount() == 0) return true;
  DropMarks();
  return false;
}

void ShowKeysOrManual(bool manualFirst) {
  if (manualFirst && helpFileOpener()) return;
  ShowKeyHelp(KeysOf::navigation);
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
    case kScanDelete: DeleteAtCursor(); break;
    case kScanF1: ShowKeysOrManual(true); break;
    default: break;
  }
}

// False when the key leaves navigation.
bool ActOnKey(const KeyRead& key) {
  const uint8_t character = UpperAscii(key.character);
  if (character == kCtrlC || character == 'Q') EndFromBar();
  if (key.failed || character == 'N') return false;
  switch (character) {
    case 0: ActOnScanCode(key.scanCode); break;
    case kEsc: return !LeavesOnEsc();
    case 'K': MoveCursor(-1); break;
    case 'J': MoveCursor(1); break;
    case kEnter: OpenFolderAtCursor(); break;
    case kBackspace: GoBack(); break;
    case ' ': FlipMarkAtCursor(); break;
    case '/': SearchView(); break;
    case '?': ShowKeysOrManual(false); break;
    case 'V': FlipWholeSubtree(); break;
    case 'O': NextOrder(); break;
    case 'L': ShowLargestFilesAtCursor(); break;
    case 'X': DeleteAtCursor(); break;
    case 'R': RescanFolderAtCursor(); break;
    case 'E': OpenFolderAtCursorOnDesktop(); break;
    // A column key keeps every line where it is; Ctrl+L and the rest only
    // draw the window again.
    default: FlipColumnSetting(character); break;
  }
  return true;
}

}  // namespace

LineNumber NavigateReport(const OutputOperations& mode, LineNumber totalLines) {
  Navigation& n = navigation;
  const LineNumber shownEnd = std::min(lineCursor, totalLines);
  n.mode = &mode;
  // From the start folder's report navigation begins afresh, one level at
  // a time; from a folder opened before, it goes on where it was left.
  if (walkTop.folder == &root) {
    n.opened.clear();
    n.startPath = reportPath;
    n.wholeSubtree = false;
    DropMarks();
  }
  // The cursor starts on the first folder line of the window shown, or on
  // the line of the view of one level that holds it.
  const bool wholeSubtree = n.wholeSubtree;
  n.wholeSubtree = true;
  ShowInnermostFolder();
  n.windowTop = std::max<LineNumber>(std::min(shownEnd, n.totalLines) - WindowHeight(), 0);
  n.cursorLine = std::max(n.windowTop, FirstFolderLine());
  ScrollToCursor();
  if (!wholeSubtree) FlipWholeSubtree();
  while (true) {
    DrawWindow();
    if (!ActOnKey(GetKeyPress())) break;
  }
  // The browser goes on with the report of the top folder as a whole.
  walkTop.filesLine = nullptr;
  const LineNumber browserLines = CountReportLines(mode);
  lineCursor = std::min<LineNumber>(n.windowTop + WindowHeight(), browserLines);
  return browserLines;
}
