// How many folders the scan reads at once, decided while it runs, from
// what it measures: whether the reads wait for the device, and how fast the
// folders go with one, two or more readers.
//
// Reads served from memory (a warm cache) never wait for the device: they
// are bound by the processors, and the best count depends on what a folder
// holds against what handing it to a worker costs, and on what else runs.
// No shape of folder tells it: on 1,100,000 empty folders from memory, on
// two idle processors, one reader took 1.21 times the floor scanner's time
// and two 0.92 times, while the rule of an earlier round (read alone while
// most folders hold next to nothing) had won under a load of 4 to 7; and on
// 200,000 files in 20,000 folders under a load of 9, four readers took 0.68
// of the floor's time and one to three 1.06 to 1.11, as more threads get a
// larger share of processors that others want too. So the scan tries the
// counts: one reader, two, one per processor besides the scan (which spends
// part of its time on the tree) and two per processor, a window of at least
// 10 ms each, twice over, and keeps the best; a count with more readers must
// read 3% more to be kept, since extra threads cost the rest of the machine.
// The trial is run again, each count once, after 4 windows, then after 16,
// 64 and 256 while its answer stays the same (the count kept changes only
// for one that reads a tenth more, since windows on a busy machine differ
// by more than 3%; an answer that changes is tried again 4 windows later): then 3 windows in 260 run a count that is
// not the best, under 0.4% of the time where the worst count is 30% slower.
//
// Otherwise the count climbs the throughput, the entries read per second.
// It is measured in windows of reads, and a count's throughput is the better
// of its last two windows: one window in a stretch of large or scattered
// folders can read a fraction of the next, and the better one shows what
// the count can do. From time to time two windows run with the count doubled
// (or halved). A doubling is kept unless it reads fewer entries, a halving
// only when it reads more, each by a margin; a kept step is followed by
// another the same way, and a probe that fails is tried again less and less
// often (after 1, 4, 16, 64 windows), so a spinning disk that seeks for every
// extra reader is seldom disturbed. Reads known to wait for the device give
// more readers a wide benefit of the doubt: a cold disk keeps gaining up to
// 64 of them, by steps smaller than the noise between windows, while once
// the device is saturated the extra readers only queue (Little's law:
// readers = reads per second x time per read) and the throughput falls.
//
// The reads are counted as they finish, not as the scan takes them: counted
// as taken, a trial of one reader after four first took what the others had
// read ahead, and on 990,000 files in 60,000 folders under a load of 3 to 4
// the scan kept one reader, 2.28 s against 1.23 s for two (on 1,100,000 empty
// folders it matched one reader, the best there: 3.96 s against 3.99, where
// counted as read it took 4.69).
// Counted as taken, but skipping after each change what the count before
// had read ahead (1,000 to 3,000 empty folders), and with each count's
// windows averaged rather than the best kept, it did no better on the empty
// folders under a load of 4 (5.59 s against 5.84 in 5 runs, one reader
// 4.96; then 5.40 against 5.28, one reader 4.49) and was not kept, though
// on the 990,000 files it did better in three runs of four (3.04 s against
// 3.60, two readers 2.99).
//
// The record sees no clock: the caller tells it when each read finished, so
// tests can feed it the timings of a modelled device.
#pragma once

#include <cstdint>

// Whether a read waited for the device; the caller samples it.
enum class ReadWait { unknown, none, waited };

struct ReadConcurrency {
  int count = 1;  // the scan and count - 1 workers
  int maxCount = 1;
  int processors = 1;
  // The window being measured; reads that began under the previous count
  // are skipped first.
  int64_t windowStart = -1;
  int64_t windowEntries = 0;
  int windowReads = 0;
  int readsToSkip = 0;
  // The throughput of the count's last two windows (0: none yet).
  double latestWindow = 0;
  double previousWindow = 0;
  // The recent reads whose waiting is known, and those of them that waited;
  // both halved as they grow, so that older reads weigh less.
  int recentKnown = 0;
  int recentWaited = 0;
  // The probe running, if any (a trial of the counts for reads served from
  // memory, or a step up or down), its windows so far, and the count it left
  // with that count's throughput.
  enum class Probe { none, up, down, trial } probe = Probe::none;
  int probeWindows = 0;
  int countBeforeProbe = 1;
  double throughputBeforeProbe = 0;
  int probeInterval = 3;  // windows between probes; grows as probes fail
  int windowsSinceProbe = 0;
  bool nextProbeUp = true;
  // The trial: the counts it tries and the best throughput of each so far.
  static constexpr int kTrialCounts = 4;
  int trialCounts[kTrialCounts] = {};
  double trialThroughput[kTrialCounts] = {};
  int trialSize = 0;
  int trialAnswer = 0;  // the count the last trial kept; 0: none yet
};

constexpr int kMaxReadConcurrency = 64;

// Starts at one reader, with at most `maxCount` at once, on `processors`
// processors.
void StartReadConcurrency(ReadConcurrency& control, int maxCount, int processors);
// Records one read of `entries` entries that finished at `nanos` on the
// caller's clock; true when the count changed.
bool RecordFolderRead(ReadConcurrency& control, int64_t nanos, int64_t entries, ReadWait wait);
