// The scan: reads every folder below the start folder once and builds the
// tree already shaped for display (children in sort order, deep and small
// subtrees folded into their parents). It keeps the folders of the current
// path in a stack of its own, so a tree of any depth is read.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "console/held_sums.h"
#include "platform/platform.h"
#include "scan/clusters.h"
#include "scan/folder_listing.h"
#include "scan/tree.h"
#include "settings/settings.h"

// The path of the folder being read, with a trailing separator while a folder
// is processed; set by the driver to the start path before the scan.
extern std::string scanPath;
// A folder at this path (with trailing separator) is a drive root and gets no
// directory-entry allowance; set from the drive statistics.
extern std::string allowanceFreeRoot;

// Reads the folder in scanPath into `node` and everything below it. False
// when the folder's path was not found or nothing of it could be read (the
// error line has been written).
bool ScanFolder(TDirEntry& node);
// The same scan, with `threads` folders read at once (the scan's own reads
// included, the others by workers reading ahead of it), or with 0 as many as
// the disk rewards; the tree and every figure are those of ScanFolder.
bool ScanFolderAhead(TDirEntry& node, int threads);
// Reads a folder below the start folder (in scanPath), `depth` levels below
// it, into `node` again, as ScanFolderAhead does with `threads`, its
// exclusions still those of the start folder and its subtree folded by the
// depth limit as the scan folds it. False when its path was not found (or,
// for the start folder, nothing of it could be read).
bool RescanFolder(TDirEntry& node, int32_t depth, int threads);

// What a folder's own figures moved by.
struct AllowanceChange {
  int64_t bytes = 0;
  int64_t wasted = 0;
};
// One entry of the folder's listing went (a folder or file removed from
// it): its directory-entry allowance becomes what the scan would count now.
AllowanceChange DropListingEntry(TDirEntry& folder, bool isStartFolder);

// The figure a descending sort order compares (0 for the name order and none).
int64_t SortKey(const TDirEntry& entry);

// Links `children` (in the order they were scanned, the reverse of the
// listing) under `parent` in the order of the sort setting.
void LinkChildrenOrdered(TDirEntry& parent, TDirEntry** children, size_t count);
// Links the children of `folder` and of every folder below it again in the
// order of the sort setting, as the scan would have linked them.
void RelinkTree(TDirEntry& folder);
// The same for the children of `folder` alone.
void RelinkChildren(TDirEntry& folder);

// Folds every descendant of `node` into it and releases them.
void FoldSubtree(TDirEntry& node);
// Folds `child` and its subtree into `parent` and releases it.
void FoldChildInto(TDirEntry* child, TDirEntry& parent);
// The depth and size rules for a child whose subtree is complete, at
// `childDepth` below the start folder: a child at the depth limit folds its
// subtree, and a child under the size threshold folds into `parent` and is
// released (then true).
bool FoldFinishedChild(TDirEntry& parent, TDirEntry* child, int32_t childDepth);
// Marks the folder as folded: the reports show " ..." after its name.
void MarkFolded(TDirEntry& node);
