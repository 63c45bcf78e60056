#include "scan/folder_reader.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

#include "control/settings.h"
#include "scan/exclusions.h"
#include "scan/scanner.h"

namespace {

bool CountsSize(uint32_t attributes) {
  return options.includeOffline || (attributes & platform::kAttrOffline) == 0;
}

struct FolderReading {
  const std::string& folderPath;
  FolderContents& contents;
};

void CountEntry(void* context, const platform::ListingEntry& entry) {
  auto& reading = *static_cast<FolderReading*>(context);
  auto& contents = reading.contents;
  contents.entryCount += 1;
  if (entry.attributes & (platform::kAttrVolumeLabel | platform::kAttrReparsePoint)) return;
  if (entry.attributes & platform::kAttrDirectory) {
    if (entry.name == "." || entry.name == "..") return;
    // An excluded folder is never read; its entry still counted above.
    if (IsExcluded(reading.folderPath, entry.name)) return;
    auto* child = new TDirEntry;
    child->name = entry.name;
    contents.subfolders.push_back(child);
    return;
  }
  contents.fileCount = AddCount(contents.fileCount, 1);
  if (!CountsSize(entry.attributes)) return;
  int64_t slack = 0;
  const int64_t bytes = options.dirMode ? entry.size : ClusterRound(entry.size, slack);
  if (entry.linkCount > 1 && !options.countEveryLink) {
    contents.linkedFiles.push_back({entry.volumeId, entry.fileId, bytes, slack});
    return;
  }
  contents.localBytes = AddBytes(contents.localBytes, bytes);
  contents.wastedBytes = AddBytes(contents.wastedBytes, slack);
}

}  // namespace

void ReadFolderContents(const std::string& folderPath, FolderContents& contents) {
  FolderReading reading{folderPath, contents};
  contents.status = folderLister(folderPath, CountEntry, &reading);
  // The scan takes subfolders from the last listed to the first.
  std::reverse(contents.subfolders.begin(), contents.subfolders.end());
}

bool FitsPathLimit(size_t folderLength, const std::string& name) {
  return folderLength + platform::PathLength(name) + 3 <= static_cast<size_t>(platform::kMaxScanPathLength);
}

// ---- Reading ahead ---------------------------------------------------------
//
// Workers take folders from a stack, read them, and push the subfolders'
// jobs, the first to be scanned on top, so that they read roughly in the
// scan's own depth-first order. The scan takes each folder's contents when it
// reaches it: a job nobody has begun it reads itself, so it never waits for a
// worker that is not coming. Workers pause while too many read folders wait
// for the scan, which bounds memory by the folders kept plus those in flight.

struct FolderJob {
  std::string path;
  enum class State { Queued, Reading, Read } state = State::Queued;
  FolderContents contents;
};

namespace {

constexpr size_t kMaxFoldersReadAhead = 4096;

std::mutex jobsLock;
std::condition_variable workAvailable;  // a job was queued, or reading may resume
std::condition_variable folderRead;     // a job's contents are ready
std::vector<FolderJob*> queuedJobs;     // a stack; taken jobs are skipped
size_t foldersWaiting = 0;              // read, not yet taken by the scan
bool stopping = false;
// Who sleeps: waking a thread is a system call, so only a sleeper is woken.
int idleWorkers = 0;
const FolderJob* awaitedJob = nullptr;  // the job the scan waits for
std::vector<std::thread> workers;

// Reads the job's folder and queues its subfolders' jobs; called without the
// lock held.
void ReadJob(FolderJob& job) {
  ReadFolderContents(job.path, job.contents);
  const size_t folderLength = platform::PathLength(job.path);
  for (TDirEntry* subfolder : job.contents.subfolders) {
    FolderJob* child = nullptr;
    if (FitsPathLimit(folderLength, subfolder->name)) {
      child = new FolderJob;
      child->path = job.path + subfolder->name + platform::kPathSeparator;
    }
    job.contents.subfolderJobs.push_back(child);
  }
  std::lock_guard<std::mutex> hold(jobsLock);
  size_t queued = 0;
  for (auto child = job.contents.subfolderJobs.rbegin(); child != job.contents.subfolderJobs.rend(); ++child) {
    if (*child == nullptr) continue;
    queuedJobs.push_back(*child);
    queued += 1;
  }
  job.state = FolderJob::State::Read;
  foldersWaiting += 1;
  if (queued > 0 && idleWorkers > 0) {
    if (queued == 1) {
      workAvailable.notify_one();
    } else {
      workAvailable.notify_all();
    }
  }
  if (awaitedJob == &job) folderRead.notify_one();
}

FolderJob* NextQueuedJob() {
  if (queuedJobs.empty()) return nullptr;
  FolderJob* job = queuedJobs.back();
  queuedJobs.pop_back();
  return job;
}

// Takes a job off the stack for the scan to read itself; it is deleted once
// taken, so no pointer to it may stay behind. It is usually near
// the top: the scan wants the folders in the order they were stacked.
void Unqueue(FolderJob* job) {
  auto found = std::find(queuedJobs.rbegin(), queuedJobs.rend(), job);
  if (found != queuedJobs.rend()) queuedJobs.erase(std::next(found).base());
}

// Reads `job` with the lock released; called with it held.
void ReadHere(FolderJob& job, std::unique_lock<std::mutex>& hold) {
  job.state = FolderJob::State::Reading;
  hold.unlock();
  ReadJob(job);
  hold.lock();
}

void Work() {
  std::unique_lock<std::mutex> hold(jobsLock);
  while (true) {
    idleWorkers += 1;
    workAvailable.wait(hold, [] {
      return stopping || (foldersWaiting < kMaxFoldersReadAhead && !queuedJobs.empty());
    });
    idleWorkers -= 1;
    if (stopping) return;
    FolderJob* job = NextQueuedJob();
    job->state = FolderJob::State::Reading;
    hold.unlock();
    ReadJob(*job);
    hold.lock();
  }
}

}  // namespace

FolderJob* StartReadingAhead(int threads, const std::string& rootPath) {
  auto* rootJob = new FolderJob;
  rootJob->path = rootPath;
  stopping = false;
  foldersWaiting = 0;
  idleWorkers = 0;
  queuedJobs.assign(1, rootJob);
  for (int i = 0; i < threads; ++i) workers.emplace_back(Work);
  return rootJob;
}

void TakeContents(FolderJob* job, FolderContents& contents) {
  std::unique_lock<std::mutex> hold(jobsLock);
  if (job->state == FolderJob::State::Queued) {
    Unqueue(job);
    ReadHere(*job, hold);
  }
  // While a worker reads the folder, the scan reads others rather than
  // sleep: putting it to sleep and waking it costs more than a folder takes.
  while (job->state != FolderJob::State::Read && foldersWaiting < kMaxFoldersReadAhead) {
    FolderJob* other = NextQueuedJob();
    if (other == nullptr) break;
    ReadHere(*other, hold);
  }
  awaitedJob = job;
  folderRead.wait(hold, [job] { return job->state == FolderJob::State::Read; });
  awaitedJob = nullptr;
  const bool readingPaused = foldersWaiting >= kMaxFoldersReadAhead;
  foldersWaiting -= 1;
  if (readingPaused && idleWorkers > 0) workAvailable.notify_all();
  hold.unlock();
  contents = std::move(job->contents);
  delete job;
}

void StopReadingAhead() {
  {
    std::lock_guard<std::mutex> hold(jobsLock);
    stopping = true;
    queuedJobs.clear();
  }
  workAvailable.notify_all();
  for (std::thread& worker : workers) worker.join();
  workers.clear();
}
