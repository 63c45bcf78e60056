// The messages of the walk, for rank 0 (R0) and two readers (R1, R2):
//
//   R0 scan: lists the start folder ──Begin(start path, settings)──> R1, R2
//   R0 reads the start folder; its subfolders go on R0's queue
//   R1 idle ──AskWork──> R0 (a random rank)      R0 ──Work(half its queue)──> R1
//   R2 idle ──AskWork──> R1                      R1 ──Work(none)──> R2; R2 waits, asks again
//   R1 reads its folders, their subfolders go on its queue
//   R1 ──Listings(what it read, in batches)──> R0, which keeps them by path
//   R0 scan: takes each listing by path as the single program's scan reaches
//            the folder; while it waits, R0 reads from its own queue
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
// Within a rank folders are read last-in first-out, in the order the scan
// takes them; a thief takes the oldest half, the folders nearest the top.
#include "mpi/rank_walk.h"

#include <mpi.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <random>
#include <thread>
#include <unordered_map>

#include "mpi/wire.h"
#include "scan/exclusions.h"
#include "scan/file_stats.h"
#include "scan/folder_listing.h"
#include "scan/folder_reader.h"
#include "settings/settings.h"

size_t rankMemoryBound = size_t{64} << 20;

namespace {

enum Tag : int { kBegin = 1, kAskWork, kWork, kListings, kToken, kStop, kFigures };

// Listings go to rank 0 in batches of about this size, or at least this often.
constexpr size_t kBatchBytes = 256 << 10;
constexpr auto kBatchInterval = std::chrono::milliseconds(10);
constexpr uint64_t kListingsPerPoll = 64;
constexpr size_t kMostWorkBytes = 16 << 20;
// An idle rank that was refused asks again after a pause that doubles up to
// the longest: asking a busy rank costs it a little of its reading.
constexpr auto kFirstPause = std::chrono::microseconds(50);
constexpr auto kLongestPause = std::chrono::milliseconds(4);

using Clock = std::chrono::steady_clock;

struct PendingSend {
  std::string bytes;
  MPI_Request request;
};

// A batch of listings as it arrived, released once the scan has taken every
// listing of it: one allocation a batch, none a folder.
struct KeptBatch {
  std::string bytes;
  size_t untaken = 0;
};
struct KeptListing {
  std::string_view body;
  KeptBatch* batch;
};

// The state of the walk on this rank; one record for the run.
struct RankWalk {
  int rank = 0;
  int size = 1;
  bool begun = false;
  bool stopped = false;
  std::deque<FolderItem> queue;
  size_t queueBytes = 0;
  std::string listings;  // read and not yet sent (rank 0: not yet kept)
  Clock::time_point lastSent;
  std::vector<std::unique_ptr<PendingSend>> sends;
  size_t sendingBytes = 0;
  bool askedForWork = false;
  Clock::time_point nextAsk;
  Clock::duration pause = kFirstPause;
  bool holdsToken = false;
  bool tokenBlack = false;
  bool black = false;  // gave work since it last passed the token on
  bool roundStarted = false;  // rank 0
  bool allIdle = false;       // rank 0: a round came back white
  std::mt19937 random;
  RankFigures own;
  // Rank 0: the listings read and not yet taken by the scan, by path, kept
  // in the batches they came in.
  std::unordered_map<std::string_view, KeptListing> kept;
  std::vector<RankFigures> figures;
  int figuresAwaited = 0;
  uint64_t listingsTaken = 0;
  bool finished = false;
};

RankWalk walk;

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
  walk.sendingBytes += send->bytes.size();
  walk.sends.push_back(std::move(send));
}

void CompleteSends() {
  size_t kept = 0;
  for (auto& send : walk.sends) {
    int done = 0;
    MPI_Test(&send->request, &done, MPI_STATUS_IGNORE);
    if (done) {
      walk.sendingBytes -= send->bytes.size();
    } else {
      walk.sends[kept++] = std::move(send);
    }
  }
  walk.sends.resize(kept);
}

void WaitForSends() {
  for (auto& send : walk.sends) MPI_Wait(&send->request, MPI_STATUS_IGNORE);
  walk.sends.clear();
  walk.sendingBytes = 0;
}

size_t ItemBytes(const FolderItem& item) { return sizeof(FolderItem) + item.path.capacity(); }

void PushItem(FolderItem item) {
  walk.queueBytes += ItemBytes(item);
  walk.queue.push_back(std::move(item));
}

// ---- Rank 0's store of listings ----------------------------------------

void KeepListings(std::string bytes) {
  auto* batch = new KeptBatch{std::move(bytes)};
  WireReader reader{batch->bytes};
  while (!reader.AtEnd()) {
    const RecordedListing listing = NextListing(reader);
    if (walk.kept.emplace(listing.path, KeptListing{listing.body, batch}).second) batch->untaken += 1;
  }
  if (batch->untaken == 0) delete batch;
}

// Replays a kept listing into the scan and lets it go.
platform::ListStatus ReplayKept(std::unordered_map<std::string_view, KeptListing>::iterator found,
                                platform::EntryVisitor visit, void* context) {
  const KeptListing listing = found->second;
  walk.kept.erase(found);
  const platform::ListStatus status = ReplayListing(listing.body, visit, context);
  if (--listing.batch->untaken == 0) delete listing.batch;
  return status;
}

