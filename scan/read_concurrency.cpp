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

// Whether (nearly) all of the recent reads were served without waiting.
bool ServedFromMemory(const ReadConcurrency& control) {
  return control.recentKnown >= kKnownReadsToJudge && control.recentWaited * 4 < control.recentKnown;
}

// Whether most of the recent reads waited for the device.
bool WaitForDevice(const ReadConcurrency& control) {
  return control.recentKnown >= kKnownReadsToJudge && control.recentWaited * 2 > control.recentKnown;
}

// A window of reads from memory lasts this long at least: a shorter one on
// a busy machine is decided by a time slice given to another program.
constexpr int64_t kMemoryWindowNanos = 10'000'000;
// The first trial tries each count twice, a later one once: an answer that
// changes is checked again 4 windows later.
constexpr int kFirstTrialPasses = 2;
constexpr int kFirstTrialInterval = 4;
constexpr int kMaxTrialInterval = 256;
constexpr double kGainToChange = 1.10;

// Tries one reader, two, one per processor besides the scan, and two per
// processor, in rising order.
void StartTrial(ReadConcurrency& control) {
  control.trialSize = 0;
  for (int count : {1, 2, control.processors + 1, 2 * control.processors}) {
    count = std::min(count, control.maxCount);
    if (control.trialSize > 0 && control.trialCounts[control.trialSize - 1] >= count) continue;
    control.trialCounts[control.trialSize] = count;
    control.trialThroughput[control.trialSize] = 0;
    control.trialSize += 1;
  }
  control.windowsSinceProbe = 0;
  if (control.trialSize == 1) {
    control.trialAnswer = control.trialCounts[0];
    if (control.count != control.trialAnswer) ChangeCount(control, control.trialAnswer);
    return;
  }
  control.probe = ReadConcurrency::Probe::trial;
  control.probeWindows = 0;
  ChangeCount(control, control.trialCounts[0]);
}

// The fewest readers that read within the margin of the best count; the
// counts are tried in rising order.
int TrialAnswer(const ReadConcurrency& control) {
  const double best = *std::max_element(control.trialThroughput, control.trialThroughput + control.trialSize);
  // The count kept last stays unless another reads a tenth more: windows on
  // a busy machine differ by more than the margin, and counts that read
  // alike would otherwise take turns, each change a new trial soon after.
  for (int i = 0; i < control.trialSize; ++i) {
    if (control.trialCounts[i] == control.trialAnswer && control.trialThroughput[i] * kGainToChange >= best) {
      return control.trialAnswer;
    }
  }
  for (int i = 0; i < control.trialSize; ++i) {
    if (control.trialThroughput[i] >= kGainOfMore * best) return control.trialCounts[i];
  }
  return control.trialCounts[control.trialSize - 1];
}

void EndTrial(ReadConcurrency& control) {
  control.probe = ReadConcurrency::Probe::none;
  const int answer = TrialAnswer(control);
  control.probeInterval =
      answer == control.trialAnswer ? std::min(control.probeInterval * 4, kMaxTrialInterval) : kFirstTrialInterval;
  control.trialAnswer = answer;
  control.windowsSinceProbe = 0;
  if (control.count != answer) ChangeCount(control, answer);
}

void DecideOnMemoryWindow(ReadConcurrency& control, double throughput) {
  if (control.probe == ReadConcurrency::Probe::trial) {
    const int tried = control.probeWindows % control.trialSize;
    control.trialThroughput[tried] = std::max(control.trialThroughput[tried], throughput);
    control.probeWindows += 1;
    const int passes = control.trialAnswer == 0 ? kFirstTrialPasses : 1;
    if (control.probeWindows == passes * control.trialSize) {
      EndTrial(control);
    } else {
      ChangeCount(control, control.trialCounts[control.probeWindows % control.trialSize]);
    }
    return;
  }
  // A step of the device's probing gives way to a trial at once.
  control.probe = ReadConcurrency::Probe::none;
  control.windowsSinceProbe += 1;
  if (control.trialAnswer == 0 || control.windowsSinceProbe >= control.probeInterval) StartTrial(control);
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
    DecideOnMemoryWindow(control, throughput);
    return;
  }
  // Reads that wait again: the count climbs from where the trial left it,
  // and a return to memory tries the counts anew.
  control.trialAnswer = 0;
  if (control.probe == ReadConcurrency::Probe::trial) control.probe = ReadConcurrency::Probe::none;
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
  if (ServedFromMemory(control) ? elapsed < kMemoryWindowNanos
                                : elapsed < kMinWindowNanos && control.windowReads < EnoughReads(control.count)) {
    return false;
  }
  const double throughput = static_cast<double>(control.windowEntries) / static_cast<double>(elapsed);
  const int before = control.count;
  control.windowStart = nanos;
  control.windowEntries = 0;
  control.windowReads = 0;
  DecideOnWindow(control, throughput);
  return control.count != before;
}
