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
constexpr double kLossOfFewer = 1.15;
// Reads whose waiting is known: how many tell, and how many are kept.
constexpr int kKnownReadsToJudge = 8;
constexpr int kRecentReads = 64;

void ChangeCount(ReadConcurrency& control, int count) {
  control.readsToSkip = control.count;
  control.count = std::clamp(count, 1, control.maxCount);
  control.throughput = 0;
}

void NoteWait(ReadConcurrency& control, ReadWait wait) {
  if (wait == ReadWait::unknown) return;
  control.recentKnown += 1;
  if (wait == ReadWait::waited) control.recentWaited += 1;
  if (control.recentKnown == kRecentReads) {
    control.recentKnown /= 2;
    control.recentWaited /= 2;
  }
}

// Whether (nearly) all of the recent reads were served without waiting.
bool ServedFromMemory(const ReadConcurrency& control) {
  return control.recentKnown >= kKnownReadsToJudge && control.recentWaited * 4 < control.recentKnown;
}

void SettleOnProcessors(ReadConcurrency& control) {
  control.probe = ReadConcurrency::Probe::none;
  control.probeInterval = 1;
  control.windowsSinceProbe = 0;
  control.nextProbeUp = true;
  control.throughput = 0;
  if (control.count != std::min(control.processors, control.maxCount)) ChangeCount(control, control.processors);
}

// Runs the next window with the count doubled or halved; false when the
// count cannot move that way.
bool StartProbe(ReadConcurrency& control, bool up) {
  const int target = up ? control.count * 2 : control.count / 2;
  if (target < 1 || target > control.maxCount) return false;
  control.probe = up ? ReadConcurrency::Probe::up : ReadConcurrency::Probe::down;
  control.countBeforeProbe = control.count;
  control.throughputBeforeProbe = control.throughput;
  ChangeCount(control, target);
  return true;
}

void EndProbe(ReadConcurrency& control, double throughput) {
  const bool wasUp = control.probe == ReadConcurrency::Probe::up;
  // More readers are kept unless they cost; fewer only when they gain.
  const bool kept = throughput >= (wasUp ? kGainOfMore : kLossOfFewer) * control.throughputBeforeProbe;
  control.probe = ReadConcurrency::Probe::none;
  control.windowsSinceProbe = 0;
  if (kept) {
    // Go on the same way while it pays.
    control.throughput = throughput;
    control.probeInterval = 1;
    if (!StartProbe(control, wasUp)) control.nextProbeUp = !wasUp;
    return;
  }
  ChangeCount(control, static_cast<int>(control.countBeforeProbe));
  control.probeInterval = std::min(control.probeInterval * 4, kMaxProbeInterval);
  control.nextProbeUp = !wasUp;
}

void DecideOnWindow(ReadConcurrency& control, double throughput) {
  if (ServedFromMemory(control)) {
    SettleOnProcessors(control);
    return;
  }
  if (control.probe != ReadConcurrency::Probe::none) {
    EndProbe(control, throughput);
    return;
  }
  // One window can read twice as fast as the next: the count's throughput
  // is the mean of its windows, the later ones weighing more.
  control.throughput = control.throughput == 0 ? throughput : (control.throughput + throughput) / 2;
  control.windowsSinceProbe += 1;
  if (control.windowsSinceProbe < control.probeInterval) return;
  control.windowsSinceProbe = 0;
  if (!StartProbe(control, control.nextProbeUp)) {
    control.nextProbeUp = !control.nextProbeUp;
    StartProbe(control, control.nextProbeUp);
  }
}

}  // namespace

void StartReadConcurrency(ReadConcurrency& control, int maxCount, int processors) {
  control = ReadConcurrency{};
  control.maxCount = std::max(1, maxCount);
  control.processors = std::max(1, processors);
}

bool RecordFolderRead(ReadConcurrency& control, int64_t nanos, int64_t entries, ReadWait wait) {
  NoteWait(control, wait);
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
  const double throughput = static_cast<double>(control.windowEntries) / static_cast<double>(std::max<int64_t>(elapsed, 1));
  const int before = control.count;
  control.windowStart = nanos;
  control.windowEntries = 0;
  control.windowReads = 0;
  DecideOnWindow(control, throughput);
  return control.count != before;
}