void SendListings() {
  walk.lastSent = Clock::now();
  if (walk.listings.empty()) return;
  if (walk.rank == 0) {
    KeepListings(std::move(walk.listings));
    walk.listings = std::string();
    return;
  }
  Send(0, kListings, std::move(walk.listings));
  walk.listings = std::string();
}

// ---- Reading ------------------------------------------------------------

platform::ListStatus ListRecordingForRank(const std::string& folderPath, const platform::FolderIdentity& expected,
                                          platform::EntryVisitor visit, void* context) {
  return ListRecording(folderPath, expected, visit, context, walk.listings);
}

// Reads the folder the scan takes next with the single program's own
// reading, recording its listing; its subfolders go on the queue as the
// scan would enter them: not a loop, and within the path limit.
void ReadNextFolder() {
  FolderItem item = std::move(walk.queue.back());
  walk.queue.pop_back();
  walk.queueBytes -= ItemBytes(item);
  const Clock::time_point start = Clock::now();
  FolderContents contents;
  const auto scanLister = folderLister;
  const bool noting = notingFiles;
  folderLister = ListRecordingForRank;
  notingFiles = false;
  ReadFolderContents(item.path, item.identity, contents);
  folderLister = scanLister;
  notingFiles = noting;
  if (!contents.subfolders.empty()) {
    const auto path = std::make_shared<const IdentityChain>(IdentityChain{contents.identity, item.ancestors});
    const size_t folderLength = platform::PathLength(item.path);
    for (size_t i = contents.subfolders.size(); i-- > 0;) {
      const FolderContents::Subfolder& subfolder = contents.subfolders[i];
      if (!FitsPathLimit(folderLength, subfolder.record->name) || IsNearOnPath(path.get(), subfolder.identity)) continue;
      PushItem({item.path + subfolder.record->name + platform::kPathSeparator, subfolder.identity, path});
    }
  }
  walk.own.folders += 1;
  walk.own.entries += static_cast<uint64_t>(contents.entryCount);
  walk.own.busySeconds += std::chrono::duration<double>(Clock::now() - start).count();
}

// After a folder is read: a batch that is full or old enough goes out; at
// the bound, the rank waits until what it sent is received.
void SendWhenDue() {
  // Rank 0 keeps its own at once: its scan may be waiting for one of them.
  if (walk.rank == 0 || walk.listings.size() >= kBatchBytes || Clock::now() - walk.lastSent >= kBatchInterval) {
    SendListings();
  }
  if (walk.rank == 0) return;
  CompleteSends();
  if (walk.queueBytes + walk.listings.size() + walk.sendingBytes < rankMemoryBound) return;
  SendListings();
  WaitForSends();
}

// ---- Messages -----------------------------------------------------------

std::string BeginMessage(const std::string& startPath) {
  std::string out;
  PutText(out, startPath);
  PutNumber(out, options.crossMounts);
  PutNumber(out, static_cast<uint64_t>(effectiveClusterSize));
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
  const std::string startPath(reader.Text());
  options.crossMounts = reader.Number() != 0;
  effectiveClusterSize = static_cast<int32_t>(reader.Number());
  exclusions = Exclusions{};
  exclusions.startPathLength = reader.Number();
  for (uint64_t n = reader.Number(); n > 0; --n) exclusions.namePatterns.emplace_back(reader.Text());
  for (uint64_t n = reader.Number(); n > 0; --n) {
    std::vector<std::string> names;
    for (uint64_t m = reader.Number(); m > 0; --m) names.emplace_back(reader.Text());
    exclusions.pathPatterns.push_back(std::move(names));
  }
  platform::BeginWalk(startPath);
  walk.begun = true;
  walk.lastSent = Clock::now();
}

// Half the queue, the oldest folders, to a rank that asked (in one message
// of a bounded size); a single folder stays, since this rank is about to
// read it.
void AnswerAskForWork(int thief) {
  std::string out;
  if (walk.begun && !walk.stopped) {
    for (size_t n = walk.queue.size() / 2; n > 0 && out.size() < kMostWorkBytes; --n) {
      PutFolderItem(out, walk.queue.front());
      walk.queueBytes -= ItemBytes(walk.queue.front());
      walk.queue.pop_front();
      walk.black = true;
    }
  }
  Send(thief, kWork, std::move(out));
}

void TakeWork(std::string_view message) {
  walk.askedForWork = false;
  WireReader reader{message};
  if (reader.AtEnd()) {
    walk.nextAsk = Clock::now() + walk.pause;
    walk.pause = std::min<Clock::duration>(walk.pause * 2, kLongestPause);
    return;
  }
  while (!reader.AtEnd()) PushItem(ReadFolderItem(reader));
  walk.pause = kFirstPause;
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
  walk.figuresAwaited -= 1;
}

void Stop() {
  walk.stopped = true;
  if (!walk.begun) return;
  SendListings();
  Send(0, kFigures, FiguresMessage());
}

