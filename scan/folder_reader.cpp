#include "scan/folder_reader.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <system_error>
#include <utility>

#include "scan/read_concurrency.h"

// ---- Reading ahead ---------------------------------------------------------
//
// Workers read folders in the order the scan will want them. A folder read
// (by a worker, or by the scan) offers its subfolders: the queue holds one
// entry per such folder, placed by the next of its subfolders that has no
// job yet (its place in the scan: the index of every subfolder on its path).
// A worker takes the earliest, makes the job of that subfolder (or of a few
// next ones) and reads it; so jobs are made as workers can take them, never
// one per subfolder at once. The scan takes each folder's contents when it reaches it; a
// subfolder nobody has begun it reads itself, so it never waits for a worker
// that is not coming. What read folders hold until the scan takes them (the
// jobs, their listings, hard-link lists, identity chains and offers) is
// counted in bytes, and workers pause while it is over the bound, so memory
// stays the tree's plus a fixed allowance.
//
// Workers are started only when there is work for them, and woken one per
// job they may make, never more than the count allows: waking a thread is a
// system call, and a thread woken for nothing costs a context switch.
//
// Where subfolders are many for each reader, a worker makes several jobs at
// once and reads them in turn, taking the lock shared with the scan once for
// them all: taken four times per folder, it made two readers of 1,100,000
// empty folders slower than one (95,000 context switches; 11,300 futex calls,
// now 1,600). A job read tells the scan so by its state alone; the scan reads
// one a worker has not begun itself rather than wait.

// A job is made waiting; its reader (a worker, or the scan) claims it, and
// marks it read once its contents are complete. One released before it was
// read is abandoned: a worker passes it by, or drops what it read of it.
enum class JobState { waiting, reading, read, abandoned };

struct FolderJob {
  std::string path;
  platform::FolderIdentity identity;  // what the parent's listing saw
  IdentityPath ancestors;             // the identities of the folders above it
  std::string scanPlace;  // orders the folders as the scan takes them: see AppendScanPlace
  std::atomic<JobState> state{JobState::waiting};
  std::atomic<int> holders{1};  // its handle and a worker's batch: the last deletes it
  // Written and read by the scan thread alone (a job that workers may still
  // touch is never taken), so releasing a taken job needs no lock.
  bool taken = false;
  int64_t heldBytes = 0;      // what the job itself holds until taken
  int64_t contentsBytes = 0;  // what its contents hold, once read
  FolderContents contents;
};

// The subfolders a read folder offers to the workers. They are the records
// of the folder's contents, which stay where they are however the contents
// move; the scan takes subfolders in index order, and a worker touches only
// those from `next` on, which the scan has not reached.
struct SubfolderJobs {
  std::string folderPath;
  size_t folderLength = 0;  // as the path limit counts it
  std::string folderPlace;
  IdentityPath path;  // the identities of the folder and its ancestors
  FolderContents::Subfolder* subfolders = nullptr;
  size_t count = 0;
  size_t next = 0;  // the first subfolder with no job made, and not reached by the scan
  std::string nextPlace;  // the place of subfolder `next`, which orders the queue
  bool queued = false;
  // The jobs made and not yet taken, of the subfolders just before `next`;
  // none for a subfolder that is skipped.
  std::vector<FolderJobHandle> made;
  // Those the scan moved to its side at once, so that it takes each without
  // the lock: of the subfolders just before `scanEnd`, from
  // scanJobs[firstScanJob] on. The scan's alone.
  std::vector<FolderJobHandle> scanJobs;
  size_t firstScanJob = 0;
  size_t scanEnd = 0;
};

std::thread (*startWorkerThread)(void (*work)()) = [](void (*work)()) { return std::thread(work); };

