// Rank 0's listings by path, until its scan takes them: on the tiny tree
// most of a million wait at once, and a table of nodes (one allocation and
// two or three cache misses a look-up) took a third of rank 0's time. Here
// one flat array, probed in line from the path's hash, usually costs one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

struct KeptBatch;

struct KeptListing {
  std::string_view body;
  KeptBatch* batch;
};

struct KeptListings {
  struct Slot {
    uint64_t hash = 0;
    std::string_view path;  // empty: a free slot
    KeptListing listing{};
  };
  std::vector<Slot> slots;
  size_t count = 0;
};

uint64_t PathHash(std::string_view path);
// False when a listing of the path is kept already.
bool KeepListing(KeptListings& table, std::string_view path, uint64_t hash, KeptListing listing);
// Takes the listing of the path out of the table; false when none is kept.
bool TakeListing(KeptListings& table, std::string_view path, uint64_t hash, KeptListing& listing);
