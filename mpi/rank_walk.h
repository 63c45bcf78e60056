// The walk spread over MPI ranks: every rank reads folders from a queue of
// its own and steals from the others when it runs dry; rank 0's scan
// replays the listings in its own order. See rank_walk.cpp for the messages.
#pragma once

#include <vector>

#include "mpi/rank_state.h"

// Starts MPI in a thread of its own, which from then on makes every MPI
// call of the process: rank 0's scan reads while MPI starts.
void StartMpiThread();
// This process's rank: the launcher's word for it, else MPI's once started.
int ThisRank();
// Every rank but 0: reads with the others until rank 0 ends the walk, and
// ends MPI. Nothing of a report is made here.
void ServeAsReader();
// Rank 0, once the scan is over: waits until no rank has a folder left and
// every rank's figures are in.
void FinishRankWalk();
// Rank 0, however its run ends: ends MPI, and every rank with it at once
// when the walk is unfinished. Tells the other ranks there is no walk when
// none began.
void EndRanks();
// Each rank's figures, rank 0 first, once the walk is finished.
const std::vector<RankFigures>& FiguresOfRanks();
