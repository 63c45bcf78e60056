#include "browse/navigator.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "browse/column_keys.h"
#include "browse/folder_actions.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "report/files_report.h"
#include "report/growth.h"
#include "scan/file_stats.h"
#include "scan/reading_prompt.h"
#include "scan/scanner.h"
#include "scan/tree_edit.h"
#include "settings/settings.h"

namespace {

constexpr uint8_t kCtrlC = 3, kBackspace = 8, kEnter = 13, kEsc = 27;

// The largest files the L key lists.
constexpr int32_t kLargestFilesOfFolder = 20;

constexpr std::string_view kFoldedNotice = "Folded folder: its subfolders were summed into it";
constexpr std::string_view kNoSubfoldersNotice = "No subfolders";
constexpr std::string_view kFilesPageBar = "Up/Down:file Delete/X:delete Esc:back";

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
  std::string notice;  // shown on the status bar in place of the keys, once
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
    walkTop = {&root, {}, {}};
    reportPath = n.startPath;
  } else {
    std::string path = n.startPath;
    for (const OpenedFolder& opened : n.opened) path += MarkedName(*opened.folder) + platform::kPathSeparator;
    path.pop_back();
    walkTop = {n.opened.back().folder, path, SubtreeTotals(*n.opened.back().folder)};
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
  if (folder->firstChild == nullptr) {
    n.notice = kNoSubfoldersNotice;
    return;
  }
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

uint8_t UpperAscii(uint8_t character) {
  return character >= 'a' && character <= 'z' ? static_cast<uint8_t>(character - 'a' + 'A') : character;
}

// The folders from a child of the root down to the folder at the cursor.
FolderChain ChainAtCursor() {
  FolderChain below;
  if (FolderAtCursor(below) == nullptr) return {};
  FolderChain chain;
  for (const OpenedFolder& opened : navigation.opened) chain.push_back(opened.folder);
  chain.insert(chain.end(), below.begin(), below.end());
  return chain;
}

void DrawWindow();

// Takes back the bar, as the browser does after each key, so that what
// comes next (the reading prompt, the shell's prompt) starts on a clean line.
void EraseBar() { EraseInPlace(static_cast<size_t>(std::max(screenWidth - 1, 0))); }

void EndFromBar() {
  EraseBar();
  EndProgram(0);
}

KeyRead AskKeyOnBar(const std::string& question) {
  navigation.notice = question;
  DrawWindow();
  return GetKeyPress();
}

// The typed word shows after the question, which `askKey` shows; Backspace
// takes a character back, Enter ends the word and Esc takes the question back.
std::string TypedWord(const std::string& question, KeyRead (*askKey)(const std::string& question)) {
  std::string word;
  while (true) {
    const KeyRead key = askKey(question + " " + word);
    if (key.failed || key.character == kEsc) return "";
    if (key.character == kEnter) return word;
    if (key.character == kBackspace) {
      if (!word.empty()) word.pop_back();
    } else if (key.character >= ' ' && key.character < 0x7F) {
      word += static_cast<char>(key.character);
    }
  }
}

std::string AskWordOnBar(const std::string& question) { return TypedWord(question, AskKeyOnBar); }

constexpr BarQuestions kBarQuestions = {AskKeyOnBar, AskWordOnBar};

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

void DeleteFolderAtCursor() {
  navigation.notice = DeleteFolder({navigation.startPath, ChainAtCursor()}, kBarQuestions);
  ShowChangedTree();
}

// The reading prompt takes the bar's place while the folder is read.
void RescanFolderAtCursor() {
  EraseBar();
  navigation.notice = RescanFolderAt({navigation.startPath, ChainAtCursor()});
  ShowChangedTree();
}

void OpenFolderAtCursorOnDesktop() {
  navigation.notice = OpenFolderAt({navigation.startPath, ChainAtCursor()});
}

// Reads the subtree of `at` again for its largest files, keeping every
// figure of the report's own scan.
void NoteLargestFilesBelow(const FolderAt& at) {
  const ReportOptions kept = options;
  const ScanTotals keptTotals = scanTotals;
  const std::string keptScanPath = scanPath;
  options.topFiles = kLargestFilesOfFolder;
  options.fileTypes = false;
  options.noteAges = false;
  scanPath = PathOf(at);
  TDirEntry folder;
  folder.name = scanPath;
  ShowReadingPrompt(0);
  platform::BeginWalk(at.startPath);
  RescanFolder(folder, 0, options.scanThreads);
  platform::EndWalk();
  EndReadingPrompt();
  FoldSubtree(folder);
  options = kept;
  scanTotals = keptTotals;
  scanPath = keptScanPath;
}

// The page of the largest files (the L key): the files below a folder, one
// of them under a cursor of its own.
struct FilesPage {
  std::string title;
  size_t top = 0;     // the first file line shown
  size_t cursor = 0;  // the file line in reverse video
};

FilesPage filesPage;

size_t FileLinesShown() { return static_cast<size_t>(std::max(pageLength - 4, 1)); }

// Its title, the files' titles, as many file lines as fit from the top and
// `bar` below them.
void DrawFilesPage(const std::string& bar) {
  FilesPage& page = filesPage;
  const size_t count = LargestFiles().size();
  page.cursor = std::min(page.cursor, count == 0 ? 0 : count - 1);
  page.top = std::clamp(page.top, page.cursor + 1 - std::min(page.cursor + 1, FileLinesShown()), page.cursor);
  ClearScreen();
  WriteOutLine(page.title);
  WriteOutLine("");
  WriteLargestFilesHeading();
  for (size_t row = page.top; row < count && row < page.top + FileLinesShown(); ++row) {
    ShowReversed(row == page.cursor);
    WriteLargestFileLine(row);
    ShowReversed(false);
  }
  WriteOut(FirstChars(bar, static_cast<size_t>(std::max(screenWidth - 1, 0))));
}

KeyRead AskKeyOnFilesPage(const std::string& question) {
  DrawFilesPage(question);
  return GetKeyPress();
}

std::string AskWordOnFilesPage(const std::string& question) { return TypedWord(question, AskKeyOnFilesPage); }

constexpr BarQuestions kFilesPageQuestions = {AskKeyOnFilesPage, AskWordOnFilesPage};

bool IsScan(const KeyRead& key, uint8_t scanCode) { return key.character == 0 && key.scanCode == scanCode; }

// The L key: a page of the largest files below the folder at the cursor,
// where Up and Down move its cursor and Delete and X remove the file under
// it, until Esc (or Left, Backspace) goes back.
void ShowLargestFilesAtCursor() {
  const FolderChain chain = ChainAtCursor();
  const FolderAt at{navigation.startPath, chain};
  if (navigation.notice = ChangedSinceScan(at); !navigation.notice.empty()) return;
  NoteLargestFilesBelow(at);
  filesPage = {};
  filesPage.title = "The largest files below ";
  AppendShownName(filesPage.title, EnsureTrailingBackslash(PathOf(at)));
  std::string notice;
  while (true) {
    DrawFilesPage(notice.empty() ? std::string(kFilesPageBar) : notice);
    notice.clear();
    const KeyRead key = GetKeyPress();
    const uint8_t character = UpperAscii(key.character);
    if (character == kCtrlC || character == 'Q') EndFromBar();
    if (key.failed || character == kEsc || character == kBackspace || IsScan(key, kScanLeft)) break;
    if (IsScan(key, kScanUp) || character == 'K') {
      filesPage.cursor -= filesPage.cursor > 0 ? 1 : 0;
    } else if (IsScan(key, kScanDown) || character == 'J') {
      filesPage.cursor += 1;
    } else if (!LargestFiles().empty() && (IsScan(key, kScanDelete) || character == 'X')) {
      notice = DeleteListedFile(at, filesPage.cursor, kFilesPageQuestions);
    }
  }
  ShowChangedTree();
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
    case kScanDelete: DeleteFolderAtCursor(); break;
    case kScanF1: helpKeyAction(); break;
    default: break;
  }
}

// False when the key leaves navigation.
bool ActOnKey(const KeyRead& key) {
  const uint8_t character = UpperAscii(key.character);
  if (character == kCtrlC || character == 'Q') EndFromBar();
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
  } else if (character == 'X') {
    DeleteFolderAtCursor();
  } else if (character == 'R') {
    RescanFolderAtCursor();
  } else if (character == 'E') {
    OpenFolderAtCursorOnDesktop();
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
