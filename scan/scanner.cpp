#include "scan/scanner.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "console/text.h"
#include "console/writer.h"
#include "control/settings.h"

ScanTotals scanTotals;
TDirEntry root;
std::string scanPath;
std::string allowanceFreeRoot;
platform::ListStatus (*folderLister)(const std::string&, platform::EntryVisitor, void*) =
    platform::ListFolder;

namespace {

uint8_t scanDepth = 0;
int spinnerIndex = 0;

// The finished children of every folder on the current path, each folder's
// run above the runs of its ancestors; one vector serves the whole scan so
// that no folder allocates its own.
std::vector<TDirEntry*> finishedChildren;

// Each directory entry takes 32 bytes in its folder's own allocation.
constexpr int64_t kDirectoryEntryBytes = 32;

struct FolderReading {
  TDirEntry* node;
  TDirEntry* pending;  // subfolders to scan, newest (last listed) first
  int32_t entryCount;
};

bool CountsSize(uint32_t attributes) {
  return options.includeOffline || (attributes & platform::kAttrOffline) == 0;
}

void CountEntry(void* context, const platform::ListingEntry& entry) {
  auto& reading = *static_cast<FolderReading*>(context);
  reading.entryCount += 1;
  if (entry.attributes & (platform::kAttrVolumeLabel | platform::kAttrReparsePoint)) return;
  if (entry.attributes & platform::kAttrDirectory) {
    if (entry.name == "." || entry.name == "..") return;
    auto* child = new TDirEntry;
    child->name = entry.name;
    child->next = reading.pending;
    reading.pending = child;
    return;
  }
  TDirEntry& node = *reading.node;
  node.fileCount += 1;
  scanTotals.totalFiles += 1;
  if (!CountsSize(entry.attributes)) return;
  node.localBytes += options.dirMode ? entry.size : ClusterRound(entry.size, node.wastedBytes);
}

void ReportMissingPath() {
  WriteErrorLine("Path was not found (invalid character or maximum path length exceeded?): " +
                 scanPath);
}

void ReportPathTooLong(const TDirEntry& child) {
  WriteErrorLine("Maximum path length of " + std::to_string(platform::kMaxScanPathLength) +
                 " exceeded for folder " + scanPath + child.name);
  WriteErrorLine("Path skipped");
}

bool FitsPathLimit(size_t folderLength, const TDirEntry& child) {
  // Room for the child's name, its separator and the listing's wildcard.
  return folderLength + platform::PathLength(child.name) + 3 <= static_cast<size_t>(platform::kMaxScanPathLength);
}

void ScanChild(TDirEntry& node, TDirEntry* child, size_t folderLength) {
  scanPath.resize(folderLength);
  if (!FitsPathLimit(platform::PathLength(scanPath), *child)) {
    ReportPathTooLong(*child);
  } else {
    scanPath += child->name;
    ScanFolder(*child);
    node.subBytes += TotalBytes(*child);
    if (scanDepth >= options.maxDepth && child->firstChild != nullptr) {
      FoldSubtree(*child);
      MarkFolded(*child);
    }
  }
  if (options.minFolderBytes > TotalBytes(*child)) {
    MarkFolded(node);
    FoldChildInto(child, node);
  } else {
    finishedChildren.push_back(child);
  }
}

}  // namespace

void TurnSpinner() {
  static const char kSpinner[] = "|/-\\";
  WriteError(std::string{kSpinner[spinnerIndex], '\b'});
  spinnerIndex = (spinnerIndex + 1) % 4;
}

int64_t ClusterRound(int64_t bytes, int64_t& waste) {
  int64_t remainder = bytes % effectiveClusterSize;
  if (remainder == 0) return bytes;
  int64_t slack = effectiveClusterSize - remainder;
  waste += slack;
  return bytes + slack;
}

bool ScanFolder(TDirEntry& node) {
  TurnSpinner();
  scanPath = EnsureTrailingBackslash(std::move(scanPath));
  const size_t folderLength = scanPath.size();
  FolderReading reading{&node, nullptr, 0};
  if (folderLister(scanPath, CountEntry, &reading) == platform::ListStatus::PathNotFound) {
    ReportMissingPath();
    return false;
  }
  scanDepth += 1;
  if (!options.dirMode) {
    if (scanPath != allowanceFreeRoot) {
      node.localBytes += ClusterRound(reading.entryCount * kDirectoryEntryBytes, node.wastedBytes);
    }
    scanTotals.totalWasted += node.wastedBytes;
  }
  const size_t firstFinished = finishedChildren.size();
  while (reading.pending != nullptr) {
    TDirEntry* child = reading.pending;
    reading.pending = child->next;
    child->next = nullptr;
    ScanChild(node, child, folderLength);
  }
  LinkChildrenOrdered(node, finishedChildren.data() + firstFinished,
                      finishedChildren.size() - firstFinished);
  finishedChildren.resize(firstFinished);
  scanPath.resize(folderLength);
  scanDepth -= 1;
  return true;
}

namespace {

int64_t SortKey(const TDirEntry& entry) {
  switch (options.sortOrder) {
    case SortOrder::local: return entry.localBytes;
    case SortOrder::total: return TotalBytes(entry);
    case SortOrder::waste: return entry.wastedBytes;
    case SortOrder::files: return entry.fileCount;
    default: return 0;
  }
}

void LinkInSequence(TDirEntry& parent, TDirEntry** children, size_t count) {
  TDirEntry* following = nullptr;
  for (size_t i = count; i-- > 0;) {
    children[i]->next = following;
    following = children[i];
  }
  parent.firstChild = following;
}

}  // namespace

// Children arrive in the reverse of the listing order. Placing each one by
// insertion (after every child with an equal or smaller upper-cased name; in
// the descending orders, before every child with an equal key) gives exactly
// a stable sort: by name, equal names stay in arrival order; by size or count,
// equal keys come out in listing order; unsorted, the listing order itself.
// Sorting once per folder keeps wide folders at n log n.
void LinkChildrenOrdered(TDirEntry& parent, TDirEntry** children, size_t count) {
  if (options.sortOrder == SortOrder::name) {
    std::vector<std::pair<std::string, TDirEntry*>> keyed;
    keyed.reserve(count);
    for (size_t i = 0; i < count; ++i) keyed.emplace_back(UpperText(children[i]->name), children[i]);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < count; ++i) children[i] = keyed[i].second;
  } else {
    std::reverse(children, children + count);
    if (options.sortOrder != SortOrder::none) {
      std::stable_sort(children, children + count, [](const TDirEntry* a, const TDirEntry* b) {
        return SortKey(*a) > SortKey(*b);
      });
    }
  }
  LinkInSequence(parent, children, count);
}

void FoldSubtree(TDirEntry& node) {
  while (node.firstChild != nullptr) {
    TDirEntry* child = node.firstChild;
    FoldSubtree(*child);
    node.fileCount += child->fileCount;
    node.wastedBytes += child->wastedBytes;
    node.firstChild = child->next;
    delete child;
  }
}

void FoldChildInto(TDirEntry* child, TDirEntry& parent) {
  FoldSubtree(*child);
  parent.fileCount += child->fileCount;
  parent.wastedBytes += child->wastedBytes;
  delete child;
}

void MarkFolded(TDirEntry& node) {
  if (node.name.find(" ...") == std::string::npos) node.name += " ...";
}
