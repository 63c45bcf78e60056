// Reading one folder: its listing summed into what the scan keeps of it. A
// folder can be read where the scan stands, or ahead of it by worker threads;
// either way the scan consumes the same contents in the same order, so the
// tree does not depend on who read what.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scan/tree.h"

struct FolderJob;

struct FolderContents {
  platform::ListStatus status = platform::ListStatus::Listed;
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
  // The subfolders, a new record each, the last listed first (the order the
  // scan takes them in).
  std::vector<TDirEntry*> subfolders;
  // When reading ahead: the job of each subfolder, in the same order; none
  // for a subfolder whose path is too long to be read.
  std::vector<FolderJob*> subfolderJobs;
};

// Lists `folderPath` (ending in a separator) into `contents`. Safe to call
// from several threads at once.
void ReadFolderContents(const std::string& folderPath, FolderContents& contents);

// Whether a subfolder `name` of a folder whose path (with its separator) has
// `folderLength` characters can be read: room for the name, its separator
// and the listing's wildcard.
bool FitsPathLimit(size_t folderLength, const std::string& name);

// Reading ahead with `threads` workers, starting at `rootPath`; returns the
// root's job.
FolderJob* StartReadingAhead(int threads, const std::string& rootPath);
// The contents of a job's folder, once read (by a worker, or here when no
// worker has begun it); the job is released.
void TakeContents(FolderJob* job, FolderContents& contents);
// Stops the workers; every job has been taken by then.
void StopReadingAhead();
