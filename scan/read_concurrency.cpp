#include "scan/read_concurrency.h"

#include <algorithm>
#include <cmath>

namespace {

// A window holds two reads per reader, never so few that one odd folder
// decides, and lasts long enough (some scheduler time slices) that a reader
// put aside for another program does not decide either.
constexpr int kMinWindowReads = 12;
constexpr int64_t kMinWindowNanos = 2'000'000;
// The lowest time per entry over the measured one: at or above the first,
// nobody queues; below the second, readers queue for the disk.
constexpr double kNoQueueing = 0.95;
constexpr double kQueueing = 0.90;
constexpr int kMaxProbeInterval = 64;

int WindowReads(const ReadConcurrency& control) { return std::max(kMinWindowReads, 2 * control.count); }

void ChangeCount(ReadConcurrency& control, int count) {
  control.readsToSkip = control.count;
  control.count = std::clamp(count, 1, control.maxCount);
  control.windowsSinceChange = 0;
}

void RaiseCount(ReadConcurrency& control) {
  if (control.windowsSinceChange < control.probeInterval || control.count == control.maxCount) return;
  ChangeCount(control, control.doubling ? control.count * 2 : control.count + std::max(1, control.count / 16));
  control.lastWasProbe = true;
}

void CutCount(ReadConcurrency& control, double share) {
  if (control.lastWasProbe) control.probeInterval = std::min(control.probeInterval * 2, kMaxProbeInterval);
  control.lastWasProbe = false;
  const int served = static_cast<int>(std::lround(control.count * share));
  ChangeCount(control, std::min(control.count - 1, served));
  control.doubling = false;
}

bool DecideOnWindow(ReadConcurrency& control, double nanosPerEntry) {
  // A lone reader never queues: what it measures is the disk's own latency,
  // also when the tree has moved on to a slower (uncached) part.
  if (control.count == 1 || control.lowestNanosPerEntry == 0 || nanosPerEntry < control.lowestNanosPerEntry) {
    control.lowestNanosPerEntry = nanosPerEntry;
  }
  const double share = control.lowestNanosPerEntry / nanosPerEntry;
  const int before = control.count;
  control.windowsSinceChange += 1;
  if (share >= kNoQueueing) {
    if (control.lastWasProbe) control.probeInterval = 1;
    control.lastWasProbe = false;
    RaiseCount(control);
  } else if (share < kQueueing && control.count > 1) {
    CutCount(control, share);
  } else {
    control.lastWasProbe = false;
  }
  return control.count != before;
}

}  // namespace

void StartReadConcurrency(ReadConcurrency& control, int maxCount) {
  control = ReadConcurrency{};
  control.maxCount = std::max(1, maxCount);
}

bool RecordFolderRead(ReadConcurrency& control, int64_t nanos, int64_t entries) {
  if (control.readsToSkip > 0) {
    control.readsToSkip -= 1;
    return false;
  }
  control.windowNanos += nanos;
  control.windowEntries += entries;
  control.windowReads += 1;
  // The reads of all readers add up to about `count` times the wall time.
  if (control.windowReads < WindowReads(control) || control.windowNanos < kMinWindowNanos * control.count) {
    return false;
  }
  const double nanosPerEntry = static_cast<double>(control.windowNanos) / std::max<int64_t>(1, control.windowEntries);
  control.windowNanos = 0;
  control.windowEntries = 0;
  control.windowReads = 0;
  return DecideOnWindow(control, std::max(nanosPerEntry, 1e-9));
}
