// Reading one folder: its listing summed into what the scan keeps of it,
// and what tells a loop of folders.
#include <algorithm>

#include "scan/clusters.h"
#include "scan/exclusions.h"
#include "scan/folder_listing.h"
#include "scan/folder_reader.h"
#include "settings/settings.h"

namespace {

bool CountsSize(uint32_t attributes) {
  return options.includeOffline || (attributes & platform::kAttrOffline) == 0;
}

struct FolderReading {
  const std::string& folderPath;
  FolderContents& contents;
};

// The whole clusters that `bytes` fill; clusters are nearly always a power
// of two, and a shift spares two divisions per file.
int64_t Clusters(int64_t bytes) {
  const int64_t cluster = effectiveClusterSize;
  if ((cluster & (cluster - 1)) == 0) return (bytes >> __builtin_ctzll(cluster)) + ((bytes & (cluster - 1)) != 0);
  return bytes / cluster + (bytes % cluster != 0);
}

// A file counts its length rounded up to whole clusters, but never more
// clusters than its allocation fills, where the system says: a sparse or
// compressed file counts the space it takes. Those clusters then lie below
// its length, so it wastes nothing.
int64_t CountedBytes(const platform::ListingEntry& entry, int64_t& slack) {
  // Most files have at least their length allocated: two comparisons decide.
  if (entry.allocatedBytes >= 0 && entry.allocatedBytes < entry.size &&
      Clusters(entry.allocatedBytes) < Clusters(entry.size)) {
    int64_t unused = 0;
    return ClusterRound(entry.allocatedBytes, unused);
  }
  return ClusterRound(entry.size, slack);
}

void CountFolder(FolderReading& reading, const platform::ListingEntry& entry) {
  auto& contents = reading.contents;
  if (entry.name == "." || entry.name == "..") {
    if (entry.name == ".") contents.identity = {entry.volumeId, entry.fileId};
    return;
  }
  // An excluded folder is never read; its entry still counted.
  if (IsExcluded(reading.folderPath, entry.name)) return;
  if ((entry.attributes & platform::kAttrOtherFileSystem) && !options.crossMounts) {
    contents.otherFileSystems.emplace_back(entry.name);
    return;
  }
  auto child = std::make_unique<TDirEntry>();
  child->name = entry.name;
  contents.subfolders.push_back({std::move(child), {entry.volumeId, entry.fileId}});
}

void CountEntry(void* context, const platform::ListingEntry& entry) {
  auto& reading = *static_cast<FolderReading*>(context);
  auto& contents = reading.contents;
  // An entry of summed files (whose only note is their newest time) stands for them all.
  const int32_t files = std::max(1, entry.summedFiles);
  contents.entryCount += files;
  if (entry.attributes & (platform::kAttrVolumeLabel | platform::kAttrReparsePoint)) return;
  if (entry.attributes & platform::kAttrDirectory) {
    CountFolder(reading, entry);
    return;
  }
  contents.fileCount = AddCount(contents.fileCount, files);
  if (!CountsSize(entry.attributes)) {
    if (notingFiles) NoteFile(contents.files, entry, 0, 0, false);
    return;
  }
  int64_t slack = entry.summedSlack;
  const int64_t bytes = entry.summedFiles != 0 ? entry.summedBytes : CountedFileBytes(entry, slack);
  const bool linked = entry.linkCount > 1 && !options.countEveryLink;
  if (notingFiles) NoteFile(contents.files, entry, bytes, slack, linked);
  if (linked) {
    contents.linkedFiles.push_back({entry.volumeId, entry.fileId, bytes, slack});
    return;
  }
  contents.localBytes = AddBytes(contents.localBytes, bytes);
  contents.wastedBytes = AddBytes(contents.wastedBytes, slack);
}

}  // namespace

int64_t CountedFileBytes(const platform::ListingEntry& entry, int64_t& slack) {
  return options.dirMode ? entry.size : CountedBytes(entry, slack);
}

// A loop is a bind mount of an ancestor, most often a few levels up; one
// further up the scan finds before it enters the folder, and a worker then
// has read a little in vain.
constexpr int kNearestOnPath = 64;

bool IsNearOnPath(const IdentityChain* path, const platform::FolderIdentity& identity) {
  if (identity == platform::FolderIdentity{}) return false;
  for (int steps = 0; path != nullptr && steps < kNearestOnPath; path = path->parent.get(), ++steps) {
    if (path->identity == identity) return true;
  }
  return false;
}

bool IdentitySet::Contains(const platform::FolderIdentity& identity) const {
  return identity != platform::FolderIdentity{} && counts_.count(identity) != 0;
}

void IdentitySet::Add(const platform::FolderIdentity& identity) { counts_[identity] += 1; }

void IdentitySet::Remove(const platform::FolderIdentity& identity) {
  const auto found = counts_.find(identity);
  if (found != counts_.end() && --found->second == 0) counts_.erase(found);
}

void ReadFolderContents(const std::string& folderPath, const platform::FolderIdentity& expected,
                        FolderContents& contents) {
  FolderReading reading{folderPath, contents};
  contents.status = folderLister(folderPath, expected, CountEntry, &reading);
  if (contents.status == platform::ListStatus::PathNotFound || contents.status == platform::ListStatus::Changed) {
    const platform::ListStatus status = contents.status;
    contents = FolderContents{};
    contents.status = status;
    return;
  }
  // The scan takes subfolders from the last listed to the first.
  std::reverse(contents.subfolders.begin(), contents.subfolders.end());
  // A listing that gives no identity of its own folder: what its parent saw.
  if (contents.identity == platform::FolderIdentity{}) contents.identity = expected;
}

void (*folderContentsReader)(const std::string&, const platform::FolderIdentity&,
                             FolderContents&) = ReadFolderContents;

bool FitsPathLimit(size_t folderLength, const std::string& name) {
  return folderLength + platform::PathLength(name) + 3 <= static_cast<size_t>(platform::kMaxScanPathLength);
}

ReadWait ReadNotingWait(const std::string& folderPath, const platform::FolderIdentity& expected,
                        FolderContents& contents, bool noteWait) {
  const int64_t waitsBefore = noteWait ? platform::ThreadWaitCount() : -1;
  ReadFolderContents(folderPath, expected, contents);
  if (waitsBefore < 0) return ReadWait::unknown;
  return platform::ThreadWaitCount() > waitsBefore ? ReadWait::waited : ReadWait::none;
}

// Each index takes one byte below 0x80, two below 0x4000, else five; the
// first byte tells which, and orders the three kinds as their numbers.
void AppendScanPlace(std::string& place, uint32_t index) {
  if (index < 0x80) {
    place += static_cast<char>(index);
  } else if (index < 0x4000) {
    place += static_cast<char>(0x80 | (index >> 8));
    place += static_cast<char>(index & 0xFF);
  } else {
    place += static_cast<char>(0xC0);
    for (int shift = 24; shift >= 0; shift -= 8) place += static_cast<char>((index >> shift) & 0xFF);
  }
}