void Dispatch(const MPI_Status& status, std::string& message) {
  switch (status.MPI_TAG) {
    case kBegin: Begin(message); break;
    case kAskWork: AnswerAskForWork(status.MPI_SOURCE); break;
    case kWork: TakeWork(message); break;
    case kListings: KeepListings(std::move(message)); break;
    case kToken:
      walk.holdsToken = true;
      walk.tokenBlack = !message.empty() && message[0] != 0;
      break;
    case kStop: Stop(); break;
    case kFigures: TakeFigures(status.MPI_SOURCE, message); break;
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
  if (!walk.sends.empty()) CompleteSends();
  return any;
}

void PassToken(int to, bool black) {
  walk.holdsToken = false;
  walk.black = false;
  Send(to, kToken, std::string(1, black ? '\1' : '\0'));
}

// A rank with no folder left: passes the token on (rank 0 judges the round
// it comes back from), then asks a random other rank for work.
void IdleStep() {
  if (walk.askedForWork) return;
  SendListings();
  if (walk.holdsToken) {
    if (walk.rank != 0) {
      PassToken((walk.rank + 1) % walk.size, walk.tokenBlack || walk.black);
    } else if (walk.roundStarted && !walk.tokenBlack && !walk.black) {
      walk.allIdle = true;
      return;
    } else {
      walk.roundStarted = true;
      PassToken(1, false);
    }
  }
  if (walk.allIdle || Clock::now() < walk.nextAsk) return;
  std::uniform_int_distribution<int> others(0, walk.size - 2);
  int victim = others(walk.random);
  if (victim >= walk.rank) victim += 1;
  walk.askedForWork = true;
  Send(victim, kAskWork, std::string());
}

// Rank 0's scan waits for the listings that arrive; another idle rank sleeps
// as long as it pauses between asks, so that idle ranks leave the
// processors to those that read.
Clock::duration IdleSleep() {
  return walk.rank == 0 ? Clock::duration(std::chrono::microseconds(20)) : walk.pause;
}

// One step of a rank's loop: a folder read, or, idle, a turn of the ring
// and a short sleep while nothing arrives.
void Step() {
  HandleMessages();
  if (walk.stopped) return;
  if (!walk.queue.empty()) {
    ReadNextFolder();
    SendWhenDue();
    return;
  }
  if (walk.size == 1) {
    walk.allIdle = true;
    return;
  }
  IdleStep();
  if (!walk.allIdle && !HandleMessages()) std::this_thread::sleep_for(IdleSleep());
}

}  // namespace

void StartRankWalk() {
  MPI_Comm_rank(MPI_COMM_WORLD, &walk.rank);
  MPI_Comm_size(MPI_COMM_WORLD, &walk.size);
  walk.random.seed(static_cast<unsigned>(walk.rank) * 7919u + 17u);
  walk.holdsToken = walk.rank == 0;
  walk.figures.resize(static_cast<size_t>(walk.size));
}

void ServeAsReader() {
  // Until rank 0 begins a walk the cluster size is unknown; a reading
  // before then never happens, but the rounding must not divide by 0.
  effectiveClusterSize = 1;
  while (!walk.stopped) {
    if (!walk.begun) {
      MPI_Status status;
      MPI_Probe(MPI_ANY_SOURCE, MPI_ANY_TAG, MPI_COMM_WORLD, &status);
    }
    Step();
  }
  WaitForSends();
  if (walk.begun) platform::EndWalk();
}

platform::ListStatus ListThroughRanks(const std::string& folderPath, const platform::FolderIdentity& expected,
                                      platform::EntryVisitor visit, void* context) {
  if (!walk.begun) {
    walk.begun = true;
    walk.lastSent = Clock::now();
    const std::string begin = BeginMessage(folderPath);
    for (int rank = 1; rank < walk.size; ++rank) Send(rank, kBegin, begin);
    PushItem({folderPath, expected, nullptr});
  }
  // Asking for messages costs a pass over MPI's queues: once in so many
  // folders is soon enough for a rank that asks for work.
  if (++walk.listingsTaken % kListingsPerPoll == 0) HandleMessages();
  auto found = walk.kept.find(folderPath);
  while (found == walk.kept.end()) {
    if (walk.allIdle) EndWithFault("no rank read the folder " + folderPath);
    Step();
    found = walk.kept.find(folderPath);
  }
  return ReplayKept(found, visit, context);
}

void FinishRankWalk() {
  if (walk.finished) return;
  walk.finished = true;
  while (walk.begun && !walk.allIdle) Step();
  walk.figures[0] = walk.own;
  walk.figuresAwaited = walk.begun ? walk.size - 1 : 0;
  for (int rank = 1; rank < walk.size; ++rank) Send(rank, kStop, std::string());
  walk.stopped = true;
  while (walk.figuresAwaited > 0) {
    if (!HandleMessages()) std::this_thread::sleep_for(std::chrono::microseconds(20));
  }
  WaitForSends();
}

bool RankWalkUnfinished() { return walk.begun && !walk.finished; }

const std::vector<RankFigures>& FiguresOfRanks() { return walk.figures; }
