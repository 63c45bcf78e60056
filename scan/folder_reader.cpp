#include "scan/folder_reader.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>

#include "scan/exclusions.h"
#include "scan/read_concurrency.h"
#include "scan/scanner.h"
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
  contents.entryCount += 1;
  if (entry.attributes & (platform::kAttrVolumeLabel | platform::kAttrReparsePoint)) return;
  if (entry.attributes & platform::kAttrDirectory) {
    CountFolder(reading, entry);
    return;
  }
  contents.fileCount = AddCount(contents.fileCount, 1);
  if (!CountsSize(entry.attributes)) return;
  int64_t slack = 0;
  const int64_t bytes = options.dirMode ? entry.size : CountedBytes(entry, slack);
  if (entry.linkCount > 1 && !options.countEveryLink) {
    contents.linkedFiles.push_back({entry.volumeId, entry.fileId, bytes, slack});
    return;
  }
  contents.localBytes = AddBytes(contents.localBytes, bytes);
  contents.wastedBytes = AddBytes(contents.wastedBytes, slack);
}

}  // namespace

bool IsOnPath(const IdentityChain* path, const platform::FolderIdentity& identity) {
  if (identity == platform::FolderIdentity{}) return false;
  for (; path != nullptr; path = path->parent.get()) {
    if (path->identity == identity) return true;
  }
  return false;
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

bool FitsPathLimit(size_t folderLength, const std::string& name) {
  return folderLength + platform::PathLength(name) + 3 <= static_cast<size_t>(platform::kMaxScanPathLength);
}

// ---- Reading ahead ---------------------------------------------------------
//
// Workers read folders in the order the scan will want them: each job knows
// its place in the scan (the index of every subfolder on its path), and a
// worker always takes the earliest queued one. The scan takes each folder's
// contents when it reaches it; a job nobody has begun it reads itself, so it
// never waits for a worker that is not coming. What the read folders hold
// until the scan takes them is counted in bytes, and workers pause while it
// is over the bound, so memory stays the tree's plus a fixed allowance.
//
// Workers are started only when there is work for them, and woken one per
// queued job, never more than the count allows: waking a thread is a system
// call, and a thread woken for nothing costs a context switch.

struct FolderJob {
  std::string path;
  platform::FolderIdentity identity;  // what the parent's listing saw
  IdentityPath ancestors;             // the identities of the folders above it
  std::string scanPlace;  // orders the jobs as the scan takes them: see AppendScanPlace
  enum class State { Queued, Reading, Read } state = State::Queued;
  bool abandoned = false;  // released while a worker read it: the worker deletes it
  // Written and read by the scan thread alone (a job that workers may still
  // touch is never taken), so releasing a taken job needs no lock.
  bool taken = false;
  size_t heldBytes = 0;  // what the read contents hold until taken
  FolderContents contents;
};

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

std::thread (*startWorkerThread)(void (*work)()) = [](void (*work)()) { return std::thread(work); };

namespace {

// What read folders may hold before workers pause: some 10,000 subfolder
// records, many folders ahead for each of 64 readers. With many readers on
// two processors the scan itself gets little processor time while the
// workers read, and catches up once they are done; a smaller allowance
// pauses them.
constexpr size_t kMaxHeldBytes = 4u << 20;
// Whether a read waited is asked of one read in so many: asking takes two
// system calls, a noticeable share of a folder read from the cache.
constexpr uint64_t kReadsPerWaitSample = 8;

struct EarlierInScan {
  bool operator()(const FolderJob* a, const FolderJob* b) const { return a->scanPlace < b->scanPlace; }
};

struct ReadingAhead {
  std::mutex lock;
  std::condition_variable workAvailable;  // a job was queued, or reading may resume
  std::condition_variable folderRead;     // the job the scan waits for is read
  std::set<FolderJob*, EarlierInScan> queued;
  size_t heldBytes = 0;
  bool automatic = false;
  int fixedWorkers = 0;
  ReadConcurrency control;
  int mostReadersAllowed = 1;
  uint64_t readsStarted = 0;
  std::vector<std::thread> workers;
  bool workersCanStart = true;  // false once the system refused a thread
  int workersStarting = 0;
  int workersReading = 0;
  int idleWorkers = 0;
  int wakesPending = 0;  // notified, not yet awake
  bool stopping = false;
  const FolderJob* awaitedJob = nullptr;
};

ReadingAhead ahead;

// A chosen count includes the scan, which reads too while the folder it
// needs is being read: on a warm cache a worker more than that only takes
// processor time from the scan.
int WorkerLimit() {
  if (!ahead.automatic) return ahead.fixedWorkers;
  return ahead.control.count - 1;
}

bool ReadingPaused() { return ahead.heldBytes >= kMaxHeldBytes; }

void Work();

// Starts one more worker; false when the system refuses, and from then on
// the scan goes on with the workers it has, or alone.
bool StartWorker() {
  try {
    ahead.workers.push_back(startWorkerThread(Work));
  } catch (const std::system_error&) {
    ahead.workersCanStart = false;
    return false;
  }
  ahead.workersStarting += 1;
  return true;
}

// Wakes (or starts) as many workers as there are queued jobs they may take;
// called with the lock held.
void WakeWorkersForWork() {
  if (ahead.stopping || ReadingPaused()) return;
  const int free = WorkerLimit() - ahead.workersReading - ahead.wakesPending - ahead.workersStarting;
  int wanted = static_cast<int>(std::min<size_t>(ahead.queued.size(), std::max(0, free)));
  for (; wanted > 0 && ahead.idleWorkers > ahead.wakesPending; --wanted) {
    ahead.wakesPending += 1;
    ahead.workAvailable.notify_one();
  }
  for (; wanted > 0 && ahead.workersCanStart && ahead.workers.size() < static_cast<size_t>(WorkerLimit()); --wanted) {
    if (!StartWorker()) break;
  }
}

int64_t NanosNow() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

size_t HeldBytesOfRecord(const TDirEntry& subfolder, const FolderJob* job) {
  size_t bytes = sizeof(FolderContents::Subfolder) + sizeof(FolderJobHandle) + sizeof(TDirEntry) +
                 subfolder.name.capacity();
  if (job != nullptr) bytes += sizeof(FolderJob) + job->path.capacity() + job->scanPlace.capacity();
  return bytes;
}

// Makes the jobs of a folder's subfolders from `first` on (none before
// it), none for a loop; returns what they and the subfolder records hold.
// `path` holds the identities of the folder and of its ancestors.
size_t MakeSubfolderJobs(const std::string& folderPath, const std::string& scanPlace, size_t first,
                         const IdentityPath& path, FolderContents& contents) {
  const size_t folderLength = platform::PathLength(folderPath);
  size_t held = sizeof(IdentityChain);
  contents.subfolderJobs.resize(first);
  for (size_t i = first; i < contents.subfolders.size(); ++i) {
    const TDirEntry& subfolder = *contents.subfolders[i].record;
    const platform::FolderIdentity& identity = contents.subfolders[i].identity;
    FolderJobHandle child;
    if (FitsPathLimit(folderLength, subfolder.name) && !IsOnPath(path.get(), identity)) {
      child.reset(new FolderJob);
      child->path = folderPath + subfolder.name + platform::kPathSeparator;
      child->identity = identity;
      child->ancestors = path;
      child->scanPlace = scanPlace;
      AppendScanPlace(child->scanPlace, static_cast<uint32_t>(i));
    }
    held += HeldBytesOfRecord(subfolder, child.get());
    contents.subfolderJobs.push_back(std::move(child));
  }
  return held;
}

void QueueJobsOf(const FolderContents& contents) {
  for (const FolderJobHandle& child : contents.subfolderJobs) {
    if (child != nullptr) ahead.queued.insert(child.get());
  }
}

// Whether the next read asks if it waited: one in so many, and only
// while the count is chosen as the scan runs; called with the lock held.
bool NoteWaitOfNextRead() { return ahead.automatic && ahead.readsStarted++ % kReadsPerWaitSample == 0; }

// Tells the count's control of a finished read; called with the lock held.
void RecordRead(const FolderContents& contents, ReadWait wait) {
  if (ahead.automatic && RecordFolderRead(ahead.control, NanosNow(), contents.entryCount, wait)) {
    ahead.mostReadersAllowed = std::max(ahead.mostReadersAllowed, ahead.control.count);
  }
}

// Reads a folder; when asked, also whether the read waited (for the
// device, or for a lock the system holds).
ReadWait ReadNotingWait(const std::string& folderPath, const platform::FolderIdentity& expected,
                        FolderContents& contents, bool noteWait) {
  const int64_t waitsBefore = noteWait ? platform::ThreadWaitCount() : -1;
  ReadFolderContents(folderPath, expected, contents);
  if (waitsBefore < 0) return ReadWait::unknown;
  return platform::ThreadWaitCount() > waitsBefore ? ReadWait::waited : ReadWait::none;
}

// Reads a job taken off the queue (its state Reading) with the lock
// released, and queues its subfolders' jobs unless `makeJobs` is false
// (the scan reads alone: they would only cost it); called with the lock
// held. False when the job was released while it was read, which only the
// scan does, and only to jobs a worker reads: the worker deletes it.
bool ReadJob(FolderJob& job, std::unique_lock<std::mutex>& hold, bool makeJobs = true) {
  const bool noteWait = NoteWaitOfNextRead();
  hold.unlock();
  const ReadWait wait = ReadNotingWait(job.path, job.identity, job.contents, noteWait);
  size_t held = 0;
  if (makeJobs) {
    const auto path = std::make_shared<const IdentityChain>(IdentityChain{job.contents.identity, job.ancestors});
    held = MakeSubfolderJobs(job.path, job.scanPlace, 0, path, job.contents);
  }
  hold.lock();
  RecordRead(job.contents, wait);
  if (job.abandoned) return false;
  QueueJobsOf(job.contents);
  job.state = FolderJob::State::Read;
  job.heldBytes = held;
  ahead.heldBytes += held;
  WakeWorkersForWork();
  if (ahead.awaitedJob == &job) ahead.folderRead.notify_one();
  return true;
}

// The earliest queued job, off the queue and marked as being read.
FolderJob& TakeEarliestJob() {
  FolderJob& job = **ahead.queued.begin();
  ahead.queued.erase(ahead.queued.begin());
  job.state = FolderJob::State::Reading;
  return job;
}

bool WorkerMayRead() {
  return !ahead.queued.empty() && !ReadingPaused() && ahead.workersReading < WorkerLimit();
}

void Work() {
  std::unique_lock<std::mutex> hold(ahead.lock);
  ahead.workersStarting -= 1;
  while (!ahead.stopping) {
    if (!WorkerMayRead()) {
      ahead.idleWorkers += 1;
      ahead.workAvailable.wait(hold);
      ahead.idleWorkers -= 1;
      if (ahead.wakesPending > 0) ahead.wakesPending -= 1;
      continue;
    }
    ahead.workersReading += 1;
    FolderJob& job = TakeEarliestJob();
    if (!ReadJob(job, hold)) {
      hold.unlock();
      delete &job;  // its subfolders' jobs were never queued
      hold.lock();
      WakeWorkersForWork();
    }
    ahead.workersReading -= 1;
  }
}

}  // namespace

void FolderJobRelease::operator()(FolderJob* job) const {
  if (!job->taken) {
    std::lock_guard<std::mutex> hold(ahead.lock);
    switch (job->state) {
      case FolderJob::State::Queued:
        ahead.queued.erase(job);
        break;
      case FolderJob::State::Reading:
        job->abandoned = true;
        return;
      case FolderJob::State::Read:
        ahead.heldBytes -= job->heldBytes;
        WakeWorkersForWork();
        break;
    }
  }
  // Its contents release the jobs of its subfolders, each taking the lock.
  delete job;
}

FolderJobHandle StartReadingAhead(int threads, const std::string& rootPath) {
  FolderJobHandle rootJob(new FolderJob);
  rootJob->path = rootPath;
  std::lock_guard<std::mutex> hold(ahead.lock);
  ahead.stopping = false;
  ahead.heldBytes = 0;
  ahead.automatic = threads == 0;
  ahead.fixedWorkers = std::max(0, threads - 1);
  ahead.mostReadersAllowed = ahead.fixedWorkers + 1;
  StartReadConcurrency(ahead.control, kMaxReadConcurrency, platform::UsableProcessors());
  ahead.readsStarted = 0;
  ahead.workersCanStart = true;
  ahead.queued.insert(rootJob.get());
  WakeWorkersForWork();
  return rootJob;
}

void TakeContents(FolderJob& job, FolderContents& contents) {
  std::unique_lock<std::mutex> hold(ahead.lock);
  if (job.state == FolderJob::State::Queued) {
    ahead.queued.erase(&job);
    job.state = FolderJob::State::Reading;
    ReadJob(job, hold, WorkerLimit() > 0);
  }
  // While a worker reads the folder, the scan reads the next ones itself
  // rather than sleep: putting it to sleep and waking it costs more than a
  // folder takes from the cache.
  while (job.state != FolderJob::State::Read && !ahead.queued.empty() && !ReadingPaused()) {
    ReadJob(TakeEarliestJob(), hold);
  }
  ahead.awaitedJob = &job;
  ahead.folderRead.wait(hold, [&job] { return job.state == FolderJob::State::Read; });
  ahead.awaitedJob = nullptr;
  const bool wasPaused = ReadingPaused();
  ahead.heldBytes -= job.heldBytes;
  if (wasPaused) WakeWorkersForWork();
  hold.unlock();
  job.taken = true;
  contents = std::move(job.contents);
}

void ReadFolderAlone(const std::string& folderPath, const platform::FolderIdentity& expected,
                     FolderContents& contents) {
  std::unique_lock<std::mutex> hold(ahead.lock);
  const bool noteWait = NoteWaitOfNextRead();
  hold.unlock();
  const ReadWait wait = ReadNotingWait(folderPath, expected, contents, noteWait);
  hold.lock();
  RecordRead(contents, wait);
}

bool WorkersMayReadAhead() {
  std::lock_guard<std::mutex> hold(ahead.lock);
  return WorkerLimit() > 0;
}

void QueueSubfolderJobs(const std::string& folderPath, const std::string& scanPlace, size_t first,
                        const IdentityPath& path, FolderContents& contents) {
  // What they hold is the scan's own, like the contents they belong to.
  MakeSubfolderJobs(folderPath, scanPlace, first, path, contents);
  std::lock_guard<std::mutex> hold(ahead.lock);
  QueueJobsOf(contents);
  WakeWorkersForWork();
}

int MostReadersAllowed() {
  std::lock_guard<std::mutex> hold(ahead.lock);
  return ahead.mostReadersAllowed;
}

void StopReadingAhead() {
  {
    std::lock_guard<std::mutex> hold(ahead.lock);
    ahead.stopping = true;
    ahead.queued.clear();
  }
  ahead.workAvailable.notify_all();
  for (std::thread& worker : ahead.workers) worker.join();
  ahead.workers.clear();
  ahead.workersStarting = 0;
  ahead.idleWorkers = 0;
  ahead.wakesPending = 0;
}
