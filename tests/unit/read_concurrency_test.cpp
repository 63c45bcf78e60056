#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "scan/read_concurrency.h"

namespace {

// A device: the entries per millisecond that `readers` reading at once get
// through together, whether its reads wait for it (a cache's do not), the
// processors of the machine, and the entries of every folder (0: mixed).
struct Device {
  const char* name;
  double (*throughput)(int readers);
  bool readsWait;
  int processors;
  int entries = 0;
};

// Hands the controller the timings a device gives and measures what it made
// of them.
struct Outcome {
  double settledShare = 0;  // of the reads after settling outside probes, those at the best count (within 10%)
  double settledSpeed = 0;  // their throughput over the device's best
  double wholeSpeed = 0;    // every read's throughput over one reader's
};

// The best of the counts the controller can take: it doubles and halves
// from one reader, and for reads it is told come from memory it tries a
// worker per processor besides the scan too.
int BestCount(const Device& device, bool waitsTold) {
  std::vector<int> counts;
  for (int readers = 1; readers <= kMaxReadConcurrency; readers *= 2) counts.push_back(readers);
  if (waitsTold && !device.readsWait && device.processors > 1) counts.push_back(device.processors + 1);
  int best = 1;
  for (const int readers : counts) {
    if (device.throughput(readers) > device.throughput(best) * 1.001) best = readers;
  }
  return best;
}

// `waitsTold`: the controller is told of every eighth read whether it
// waited, as the scan samples it; otherwise of none, as on Windows.
Outcome Drive(const Device& device, int folders, int settleAfter, bool waitsTold = true) {
  ReadConcurrency control;
  StartReadConcurrency(control, kMaxReadConcurrency, device.processors);
  const int best = BestCount(device, waitsTold);
  double settledMs = 0, settledEntries = 0, wholeMs = 0, wholeEntries = 0, clockMs = 0;
  int restingReads = 0, readsAtBest = 0;
  for (int folder = 0; folder < folders; ++folder) {
    const int entries = device.entries > 0 ? device.entries : 5 + (folder * 7919) % 60;
    const int readers = control.count;
    // The readers together get through `rate` entries a millisecond, so
    // each read adds its share of that to the clock.
    const double rate = device.throughput(readers);
    const double shareOfTimeMs = entries / rate;
    clockMs += shareOfTimeMs;
    wholeMs += shareOfTimeMs;
    wholeEntries += entries;
    if (folder >= settleAfter) {
      settledMs += shareOfTimeMs;
      settledEntries += entries;
      if (control.probe == ReadConcurrency::Probe::none) {
        restingReads += 1;
        if (std::abs(readers - best) <= best / 10.0) readsAtBest += 1;
      }
    }
    ReadWait wait = ReadWait::unknown;
    if (waitsTold && folder % 8 == 0) wait = device.readsWait ? ReadWait::waited : ReadWait::none;
    RecordFolderRead(control, static_cast<int64_t>(clockMs * 1e6), entries, wait);
  }
  Outcome run;
  run.settledShare = static_cast<double>(readsAtBest) / restingReads;
  run.settledSpeed = settledEntries / settledMs / device.throughput(best);
  run.wholeSpeed = wholeEntries / wholeMs / device.throughput(1);
  return run;
}

// Past its best count every device loses a little to the readers that only
// queue: commands reordered, threads switched.
double Queueing(int readers, int best, double lossPerReader) {
  return 1 / (1 + lossPerReader * std::max(0, readers - best));
}

const Device kDevices[] = {
    {"solid-state disk, saturated at 32", [](int n) { return 100.0 * std::min(n, 32) * Queueing(n, 32, 0.01); }, true, 2},
    {"solid-state disk, saturated at 16", [](int n) { return 100.0 * std::min(n, 16) * Queueing(n, 16, 0.02); }, true, 2},
    {"spinning disk", [](int n) { return 40.0 * Queueing(n, 1, 0.5); }, true, 2},
    {"network share", [](int n) { return 0.5 * std::min(n, 200); }, true, 2},
    // The scan reads a little over half the time: a third reader fills both processors.
    {"warm cache on two processors", [](int n) { return 400.0 * std::min(n - 0.4, 2.0) * Queueing(n, 3, 0.03); }, false, 2},
    {"warm cache on one processor", [](int n) { return 400.0 * Queueing(n, 1, 0.05); }, false, 1},
    // Two programs beside it take the processors' time too: a thread more
    // gets the scan a larger share of them, up to four readers.
    {"warm cache on two processors beside two busy programs",
     [](int n) { return 400.0 * std::min(n - 0.4, 2.0 * n / (n + 2)) * Queueing(n, 4, 0.1); }, false, 2},
    // Empty folders ("." and ".."): as measured on two idle processors, two
    // readers take 0.92 of the floor's time, one 1.21; with more readers,
    // or beside other programs, handing a folder over costs more than
    // reading it.
    {"empty folders from memory, two readers fastest",
     [](int n) { return n == 1 ? 20 / 1.21 : 20 / 0.92 * Queueing(n, 2, 0.05); }, false, 2, 2},
    {"empty folders from memory, handing over dearer", [](int n) { return 20.0 * Queueing(n, 1, 0.2); }, false, 2, 2},
};

TEST(ReadConcurrency, SettlesNearEachDevicesBestCountWithinAFewHundredFolders) {
  for (const bool waitsTold : {true, false}) {
    for (const Device& device : kDevices) {
      const Outcome run = Drive(device, 5000, 700, waitsTold);
      EXPECT_GE(run.settledShare, 0.9) << device.name << (waitsTold ? "" : ", waits not told");
      EXPECT_GE(run.settledSpeed, 0.9) << device.name << (waitsTold ? "" : ", waits not told");
    }
  }
}

TEST(ReadConcurrency, NeverSlowsASpinningDiskBelowNineTenthsOfOneReader) {
  for (int folders : {300, 1000, 5000, 20000}) {
    for (const bool waitsTold : {true, false}) {
      EXPECT_GE(Drive(kDevices[2], folders, 0, waitsTold).wholeSpeed, 0.9) << folders << " folders";
    }
  }
}

TEST(ReadConcurrency, StaysWithinItsLimits) {
  ReadConcurrency control;
  StartReadConcurrency(control, 8, 2);
  int64_t clock = 0;
  for (int read = 0; read < 2000; ++read) {
    clock += 1000000 / control.count;  // each reader takes 1 ms a folder
    RecordFolderRead(control, clock, 10, ReadWait::waited);
    ASSERT_GE(control.count, 1);
    ASSERT_LE(control.count, 8);
  }
  EXPECT_EQ(control.count, 8);  // reads that never slow down earn every reader
}

}  // namespace
