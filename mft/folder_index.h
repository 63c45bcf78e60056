// The order in which a folder's index stores its names: the index root's
// entries, then those of each index block in use, block by block. The Linux
// drivers list a folder in this order; the index's name order is what
// Windows lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "mft/ntfs_record.h"

// One name of the index: the file's record and the name as stored.
struct IndexKey {
  uint32_t record;
  std::u16string units;
};

// What a folder's record holds of its index ($I30).
struct FolderIndexParts {
  std::vector<IndexKey> rootKeys;
  uint32_t blockSize = 0;
  std::vector<ntfs::Run> blockRuns;  // of $INDEX_ALLOCATION
  std::vector<uint8_t> blockBitmap;  // of $BITMAP: the blocks in use
  bool hasBitmap = false;
};

// Takes the keys of an $INDEX_ROOT value; false when it is malformed.
bool ReadIndexRoot(const uint8_t* value, uint32_t length, FolderIndexParts& parts);
// Appends the keys of one index block of `size` bytes (fixups not yet
// applied); false when it is not one.
bool ReadIndexBlock(uint8_t* block, size_t size, std::vector<IndexKey>& keys);
