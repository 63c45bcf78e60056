// The report walker: every output mode is three operations, and the walker
// numbers, counts and prints the report's lines through them, in one pass or
// one window at a time for the browser. Nothing of a report is stored; every
// pass walks the tree again and prints only the lines it is asked for.
//
// Lines are numbered from 0: the header's H lines, one line per folder in
// pre-order (a folder, its children's subtrees, then its next sibling), then
// the footer's F lines; T = H + folders + F.
//
// The walk state:
//   lineCursor  the next line to print; -1 while header and footer are asked
//               for their line counts
//   lineBudget  lines still to print in this pass
//   lineIndex   the line the folder lister has reached
//
// The contract of the operations:
//   header()     With lineCursor -1: print nothing, return H. Otherwise for
//                each of its lines k = 0..H-1, when lineCursor == k print line
//                k, ++lineCursor, --lineBudget; then lineIndex = H; return 0.
//   folders(r)   For each record of the sibling list from r: when lineIndex ==
//                lineCursor print its line, ++lineCursor, --lineBudget; then
//                ++lineIndex; stop when lineBudget <= 0; go on into its
//                children; stop when lineBudget <= 0 afterwards. (The
//                lister keeps its own stack: see WalkSubtrees.) The walker
//                passes the top folder (walkTop): the list stops after it,
//                since its siblings are no part of the report.
//   footer(T)    With lineCursor -1: print nothing, return F. Otherwise print
//                its lines c = lineCursor - (T - F), c + 1, ... while 0 <= c <
//                F and lineBudget > 0, --lineBudget per line, leaving
//                lineCursor alone; return 0.
//
// Example: a root R with children A (holding A1) and B; the console header
// (H = 2) and a footer of F = 3 lines. The lines are
//   0 titles  1 rule  2 R  3 A  4 A1  5 B  6 rule  7 totals  8 rule   (T = 9)
// Counting: lineCursor = -1 gives H + F = 5; then lineCursor = the largest
//   LineNumber (beyond any line), lineIndex = 0, lineBudget = 10, and
//   folders(R) alone prints nothing and leaves lineIndex at the folder
//   count, 4: T = 5 + 4 = 9.
// One pass (WalkReport): lineCursor = -1 gives F = 3; then lineCursor = 0,
//   lineBudget without limit; header prints 0, 1 (cursor 2); folders prints
//   2..5 (cursor 6), so T = 6 + 3 = 9; lineBudget = 3, and footer starts at
//   c = 6 - (9 - 3) = 0 and prints its three lines (budget 0).
// A browser window of lines 4..7: lineCursor = 4, lineBudget = 4; header
//   prints nothing and sets lineIndex = 2; folders skips R and A (lineIndex
//   2, 3), prints A1 and B (cursor 6, budget 2); footer starts at c = 0 and
//   prints two lines (budget 0). The browser finds the line after the window
//   as 4 + (4 - 0) = 8, since the footer does not move lineCursor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <string_view>

#include "scan/tree.h"

// Wide enough for a line per folder of any tree a file system can hold.
using LineNumber = int64_t;

extern LineNumber lineCursor;
extern LineNumber lineBudget;
extern LineNumber lineIndex;
// The indentation written before the current folder's connector.
extern std::string treePrefix;

struct OutputOperations {
  int32_t (*header)();
  void (*folders)(TDirEntry* first);
  int32_t (*footer)(LineNumber totalLines);
};

// The folder a report shows at its top: the root, or a folder the browser's
// navigation has opened. Its line is drawn as the root's (no connector), and
// an opened folder's line shows `path`, its full path, in place of its name;
// the lister lists the top's subtree and none of its siblings.
struct WalkTop {
  TDirEntry* folder;
  std::string path;
  ScanTotals totals;  // of an opened folder's subtree
  // Navigation's view of one level: the lister shows the top, its direct
  // subfolders (none of theirs) and then this line of the top's own files,
  // so that the lines add up to the top's total. None for the whole subtree.
  const TDirEntry* filesLine = nullptr;
};
extern WalkTop walkTop;

// The files and wasted bytes of the report's top folder with its subtree,
// which its totals line shows: the scan's for the root.
ScanTotals ViewTotals();

bool IsWalkTop(const TDirEntry& folder);
// The name a folder's line shows, with the fold mark of a folded folder.
std::string LineName(const TDirEntry& folder);
// Follows the name of a folder that could not be read, on its line.
inline constexpr std::string_view kUnreadableMark = " (unreadable)";

// Renders the tree under `root` through the three operations of a mode.
void WalkReport(const OutputOperations& mode);
// T of the report of walkTop: header, folder and footer lines.
LineNumber CountReportLines(const OutputOperations& mode);

// The footer of the modes without one.
int32_t NoFooter(LineNumber totalLines);

// The header operation's part of the contract, for a header of
// `headerLines` lines that `writeLine` writes one at a time.
int32_t WalkHeader(int32_t headerLines, void (*writeLine)(int32_t line));

// The footer operation's part of the contract, for a footer of
// `footerLines` lines that `writeLine` writes one at a time.
int32_t WalkFooter(LineNumber totalLines, int32_t footerLines, void (*writeLine)(int32_t line));

// Appends the vertical bar (when the folder has a later sibling) or a blank,
// then two blanks, to treePrefix.
void PushTreeIndent(bool hasNextSibling);

// How a mode's folder lister prints a line and extends its path prefix.
struct FolderLines {
  void (*writeLine)(const TDirEntry& folder, bool hasNextSibling);
  // Extends `prefix` before the children of `folder` (never the root).
  void (*descend)(const TDirEntry& folder, bool hasNextSibling);
  std::string* prefix;  // cut back after each folder's children
};

// The folder lister of the contract above, shared by every mode.
void ListFolders(TDirEntry* first, const FolderLines& lines);

// Walks the sibling list from `first` and every subtree below it in
// pre-order, with a stack of its own, so that a chain of any depth costs
// heap, never the call stack. `enter(folder, firstOfList)` comes before the
// folder's children, `leave(folder)` after them; either answers false to end
// the walk. The walk top ends the list it is in: its siblings are no part of
// the report.
template <typename Enter, typename Leave>
void WalkSubtrees(TDirEntry* first, Enter&& enter, Leave&& leave) {
  std::vector<TDirEntry*> open;  // the folders whose children are being walked
  TDirEntry* folder = first;
  bool firstOfList = true;
  while (folder != nullptr) {
    if (!enter(*folder, firstOfList)) return;
    if (folder->firstChild != nullptr) {
      open.push_back(folder);
      folder = folder->firstChild;
      firstOfList = true;
      continue;
    }
    while (true) {
      if (!leave(*folder)) return;
      if (folder->next != nullptr && !IsWalkTop(*folder)) break;
      if (open.empty()) return;
      folder = open.back();
      open.pop_back();
    }
    folder = folder->next;
    firstOfList = false;
  }
}

// The bytes a folder's wasted bytes belong to, of which its wastage
// percentage is a share: its own, plus the totals of the subfolders folded
// into it by the depth limit or the size threshold, which its subBytes
// holds but no line of their own shows. With nothing folded, its own bytes.
int64_t WastageBaseBytes(const TDirEntry& folder);
// Whether the folder reports show the Modified column (-age, and the
// browser's M key has not hidden it).
bool AgeColumnShown();
// A folder's newest modification as the console and page show it; blank for
// a folder without files.
std::string FolderModifiedText(const TDirEntry& folder);