namespace {

// What read folders may hold before workers pause: some thousands of
// folders, many ahead for each of 64 readers. With many readers on two
// processors the scan itself gets little processor time while the workers
// read, and catches up once they are done; a smaller allowance pauses them.
constexpr size_t kMaxHeldBytes = kMaxHeldAheadBytes;
// Whether a read waited is asked of one read in so many: asking takes two
// system calls, a noticeable share of a folder read from the cache.
constexpr uint64_t kReadsPerWaitSample = 8;
// The scan's own reads are told to the count's control so many at a time:
// a lock, a clock read and the control's arithmetic per folder were some 3%
// of a scan of empty folders from memory. Whether the last of them waited is
// asked only when the ones before took long enough for a device to answer
// one (none answers within 20 us, a fast NVMe read takes some 50 us, a
// folder from memory 2 to 5 us), and of it alone: the scan also waits for
// workers' folders, which is no wait for the device.
constexpr int kLoneReadsPerRecord = 8;
constexpr int64_t kFastestDeviceReadNanos = 20'000;
// The most jobs a worker makes at once, while the offered subfolders are
// this many for each reader; fewer leave each reader one at a time.
constexpr size_t kMaxJobsPerBatch = 16;
// Paused workers are woken once what is held falls below three quarters of
// the bound: woken at the bound itself, a worker read one folder per wake.
constexpr int64_t kResumeHeldBytes = kMaxHeldAheadBytes / 4 * 3;
// A worker tells the control of its reads at least once a millisecond: told
// once per batch, 16 folders of 1,000 entries fell into one window of 10 ms,
// which seemed to read four times faster than the next.
constexpr int64_t kMostTellingDelayNanos = 1'000'000;

struct EarlierInScan {
  bool operator()(const SubfolderJobs* a, const SubfolderJobs* b) const { return a->nextPlace < b->nextPlace; }
};

struct ReadingAhead {
  std::mutex lock;
  std::condition_variable workAvailable;  // a job may be made, or reading may resume
  std::condition_variable folderRead;     // the job the scan waits for is read
  std::set<SubfolderJobs*, EarlierInScan> queued;
  size_t offeredSubfolders = 0;  // in the queued offers, with no job yet
  // Added to with the lock held, taken from without it; on a line of its own.
  alignas(64) std::atomic<int64_t> heldBytes{0};
  int64_t mostHeldBytes = 0;
  bool automatic = false;
  int fixedWorkers = 0;
  ReadConcurrency control;
  int mostReadersAllowed = 1;
  std::atomic<uint64_t> readsStarted{0};
  std::atomic<int> workerLimit{0};  // WorkerLimit() as last set, asked without the lock
  std::vector<std::thread> workers;
  bool workersCanStart = true;  // false once the system refused a thread
  int workersStarting = 0;
  int workersReading = 0;
  int idleWorkers = 0;
  int wakesPending = 0;  // notified, not yet awake
  bool stopping = false;
  std::atomic<const FolderJob*> awaitedJob{nullptr};
  // The scan's own reads not yet told to the control; the scan's alone.
  alignas(64) int loneReads = 0;
  int32_t loneEntries[kLoneReadsPerRecord] = {};
  int64_t loneSince = -1;  // when the reads told last ended
  bool loneReadsSlow = true;  // those took long enough to have waited
};

ReadingAhead ahead;

// A chosen count includes the scan, which reads too while the folder it
// needs is being read: on a warm cache a worker more than that only takes
// processor time from the scan.
int WorkerLimit() { return ahead.automatic ? ahead.control.count - 1 : ahead.fixedWorkers; }

bool ReadingPaused() { return ahead.heldBytes.load(std::memory_order_relaxed) >= static_cast<int64_t>(kMaxHeldBytes); }

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

// Wakes (or starts) as many workers as may make jobs; called with the lock
// held. Each offer gives work to one at least.
void WakeWorkersForWork() {
  if (ahead.stopping || ReadingPaused() || ahead.queued.empty()) return;
  const int free = WorkerLimit() - ahead.workersReading - ahead.wakesPending - ahead.workersStarting;
  int wanted = static_cast<int>(std::min<size_t>(ahead.offeredSubfolders, std::max(0, free)));
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

void HoldBytes(int64_t bytes) {  // with the lock held
  const int64_t held = ahead.heldBytes.fetch_add(bytes, std::memory_order_relaxed) + bytes;
  ahead.mostHeldBytes = std::max(ahead.mostHeldBytes, held);
}

// Gives back what a job held, without the lock; wakes paused workers once
// it is well below the bound.
void ReleaseBytes(int64_t bytes) {
  const int64_t before = ahead.heldBytes.fetch_sub(bytes, std::memory_order_relaxed);
  if (before >= kResumeHeldBytes && before - bytes < kResumeHeldBytes) {
    std::lock_guard<std::mutex> hold(ahead.lock);
    WakeWorkersForWork();
  }
}

// Lets go of a job; the last of its holders deletes it, never with the lock
// held: its contents withdraw their offer, taking the lock.
void DropHolder(FolderJob* job) {
  if (job->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete job;
}

// What a job holds until the scan takes it: itself, and once read its
// listing and its offer.
int64_t HeldBytesOfJob(const FolderJob& job) {
  return sizeof(FolderJob) + sizeof(FolderJobHandle) + job.path.capacity() + job.scanPlace.capacity();
}

int64_t HeldBytesOfContents(const FolderContents& contents) {
  size_t bytes = contents.subfolders.capacity() * sizeof(FolderContents::Subfolder) +
                 contents.linkedFiles.capacity() * sizeof(FolderContents::LinkedFile) +
                 contents.otherFileSystems.capacity() * sizeof(std::string);
  for (const FolderContents::Subfolder& subfolder : contents.subfolders) {
    bytes += sizeof(TDirEntry) + subfolder.record->name.capacity();
  }
  for (const std::string& name : contents.otherFileSystems) bytes += name.capacity();
  if (contents.subfolderJobs != nullptr) {
    const SubfolderJobs& offer = *contents.subfolderJobs;
    bytes += sizeof(SubfolderJobs) + sizeof(IdentityChain) + offer.folderPath.capacity() +
             offer.folderPlace.capacity() + offer.nextPlace.capacity();
  }
  return static_cast<int64_t>(bytes);
}

// Sets the first subfolder of an offer that has no job, and keeps the offer
// in the queue while it has one; called with the lock held.
void AdvanceOffer(SubfolderJobs& offer, size_t next) {
  if (offer.queued) {
    ahead.queued.erase(&offer);
    ahead.offeredSubfolders -= offer.count - offer.next;
  }
  offer.queued = false;
  offer.next = next;
  if (next >= offer.count) return;
  ahead.offeredSubfolders += offer.count - next;
  offer.nextPlace.assign(offer.folderPlace);
  AppendScanPlace(offer.nextPlace, static_cast<uint32_t>(next));
  ahead.queued.insert(&offer);
  offer.queued = true;
}

// The offer of a folder's subfolders from `first` on; `path` holds the
// identities of the folder and of its ancestors. Made outside the lock.
SubfolderJobsHandle MakeOffer(const std::string& folderPath, const std::string& scanPlace, const IdentityPath& path,
                              FolderContents& contents) {
  SubfolderJobsHandle offer(new SubfolderJobs);
  offer->folderPath = folderPath;
  offer->folderLength = platform::PathLength(folderPath);
  offer->folderPlace = scanPlace;
  offer->path = path;
  offer->subfolders = contents.subfolders.data();
  offer->count = contents.subfolders.size();
  return offer;
}

// Makes the job of an offer's subfolder `index`, its first without one,
// which the caller reads; none for a subfolder too long to be read, or that
// is a loop. Called with the lock held; the caller advances the offer.
FolderJob* MakeJobOf(SubfolderJobs& offer, size_t index) {
  const FolderContents::Subfolder& subfolder = offer.subfolders[index];
  FolderJobHandle job;
  if (FitsPathLimit(offer.folderLength, subfolder.record->name) && !IsNearOnPath(offer.path.get(), subfolder.identity)) {
    job.reset(new FolderJob);
    job->path.reserve(offer.folderPath.size() + subfolder.record->name.size() + 1);
    job->path.append(offer.folderPath).append(subfolder.record->name) += platform::kPathSeparator;
    job->identity = subfolder.identity;
    job->ancestors = offer.path;
    job->scanPlace = offer.folderPlace;
    AppendScanPlace(job->scanPlace, static_cast<uint32_t>(index));
    job->heldBytes = HeldBytesOfJob(*job);
    HoldBytes(job->heldBytes);
  }
  FolderJob* made = job.get();
  offer.made.push_back(std::move(job));
  return made;
}

// Whether the next read asks if it waited: one in so many, with a chosen count.
bool NoteWaitOfNextRead() {
  return ahead.automatic && ahead.readsStarted.fetch_add(1, std::memory_order_relaxed) % kReadsPerWaitSample == 0;
}

// Tells the count's control of a finished read; called with the lock held.
void RecordRead(int64_t nanos, int64_t entries, ReadWait wait) {
  if (ahead.automatic && RecordFolderRead(ahead.control, nanos, entries, wait)) {
    ahead.workerLimit.store(WorkerLimit(), std::memory_order_relaxed);
    ahead.mostReadersAllowed = std::max(ahead.mostReadersAllowed, ahead.control.count);
  }
}

// Reads a job its reader has claimed, outside the lock: its contents, the
// offer of its subfolders and what they hold.
ReadWait ReadJobContents(FolderJob& job) {
  const ReadWait wait = ReadNotingWait(job.path, job.identity, job.contents, NoteWaitOfNextRead());
  // A folder without subfolders needs neither an offer nor an identity chain.
  if (!job.contents.subfolders.empty()) {
    const auto path = std::make_shared<const IdentityChain>(IdentityChain{job.contents.identity, job.ancestors});
    job.contents.subfolderJobs = MakeOffer(job.path, job.scanPlace, path, job.contents);
  }
  job.contentsBytes = HeldBytesOfContents(job.contents);
  return wait;
}

// Marks a job read and queues the offer of its subfolders; false when it
// was released while it was read, which only the scan does, and only to
// jobs a worker reads. Called without the lock; what the contents hold is
// the caller's to count.
bool PublishJob(FolderJob& job) {
  JobState reading = JobState::reading;
  SubfolderJobs* offer = job.contents.subfolderJobs.get();
  if (offer == nullptr) {
    if (!job.state.compare_exchange_strong(reading, JobState::read)) return false;
    if (ahead.awaitedJob.load() == &job) {
      std::lock_guard<std::mutex> hold(ahead.lock);
      ahead.folderRead.notify_one();
    }
    return true;
  }
  std::lock_guard<std::mutex> hold(ahead.lock);
  if (!job.state.compare_exchange_strong(reading, JobState::read)) return false;
  // The lock keeps the offer in place even if the scan has taken the job.
  AdvanceOffer(*offer, 0);
  WakeWorkersForWork();
  if (ahead.awaitedJob.load() == &job) ahead.folderRead.notify_one();
  return true;
}

// Reads a job the scan claimed and counts what it holds; called without the lock.
void ReadJobOfScan(FolderJob& job) {
  const ReadWait wait = ReadJobContents(job);
  PublishJob(job);
  std::lock_guard<std::mutex> hold(ahead.lock);
  HoldBytes(job.contentsBytes);
  RecordRead(NanosNow(), job.contents.entryCount, wait);
}

// How many jobs a worker makes at once: one while the subfolders offered
// are few for the readers, so that each reader gets its share.
size_t JobsPerBatch() {
  return std::clamp<size_t>(ahead.offeredSubfolders / (static_cast<size_t>(WorkerLimit()) + 1), 1, kMaxJobsPerBatch);
}

// A worker's batch: the jobs it made, and what it read of them.
struct Batch {
  FolderJob* jobs[kMaxJobsPerBatch];
  size_t size = 0;
  int32_t entries[kMaxJobsPerBatch];
  ReadWait waits[kMaxJobsPerBatch];
  size_t read = 0;
  int64_t heldBytes = 0;
  int64_t toldAt = 0;
};

// Tells the control of the reads of a batch not told yet, and counts what
// they hold; called with the lock held.
void TellBatch(Batch& batch, int64_t now) {
  HoldBytes(batch.heldBytes);
  for (size_t i = 0; i < batch.read; ++i) RecordRead(now, batch.entries[i], batch.waits[i]);
  batch.read = 0;
  batch.heldBytes = 0;
  batch.toldAt = now;
}

// Reads the jobs of a batch that nobody else has claimed, outside the lock;
// once what is held reaches the bound, the scan reads the rest itself.
void ReadBatch(Batch& batch) {
  for (size_t i = 0; i < batch.size; ++i) {
    if (ahead.heldBytes.load(std::memory_order_relaxed) + batch.heldBytes >= static_cast<int64_t>(kMaxHeldBytes)) break;
    FolderJob& job = *batch.jobs[i];
    JobState waiting = JobState::waiting;
    if (!job.state.compare_exchange_strong(waiting, JobState::reading)) continue;
    const ReadWait wait = ReadJobContents(job);
    const int32_t entries = job.contents.entryCount;
    const int64_t held = job.contentsBytes;
    if (!PublishJob(job)) continue;
    batch.entries[batch.read] = entries;
    batch.waits[batch.read++] = wait;
    batch.heldBytes += held;
    if (const int64_t now = NanosNow(); now - batch.toldAt >= kMostTellingDelayNanos) {
      std::lock_guard<std::mutex> hold(ahead.lock);
      TellBatch(batch, now);
    }
  }
  for (size_t i = 0; i < batch.size; ++i) DropHolder(batch.jobs[i]);
}

// Tells the control of the scan's own reads since it was told last, the
// last of which waited as `wait` says.
void RecordLoneReads(ReadWait wait) {
  const int64_t now = NanosNow();
  ahead.loneReadsSlow = ahead.loneSince < 0 || now - ahead.loneSince > kLoneReadsPerRecord * kFastestDeviceReadNanos;
  ahead.loneSince = now;
  std::lock_guard<std::mutex> hold(ahead.lock);
  for (int i = 0; i < ahead.loneReads; ++i) {
    RecordRead(now, ahead.loneEntries[i], i + 1 == ahead.loneReads ? wait : ReadWait::unknown);
  }
  ahead.loneReads = 0;
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
    // The jobs of an offer's next subfolders are made together: the queue,
    // ordered by each offer's next one, is then changed once for them all.
    Batch batch;
    for (size_t wanted = JobsPerBatch(); batch.size < wanted && !ahead.queued.empty() && !ReadingPaused();) {
      SubfolderJobs& offer = **ahead.queued.begin();
      const size_t end = std::min(offer.count, offer.next + (wanted - batch.size));
      for (size_t index = offer.next; index < end; ++index) {
        FolderJob* job = MakeJobOf(offer, index);
        if (job == nullptr) continue;
        job->holders.store(2, std::memory_order_relaxed);
        batch.jobs[batch.size++] = job;
      }
      AdvanceOffer(offer, end);
    }
    if (batch.size == 0) continue;
    ahead.workersReading += 1;
    hold.unlock();
    batch.toldAt = NanosNow();
    ReadBatch(batch);
    hold.lock();
    TellBatch(batch, NanosNow());
    ahead.workersReading -= 1;
    WakeWorkersForWork();
  }
}

}  // namespace

void FolderJobRelease::operator()(FolderJob* job) const {
  if (!job->taken) {
    // A job not yet read is abandoned; its reader drops what it reads.
    JobState seen = job->state.load();
    while (seen != JobState::read && !job->state.compare_exchange_weak(seen, JobState::abandoned)) {
    }
    const int64_t held = job->heldBytes + (seen == JobState::read ? job->contentsBytes : 0);
    ahead.heldBytes.fetch_sub(held, std::memory_order_relaxed);
    std::lock_guard<std::mutex> hold(ahead.lock);
    WakeWorkersForWork();
  }
  DropHolder(job);
}

void SubfolderJobsRelease::operator()(SubfolderJobs* offer) const {
  std::vector<FolderJobHandle> made;
  {
    std::lock_guard<std::mutex> hold(ahead.lock);
    if (offer->queued) {
      ahead.queued.erase(offer);
      ahead.offeredSubfolders -= offer->count - offer->next;
    }
    made = std::move(offer->made);
  }
  // Each job released takes the lock.
  made.clear();
  delete offer;
}

void StartReadingAhead(int threads) {
  std::lock_guard<std::mutex> hold(ahead.lock);
  ahead.stopping = false;
  ahead.offeredSubfolders = 0;
  ahead.heldBytes.store(0);
  ahead.mostHeldBytes = 0;
  ahead.automatic = threads == 0;
  ahead.fixedWorkers = std::max(0, threads - 1);
  ahead.mostReadersAllowed = ahead.fixedWorkers + 1;
  StartReadConcurrency(ahead.control, kMaxReadConcurrency, platform::UsableProcessors());
  ahead.readsStarted = 0;
  ahead.loneReads = 0;
  ahead.loneSince = -1;
  ahead.loneReadsSlow = true;
  ahead.workerLimit.store(WorkerLimit(), std::memory_order_relaxed);
  ahead.workersCanStart = true;
}

FolderJobHandle TakeSubfolderJob(FolderContents& contents, size_t index) {
  SubfolderJobs& offer = *contents.subfolderJobs;
  if (index < offer.scanEnd) return std::move(offer.scanJobs[offer.firstScanJob++]);
  std::lock_guard<std::mutex> hold(ahead.lock);
  if (index >= offer.next) {
    // Not begun: the scan reads it itself, and the workers go on after it.
    AdvanceOffer(offer, index + 1);
    return nullptr;
  }
  // Every job on the scan's side has been taken: only empty handles go.
  offer.scanJobs.clear();
  offer.scanJobs.swap(offer.made);
  offer.firstScanJob = 0;
  offer.scanEnd = offer.next;
  return std::move(offer.scanJobs[offer.firstScanJob++]);
}

void TakeContents(FolderJob& job, FolderContents& contents) {
  // One a worker has not begun the scan reads itself.
  JobState seen = JobState::waiting;
  if (job.state.compare_exchange_strong(seen, JobState::reading)) {
    ReadJobOfScan(job);
    seen = JobState::read;
  }
  if (seen != JobState::read) {
    std::unique_lock<std::mutex> hold(ahead.lock);
    // While a worker reads the folder, the scan reads the next ones itself
    // rather than sleep: putting it to sleep and waking it costs more than a
    // folder takes from the cache.
    while (job.state.load() != JobState::read && !ahead.queued.empty() && !ReadingPaused()) {
      SubfolderJobs& offer = **ahead.queued.begin();
      FolderJob* next = MakeJobOf(offer, offer.next);
      AdvanceOffer(offer, offer.next + 1);
      if (next == nullptr) continue;
      next->state.store(JobState::reading, std::memory_order_relaxed);
      hold.unlock();
      ReadJobOfScan(*next);
      hold.lock();
    }
    ahead.awaitedJob.store(&job);
    ahead.folderRead.wait(hold, [&job] { return job.state.load() == JobState::read; });
    ahead.awaitedJob.store(nullptr);
  }
  ReleaseBytes(job.heldBytes + job.contentsBytes);
  job.taken = true;
  contents = std::move(job.contents);
}

void ReadFolderAlone(const std::string& folderPath, const platform::FolderIdentity& expected,
                     FolderContents& contents) {
  // A fixed count measures nothing.
  if (!ahead.automatic) {
    ReadFolderContents(folderPath, expected, contents);
    return;
  }
  const bool last = ahead.loneReads + 1 == kLoneReadsPerRecord;
  const bool asked = last && ahead.loneReadsSlow;
  const ReadWait wait = ReadNotingWait(folderPath, expected, contents, asked);
  ahead.loneEntries[ahead.loneReads++] = contents.entryCount;
  // Reads that went too fast for a device did not wait.
  if (last) RecordLoneReads(asked ? wait : ReadWait::none);
}

// Asked without the lock: an answer just outdated only offers the subfolders
// of a folder a little later.
bool WorkersMayReadAhead() { return ahead.workerLimit.load(std::memory_order_relaxed) > 0; }

void OfferSubfolders(const std::string& folderPath, const std::string& scanPlace, size_t first,
                     const IdentityPath& path, FolderContents& contents) {
  // What the offer holds is the scan's own, like the contents it belongs to.
  contents.subfolderJobs = MakeOffer(folderPath, scanPlace, path, contents);
  std::lock_guard<std::mutex> hold(ahead.lock);
  AdvanceOffer(*contents.subfolderJobs, first);
  WakeWorkersForWork();
}

size_t MostHeldAhead() {
  std::lock_guard<std::mutex> hold(ahead.lock);
  return static_cast<size_t>(ahead.mostHeldBytes);
}

int MostReadersAllowed() {
  std::lock_guard<std::mutex> hold(ahead.lock);
  return ahead.mostReadersAllowed;
}

void StopReadingAhead() {
  {
    std::lock_guard<std::mutex> hold(ahead.lock);
    ahead.stopping = true;
  }
  ahead.workAvailable.notify_all();
  for (std::thread& worker : ahead.workers) worker.join();
  ahead.workers.clear();
  ahead.workersStarting = 0;
  ahead.idleWorkers = 0;
  ahead.wakesPending = 0;
}
