// The messages of the walk, for rank 0 (R0) and two readers (R1, R2):
//
//   R0 scan: lists the start folder; R0 reads at once, while MPI starts
//   R0, MPI started ──Begin(start path, settings)──> R1, R2
//   R1 idle ──AskWork──> R0 (a random rank)      R0 ──Work(half its queue)──> R1
//   R2 idle ──AskWork──> R1                      R1 ──Work(none)──> R2; R2 waits, asks again
//   R1 reads its folders, their subfolders go on its queue
//   R1 ──Listings(what it read, in batches)──> R0, which keeps them by path
//   R0 holding a quarter of -rankmemory for its scan ──Pace(hold)──> R1, R2:
//            they read no further; ──Pace(go)──> when it falls below, or
//            when the scan waits for a folder it does not hold
//   R0 scan: takes each listing by path as the single program's scan reaches
//            the folder; while it waits, R0 reads from its own queue
//   R0 scan waiting for a folder ──Want(its path)──> R1, R2: they send what
//            they read at once, and that folder as soon as it is read
//   R0 idle ──Token(white)──> R1 ──> R2 ──> R0   (each passes it on when idle)
//   a white token back at an idle, white R0: no rank has a folder left
//   R0 ──Stop──> R1, R2     R1, R2 ──Figures──> R0     then R0 writes the report
//
// Termination is Dijkstra's token ring: a rank that gives work turns black,
// a black rank blackens the token as it passes it on, and only a round that
// comes back white ends the walk. A rank gives work only to a rank that is
// waiting for an answer, and holds the token while it waits, so no work is
// ever in flight while the token passes. Listings are sent before a rank
// passes the token and travel to R0 in order, so they are all in once the
// figures are.
//
// One thread of each process makes every MPI call: it starts MPI, answers
// and sends messages, and on ranks other than 0 reads between them. MPI's
// start takes a quarter of a second here, as long as a warm scan of 20,000
// folders; rank 0's scan does not wait for it.
#include "mpi/rank_walk.h"

#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>

#include "mpi/absent_adapters.h"
#include "mpi/rank_readers.h"
#include "scan/exclusions.h"
#include "scan/folder_listing.h"
#include "settings/settings.h"

