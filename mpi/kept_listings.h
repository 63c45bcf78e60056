// Rank 0's listings from other ranks by path, until its scan takes them: on
// the tiny tree most of a million wait at once, and a table of nodes (one
// allocation and two or three cache misses a look-up) took a third of rank
// 0's time. Here one flat array of 24-byte slots, probed in line from the
// path's hash, usually costs one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A batch of listings as it arrived, released once the scan has taken every
// listing of it: one allocation a batch, none a folder.
struct KeptBatch {
  std::string bytes;
  size_t untaken = 0;
  size_t listings = 0;  // kept, taken or not
};

struct KeptListings {
  struct Slot {
    uint64_t hash = 0;
    KeptBatch* batch = nullptr;  // none: a free slot
    uint32_t at = 0;             // where the listing begins in the batch
  };
  std::vector<Slot> slots;
  size_t count = 0;
};

uint64_t PathHash(std::string_view path);
// Keeps the listing at `at` in `batch`, whose path is `path`; false when a
// listing of the path is kept already.
bool KeepListing(KeptListings& table, std::string_view path, uint64_t hash, KeptBatch* batch, size_t at);
// Takes the listing of the path out of the table: its batch, and its body
// for ReplayListing; no batch when none is kept.
struct TakenListing {
  KeptBatch* batch = nullptr;
  std::string_view body;
};
TakenListing TakeListing(KeptListings& table, std::string_view path, uint64_t hash);
