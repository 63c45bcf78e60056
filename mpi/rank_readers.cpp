// Within a rank folders are read last-in first-out, in the order the scan
// takes them; a thief takes the oldest, the folders nearest the top. How
// many are read at once follows the single program's rule (ReadConcurrency):
// from memory what the processors reward, from a disk up to 64 reads in
// flight. Rank 0's scan reads too while it waits for a listing, and before
// MPI has started it is the whole walk.
#include "mpi/rank_readers.h"

#include <cstdio>
#include <cstdlib>
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

// The listing this thread is recording, while it reads a folder for the walk.
thread_local std::string* recording = nullptr;

void ReaderLoop();

// A listing kept costs its slot too, in a table at least half free.
constexpr size_t kSlotBytes = 2 * sizeof(KeptListings::Slot);

// A batch whose listings the scan has all taken; below the bound again,
// rank 0's readers read on.
void ReleaseBatch(KeptBatch* batch) {
  const bool wasFull = KeptFull();
  walk.keptBytes -= batch->bytes.capacity() + batch->listings * kSlotBytes;
  delete batch;
  if (wasFull && !KeptFull()) walk.workChanged.notify_all();
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
// read, its listing to send (rank 0: to keep), and its figures.
void TakeRead(std::vector<FolderItem> subfolders, std::string& listing, int32_t entries, ReadWait wait) {
  const Clock::time_point end = Clock::now();
  // Busy is the time some folder was being read, however many at once.
  if (--walk.reading == 0) walk.own.busySeconds += std::chrono::duration<double>(end - walk.busySince).count();
  const size_t queued = subfolders.size();
  for (FolderItem& subfolder : subfolders) PushItem(std::move(subfolder));
  if (walk.rank == 0) {
    KeepListings(std::move(listing));
  } else {
    walk.listings.append(listing);
    if (walk.listings.size() >= kBatchBytes) walk.mpiWake.notify_one();
  }
  listing.clear();
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

bool ReadOneFolder(std::unique_lock<std::mutex>& hold, bool beyondCount) {
  if (walk.queue.empty() || (!beyondCount && (walk.reading >= walk.control.count || AtMemoryBound()))) return false;
  FolderItem item = std::move(walk.queue.back());
  walk.queue.pop_back();
  walk.queueBytes -= ItemBytes(item);
  if (walk.reading++ == 0) walk.busySince = Clock::now();
  const bool noteWait = walk.readsStarted++ % kReadsPerWaitSample == 0;
  hold.unlock();
  thread_local std::string listing;
  FolderContents contents;
  recording = &listing;
  const ReadWait wait = ReadNotingWait(item.path, item.identity, contents, noteWait);
  recording = nullptr;
  std::vector<FolderItem> subfolders = SubfolderItems(item, contents);
  hold.lock();
  TakeRead(std::move(subfolders), listing, contents.entryCount, wait);
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

// Beyond the bound the scan reads only the folder it takes next, when it
// is in its own rank's queue (mostly at the back, but work taken from
// other ranks goes behind it): true when it is there, now at the back.
bool NextForScanAtBack(const std::string& folderPath) {
  for (auto item = walk.queue.rbegin(); item != walk.queue.rend(); ++item) {
    if (item->path != folderPath) continue;
    if (item != walk.queue.rbegin()) {
      FolderItem next = std::move(*item);
      walk.queue.erase(std::next(item).base());
      walk.queue.push_back(std::move(next));
    }
    return true;
  }
  return false;
}

// The scan's first listing begins the walk: the start folder is queued, and
// the MPI thread tells the other ranks once MPI has started.
void BeginWalkOnRankZero(const std::string& folderPath, const platform::FolderIdentity& expected) {
  walk.begun = true;
  walk.startPath = folderPath;
  StartReading();
  PushItem({folderPath, expected, nullptr});
  walk.mpiWake.notify_one();
}

// The scan takes each folder's listing once some rank has read it; while it
// waits, it reads from its own rank's queue.
platform::ListStatus ListThroughRanks(const std::string& folderPath, const platform::FolderIdentity& expected,
                                      platform::EntryVisitor visit, void* context) {
  const uint64_t hash = PathHash(folderPath);
  std::unique_lock<std::mutex> hold(walk.lock);
  if (!walk.begun) BeginWalkOnRankZero(folderPath, expected);
  for (;;) {
    const TakenListing listing = TakeListing(walk.kept, folderPath, hash);
    if (listing.batch != nullptr) {
      hold.unlock();
      const platform::ListStatus status = ReplayListing(listing.body, visit, context);
      hold.lock();
      if (--listing.batch->untaken == 0) ReleaseBatch(listing.batch);
      return status;
    }
    // Putting the scan to sleep and waking it costs more than a folder
    // takes from the cache: it reads the next one itself, whatever the count.
    if ((!KeptFull() || NextForScanAtBack(folderPath)) && ReadOneFolder(hold, true)) continue;
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

}  // namespace

platform::ListStatus ListForRank(const std::string& folderPath, const platform::FolderIdentity& expected,
                                 platform::EntryVisitor visit, void* context) {
  if (recording != nullptr) return ListRecording(folderPath, expected, visit, context, *recording);
  return ListThroughRanks(folderPath, expected, visit, context);
}
