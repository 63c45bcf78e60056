// The walk spread over MPI ranks: every rank reads folders from a queue of
// its own and steals from the others when it runs dry; rank 0's scan
// replays the listings in its own order. See rank_walk.cpp for the messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// What one rank did, for -ranks.
struct RankFigures {
  uint64_t folders = 0;
  uint64_t entries = 0;
  double busySeconds = 0;
};

// The most a rank other than 0 holds of folders to read and listings not
// yet sent; reaching it, it sends before it reads on.
extern size_t rankMemoryBound;

// Called once MPI has started, on every rank.
void StartRankWalk();
// Every rank but 0: waits for rank 0's scan, reads with the others until the
// walk is over, and gives its figures. Nothing of a report is made here.
void ServeAsReader();
// Rank 0, in place of the platform's listing while the scan runs: the first
// call (the start folder) begins the walk on every rank; each call gives
// the listing of `folderPath` once some rank has read it.
platform::ListStatus ListThroughRanks(const std::string& folderPath, const platform::FolderIdentity& expected,
                                      platform::EntryVisitor visit, void* context);
// Rank 0, once the scan is over: reads on with the others until no rank
// has a folder left, then ends the walk on every rank and gathers their
// figures. Tells the other ranks there is no walk when none began.
void FinishRankWalk();
// Whether a walk began and has not been finished.
bool RankWalkUnfinished();
// Each rank's figures, rank 0 first, once the walk is finished.
const std::vector<RankFigures>& FiguresOfRanks();
