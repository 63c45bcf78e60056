#include "scan/scanner.h"

#include <algorithm>
#include <limits>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "console/text.h"
#include "console/writer.h"
#include "scan/exclusions.h"
#include "scan/folder_identities.h"
#include "scan/folder_reader.h"
#include "scan/linked_names.h"
#include "scan/reading_prompt.h"
#include "settings/settings.h"

ScanTotals scanTotals;
TDirEntry root;
std::string scanPath;
std::string allowanceFreeRoot;

namespace {

int32_t scanDepth = 0;

// The finished children of every folder on the current path, each folder's
// run above the runs of its ancestors; one vector serves the whole scan so
// that no folder allocates its own.
std::vector<TDirEntry*> finishedChildren;

// Each directory entry takes 32 bytes in its folder's own allocation.
constexpr int64_t kDirectoryEntryBytes = 32;

// Files with several hard links whose bytes have been counted in this scan.
std::set<std::pair<uint64_t, uint64_t>> linkedFilesCounted;

// Set while workers read ahead of the scan.
bool readingAhead = false;
// Set while a folder below the start folder is read again: one that cannot
// be read stays in the tree as an empty folder, as the whole scan keeps it.
bool readingAgain = false;
// The place in the scan of the folder being scanned, which the jobs of its
// subfolders extend.
std::string scanPlace;
// The identities of the folder being scanned and of its ancestors, as a
// chain that the jobs of its subfolders share, and as a set to look up.
IdentityPath scanAncestry;
IdentitySet scanAncestors;

void ReportMissingPath() {
  WriteErrorLine("Path was not found (invalid character or maximum path length exceeded?): " +
                 scanPath);
}

void ReportUnreadable(const std::string& reason) {
  WriteErrorLine("Cannot read folder " + scanPath + ": " + reason);
}

void ReportChanged() { WriteErrorLine("Folder changed during the scan: " + scanPath); }

void ReportLoop() { WriteErrorLine("Folder loop: " + scanPath); }

void ReportOtherFileSystems(const FolderContents& contents) {
  for (const std::string& name : contents.otherFileSystems) {
    WriteErrorLine("Not scanned: " + scanPath + name + platform::kPathSeparator +
                   " (another file system; -mounts scans it)");
  }
}

void ReportPathTooLong(const TDirEntry& child) {
  WriteErrorLine("Maximum path length of " + std::to_string(platform::kMaxScanPathLength) +
                 " exceeded for folder " + scanPath + child.name);
  WriteErrorLine("Path skipped");
}

// The first folder the scan takes a linked file from counts its bytes; the
// folders are taken in the same order with or without workers. Where each
// name was met is kept, for a removal of the counted one.
void CountLinkedFiles(TDirEntry& node, const FolderContents& contents) {
  for (size_t i = 0; i < contents.linkedFiles.size(); ++i) {
    const FolderContents::LinkedFile& file = contents.linkedFiles[i];
    const bool counted = linkedFilesCounted.emplace(file.volumeId, file.fileId).second;
    NoteLinkedName(file.volumeId, file.fileId, file.bytes, file.slack, scanPath, counted);
    if (!counted) continue;
    if (contents.files != nullptr) NoteCountedLinkedFile(*contents.files, i, file.slack);
    node.localBytes = AddBytes(node.localBytes, file.bytes);
    node.wastedBytes = AddBytes(node.wastedBytes, file.slack);
  }
}

// The directory entries of a folder take 32 bytes each in its own
// allocation; a drive's root folder has no entry of its own to hold them.
int64_t DirectoryAllowance(int32_t entryCount, int64_t& waste) {
  return ClusterRound(entryCount * kDirectoryEntryBytes, waste);
}

void CountOwnContents(TDirEntry& node, const FolderContents& contents) {
  node.entryCount = contents.entryCount;
  node.fileCount = AddCount(node.fileCount, contents.fileCount);
  node.localBytes = AddBytes(node.localBytes, contents.localBytes);
  node.wastedBytes = AddBytes(node.wastedBytes, contents.wastedBytes);
  CountLinkedFiles(node, contents);
  scanTotals.totalFiles = AddCount(scanTotals.totalFiles, contents.fileCount);
  if (options.dirMode) return;
  if (scanPath != allowanceFreeRoot) {
    node.localBytes = AddBytes(node.localBytes, DirectoryAllowance(contents.entryCount, node.wastedBytes));
  }
  scanTotals.totalWasted = AddBytes(scanTotals.totalWasted, node.wastedBytes);
}

// A folder the scan read alone offers its subfolders not yet scanned once
// workers may read. Its last one the scan reads at once, with nothing left
// to offer: in a chain of folders an offer per folder would copy the path
// of each, as long as the chain is deep.
FolderJobHandle JobOfSubfolder(FolderContents& contents, size_t i, size_t folderLength) {
  if (contents.subfolderJobs == nullptr) {
    if (i + 1 == contents.subfolders.size() || !WorkersMayReadAhead()) return nullptr;
    scanPath.resize(folderLength);
    OfferSubfolders(scanPath, scanPlace, i, scanAncestry, contents);
  }
  return TakeSubfolderJob(contents, i);
}

// A folder with subfolders while they are scanned: the scan keeps one per
// level of the current path in a stack of its own, so that a chain of any
// depth costs heap, never the call stack.
struct ScanLevel {
  TDirEntry* node;
  FolderContents contents;
  size_t folderLength;   // of scanPath, with its separator
  size_t firstFinished;  // where its children begin in finishedChildren
  IdentityPath parentAncestry;
  size_t next = 0;  // the subfolder to scan next
  // The subfolder being scanned, and the job a worker made of it.
  TDirEntry* child = nullptr;
  bool childScanned = false;  // not skipped for the length of its path
  FolderJobHandle childJob;
  size_t placeLength = 0;
};

// The subfolder's figures reach its folder once its own subtree is
// complete; then it is folded or kept for linking.
void FinishChild(ScanLevel& level) {
  TDirEntry& node = *level.node;
  TDirEntry* child = level.child;
  if (level.childScanned) {
    // Held so that the folder's own total stays within the limit too.
    node.subBytes = std::min(AddBytes(node.subBytes, TotalBytes(*child)),
                             std::numeric_limits<int64_t>::max() - node.localBytes);
    node.modifiedSeconds = std::max(node.modifiedSeconds, child->modifiedSeconds);
  }
  if (!FoldFinishedChild(node, child, scanDepth)) finishedChildren.push_back(child);
  level.child = nullptr;
  scanPlace.resize(level.placeLength);
  level.childJob.reset();
}

// The children go into their folder's list in the order of the sort.
void FinishLevel(ScanLevel& level) {
  LinkChildrenOrdered(*level.node, finishedChildren.data() + level.firstFinished,
                      finishedChildren.size() - level.firstFinished);
  finishedChildren.resize(level.firstFinished);
  scanPath.resize(level.folderLength);
  scanAncestors.Remove(scanAncestry->identity);
  scanAncestry = std::move(level.parentAncestry);
  scanDepth -= 1;
}

// How reading one folder ended.
enum class FolderRead { notFound, done, hasSubfolders };

// Reads the folder in scanPath (or takes what a worker read of it) into
// `node`; a folder with subfolders goes onto `levels`. A folder already on
// its own path is not entered, nor one that changed since its parent's
// listing saw it as `expected`: each stays an empty folder.
FolderRead ReadFolder(TDirEntry& node, FolderJob* job, const platform::FolderIdentity& expected,
                      std::vector<ScanLevel>& levels) {
  TurnSpinner();
  // In place: moving the path in and out took some 70 instructions of
  // every folder.
  if (scanPath.empty() || scanPath.back() != platform::kPathSeparator) scanPath += platform::kPathSeparator;
  const size_t folderLength = scanPath.size();
  if (scanAncestors.Contains(expected)) {
    ReportLoop();
    return FolderRead::done;
  }
  FolderContents contents;
  if (job != nullptr) {
    TakeContents(*job, contents);
  } else if (readingAhead) {
    ReadFolderAlone(scanPath, expected, contents);
  } else {
    folderContentsReader(scanPath, expected, contents);
  }
  NoteFolderIdentity(node, contents.identity);
  if (contents.status == platform::ListStatus::PathNotFound) {
    ReportMissingPath();
    return FolderRead::notFound;  // the contents hold nothing: a folder not found keeps no records
  }
  if (contents.status == platform::ListStatus::Changed) {
    ReportChanged();
    return FolderRead::done;
  }
  if (contents.status == platform::ListStatus::Failed) {
    ReportUnreadable(contents.status.reason);
    node.unreadable = true;
    scanTotals.unreadableFolders += 1;
    // A start folder of which nothing could be read makes no report.
    if (scanAncestry == nullptr && !readingAgain && contents.entryCount == 0) return FolderRead::notFound;
  }
  // What was listed before a failure still counts.
  scanDepth += 1;
  CountOwnContents(node, contents);
  if (contents.files != nullptr) {
    TakeFolderFiles(scanPath, *contents.files);
    node.modifiedSeconds = std::max(node.modifiedSeconds, contents.files->newestModified);
  }
  ReportOtherFileSystems(contents);
  CountFolderProgress(contents.localBytes);
  if (contents.subfolders.empty()) {
    scanDepth -= 1;
    return FolderRead::done;
  }
  // Only a folder with subfolders needs its place on the identity path.
  IdentityPath parentAncestry = std::move(scanAncestry);
  scanAncestry = std::make_shared<const IdentityChain>(IdentityChain{contents.identity, parentAncestry});
  scanAncestors.Add(contents.identity);
  levels.push_back({&node, std::move(contents), folderLength, finishedChildren.size(), std::move(parentAncestry), 0,
                    nullptr, false, nullptr, 0});
  return FolderRead::hasSubfolders;
}

// Takes the folder's next subfolder: reads it, unless its path is too long,
// onto the stack when it has subfolders of its own.
void ScanNextChild(std::vector<ScanLevel>& levels) {
  ScanLevel& level = levels.back();
  const size_t i = level.next++;
  FolderContents::Subfolder& subfolder = level.contents.subfolders[i];
  level.childJob = readingAhead ? JobOfSubfolder(level.contents, i, level.folderLength) : nullptr;
  level.placeLength = scanPlace.size();
  if (readingAhead) AppendScanPlace(scanPlace, static_cast<uint32_t>(i));
  level.child = subfolder.record.release();
  scanPath.resize(level.folderLength);
  level.childScanned = FitsPathLimit(platform::PathLength(scanPath), level.child->name);
  if (!level.childScanned) {
    ReportPathTooLong(*level.child);
    return;
  }
  scanPath += level.child->name;
  ReadFolder(*level.child, level.childJob.get(), subfolder.identity, levels);
}

// Scans the folder in scanPath and everything below it into `node`.
bool ScanFolderFrom(TDirEntry& node) {
  std::vector<ScanLevel> levels;
  if (ReadFolder(node, nullptr, {}, levels) == FolderRead::notFound) return false;
  while (!levels.empty()) {
    ScanLevel& level = levels.back();
    if (level.child != nullptr) FinishChild(level);
    if (level.next < level.contents.subfolders.size()) {
      ScanNextChild(levels);
    } else {
      FinishLevel(level);
      levels.pop_back();
    }
  }
  return true;
}

// A linked file is counted once per scan.
void BeginSubtreeScan() {
  scanPath = EnsureTrailingBackslash(std::move(scanPath));
  linkedFilesCounted.clear();
  scanPlace.clear();
  scanAncestry.reset();
  scanAncestors.Clear();
  BeginFileNotes(scanPath);
}

// Exclusion paths are relative to the start folder; the names of linked
// files are those of this scan alone.
void BeginScan() {
  scanPath = EnsureTrailingBackslash(std::move(scanPath));
  AnchorExclusions(scanPath);
  ForgetAllLinkedNames();
  BeginSubtreeScan();
}

}  // namespace

