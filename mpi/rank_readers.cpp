// Within a rank folders are read last-in first-out, in the order the scan
// takes them; a thief takes the oldest, the folders nearest the top. How
// many are read at once follows the single program's rule (ReadConcurrency):
// from memory what the processors reward, from a disk up to 64 reads in
// flight. Rank 0's scan reads too: the folder it takes next, when that is
// in its own queue, straight into its contents as the single program reads
// it; otherwise another while it waits. Before MPI has started it is the
// whole walk.
#include "mpi/rank_readers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "mpi/rank_state.h"
#include "scan/folder_reader.h"
#include "scan/read_concurrency.h"

RankWalk walk;
size_t rankMemoryBound = size_t{64} << 20;
int readersPerRank = 0;

namespace {

// Whether a read waited is asked of one read in so many, as the single
// program asks: two system calls, a noticeable share of a warm folder.
constexpr uint64_t kReadsPerWaitSample = 8;

// The listing this thread is recording, while a rank other than 0 reads a
// folder for the walk; the listing rank 0's scan replays.
thread_local std::string* recording = nullptr;
thread_local const std::string_view* replaying = nullptr;

void ReaderLoop();

// A listing kept costs its slot too, in a table at least half free.
constexpr size_t kSlotBytes = 2 * sizeof(KeptListings::Slot);

// What the scan took leaves rank 0; below the bound again, its readers
// read on.
void LowerKept(size_t bytes) {
  const bool wasFull = KeptFull();
  walk.keptBytes -= bytes;
  if (wasFull && !KeptFull()) walk.workChanged.notify_all();
}

// A batch whose listings the scan has all taken.
void ReleaseBatch(KeptBatch* batch) {
  LowerKept(batch->bytes.capacity() + batch->listings * kSlotBytes);
  delete batch;
}

// What a folder read ahead of rank 0's scan holds until the scan takes it.
size_t OwnReadBytes(const std::string& path, const FolderContents& contents) {
  size_t bytes = 64 + sizeof(FolderContents) + path.capacity() +
                 contents.subfolders.capacity() * sizeof(FolderContents::Subfolder) +
                 contents.linkedFiles.capacity() * sizeof(FolderContents::LinkedFile);
  for (const FolderContents::Subfolder& subfolder : contents.subfolders) {
    bytes += sizeof(TDirEntry) + subfolder.record->name.capacity();
  }
  for (const std::string& name : contents.otherFileSystems) bytes += sizeof(std::string) + name.capacity();
  return bytes;
}

void KeepOwnRead(std::string path, FolderContents contents) {
  walk.keptBytes += OwnReadBytes(path, contents);
  const bool awaited = walk.awaited != nullptr && path == *walk.awaited;
  walk.ownReads.emplace(std::move(path), std::move(contents));
  if (awaited) walk.listingKept.notify_one();
}

bool TakeOwnRead(const std::string& path, FolderContents& contents) {
  if (walk.ownReads.empty()) return false;
  const auto found = walk.ownReads.find(path);
  if (found == walk.ownReads.end()) return false;
  LowerKept(OwnReadBytes(found->first, found->second));
  contents = std::move(found->second);
  walk.ownReads.erase(found);
  return true;
}

// A walk that cannot give the scan a folder's listing ends the run; the
// run's end ends MPI.
[[noreturn]] void EndRankZeroWithFault(const std::string& text) {
  std::fprintf(stderr, "tallyfold-mpi: rank 0: %s\n", text.c_str());
  std::exit(3);
}

// One thread for each reader beyond the one the rank reads with anyway
// (rank 0's scan, another rank's MPI thread).
void StartReadersForCount() {
  while (!walk.stopping && walk.readers.size() + 1 < static_cast<size_t>(walk.control.count)) {
    walk.readers.emplace_back(ReaderLoop);
  }
}

void ReaderLoop() {
  std::unique_lock<std::mutex> hold(walk.lock);
  while (!walk.stopping) {
    if (ReadOneFolder(hold, false)) continue;
    walk.idleReaders += 1;
    walk.workChanged.wait(hold);
    walk.idleReaders -= 1;
  }
}

int64_t Nanos(Clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// The subfolders of a folder read, as the scan would enter them: not a
// loop, and within the path limit; the first the scan takes comes last.
std::vector<FolderItem> SubfolderItems(const FolderItem& item, const FolderContents& contents) {
  std::vector<FolderItem> items;
  if (contents.subfolders.empty()) return items;
  const auto path = std::make_shared<const IdentityChain>(IdentityChain{contents.identity, item.ancestors});
  const size_t folderLength = platform::PathLength(item.path);
  items.reserve(contents.subfolders.size());
  for (size_t i = contents.subfolders.size(); i-- > 0;) {
    const FolderContents::Subfolder& subfolder = contents.subfolders[i];
    if (!FitsPathLimit(folderLength, subfolder.record->name) || IsNearOnPath(path.get(), subfolder.identity)) continue;
    items.push_back({item.path + subfolder.record->name + platform::kPathSeparator, subfolder.identity, path});
  }
  return items;
}

// What a read gives the rank, with the lock held again: its subfolders to
// read, its listing to send (ranks other than 0), and its figures.
void TakeRead(std::vector<FolderItem> subfolders, std::string& listing, int32_t entries, ReadWait wait) {
  const Clock::time_point end = Clock::now();
  // Busy is the time some folder was being read, however many at once.
  if (--walk.reading == 0) walk.own.busySeconds += std::chrono::duration<double>(end - walk.busySince).count();
  const size_t queued = subfolders.size();
  for (FolderItem& subfolder : subfolders) PushItem(std::move(subfolder));
  if (walk.rank != 0) {
    walk.listings.append(listing);
    if (walk.listings.size() >= kBatchBytes) walk.mpiWake.notify_one();
    listing.clear();
  }
  walk.own.folders += 1;
  walk.own.entries += static_cast<uint64_t>(entries);
  if (readersPerRank == 0 && RecordFolderRead(walk.control, Nanos(end), entries, wait)) StartReadersForCount();
  WakeReaders(queued);
  if (RankIdle()) walk.mpiWake.notify_one();
}

}  // namespace

size_t ItemBytes(const FolderItem& item) { return sizeof(FolderItem) + item.path.capacity(); }

void PushItem(FolderItem item) {
  walk.queueBytes += ItemBytes(item);
  walk.queue.push_back(std::move(item));
}

bool RankIdle() { return walk.queue.empty() && walk.reading == 0; }

size_t KeptBound() { return rankMemoryBound / 4; }

bool KeptFull() { return walk.keptBytes >= KeptBound(); }

bool AtMemoryBound() {
  if (walk.rank == 0) return KeptFull();
  const size_t sending = walk.listings.size() + walk.sendingBytes;
  return walk.held || (sending > 0 && walk.queueBytes + sending >= rankMemoryBound);
}

void WakeReaders(size_t folders) {
  for (size_t n = std::min<size_t>(folders, static_cast<size_t>(walk.idleReaders)); n > 0; --n) {
    walk.workChanged.notify_one();
  }
}

namespace {

FolderItem TakeQueued(std::deque<FolderItem>::iterator at) {
  FolderItem item = std::move(*at);
  if (std::next(at) == walk.queue.end()) {
    walk.queue.pop_back();
  } else {
    walk.queue.erase(at);
  }
  walk.queueBytes -= ItemBytes(item);
  return item;
}

// Reads a folder taken from the queue into `contents`, releasing the lock
// while it reads; a rank other than 0 records its listing to send.
void ReadItem(std::unique_lock<std::mutex>& hold, const FolderItem& item, FolderContents& contents) {
  if (walk.reading++ == 0) walk.busySince = Clock::now();
  const bool noteWait = walk.readsStarted++ % kReadsPerWaitSample == 0;
  const bool recordsListing = walk.rank != 0;
  hold.unlock();
  thread_local std::string listing;
  recording = recordsListing ? &listing : nullptr;
  const ReadWait wait = ReadNotingWait(item.path, item.identity, contents, noteWait);
  recording = nullptr;
  std::vector<FolderItem> subfolders = SubfolderItems(item, contents);
  hold.lock();
  TakeRead(std::move(subfolders), listing, contents.entryCount, wait);
  if (!walk.wanted.empty() && item.path == walk.wanted) {
    walk.wanted.clear();
    walk.wantedRead = true;
    walk.mpiWake.notify_one();
  }
}

}  // namespace

bool ReadOneFolder(std::unique_lock<std::mutex>& hold, bool beyondCount) {
  if (walk.queue.empty() || (!beyondCount && (walk.reading >= walk.control.count || AtMemoryBound()))) return false;
  FolderItem item = TakeQueued(std::prev(walk.queue.end()));
  FolderContents contents;
  ReadItem(hold, item, contents);
  if (walk.rank == 0) KeepOwnRead(std::move(item.path), std::move(contents));
  return true;
}

void StartReading() {
  StartReadConcurrency(walk.control, kMaxReadConcurrency, platform::UsableProcessors());
  if (readersPerRank == 0) return;
  walk.control.count = readersPerRank;
  StartReadersForCount();
}

void StopReaders() {
  std::vector<std::thread> readers;
  {
    std::lock_guard<std::mutex> hold(walk.lock);
    walk.stopping = true;
    readers = std::move(walk.readers);
  }
  walk.workChanged.notify_all();
  for (std::thread& reader : readers) reader.join();
}

void KeepListings(std::string bytes) {
  auto* batch = new KeptBatch{std::move(bytes)};
  WireReader reader{batch->bytes};
  while (!reader.AtEnd()) {
    const size_t at = reader.at;
    const RecordedListing listing = NextListing(reader);
    if (!KeepListing(walk.kept, listing.path, PathHash(listing.path), batch, at)) continue;
    batch->untaken += 1;
    batch->listings += 1;
    if (walk.awaited != nullptr && listing.path == *walk.awaited) walk.listingKept.notify_one();
  }
  walk.keptBytes += batch->bytes.capacity() + batch->listings * kSlotBytes;
  if (batch->untaken == 0) ReleaseBatch(batch);
}

namespace {

// How far from the back of rank 0's queue the scan looks for the folder it
// takes next: it is nearly always the last, or behind the few its readers
// took since. Beyond the bound, where the scan reads nothing else, it looks
// through the whole queue.
constexpr size_t kNearBack = 64;

// The folder the scan takes next, when it is in its own rank's queue.
bool TakeForScan(const std::string& folderPath, FolderItem& item) {
  const size_t look = KeptFull() ? walk.queue.size() : std::min(walk.queue.size(), kNearBack);
  for (size_t back = 1; back <= look; ++back) {
    const auto at = walk.queue.end() - static_cast<std::ptrdiff_t>(back);
    if (at->path != folderPath) continue;
    item = TakeQueued(at);
    return true;
  }
  return false;
}

// The scan's first folder begins the walk: the start folder is queued, and
// the MPI thread tells the other ranks once MPI has started.
void BeginWalkOnRankZero(const std::string& folderPath, const platform::FolderIdentity& expected) {
  walk.begun = true;
  walk.startPath = folderPath;
  StartReading();
  PushItem({folderPath, expected, nullptr});
  walk.mpiWake.notify_one();
}

// Replays a listing another rank read into the scan's contents.
void ReplayInto(std::unique_lock<std::mutex>& hold, const TakenListing& listing, const std::string& folderPath,
                const platform::FolderIdentity& expected, FolderContents& contents) {
  hold.unlock();
  replaying = &listing.body;
  ReadFolderContents(folderPath, expected, contents);
  replaying = nullptr;
  hold.lock();
  if (--listing.batch->untaken == 0) ReleaseBatch(listing.batch);
}

}  // namespace

void ContentsForRank(const std::string& folderPath, const platform::FolderIdentity& expected,
                     FolderContents& contents) {
  std::unique_lock<std::mutex> hold(walk.lock);
  if (!walk.begun) BeginWalkOnRankZero(folderPath, expected);
  const uint64_t hash = PathHash(folderPath);
  for (;;) {
    if (TakeOwnRead(folderPath, contents)) return;
    if (const TakenListing listing = TakeListing(walk.kept, folderPath, hash); listing.batch != nullptr) {
      return ReplayInto(hold, listing, folderPath, expected, contents);
    }
    if (FolderItem item; TakeForScan(folderPath, item)) return ReadItem(hold, item, contents);
    // Putting the scan to sleep and waking it costs more than a folder
    // takes from the cache: it reads another itself, whatever the count.
    if (!KeptFull() && ReadOneFolder(hold, true)) continue;
    if (walk.walkOver) {
      hold.unlock();
      EndRankZeroWithFault("no rank read the folder " + folderPath);
    }
    // The MPI thread lets the held ranks read on while the scan waits.
    walk.awaited = &folderPath;
    walk.mpiWake.notify_one();
    walk.listingKept.wait(hold);
    walk.awaited = nullptr;
  }
}

platform::ListStatus ListForRank(const std::string& folderPath, const platform::FolderIdentity& expected,
                                 platform::EntryVisitor visit, void* context) {
  if (recording != nullptr) return ListRecording(folderPath, expected, visit, context, *recording);
  if (replaying != nullptr) return ReplayListing(*replaying, visit, context);
  return platform::ListFolder(folderPath, expected, visit, context);
}
