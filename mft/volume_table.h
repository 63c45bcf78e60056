// The master file table of an NTFS volume read in one sequential pass into
// what a folder listing needs: every folder's entries, with the names, sizes,
// allocations, times and link counts the mounted volume would list; or,
// where the scan needs no file one by one, its plain files as sums.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "mft/ntfs_record.h"
#include "platform/platform.h"

// How the table reads the volume: `read` fills `bytes` bytes at `offset`,
// false when it cannot; `view`, where given, shows them where they lie
// (until its next call, which for no bytes only lets go of them), null
// where it cannot.
struct VolumeSource {
  bool (*read)(void* context, int64_t offset, uint8_t* buffer, size_t bytes);
  void* context;
  const uint8_t* (*view)(void* context, int64_t offset, size_t bytes) = nullptr;
};

// One name of a file or folder in a folder.
struct TableName {
  uint32_t file;    // the index in `files` of the file's base record; kNoFile: none
  uint32_t parent;  // read: its folder's record number; linked: that folder's index in `files`
  uint32_t nameAt;  // its UTF-8 bytes in `nameBytes`
  uint16_t nameLength;
  uint16_t parentSequence;  // 0: not checked
};

// What the listing shows of a file or folder (its base record).
struct TableFile {
  uint32_t record = 0;
  uint32_t fileAttributes = 0;
  uint32_t linkCount = 0;  // its names that a listing shows
  // An extension record: the base record it belongs to, plus one (0: none).
  uint32_t baseRecord = 0;
  uint16_t sequence = 0;
  uint16_t baseSequence = 0;
  bool inUse : 1 = false;
  bool isDirectory : 1 = false;
  bool isLink : 1 = false;  // a name-surrogate reparse point or a link file: never entered, not counted
  bool hasData : 1 = false;  // the unnamed $DATA's first extent was met
  bool linkFileData : 1 = false;  // its data begins as a link file's does
  int64_t size = 0;
  int64_t allocated = -1;
  int64_t modifiedSeconds = 0;
};

// The plain files of a folder, counted as the pass met them.
struct PlainFileSums {
  uint32_t folder;  // its index in `files`
  int32_t files;
  int64_t bytes;
  int64_t slack;
  int64_t newestModified;  // the time of the file changed last
};

// Those of one type: the part of their names from the last dot, which they
// share (empty where they have none), in `nameBytes`.
struct PlainTypeSums {
  PlainFileSums sums;
  uint32_t typeAt;
  uint16_t typeLength;
};

// A plain file of a folder, for a listing that shows each file.
struct PlainFile {
  uint32_t record;
  uint32_t folder;  // read: its folder's record number; linked: that folder's index in `files`
  uint32_t nameAt;  // its UTF-8 bytes in `nameBytes`
  uint16_t nameLength;
  uint16_t parentSequence;
  int64_t size;
  int64_t allocatedBytes;  // as a listing gives it
  int64_t modifiedSeconds;
};

// What reading records again needs of the volume.
struct TableLayout {
  ntfs::BootSector boot{};
  int64_t volumeBytes = 0;
  uint64_t recordCount = 0;
  std::vector<ntfs::Run> mftRuns;
};

inline constexpr uint32_t kNoFile = UINT32_MAX;

struct VolumeTable {
  uint32_t clusterSize = 0;
  int64_t capacityBytes = 0;
  int64_t freeBytes = 0;
  // The volume's part of the identities of its entries: its serial number,
  // or over a mount, what the system's listing gives (platform::NtfsVolumeId).
  uint64_t volumeId = 0;
  std::string label;
  std::vector<TableFile> files;  // the records kept, by record number
  std::vector<TableName> names;
  std::string nameBytes;
  // The names in each folder, in the order the folder's index keeps them:
  // `firstChild[f]` up to `firstChild[f + 1]` index `children`.
  std::vector<uint32_t> firstChild;
  std::vector<uint32_t> children;
  // Files that have one name, and their figures in their own record: summed
  // where no listing shows each (PlainFileCounting), the largest among them
  // one by one; both by folder.
  std::vector<PlainFileSums> plainFiles;
  std::vector<PlainTypeSums> plainTypes;
  std::vector<PlainFile> plainList;
  // Where no plain file is counted, each is kept by its record alone, and
  // read again when its folder is listed (the sequence number its name gives
  // the folder is checked then), so that the table holds little more than
  // the folders. The pass keeps, by record, the record of its folder
  // (kNoFile: none kept); then, by folder, the records: those of the folder
  // at `f` in `files` are `plainRecordNumbers` from `firstPlainRecord[f]` up
  // to `firstPlainRecord[f + 1]`.
  std::vector<uint32_t> plainParents;
  std::vector<uint32_t> firstPlainRecord;
  std::vector<uint32_t> plainRecordNumbers;
  TableLayout layout;
  int64_t largestSummed = -1;  // the most bytes counted of a file summed
  // Of the files kept with as many bytes as those summed tie with: the
  // records of those whose paths come before every tie summed.
  std::vector<uint32_t> keptBeforeTies;
};

// How the pass counts a plain file (one name, its data in its own record, no
// reparse point, not offline) into its folder's sums instead of listing it,
// so that the table holds little more than the folders: `prepare` is told
// the volume's cluster size before the first, and `count` gives the bytes
// and the slack the scan counts of one as its listing gives it. `byType`:
// a folder's files are summed apart by the part of their names from the
// last dot, for a report of the file types. `keepLargest`: the files that
// may still be among that many largest (by the bytes counted) as the pass
// meets them are kept one by one all the same.
struct PlainFileCounting {
  void (*prepare)(uint32_t clusterSize);
  int64_t (*count)(const platform::ListingEntry& entry, int64_t& slack);
  bool byType = false;
  uint32_t keepLargest = 0;
};

struct TableFailure {
  // Damaged: the table is damaged at `record`; otherwise `reason` says why
  // it could not be read.
  bool damaged = false;
  uint64_t record = 0;
  std::string reason;
};

// Reads the table of the volume (of `volumeBytes` bytes, -1 when unknown);
// plain files are summed by `counting`, or all kept by record where it is null.
bool ReadVolumeTable(const VolumeSource& source, int64_t volumeBytes, const PlainFileCounting* counting,
                     VolumeTable& table, TableFailure& failure);

// The index in `files` of a record kept; kNoFile for any other.
uint32_t TableIndexOf(const VolumeTable& table, uint64_t record);
// A folder's entry as a listing gives it.
platform::ListingEntry TableEntryOf(const VolumeTable& table, const TableName& name);
// The plain files summed into the folder at `folder` in `files`; null where none are.
const PlainFileSums* PlainFilesOf(const VolumeTable& table, uint32_t folder);
// Those summed by type, one sum per type.
std::span<const PlainTypeSums> PlainTypesOf(const VolumeTable& table, uint32_t folder);
// The plain files kept one by one in that folder.
std::span<const PlainFile> PlainFilesIn(const VolumeTable& table, uint32_t folder);
// A plain file kept one by one as a listing gives it.
platform::ListingEntry PlainEntryOf(const VolumeTable& table, const PlainFile& file);
// Visits the plain files of the folder at `folder` in `files` kept by
// record, read again from `source` (into `buffer`, kept from one listing to
// the next) as a listing gives them; a record no longer a plain file of that
// folder (the volume changed) is left out. False where the table cannot be read.
bool ListPlainRecords(const VolumeTable& table, const VolumeSource& source, uint32_t folder,
                      std::vector<uint8_t>& buffer, platform::EntryVisitor visit, void* context);
