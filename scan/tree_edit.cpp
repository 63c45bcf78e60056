#include "scan/tree_edit.h"

#include <vector>

#include "console/held_sums.h"
#include "scan/scanner.h"

namespace {

// The folders wait in a stack of their own, which a tree of any depth fits.
void AddTotals(ScanTotals& totals, const TDirEntry& top) {
  std::vector<const TDirEntry*> pending{&top};
  while (!pending.empty()) {
    const TDirEntry& folder = *pending.back();
    pending.pop_back();
    totals.totalFiles = AddCount(totals.totalFiles, folder.fileCount);
    totals.totalWasted = AddBytes(totals.totalWasted, folder.wastedBytes);
    for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) pending.push_back(child);
  }
}

TDirEntry& ParentIn(const FolderChain& chain, size_t index) { return index == 0 ? root : *chain[index - 1]; }

void Unlink(TDirEntry& parent, const TDirEntry* child) {
  TDirEntry** link = &parent.firstChild;
  while (*link != child) link = &(*link)->next;
  *link = child->next;
}

}  // namespace

ScanTotals SubtreeTotals(const TDirEntry& folder) {
  ScanTotals totals;
  AddTotals(totals, folder);
  return totals;
}

FigureChange FiguresOf(const TDirEntry& folder) {
  const ScanTotals totals = SubtreeTotals(folder);
  return {TotalBytes(folder), totals.totalWasted, totals.totalFiles};
}

void ShiftAncestors(const FolderChain& chain, const FigureChange& change) {
  for (size_t i = chain.size(); i-- > 0;) {
    TDirEntry& parent = ParentIn(chain, i);
    parent.subBytes = AddBytes(parent.subBytes, change.bytes);
    RelinkChildren(parent);
  }
  scanTotals.totalFiles = AddCount(scanTotals.totalFiles, change.files);
  scanTotals.totalWasted = AddBytes(scanTotals.totalWasted, change.wasted);
}

namespace {

// The folder's listing lost an entry: its allowance, and every figure above
// it, become what the scan would count now.
int64_t DropEntryOfLast(const FolderChain& chain) {
  TDirEntry& folder = chain.empty() ? root : *chain.back();
  const AllowanceChange change = DropListingEntry(folder, chain.empty());
  ShiftAncestors(chain, {change.bytes, change.wasted, 0});
  return change.bytes;
}

}  // namespace

int64_t RemoveFolderFromTree(const FolderChain& chain) {
  TDirEntry* folder = chain.back();
  const FigureChange figures = FiguresOf(*folder);
  Unlink(ParentIn(chain, chain.size() - 1), folder);
  ShiftAncestors(chain, {-figures.bytes, -figures.wasted, -figures.files});
  const int64_t allowance = DropEntryOfLast(FolderChain(chain.begin(), chain.end() - 1));
  FoldSubtree(*folder);
  delete folder;
  return AddBytes(-figures.bytes, allowance);
}

int64_t RemoveFileFromTree(const FolderChain& chain, bool inOwnFiles, int64_t bytes, int64_t slack) {
  TDirEntry& folder = chain.empty() ? root : *chain.back();
  int64_t& held = inOwnFiles ? folder.localBytes : folder.subBytes;
  held = AddBytes(held, -bytes);
  folder.fileCount = AddCount(folder.fileCount, -1);
  folder.wastedBytes = AddBytes(folder.wastedBytes, -slack);
  ShiftAncestors(chain, {-bytes, -slack, -1});
  // The listing of a folder folded into this one is not known.
  return AddBytes(-bytes, inOwnFiles ? DropEntryOfLast(chain) : 0);
}

int64_t CountLinkedFileIn(const FolderChain& chain, bool inOwnFiles, int64_t bytes, int64_t slack) {
  TDirEntry& folder = chain.empty() ? root : *chain.back();
  int64_t& held = inOwnFiles ? folder.localBytes : folder.subBytes;
  held = AddBytes(held, bytes);
  folder.wastedBytes = AddBytes(folder.wastedBytes, slack);
  ShiftAncestors(chain, {bytes, slack, 0});
  return bytes;
}
