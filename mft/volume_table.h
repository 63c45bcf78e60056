// The master file table of an NTFS volume read in one sequential pass into
// what a folder listing needs: every folder's entries, with the names, sizes,
// allocations, times and link counts the mounted volume would list.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// How the table reads the volume: `read` fills `bytes` bytes at `offset`,
// false when it cannot.
struct VolumeSource {
  bool (*read)(void* context, int64_t offset, uint8_t* buffer, size_t bytes);
  void* context;
};

// One name of a file or folder in a folder.
struct TableName {
  uint32_t record;  // the file's base record
  uint32_t parent;
  uint16_t parentSequence;  // 0: not checked
  std::string name;       // UTF-8
  std::u16string units;   // as the volume holds it, for the listing order
};

// What the listing shows of a file or folder (its base record).
struct TableFile {
  uint16_t sequence = 0;
  bool inUse = false;
  bool isDirectory = false;
  bool isLink = false;  // a name-surrogate reparse point or a link file: never entered, not counted
  uint32_t fileAttributes = 0;
  uint32_t linkCount = 0;  // its names that a listing shows
  int64_t size = 0;
  int64_t allocated = -1;
  int64_t modifiedSeconds = 0;
  // An extension record: the base record it belongs to, plus one (0: none).
  uint32_t baseRecord = 0;
  uint16_t baseSequence = 0;
  bool hasData = false;  // the unnamed $DATA's first extent was met
  bool linkFileData = false;  // its data begins as a link file's does
};

struct VolumeTable {
  uint32_t clusterSize = 0;
  int64_t capacityBytes = 0;
  int64_t freeBytes = 0;
  uint64_t serialNumber = 0;
  std::string label;
  std::vector<TableFile> files;  // by record number
  std::vector<TableName> names;
  // The names in each folder, in the order the folder's index keeps them:
  // `firstChild[f]` up to `firstChild[f + 1]` index `children`.
  std::vector<uint32_t> firstChild;
  std::vector<uint32_t> children;
};

struct TableFailure {
  // Damaged: the table is damaged at `record`; otherwise `reason` says why
  // it could not be read.
  bool damaged = false;
  uint64_t record = 0;
  std::string reason;
};

// Reads the table of the volume (of `volumeBytes` bytes, -1 when unknown).
bool ReadVolumeTable(const VolumeSource& source, int64_t volumeBytes, VolumeTable& table, TableFailure& failure);

// A folder's entry as a listing gives it.
platform::ListingEntry TableEntryOf(const VolumeTable& table, const TableName& name);
