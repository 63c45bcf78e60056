// Reading one folder: its listing summed into what the scan keeps of it. A
// folder can be read where the scan stands, or ahead of it by worker threads;
// either way the scan consumes the same contents in the same order, so the
// tree does not depend on who read what.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "scan/file_stats.h"
#include "scan/read_concurrency.h"
#include "scan/tree.h"

struct FolderJob;
struct SubfolderJobs;
// Releases a job however far it got: one not yet read is abandoned (a
// worker passes it by, or drops what it reads of it), a read one gives back
// what it held; the worker whose batch holds it may delete it last.
struct FolderJobRelease {
  void operator()(FolderJob* job) const;
};
using FolderJobHandle = std::unique_ptr<FolderJob, FolderJobRelease>;
// Withdraws a folder's offer of its subfolders to the workers, and releases
// the jobs made of it that the scan has not taken.
struct SubfolderJobsRelease {
  void operator()(SubfolderJobs* offer) const;
};
using SubfolderJobsHandle = std::unique_ptr<SubfolderJobs, SubfolderJobsRelease>;

// The identities of the folders on a path, the deepest first: a folder
// whose identity is already on its own path is a loop (a bind mount of an
// ancestor) and is not entered. Shared, since the jobs of sibling folders
// hold the same path, and a job may outlive its parent's.
struct IdentityChain {
  platform::FolderIdentity identity;
  std::shared_ptr<const IdentityChain> parent;
};
using IdentityPath = std::shared_ptr<const IdentityChain>;
// Whether `identity` (when known) is among the nearest folders of `path`.
// Workers ask it before they read ahead; the scan itself keeps every folder
// of its path in an IdentitySet and asks that before it enters one, so that
// a path of any depth costs one look-up per folder.
bool IsNearOnPath(const IdentityChain* path, const platform::FolderIdentity& identity);

// The identities of the folders on the scan's path, each with how often.
class IdentitySet {
 public:
  bool Contains(const platform::FolderIdentity& identity) const;
  void Add(const platform::FolderIdentity& identity);
  void Remove(const platform::FolderIdentity& identity);
  void Clear() { counts_.clear(); }

 private:
  struct Hash {
    size_t operator()(const platform::FolderIdentity& identity) const {
      return std::hash<uint64_t>()(identity.fileId * 0x9E3779B97F4A7C15ull ^ identity.volumeId);
    }
  };
  std::unordered_map<platform::FolderIdentity, int, Hash> counts_;
};

// The bytes the scan counts of a file as a listing gives it (rounded to
// clusters unless -dir), adding its cluster slack to `slack`.
int64_t CountedFileBytes(const platform::ListingEntry& entry, int64_t& slack);

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
  // What -top and -types note of its files; none without them.
  std::unique_ptr<FolderFiles> files;
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
  // When reading ahead: the subfolders offered to the workers, who make a
  // job of one at a time as they can read it.
  SubfolderJobsHandle subfolderJobs;
};

// Lists `folderPath` (ending in a separator), which its parent's listing
// saw as `expected`, into `contents`. Safe to call from several threads at
// once. A folder that is not found (also one that vanished while it was
// listed) or that changed keeps nothing.
void ReadFolderContents(const std::string& folderPath, const platform::FolderIdentity& expected,
                        FolderContents& contents);
// How the scan reads a folder it reaches without reading ahead:
// ReadFolderContents, or a source of contents read elsewhere put in its place.
extern void (*folderContentsReader)(const std::string& folderPath, const platform::FolderIdentity& expected,
                                    FolderContents& contents);
// ReadFolderContents; when `noteWait`, also whether the read waited (for the
// device, or for a lock the system holds).
ReadWait ReadNotingWait(const std::string& folderPath, const platform::FolderIdentity& expected,
                        FolderContents& contents, bool noteWait);

// Whether a subfolder `name` of a folder whose path (with its separator) has
// `folderLength` characters can be read: room for the name, its separator
// and the listing's wildcard.
bool FitsPathLimit(size_t folderLength, const std::string& name);

// Reading ahead: `threads` folders read at once, the scan's own reads
// included, or with 0 a count that follows what the disk rewards (the scan
// alone while that reads fastest).
void StartReadingAhead(int threads);
// The job of a folder's subfolder `index` (the scan takes them in index
// order) when a worker made one; otherwise none, and the scan reads the
// subfolder itself while the workers go on after it. Also none for a
// subfolder too long to be read, or that is a loop.
FolderJobHandle TakeSubfolderJob(FolderContents& contents, size_t index);
// The contents of a job's folder, once read.
void TakeContents(FolderJob& job, FolderContents& contents);
// Reads a folder the scan reached without a job; the read still counts
// towards how many read at once.
void ReadFolderAlone(const std::string& folderPath, const platform::FolderIdentity& expected,
                     FolderContents& contents);
// Whether workers may read now: then a folder the scan read alone offers
// them its subfolders from `first` on, below the folder's `scanPlace`;
// `path` holds the identities of the folder and its ancestors.
bool WorkersMayReadAhead();
void OfferSubfolders(const std::string& folderPath, const std::string& scanPlace, size_t first,
                     const IdentityPath& path, FolderContents& contents);
// What reading ahead holds before workers pause: the jobs made and not yet
// taken, with what their folders' listings hold. It is passed by at most
// the jobs being read when it is reached.
constexpr size_t kMaxHeldAheadBytes = 4u << 20;
// The most it held at once since reading ahead started.
size_t MostHeldAhead();
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
