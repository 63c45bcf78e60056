#include "scan/read_concurrency.h"

#include <algorithm>

namespace {

// A window holds two reads per reader (one in a probe, which may cost
// throughput), never so few that one odd folder decides, and lasts 5 ms
// (some scheduler time slices, so that a reader put aside for another
// program does not decide either) unless it already holds many reads.
constexpr int kMinWindowReads = 24;
constexpr int64_t kMinWindowNanos = 5'000'000;
int EnoughReads(int count) { return 64 + 4 * count; }
constexpr int kMaxProbeInterval = 64;
constexpr double kGainOfMore = 0.97;
constexpr double kLossOfFewer = 1.0;

void ChangeCount(ReadConcurrency& control, int count) {
  control.readsToSkip = control.count;
  control.count = std::clamp(count, 1, control.maxCount);
}

// Runs the next window with the count doubled or halved; false when the
// count cannot move that way.
bool StartProbe(ReadConcurrency& control, bool up, double throughput) {
  const int target = up ? control.count * 2 : control.count / 2;
  if (target < 1 || target > control.maxCount) return false;
  control.probe = up ? ReadConcurrency::Probe::up : ReadConcurrency::Probe::down;
  control.countBeforeProbe = control.count;
  control.throughputBeforeProbe = throughput;
  ChangeCount(control, target);
  return true;
}

void EndProbe(ReadConcurrency& control, double throughput) {
  const bool wasUp = control.probe == ReadConcurrency::Probe::up;
  // More readers are kept unless they cost; fewer only if they cost nothing.
  const bool kept = throughput >= (wasUp ? kGainOfMore : kLossOfFewer) * control.throughputBeforeProbe;
  control.probe = ReadConcurrency::Probe::none;
  control.windowsSinceProbe = 0;
  if (kept) {
    // Go on the same way while it pays.
    control.probeInterval = 1;
    if (!StartProbe(control, wasUp, throughput)) control.nextProbeUp = !wasUp;
    return;
  }
  ChangeCount(control, static_cast<int>(control.countBeforeProbe));
  control.probeInterval = std::min(control.probeInterval * 4, kMaxProbeInterval);
  control.nextProbeUp = !wasUp;
}

void DecideOnWindow(ReadConcurrency& control, double throughput) {
  if (control.probe != ReadConcurrency::Probe::none) {
    EndProbe(control, throughput);
    return;
  }
  control.windowsSinceProbe += 1;
  if (control.windowsSinceProbe < control.probeInterval) return;
  control.windowsSinceProbe = 0;
  if (!StartProbe(control, control.nextProbeUp, throughput)) {
    control.nextProbeUp = !control.nextProbeUp;
    StartProbe(control, control.nextProbeUp, throughput);
  }
}

}  // namespace

void StartReadConcurrency(ReadConcurrency& control, int maxCount) {
  control = ReadConcurrency{};
  control.maxCount = std::max(1, maxCount);
}

bool RecordFolderRead(ReadConcurrency& control, int64_t nanos, int64_t entries) {
  if (control.readsToSkip > 0 || control.windowStart < 0) {
    control.readsToSkip = std::max(0, control.readsToSkip - 1);
    control.windowStart = nanos;
    return false;
  }
  control.windowEntries += entries;
  control.windowReads += 1;
  const int64_t elapsed = nanos - control.windowStart;
  const int readsPerReader = control.probe == ReadConcurrency::Probe::none ? 2 : 1;
  if (control.windowReads < std::max(kMinWindowReads, readsPerReader * control.count)) return false;
  if (elapsed < kMinWindowNanos && control.windowReads < EnoughReads(control.count)) return false;
  const double throughput = static_cast<double>(control.windowEntries) / static_cast<double>(elapsed);
  const int before = control.count;
  control.windowStart = nanos;
  control.windowEntries = 0;
  control.windowReads = 0;
  DecideOnWindow(control, throughput);
  return control.count != before;
}
