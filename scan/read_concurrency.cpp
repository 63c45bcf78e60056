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
constexpr int kProbeWindows = 2;  // at most
constexpr int kMaxProbeInterval = 64;
// What a doubling may cost and still be kept, and what a halving must gain:
// reads known to wait for the device gain from more readers by steps that
// the noise between windows hides, so there the margins are wide.
constexpr double kGainOfMore = 0.97;
constexpr double kLossOfFewer = 1.05;
constexpr double kGainOfMoreWhenWaiting = 0.90;
constexpr double kLossOfFewerWhenWaiting = 1.25;
// Reads whose waiting is known: how many tell, and how many are kept.
constexpr int kKnownReadsToJudge = 8;
constexpr int kRecentReads = 64;

void ChangeCount(ReadConcurrency& control, int count) {
  control.readsToSkip = control.count;
  control.count = std::clamp(count, 1, control.maxCount);
  control.latestWindow = 0;
  control.previousWindow = 0;
}

double CountThroughput(const ReadConcurrency& control) {
  return std::max(control.latestWindow, control.previousWindow);
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

// A folder of no more entries than this, "." and ".." included, costs
// less to read from memory than to hand over.
constexpr int64_t kCheapFolderEntries = 4;

void NoteEntries(ReadConcurrency& control, int64_t entries) {
  control.recentReads += 1;
  if (entries <= kCheapFolderEntries) control.recentCheapReads += 1;
  if (control.recentReads == kRecentReads) {
    control.recentReads /= 2;
    control.recentCheapReads /= 2;
  }
}

// Whether three in four of the recent folders were that small.
bool FoldersAreCheap(const ReadConcurrency& control) {
  return control.recentReads > 0 && control.recentCheapReads * 4 >= control.recentReads * 3;
}

// Whether (nearly) all of the recent reads were served without waiting.
bool ServedFromMemory(const ReadConcurrency& control) {
  return control.recentKnown >= kKnownReadsToJudge && control.recentWaited * 4 < control.recentKnown;
}

// Whether most of the recent reads waited for the device.
bool WaitForDevice(const ReadConcurrency& control) {
  return control.recentKnown >= kKnownReadsToJudge && control.recentWaited * 2 > control.recentKnown;
}

// Reads served from memory keep a worker on every processor: the scan
// spends part of its time on the tree, not reading. On one processor a
// worker would only take turns with the scan, which reads alone; so it does
// while the folders are so small that handing them over costs more than
// reading them.
int CountForMemory(const ReadConcurrency& control) {
  const int count = control.processors == 1 || FoldersAreCheap(control) ? 1 : control.processors + 1;
  return std::min(count, control.maxCount);
}

void SettleOnMemoryCount(ReadConcurrency& control) {
  control.probe = ReadConcurrency::Probe::none;
  control.probeInterval = 1;
  control.windowsSinceProbe = 0;
  control.nextProbeUp = true;
  const int count = CountForMemory(control);
  if (control.count != count) ChangeCount(control, count);
}

// Runs the next windows with the count doubled or halved; false when the
// count cannot move that way.
bool StartProbe(ReadConcurrency& control, bool up) {
  const int target = up ? control.count * 2 : control.count / 2;
  if (target < 1 || target > control.maxCount) return false;
  control.probe = up ? ReadConcurrency::Probe::up : ReadConcurrency::Probe::down;
  control.probeWindows = 0;
  control.countBeforeProbe = control.count;
  control.throughputBeforeProbe = CountThroughput(control);
  ChangeCount(control, target);
  return true;
}

bool ProbePays(const ReadConcurrency& control) {
  const bool up = control.probe == ReadConcurrency::Probe::up;
  const bool waiting = WaitForDevice(control);
  const double margin = up ? (waiting ? kGainOfMoreWhenWaiting : kGainOfMore)
                           : (waiting ? kLossOfFewerWhenWaiting : kLossOfFewer);
  return CountThroughput(control) >= margin * control.throughputBeforeProbe;
}

void EndProbe(ReadConcurrency& control, bool kept) {
  const bool wasUp = control.probe == ReadConcurrency::Probe::up;
  control.probe = ReadConcurrency::Probe::none;
  control.windowsSinceProbe = 0;
  if (kept) {
    // Go on the same way while it pays.
    control.probeInterval = 1;
    if (!StartProbe(control, wasUp)) control.nextProbeUp = !wasUp;
    return;
  }
  ChangeCount(control, control.countBeforeProbe);
  control.probeInterval = std::min(control.probeInterval * 4, kMaxProbeInterval);
  control.nextProbeUp = !wasUp;
}

void DecideOnWindow(ReadConcurrency& control, double throughput) {
  if (ServedFromMemory(control)) {
    SettleOnMemoryCount(control);
    return;
  }
  control.previousWindow = control.latestWindow;
  control.latestWindow = throughput;
  if (control.probe != ReadConcurrency::Probe::none) {
    // A probe that pays is kept at once; one that seems not to is given a
    // second window.
    control.probeWindows += 1;
    const bool pays = ProbePays(control);
    if (pays || control.probeWindows == kProbeWindows) EndProbe(control, pays);
    return;
  }
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
  NoteEntries(control, entries);
  if (control.readsToSkip > 0 || control.windowStart < 0) {
    control.readsToSkip = std::max(0, control.readsToSkip - 1);
    control.windowStart = nanos;
    return false;
  }
  control.windowEntries += entries;
  control.windowReads += 1;
  const int64_t elapsed = std::max<int64_t>(nanos - control.windowStart, 1);
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
