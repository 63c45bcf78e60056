// The walk's state on one rank, shared by its threads under one lock: the
// MPI thread (which makes every MPI call of the process), the readers, and
// on rank 0 the scan. What only the MPI thread touches lives in rank_walk.cpp.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "mpi/kept_listings.h"
#include "mpi/wire.h"
#include "scan/read_concurrency.h"

using Clock = std::chrono::steady_clock;

// What one rank did, for -ranks.
struct RankFigures {
  uint64_t folders = 0;
  uint64_t entries = 0;
  double busySeconds = 0;
};

// The most a rank other than 0 holds of folders to read and listings not
// yet received by rank 0; reaching it, it sends before it reads on.
extern size_t rankMemoryBound;
// A quarter of it bounds the listings that wait at rank 0 for its scan:
// beyond that the other ranks are held, and rank 0 reads only what its scan
// takes next.
size_t KeptBound();
// Whether rank 0 holds as much kept for its scan as may wait there.
bool KeptFull();
// How many folders each rank reads at once (-threads), or 0 for the count
// the single program chooses as it reads.
extern int readersPerRank;


struct RankWalk {
  std::mutex lock;
  std::condition_variable workChanged;  // readers: a folder queued, or the bound lifted
  std::condition_variable listingKept;  // rank 0's scan: its listing kept, a folder to read, or the walk over
  std::condition_variable mpiWake;      // the MPI thread: something to send
  std::condition_variable rankKnown;    // MPI has started, or failed to
  int rank = -1;
  int size = 0;
  bool begun = false;     // the scan's settings are known and the walk under way
  bool stopping = false;  // the readers end
  bool walkOver = false;  // rank 0: no rank has a folder left, and every listing is in
  bool ending = false;    // rank 0: the run ends, and with it MPI
  bool held = false;      // ranks other than 0: rank 0 holds all it may; read no further
  // Ranks other than 0: the folder rank 0's scan waits for, and whether it
  // has been read here, to send at once.
  std::string wanted;
  bool wantedRead = false;
  std::string startPath;
  // Folders to read, the next at the back.
  std::deque<FolderItem> queue;
  size_t queueBytes = 0;
  int reading = 0;  // folders being read now, by any thread
  Clock::time_point busySince;  // when `reading` last rose from 0
  // Listings read and not yet sent (ranks other than 0), and what is on its way.
  std::string listings;
  size_t sendingBytes = 0;
  RankFigures own;
  // How many folders the rank reads at once: the single program's rule.
  ReadConcurrency control;
  uint64_t readsStarted = 0;
  std::vector<std::thread> readers;
  int idleReaders = 0;
  // Rank 0: the listings other ranks read and the scan has not yet taken,
  // by path, kept in the batches they came in; and what rank 0's own readers
  // read ahead of the scan, as the scan takes it (within the bound, some
  // tens of thousands of folders at most, where the listings of other ranks
  // may reach a million).
  KeptListings kept;
  std::unordered_map<std::string, FolderContents> ownReads;
  size_t keptBytes = 0;  // of both, with the batches' slots
  const std::string* awaited = nullptr;  // the path the scan sleeps for
  std::vector<RankFigures> figures;
};

extern RankWalk walk;
