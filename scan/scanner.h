// The recursive scan: reads every folder below the start folder once and
// builds the tree already shaped for display (children in sort order, deep
// and small subtrees folded into their parents).
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "control/settings.h"
#include "platform/platform.h"
#include "scan/tree.h"

// The path of the folder being read, with a trailing separator while a folder
// is processed; set by the driver to the start path before the scan.
extern std::string scanPath;
// A folder at this path (with trailing separator) is a drive root and gets no
// directory-entry allowance; set from the drive statistics.
extern std::string allowanceFreeRoot;
// How folders are listed; tests substitute a fake listing.
extern platform::ListStatus (*folderLister)(const std::string& folderPath, const platform::FolderIdentity& expected,
                                            platform::EntryVisitor visit, void* context);

// Reads the folder in scanPath into `node` and everything below it. False
// when the folder's path was not found (the error line has been written).
bool ScanFolder(TDirEntry& node);
// The same scan, with `threads` workers reading folders ahead of it, or with
// 0 as many as the disk rewards; the tree and every figure are those of
// ScanFolder.
bool ScanFolderAhead(TDirEntry& node, int threads);

// `sum` + `bytes`, held at the 64-bit limit: a sparse file may claim
// 2^63 - 1 bytes (tmpfs allows it), and a figure that wrapped round would
// turn negative and be folded away by the size threshold. Inline, like the
// two below: they run for every file.
inline int64_t AddBytes(int64_t sum, int64_t bytes) {
  int64_t result = 0;
  return __builtin_add_overflow(sum, bytes, &result) ? std::numeric_limits<int64_t>::max() : result;
}

// `sum` + `count`, held at the 32-bit limit like the byte figures: a file
// count that wrapped round would turn negative.
inline int32_t AddCount(int32_t sum, int32_t count) {
  int32_t result = 0;
  return __builtin_add_overflow(sum, count, &result) ? std::numeric_limits<int32_t>::max() : result;
}

// Rounds `bytes` up to whole clusters and adds the slack to `waste`.
inline int64_t ClusterRound(int64_t bytes, int64_t& waste) {
  // Clusters are nearly always a power of two: a mask spares a division per file.
  const int64_t cluster = effectiveClusterSize;
  const int64_t remainder = (cluster & (cluster - 1)) == 0 ? bytes & (cluster - 1) : bytes % cluster;
  if (remainder == 0) return bytes;
  const int64_t slack = cluster - remainder;
  waste = AddBytes(waste, slack);
  return AddBytes(bytes, slack);
}

// The figure a descending sort order compares (0 for the name order and none).
int64_t SortKey(const TDirEntry& entry);

// Links `children` (in the order they were scanned, the reverse of the
// listing) under `parent` in the order of the sort setting.
void LinkChildrenOrdered(TDirEntry& parent, TDirEntry** children, size_t count);
// Links the children of `folder` and of every folder below it again in the
// order of the sort setting, as the scan would have linked them.
void RelinkTree(TDirEntry& folder);

// Folds every descendant of `node` into it and releases them.
void FoldSubtree(TDirEntry& node);
// Folds `child` and its subtree into `parent` and releases it.
void FoldChildInto(TDirEntry* child, TDirEntry& parent);
// Appends " ..." to the name unless it holds that mark already.
void MarkFolded(TDirEntry& node);
