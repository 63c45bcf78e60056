// Reading one folder: its listing summed into what the scan keeps of it. A
// folder can be read where the scan stands, or ahead of it by worker threads;
// either way the scan consumes the same contents in the same order, so the
// tree does not depend on who read what.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "scan/tree.h"

struct FolderJob;
// Releases a job however far it got: a queued job leaves the queue, one a
// worker is reading is left to the worker, a read one gives back what it held.
struct FolderJobRelease {
  void operator()(FolderJob* job) const;
};
using FolderJobHandle = std::unique_ptr<FolderJob, FolderJobRelease>;

// The identities of the folders on a path, the deepest first: a folder
// whose identity is already on its own path is a loop (a bind mount of an
// ancestor) and is not entered. Shared, since the jobs of sibling folders
// hold the same path, and a job may outlive its parent's.
struct IdentityChain {
  platform::FolderIdentity identity;
  std::shared_ptr<const IdentityChain> parent;
};
using IdentityPath = std::shared_ptr<const IdentityChain>;
// Whether `identity` (when known) is on `path`.
bool IsOnPath(const IdentityChain* path, const platform::FolderIdentity& identity);

struct FolderContents {
  platform::ListStatus status = platform::ListStatus::Listed;
  platform::FolderIdentity identity;  // the folder's own, where the listing gives it
  int32_t entryCount = 0;  // every entry: ".", "..", and those skipped
  int32_t fileCount = 0;
  int64_t localBytes = 0;   // files, rounded to clusters unless -dir
  int64_t wastedBytes = 0;  // the files' cluster slack
  // Files with several hard links, not yet in the figures above: the scan
  // counts each once, in the first folder it takes them from.
  struct LinkedFile {
    uint64_t volumeId;
    uint64_t fileId;
    int64_t bytes;  // rounded to clusters unless -dir
    int64_t slack;
  };
  std::vector<LinkedFile> linkedFiles;
  // The subfolders, a new record each with what the listing saw of it, the
  // last listed first (the order the scan takes them in); the scan takes
  // each record over as it scans it, and whatever a scan that returns early
  // leaves here is released with it.
  struct Subfolder {
    std::unique_ptr<TDirEntry> record;
    platform::FolderIdentity identity;
  };
  std::vector<Subfolder> subfolders;
  // Subfolders where another file system is mounted, not entered (without
  // -mounts), in listing order.
  std::vector<std::string> otherFileSystems;
  // When reading ahead: the job of each subfolder, in the same order; none
  // for a subfolder whose path is too long to be read, or that is a loop.
  std::vector<FolderJobHandle> subfolderJobs;
};

// Lists `folderPath` (ending in a separator), which its parent's listing
// saw as `expected`, into `contents`. Safe to call from several threads at
// once. A folder that is not found (also one that vanished while it was
// listed) or that changed keeps nothing.
void ReadFolderContents(const std::string& folderPath, const platform::FolderIdentity& expected,
                        FolderContents& contents);

// Whether a subfolder `name` of a folder whose path (with its separator) has
// `folderLength` characters can be read: room for the name, its separator
// and the listing's wildcard.
bool FitsPathLimit(size_t folderLength, const std::string& name);

// Reading ahead, starting at `rootPath`: `threads` folders read at once,
// the scan's own reads included, or with 0 a count that follows what the
// disk rewards (the scan alone while that reads fastest). Returns the root's
// job.
FolderJobHandle StartReadingAhead(int threads, const std::string& rootPath);
// The contents of a job's folder, once read (by a worker, or here when no
// worker has begun it).
void TakeContents(FolderJob& job, FolderContents& contents);
// Reads a folder the scan reached without a job (it read the parent alone,
// with no worker allowed); the read still counts towards how many read at once.
void ReadFolderAlone(const std::string& folderPath, const platform::FolderIdentity& expected,
                     FolderContents& contents);
// Whether workers may read now: then the subfolders of a folder the scan read
// alone get jobs, from `first` on, below the folder's `scanPlace`; `path`
// holds the identities of the folder and its ancestors.
bool WorkersMayReadAhead();
void QueueSubfolderJobs(const std::string& folderPath, const std::string& scanPlace, size_t first,
                        const IdentityPath& path, FolderContents& contents);
// Stops the workers once every job has been released.
void StopReadingAhead();
// The most folders the last scan that read ahead allowed to be read at
// once: tests compare it with how many were.
int MostReadersAllowed();

// Appends a subfolder's index to a place in the scan: the index of each
// folder on a path among its parent's subfolders. Places compare as plain
// strings in the order the scan takes the folders (a parent before its
// subfolders, they in index order), and most fit in a string without a heap
// allocation.
void AppendScanPlace(std::string& place, uint32_t index);

// How worker threads are started; tests substitute one that fails.
extern std::thread (*startWorkerThread)(void (*work)());
