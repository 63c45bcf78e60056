// Whole clusters: what a file or a folder's entry list takes on a drive of
// the run's cluster size.
#pragma once

#include <cstdint>

#include "console/held_sums.h"
#include "settings/settings.h"

// Rounds `bytes` up to whole clusters and adds the slack to `waste`.
inline int64_t ClusterRound(int64_t bytes, int64_t& waste) {
  // Clusters are nearly always a power of two: a mask spares a division per file.
  const int64_t cluster = effectiveClusterSize;
  const int64_t remainder = (cluster & (cluster - 1)) == 0 ? bytes & (cluster - 1) : bytes % cluster;
  if (remainder == 0) return bytes;
  const int64_t slack = cluster - remainder;
  waste = AddBytes(waste, slack);
  return AddBytes(bytes, slack);
}
