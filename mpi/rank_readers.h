// Reading on one rank: the folders of its queue, several at once as the
// single program reads them, the listings of other ranks recorded for rank
// 0's scan, rank 0's own reads kept as its scan takes them. Every
// function here but the single program's two ways in (ListForRank,
// ContentsForRank) is called with walk.lock held (ReadOneFolder releases it
// while it reads).
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

#include "mpi/wire.h"

// Listings go to rank 0 in batches of about this size.
constexpr size_t kBatchBytes = 256 << 10;

void PushItem(FolderItem item);
size_t ItemBytes(const FolderItem& item);
// No folder queued and none being read.
bool RankIdle();
// A rank other than 0 at its memory bound with something on its way to
// rank 0, or held by rank 0; rank 0 with as much kept for its scan as may
// wait there: its readers wait until that passes.
bool AtMemoryBound();
// Reads the next folder if one more may be read at once and the rank is
// within its bound, or in any case `beyondCount`; true when it did.
bool ReadOneFolder(std::unique_lock<std::mutex>& hold, bool beyondCount);
// Lists folders for the single program's reading: from the file system, a
// rank other than 0 recording each listing to send; on rank 0's scan, the
// listing another rank read.
platform::ListStatus ListForRank(const std::string& folderPath, const platform::FolderIdentity& expected,
                                 platform::EntryVisitor visit, void* context);
// Rank 0's scan reads its folders through the ranks: what its own rank read
// of the folder, or the listing another rank read, or the folder read now.
// The first call begins the walk.
void ContentsForRank(const std::string& folderPath, const platform::FolderIdentity& expected,
                     FolderContents& contents);
// Wakes the readers for `folders` folders newly queued, or for a lifted bound.
void WakeReaders(size_t folders);
// Sets how many folders the rank reads at once, and starts its readers.
void StartReading();
// Ends the readers once their folders are read; called without the lock.
void StopReaders();
// Rank 0: keeps a batch of listings other ranks read until the scan takes them.
void KeepListings(std::string bytes);