bool ScanFolder(TDirEntry& node) {
  BeginScan();
  const bool scanned = ScanFolderFrom(node);
  FinishFileNotes();
  return scanned;
}

bool RescanFolder(TDirEntry& node, int32_t depth, int threads) {
  BeginSubtreeScan();
  // A linked file counted elsewhere in the tree is not counted again, as a
  // fresh scan counts it once.
  if (options.pauseEachPage) {
    for (const auto& id : CountedLinkedFiles()) linkedFilesCounted.insert(id);
  }
  scanDepth = depth;
  readingAgain = depth > 0;
  readingAhead = threads != 1;
  if (readingAhead) StartReadingAhead(threads);
  const bool scanned = ScanFolderFrom(node);
  if (readingAhead) StopReadingAhead();
  readingAhead = false;
  readingAgain = false;
  scanDepth = 0;
  FinishFileNotes();
  // The folder itself is a child at its depth, whose subtree is complete now.
  if (depth >= options.maxDepth && node.firstChild != nullptr) {
    FoldSubtree(node);
    MarkFolded(node);
  }
  return scanned;
}

bool ScanFolderAhead(TDirEntry& node, int threads) {
  BeginScan();
  readingAhead = true;
  StartReadingAhead(threads);
  const bool scanned = ScanFolderFrom(node);
  StopReadingAhead();
  readingAhead = false;
  FinishFileNotes();
  return scanned;
}

