// How many folders the scan reads at once, decided while it runs.
//
// The count climbs the throughput, the entries read per second: it is
// measured in windows of reads, and from time to time one window runs with
// the count doubled (or halved). A doubling is kept unless it reads fewer
// entries (by more than 3%), a halving only when it reads as many; a kept
// step is followed by another the same way, and a probe that fails is tried
// again less and less often (after 1, 4, 16, 64 windows), so a spinning disk
// that seeks for every extra reader is seldom disturbed. More readers are
// given the benefit of the doubt because a cold disk keeps gaining up to 64
// of them, by steps too small to stand out from the noise (one window of
// reads can be twice as fast as the next when its folders' neighbours were
// just read), while once the disk or the processors are saturated the extra
// readers only queue (Little's law: readers = reads per second x time per
// read) and the throughput falls, which the next window shows.
//
// The record sees no clock: the caller tells it when each read finished, so
// tests can feed it the timings of a modelled device.
#pragma once

#include <cstdint>

struct ReadConcurrency {
  int count = 1;  // 1: the scan reads alone; N > 1: N workers read ahead
  int maxCount = 1;
  // The window being measured; reads that began under the previous count
  // are skipped first.
  int64_t windowStart = -1;
  int64_t windowEntries = 0;
  int windowReads = 0;
  int readsToSkip = 0;
  // The probe running, if any, and the throughput of the count it left.
  enum class Probe { none, up, down } probe = Probe::none;
  double countBeforeProbe = 1;
  double throughputBeforeProbe = 0;
  int probeInterval = 3;  // windows between probes; grows as probes fail
  int windowsSinceProbe = 0;
  bool nextProbeUp = true;
};

constexpr int kMaxReadConcurrency = 64;

// Starts at one reader, with at most `maxCount` at once.
void StartReadConcurrency(ReadConcurrency& control, int maxCount);
// Records one read of `entries` entries that finished at `nanos` on the
// caller's clock; true when the count changed.
bool RecordFolderRead(ReadConcurrency& control, int64_t nanos, int64_t entries);