namespace {

enum Tag : int { kBegin = 1, kAskWork, kWork, kListings, kToken, kStop, kFigures, kPace, kWant };

// Listings go to rank 0 at least this often.
constexpr auto kBatchInterval = std::chrono::milliseconds(10);
constexpr size_t kMostWorkBytes = 16 << 20;
// An idle rank that was refused asks again after a pause that doubles up to
// the longest: asking a busy rank costs it a little of its reading.
constexpr auto kFirstPause = std::chrono::microseconds(50);
constexpr auto kLongestPause = std::chrono::milliseconds(4);
// While its rank reads, the MPI thread looks for messages this often: a
// rank that asks for work waits about this long for its answer.
constexpr auto kBusyPoll = std::chrono::microseconds(200);
constexpr auto kQuietPoll = std::chrono::milliseconds(10);
// Rank 0 tells the others what its scan waits for at most this often: on
// many ranks, each time is a message to each.
constexpr auto kWantInterval = std::chrono::milliseconds(1);

struct PendingSend {
  std::string bytes;
  MPI_Request request;
};

// What the MPI thread alone touches.
struct MpiSide {
  std::thread thread;
  bool beginSent = false;  // rank 0
  bool stopped = false;    // other ranks: told to stop
  std::vector<std::unique_ptr<PendingSend>> sends;
  size_t sendingBytes = 0;
  Clock::time_point lastSent;
  bool askedForWork = false;
  Clock::time_point nextAsk;
  Clock::duration pause = kFirstPause;
  bool holdsToken = false;
  bool tokenBlack = false;
  bool black = false;         // gave work since it last passed the token on
  bool roundStarted = false;  // rank 0
  bool allIdle = false;       // rank 0: a round came back white
  bool stopSent = false;      // rank 0
  bool othersHeld = false;    // rank 0: told the others to read no further
  std::string wantSent;       // rank 0: the folder it last told the others its scan waits for
  Clock::time_point wantSentAt;
  Clock::time_point goSince;  // rank 0: when it last let them read on
  int figuresAwaited = 0;     // rank 0
  std::mt19937 random;
};

MpiSide mpi;

[[noreturn]] void EndWithFault(const std::string& text) {
  std::fprintf(stderr, "tallyfold-mpi: rank %d: %s\n", walk.rank, text.c_str());
  MPI_Abort(MPI_COMM_WORLD, 3);
  std::abort();
}

void Send(int to, Tag tag, std::string bytes) {
  auto send = std::make_unique<PendingSend>();
  send->bytes = std::move(bytes);
  MPI_Isend(send->bytes.data(), static_cast<int>(send->bytes.size()), MPI_BYTE, to, tag, MPI_COMM_WORLD,
            &send->request);
  mpi.sendingBytes += send->bytes.size();
  mpi.sends.push_back(std::move(send));
}

void CompleteSends() {
  size_t kept = 0;
  for (auto& send : mpi.sends) {
    int done = 0;
    MPI_Test(&send->request, &done, MPI_STATUS_IGNORE);
    if (done) {
      mpi.sendingBytes -= send->bytes.size();
    } else {
      mpi.sends[kept++] = std::move(send);
    }
  }
  mpi.sends.resize(kept);
}

void WaitForSends() {
  for (auto& send : mpi.sends) MPI_Wait(&send->request, MPI_STATUS_IGNORE);
  mpi.sends.clear();
  mpi.sendingBytes = 0;
}

void SendToOthers(Tag tag, const std::string& bytes) {
  for (int rank = 1; rank < walk.size; ++rank) Send(rank, tag, bytes);
}

// ---- With walk.lock held ------------------------------------------------

void ShipListings() {
  mpi.lastSent = Clock::now();
  if (walk.listings.empty()) return;
  Send(0, kListings, std::move(walk.listings));
  walk.listings = std::string();
}

// A batch that is full or old enough goes out, and whatever was read at
// the bound, while rank 0 holds this rank, or once the folder rank 0's scan
// waits for is read.
void ShipWhenDue() {
  if (walk.listings.size() >= kBatchBytes || Clock::now() - mpi.lastSent >= kBatchInterval || walk.held ||
      walk.wantedRead || walk.queueBytes + walk.listings.size() + mpi.sendingBytes >= rankMemoryBound) {
    walk.wantedRead = false;
    ShipListings();
  }
}

std::string BeginMessage() {
  std::string out;
  PutText(out, walk.startPath);
  PutNumber(out, options.crossMounts);
  PutNumber(out, static_cast<uint64_t>(effectiveClusterSize));
  PutNumber(out, static_cast<uint64_t>(readersPerRank));
  PutNumber(out, exclusions.startPathLength);
  PutNumber(out, exclusions.namePatterns.size());
  for (const std::string& pattern : exclusions.namePatterns) PutText(out, pattern);
  PutNumber(out, exclusions.pathPatterns.size());
  for (const auto& names : exclusions.pathPatterns) {
    PutNumber(out, names.size());
    for (const std::string& name : names) PutText(out, name);
  }
  return out;
}

// A reader takes the scan's settings from rank 0, whatever its own
// environment and stored defaults say.
void Begin(std::string_view message) {
  WireReader reader{message};
  walk.startPath = reader.Text();
  options.crossMounts = reader.Number() != 0;
  effectiveClusterSize = static_cast<int32_t>(reader.Number());
  readersPerRank = static_cast<int>(reader.Number());
  exclusions = Exclusions{};
  exclusions.startPathLength = reader.Number();
  for (uint64_t n = reader.Number(); n > 0; --n) exclusions.namePatterns.emplace_back(reader.Text());
  for (uint64_t n = reader.Number(); n > 0; --n) {
    std::vector<std::string> names;
    for (uint64_t m = reader.Number(); m > 0; --m) names.emplace_back(reader.Text());
    exclusions.pathPatterns.push_back(std::move(names));
  }
  platform::BeginWalk(walk.startPath);
  folderLister = ListForRank;
  StartReading();
  walk.begun = true;
  mpi.lastSent = Clock::now();
}

// Half the queue, the oldest folders, to a rank that asked (in one message
// of a bounded size); a single folder stays, since this rank is about to
// read it.
void AnswerAskForWork(int thief) {
  std::string out;
  if (walk.begun && !walk.stopping) {
    for (size_t n = walk.queue.size() / 2; n > 0 && out.size() < kMostWorkBytes; --n) {
      PutFolderItem(out, walk.queue.front());
      walk.queueBytes -= ItemBytes(walk.queue.front());
      walk.queue.pop_front();
      mpi.black = true;
    }
  }
  Send(thief, kWork, std::move(out));
}

void TakeWork(std::string_view message) {
  mpi.askedForWork = false;
  WireReader reader{message};
  if (reader.AtEnd()) {
    mpi.nextAsk = Clock::now() + mpi.pause;
    mpi.pause = std::min<Clock::duration>(mpi.pause * 2, kLongestPause);
    return;
  }
  size_t folders = 0;
  for (; !reader.AtEnd(); ++folders) PushItem(ReadFolderItem(reader));
  mpi.pause = kFirstPause;
  WakeReaders(folders);
  // Rank 0's scan reads while it waits for a listing.
  walk.listingKept.notify_one();
}

std::string FiguresMessage() {
  std::string out;
  PutNumber(out, walk.own.folders);
  PutNumber(out, walk.own.entries);
  PutNumber(out, static_cast<uint64_t>(walk.own.busySeconds * 1e9));
  return out;
}

void TakeFigures(int from, std::string_view message) {
  WireReader reader{message};
  RankFigures& figures = walk.figures[static_cast<size_t>(from)];
  figures.folders = reader.Number();
  figures.entries = reader.Number();
  figures.busySeconds = static_cast<double>(reader.Number()) / 1e9;
  mpi.figuresAwaited -= 1;
}

void PassToken(int to, bool black) {
  mpi.holdsToken = false;
  mpi.black = false;
  Send(to, kToken, std::string(1, black ? '\1' : '\0'));
}

// A rank with no folder left: passes the token on (rank 0 judges the round
// it comes back from), then asks a random other rank for work.
void IdleStep() {
  if (walk.size == 1) {
    mpi.allIdle = true;
    return;
  }
  if (mpi.askedForWork) return;
  ShipListings();
  if (mpi.holdsToken) {
    if (walk.rank != 0) {
      PassToken((walk.rank + 1) % walk.size, mpi.tokenBlack || mpi.black);
    } else if (mpi.roundStarted && !mpi.tokenBlack && !mpi.black) {
      mpi.allIdle = true;
      return;
    } else {
      mpi.roundStarted = true;
      PassToken(1, false);
    }
  }
  if (mpi.allIdle || Clock::now() < mpi.nextAsk) return;
  std::uniform_int_distribution<int> others(0, walk.size - 2);
  int victim = others(mpi.random);
  if (victim >= walk.rank) victim += 1;
  mpi.askedForWork = true;
  Send(victim, kAskWork, std::string());
}

// Rank 0 holds the others while more than its bound waits for its scan,
// and lets them read on when it falls below, or when the scan waits for a
// folder not in rank 0's own queue (it is in another's, or on its way): so
// the rank that holds it can always send it. Held again only after reading
// on a while, as what they send next is mostly what the scan takes next.
void PaceOthers() {
  const bool hold = KeptFull() && walk.awaited == nullptr && Clock::now() - mpi.goSince >= kBatchInterval;
  const bool go = !KeptFull() || walk.awaited != nullptr;
  if (mpi.othersHeld ? !go : !hold) return;
  mpi.othersHeld = !mpi.othersHeld;
  if (!mpi.othersHeld) mpi.goSince = Clock::now();
  SendToOthers(kPace, std::string(1, mpi.othersHeld ? '\1' : '\0'));
}

// Rank 0's scan waits for a folder: whichever rank read it, or reads it
// next, sends it without waiting for its batch to fill (the scan follows
// close behind a thief that reads in the scan's order, and would wait for
// each batch).
void TellWhatTheScanWaitsFor() {
  if (walk.awaited == nullptr || *walk.awaited == mpi.wantSent) return;
  const Clock::time_point now = Clock::now();
  if (now - mpi.wantSentAt < kWantInterval) return;
  mpi.wantSentAt = now;
  mpi.wantSent = *walk.awaited;
  SendToOthers(kWant, mpi.wantSent);
}

void TakeWant(std::string_view path) {
  walk.wanted = path;
  ShipListings();
}

void TakePace(std::string_view message) {
  walk.held = !message.empty() && message[0] != 0;
  if (!walk.held) walk.workChanged.notify_all();
}

// Rank 0: tells the others of the walk once MPI has started, ends it once
// a round comes back white, and holds it over once every rank's figures
// are in. A run that ends with the walk unfinished ends every rank.
void LeadStep() {
  if (walk.ending && walk.begun && !walk.walkOver) MPI_Abort(MPI_COMM_WORLD, 1);
  if (!walk.begun) return;
  if (!mpi.beginSent) {
    SendToOthers(kBegin, BeginMessage());
    mpi.beginSent = true;
  }
  if (walk.walkOver) return;
  if (mpi.stopSent) {
    if (mpi.figuresAwaited > 0) return;
    walk.figures[0] = walk.own;
    walk.walkOver = true;
    walk.listingKept.notify_all();
    return;
  }
  PaceOthers();
  TellWhatTheScanWaitsFor();
  if (RankIdle()) IdleStep();
  if (mpi.allIdle) {
    SendToOthers(kStop, std::string());
    mpi.stopSent = true;
    mpi.figuresAwaited = walk.size - 1;
  }
}

void ServeStep() {
  if (!walk.begun || mpi.stopped) return;
  ShipWhenDue();
  if (RankIdle()) IdleStep();
}

// ---- Messages -----------------------------------------------------------

// A rank told to stop is idle: its readers end, and what it read and its
// figures go to rank 0.
void Stop() {
  mpi.stopped = true;
  if (!walk.begun) return;
  StopReaders();
  std::lock_guard<std::mutex> hold(walk.lock);
  ShipListings();
  Send(0, kFigures, FiguresMessage());
}

void Dispatch(const MPI_Status& status, std::string& message) {
  if (status.MPI_TAG == kStop) return Stop();
  std::lock_guard<std::mutex> hold(walk.lock);
  switch (status.MPI_TAG) {
    case kBegin: Begin(message); break;
    case kAskWork: AnswerAskForWork(status.MPI_SOURCE); break;
    case kWork: TakeWork(message); break;
    case kListings: KeepListings(std::move(message)); break;
    case kToken:
      mpi.holdsToken = true;
      mpi.tokenBlack = !message.empty() && message[0] != 0;
      break;
    case kFigures: TakeFigures(status.MPI_SOURCE, message); break;
    case kPace: TakePace(message); break;
    case kWant: TakeWant(message); break;
    default: EndWithFault("unknown message " + std::to_string(status.MPI_TAG));
  }
}

// Handles every message that has arrived; true when there was one.
bool HandleMessages() {
  bool any = false;
  for (;;) {
    int arrived = 0;
    MPI_Status status;
    MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &arrived, &status);
    if (!arrived) break;
    int count = 0;
    MPI_Get_count(&status, MPI_BYTE, &count);
    std::string message(static_cast<size_t>(count), '\0');
    MPI_Recv(message.data(), count, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
    Dispatch(status, message);
    any = true;
  }
  return any;
}

// Rank 0 ends MPI as soon as every rank has finished, while its report is
// written: MPI's end takes 50 ms here, most of it waiting for the launcher.
bool LoopDone() {
  if (walk.rank != 0) return mpi.stopped;
  std::lock_guard<std::mutex> hold(walk.lock);
  return walk.walkOver || (walk.ending && !walk.begun);
}

// How long the MPI thread sleeps when nothing arrived: an idle rank as long
// as it pauses between asks, a reading one until the next look. A rank
// alone has no messages to look for: its readers wake it once it is idle.
Clock::duration QuietTime() {
  if (walk.rank == 0 && (!walk.begun || walk.walkOver || (walk.size == 1 && !RankIdle()))) return kQuietPoll;
  return RankIdle() ? mpi.pause : Clock::duration(kBusyPoll);
}

// The loop of the MPI thread: messages, what is due, and on ranks other
// than 0 a folder read between them.
void WalkLoop() {
  while (!LoopDone()) {
    const bool arrived = HandleMessages();
    CompleteSends();
    std::unique_lock<std::mutex> hold(walk.lock);
    const bool wasBound = AtMemoryBound();
    walk.sendingBytes = mpi.sendingBytes;
    if (wasBound && !AtMemoryBound()) walk.workChanged.notify_all();
    if (walk.rank == 0) {
      LeadStep();
    } else {
      ServeStep();
      if (!mpi.stopped && ReadOneFolder(hold, false)) continue;
    }
    if (!arrived && !mpi.stopped && !walk.ending) walk.mpiWake.wait_for(hold, QuietTime());
  }
}

// Other ranks wait for rank 0's Begin (or its Stop, when it makes no scan).
void AwaitBegin() {
  while (!walk.begun && !mpi.stopped) {
    MPI_Status status;
    MPI_Probe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
    HandleMessages();
  }
}

// The rank the launcher gave this process (OpenMPI's mpirun, PMIx, Slurm's
// srun); -1 when it gave none, and MPI must start to tell.
int LauncherRank() {
  for (const char* name : {"OMPI_COMM_WORLD_RANK", "PMIX_RANK", "PMI_RANK", "SLURM_PROCID"}) {
    const std::string value = platform::EnvironmentVariable(name);
    if (!value.empty()) return std::atoi(value.c_str());
  }
  return -1;
}

void RunMpiThread() {
  int provided = 0;
  MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided);
  int rank = 0;
  int size = 1;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  MPI_Comm_size(MPI_COMM_WORLD, &size);
  {
    std::lock_guard<std::mutex> hold(walk.lock);
    if (walk.rank >= 0 && walk.rank != rank) EndWithFault("the launcher named rank " + std::to_string(walk.rank));
    walk.rank = rank;
    walk.size = size;
    walk.figures.resize(static_cast<size_t>(size));
  }
  walk.rankKnown.notify_all();
  mpi.random.seed(static_cast<unsigned>(rank) * 7919u + 17u);
  mpi.holdsToken = rank == 0;
  if (rank != 0) AwaitBegin();
  WalkLoop();
  // Rank 0 made no scan: the others end without a walk.
  if (rank == 0 && !walk.begun) SendToOthers(kStop, std::string());
  WaitForSends();
  if (rank != 0 && walk.begun) platform::EndWalk();
  MPI_Finalize();
}

}  // namespace

void StartMpiThread() {
  LeaveOutAbsentAdapters();
  walk.rank = LauncherRank();
  mpi.thread = std::thread(RunMpiThread);
}

int ThisRank() {
  std::unique_lock<std::mutex> hold(walk.lock);
  walk.rankKnown.wait(hold, [] { return walk.rank >= 0; });
  return walk.rank;
}

void ServeAsReader() { mpi.thread.join(); }

void FinishRankWalk() {
  {
    std::unique_lock<std::mutex> hold(walk.lock);
    if (!walk.begun) return;
    walk.listingKept.wait(hold, [] { return walk.walkOver; });
  }
  StopReaders();
}

void EndRanks() {
  {
    std::lock_guard<std::mutex> hold(walk.lock);
    walk.ending = true;
  }
  walk.mpiWake.notify_one();
  if (mpi.thread.joinable()) mpi.thread.join();
  StopReaders();
}

const std::vector<RankFigures>& FiguresOfRanks() { return walk.figures; }