AllowanceChange DropListingEntry(TDirEntry& folder, bool isStartFolder) {
  if (folder.entryCount == 0) return {};
  folder.entryCount -= 1;
  if (options.dirMode || (isStartFolder && EnsureTrailingBackslash(folder.name) == allowanceFreeRoot)) return {};
  int64_t wasteBefore = 0, wasteAfter = 0;
  const int64_t before = DirectoryAllowance(folder.entryCount + 1, wasteBefore);
  const int64_t after = DirectoryAllowance(folder.entryCount, wasteAfter);
  const AllowanceChange change{after - before, wasteAfter - wasteBefore};
  folder.localBytes = AddBytes(folder.localBytes, change.bytes);
  folder.wastedBytes = AddBytes(folder.wastedBytes, change.wasted);
  return change;
}

int64_t SortKey(const TDirEntry& entry) {
  switch (options.sortOrder) {
    case SortOrder::local: return entry.localBytes;
    case SortOrder::total: return TotalBytes(entry);
    case SortOrder::waste: return entry.wastedBytes;
    case SortOrder::files: return entry.fileCount;
    case SortOrder::age: return entry.modifiedSeconds;
    default: return 0;
  }
}

namespace {

// A child's upper-cased name as the sort compares it: most names differ
// in their first eight bytes, which compare as one number (names hold no
// zero byte, so a shorter name's padding sorts it first, as the bytewise
// order does); equal names keep the order they arrived in, as a stable
// sort would. Ordering 1,000 children so took a third fewer instructions
// than a stable sort of the names themselves.
struct NameKey {
  uint64_t prefix;
  std::string_view name;
  uint32_t arrival;
  TDirEntry* entry;
  bool operator<(const NameKey& other) const {
    if (prefix != other.prefix) return prefix < other.prefix;
    if (const int order = name.compare(other.name); order != 0) return order < 0;
    return arrival < other.arrival;
  }
};

uint64_t NamePrefix(std::string_view name) {
  uint64_t prefix = 0;
  for (size_t i = 0; i < 8; ++i) prefix = prefix << 8 | (i < name.size() ? static_cast<unsigned char>(name[i]) : 0u);
  return prefix;
}

constexpr size_t kKeptSortBuffer = 10'000;

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
  for (size_t i = 0; i < count; ++i) children[i]->scanOrder = static_cast<int32_t>(i);
  // Most folders have one subfolder or none: nothing to order.
  if (count < 2) {
    LinkInSequence(parent, children, count);
    return;
  }
  if (options.sortOrder == SortOrder::name) {
    // The sort moves views of the upper-cased names as the report shows
    // them, which are cheaper to move than the names themselves. The names
    // and keys of one folder are held in buffers that serve every folder:
    // made anew for each, they took as much time as the sort.
    static std::string upperNames;
    static std::vector<size_t> nameEnds;
    static std::vector<NameKey> keyed;
    upperNames.clear();
    nameEnds.clear();
    keyed.clear();
    for (size_t i = 0; i < count; ++i) {
      const TDirEntry& child = *children[i];
      upperNames += child.folded ? UpperText(MarkedName(child)) : UpperText(child.name);
      nameEnds.push_back(upperNames.size());
    }
    for (size_t i = 0; i < count; ++i) {
      const size_t start = i == 0 ? 0 : nameEnds[i - 1];
      const std::string_view name = std::string_view(upperNames).substr(start, nameEnds[i] - start);
      keyed.push_back({NamePrefix(name), name, static_cast<uint32_t>(i), children[i]});
    }
    std::sort(keyed.begin(), keyed.end());
    for (size_t i = 0; i < count; ++i) children[i] = keyed[i].entry;
    // The buffers of a very wide folder are not kept for the next.
    if (count > kKeptSortBuffer) {
      upperNames = std::string();
      nameEnds = std::vector<size_t>();
      keyed = std::vector<NameKey>();
    }
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

// The children go back into the order the scan finished them in, which the
// ties of every order depend on, and are linked again from there.
void RelinkTree(TDirEntry& folder) {
  std::vector<TDirEntry*> pending{&folder};
  while (!pending.empty()) {
    TDirEntry& next = *pending.back();
    pending.pop_back();
    RelinkChildren(next);
    for (TDirEntry* child = next.firstChild; child != nullptr; child = child->next) pending.push_back(child);
  }
}

void RelinkChildren(TDirEntry& folder) {
  const size_t first = finishedChildren.size();
  for (TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
    finishedChildren.push_back(child);
  }
  std::stable_sort(finishedChildren.begin() + static_cast<std::ptrdiff_t>(first), finishedChildren.end(),
                   [](const TDirEntry* a, const TDirEntry* b) { return a->scanOrder < b->scanOrder; });
  LinkChildrenOrdered(folder, finishedChildren.data() + first, finishedChildren.size() - first);
  finishedChildren.resize(first);
}

// Each child's own children take its place at the head of the list before
// it is released, so every descendant is folded in once, with no stack
// however deep the subtree.
void FoldSubtree(TDirEntry& node) {
  while (TDirEntry* child = node.firstChild) {
    node.firstChild = child->next;
    if (TDirEntry* last = child->firstChild) {
      while (last->next != nullptr) last = last->next;
      last->next = node.firstChild;
      node.firstChild = child->firstChild;
    }
    node.fileCount = AddCount(node.fileCount, child->fileCount);
    node.wastedBytes = AddBytes(node.wastedBytes, child->wastedBytes);
    delete child;
  }
}

bool FoldFinishedChild(TDirEntry& parent, TDirEntry* child, int32_t childDepth) {
  if (childDepth >= options.maxDepth && child->firstChild != nullptr) {
    FoldSubtree(*child);
    MarkFolded(*child);
  }
  if (options.minFolderBytes <= TotalBytes(*child)) return false;
  MarkFolded(parent);
  FoldChildInto(child, parent);
  return true;
}

void FoldChildInto(TDirEntry* child, TDirEntry& parent) {
  FoldSubtree(*child);
  parent.fileCount = AddCount(parent.fileCount, child->fileCount);
  parent.wastedBytes = AddBytes(parent.wastedBytes, child->wastedBytes);
  delete child;
}

void MarkFolded(TDirEntry& node) { node.folded = true; }
