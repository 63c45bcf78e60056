// How many folders the scan reads at once, decided while it runs.
//
// Each finished folder read reports how long it took and how many entries it
// held. Reads that do not wait for each other take the same time per entry
// however many run at once; once the disk (or the processors) is saturated,
// every extra reader only queues, and the time per entry grows with the
// count (Little's law: readers = reads per second x time per read). So the
// count doubles while the time per entry stays near the lowest seen, and
// when it rises the count is cut to what the disk serves without queueing:
// count x lowest / measured. From there it probes upwards a sixteenth at a
// time, and a probe that made things worse is retried less and less often,
// so a spinning disk that slows down with every extra reader stays at one.
//
// The record sees no clock: the caller measures, so tests can feed it the
// timings of a modelled device.
#pragma once

#include <cstdint>

struct ReadConcurrency {
  int count = 1;  // 1: the scan reads alone; N > 1: N workers read ahead
  int maxCount = 1;
  // The reads of the window being measured, and reads left to skip first:
  // those that began under the previous count.
  int64_t windowNanos = 0;
  int64_t windowEntries = 0;
  int windowReads = 0;
  int readsToSkip = 0;
  double lowestNanosPerEntry = 0;  // 0 until the first window
  bool doubling = true;            // until the first cut; then a sixteenth more
  bool lastWasProbe = false;
  int probeInterval = 3;  // windows between probes; grows as probes fail
  int windowsSinceChange = 0;
};

constexpr int kMaxReadConcurrency = 64;

// Starts at one reader, with at most `maxCount` at once.
void StartReadConcurrency(ReadConcurrency& control, int maxCount);
// Records one read of `entries` entries that took `nanos`; true when the
// count changed.
bool RecordFolderRead(ReadConcurrency& control, int64_t nanos, int64_t entries);
