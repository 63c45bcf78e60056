// Where the tree's records live. A report of a million folders makes a
// million records and walks them several times (the count of its lines, the
// lines, the release); records taken one by one from the heap lie scattered
// among the scan's other allocations, and each step of those walks waited
// for memory: on 1,100,000 empty folders the walks took a fifth of the
// run's processor time in the program. Records taken in order from blocks
// lie in the order the listings gave them, which the walks mostly follow.
#include <cstdlib>
#include <mutex>
#include <new>

#include "scan/tree.h"

namespace {

// Sanitized builds give each record an allocation of its own, which they
// watch for a use after release.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPooled = false;
#else
constexpr bool kPooled = true;
#endif

// A released record; the first of a batch handed to other threads also
// links the next batch.
struct FreeRecord {
  FreeRecord* next;
  FreeRecord* nextBatch;
};
static_assert(sizeof(FreeRecord) <= sizeof(TDirEntry));

constexpr size_t kRecordsPerBlock = 170;  // some 16 KiB
// Records released by one thread and made by another (the scan folds what
// workers read) go back in batches: a thread holds at most this many.
constexpr int kBatchRecords = 256;

// Each thread makes records from a block of its own and reuses those it
// released; nothing here has a destructor, so a worker's first record
// registers nothing with the C library. A worker that ends leaves at most
// the rest of one block unused.
struct RecordPool {
  char* next = nullptr;
  char* end = nullptr;
  FreeRecord* released = nullptr;
  int releasedCount = 0;
};
thread_local RecordPool pool;

// Batches of released records any thread may take. Blocks are never given
// back: the tree is made and released once per run, and released records
// serve the next scan.
std::mutex batchesLock;
FreeRecord* batches = nullptr;

FreeRecord* TakeBatch() {
  std::lock_guard<std::mutex> hold(batchesLock);
  FreeRecord* batch = batches;
  if (batch != nullptr) batches = batch->nextBatch;
  return batch;
}

void GiveBatch(FreeRecord* batch) {
  std::lock_guard<std::mutex> hold(batchesLock);
  batch->nextBatch = batches;
  batches = batch;
}

void* NewRecord() {
  if (FreeRecord* record = pool.released) {
    pool.released = record->next;
    pool.releasedCount -= 1;
    return record;
  }
  if (pool.next == pool.end) {
    if (FreeRecord* batch = TakeBatch()) {
      pool.released = batch->next;
      pool.releasedCount = kBatchRecords - 1;
      return batch;
    }
    auto* block = static_cast<char*>(std::malloc(kRecordsPerBlock * sizeof(TDirEntry)));
    if (block == nullptr) throw std::bad_alloc();
    pool.next = block;
    pool.end = block + kRecordsPerBlock * sizeof(TDirEntry);
  }
  void* record = pool.next;
  pool.next += sizeof(TDirEntry);
  return record;
}

void ReleaseRecord(void* memory) {
  auto* record = static_cast<FreeRecord*>(memory);
  record->next = pool.released;
  pool.released = record;
  if (++pool.releasedCount < kBatchRecords) return;
  GiveBatch(pool.released);
  pool.released = nullptr;
  pool.releasedCount = 0;
}

}  // namespace

void* TDirEntry::operator new(size_t size) {
  if (!kPooled || size != sizeof(TDirEntry)) return ::operator new(size);
  return NewRecord();
}

void TDirEntry::operator delete(void* record, size_t size) noexcept {
  if (record == nullptr) return;
  if (!kPooled || size != sizeof(TDirEntry)) {
    ::operator delete(record);
    return;
  }
  ReleaseRecord(record);
}
