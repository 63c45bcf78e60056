// Changes to the scanned tree after the scan, as the browser acts on it: a
// folder or file removed from the disk, or a folder read again. Every figure
// above the change follows it, so that the tree stays what a fresh scan of
// the disk would give, without reading the rest of it.
#pragma once

#include <cstdint>
#include <vector>

#include "scan/tree.h"

// The folders from a child of the root down to the folder acted on.
using FolderChain = std::vector<TDirEntry*>;

// A folder's files and wasted bytes with those of every folder below it, as
// the scan totals count them for the root.
ScanTotals SubtreeTotals(const TDirEntry& folder);

// What a change did to the totals of the folder it happened in.
struct FigureChange {
  int64_t bytes = 0;
  int64_t wasted = 0;
  int32_t files = 0;
};

// Adds `change` (negative for what went) to every folder above the last of
// `chain` and to the scan totals, and links each of those folders' children
// again in the sort order. The last folder's own figures are the caller's.
void ShiftAncestors(const FolderChain& chain, const FigureChange& change);

// Takes the last folder of `chain` out of the tree and out of every figure
// above it, its parent's directory-entry allowance included, and releases
// it. Returns what the total of every folder above it moved by.
int64_t RemoveFolderFromTree(const FolderChain& chain);

// Takes a file that the scan counted as `bytes`, of which `slack` was
// wasted, out of the figures of the last folder of `chain`: its own figures
// when the file lay in it, else those it holds for its folded subfolders.
// Returns what that folder's total, and every total above it, moved by.
int64_t RemoveFileFromTree(const FolderChain& chain, bool inOwnFiles, int64_t bytes, int64_t slack);

// A linked file's bytes (`slack` of them wasted) now count in the last
// folder of `chain`, as RemoveFileFromTree took them; its names are counted
// already. Returns what that folder's total, and every total above it,
// moved by.
int64_t CountLinkedFileIn(const FolderChain& chain, bool inOwnFiles, int64_t bytes, int64_t slack);

// The figures of `folder`'s subtree: what a change to it is measured by.
FigureChange FiguresOf(const TDirEntry& folder);
