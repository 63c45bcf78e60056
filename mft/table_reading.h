// What reading a volume's table holds while it reads: shared by the pass
// over the records and by the linking of the names into folders after it.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "mft/folder_index.h"
#include "mft/ntfs_record.h"

// The table is read in blocks of this size: few calls, each a long sequential read.
inline constexpr size_t kReadBlock = 4u << 20;

struct VolumeSource;
struct VolumeTable;
struct TableFailure;
struct PlainFileCounting;
struct PlainFileSums;

// The plain files of a folder that the pass has not met yet, with the
// sequence number its record has as their names give it.
struct LaterSums {
  uint16_t sequence = 0;
  int32_t files = 0;
  int64_t bytes = 0;
  int64_t slack = 0;
  int64_t newestModified = INT64_MIN;
};

struct Reading {
  const VolumeSource& source;
  const PlainFileCounting* counting;
  VolumeTable& table;
  TableFailure& failure;
  ntfs::BootSector boot{};
  int64_t volumeBytes = 0;  // what the boot sector says, within what the source holds
  uint64_t recordCount = 0;
  std::vector<ntfs::Run> mftRuns{};
  // The streams of the system files read after the pass.
  std::vector<ntfs::Run> bitmapRuns{}, upcaseRuns{};
  int64_t upcaseBytes = 0;
  // Plain files are kept by record alone (plainParents), not one by one.
  bool keepsRecords = false;
  std::vector<bool> summed{};    // by record: a plain file counted into its folder's sums
  std::vector<bool> extended{};  // by record: a base record that an extension record names
  // The sums of folders not met yet (a folder most often comes before its
  // files), by record.
  std::unordered_map<uint32_t, LaterSums> laterSums{};
  // Summed by type: every folder's sums, by its record's four bytes and the
  // type (see PlainFileCounting).
  std::unordered_map<std::string, LaterSums> typeSums{};
  // The folder the last plain file was summed into (see KeptFolder), and
  // the name being read.
  struct {
    uint32_t record = UINT32_MAX;
    uint32_t index = 0;
    PlainFileSums* sums = nullptr;
  } heldFolder{};
  std::string nameText{};
  // Keeping the largest: the bytes counted of those kept, a heap whose front
  // is the least; by record, the files summed with as many bytes as that
  // least was when the pass met them, the last with `tiedBytes`.
  std::vector<int64_t> largest{};
  std::vector<bool> tied{};
  int64_t tiedBytes = -1;
};

// Takes one record of the table, read as the pass reads it, into what the
// reading holds; false when it is damaged.
bool TakeRecord(Reading& reading, uint32_t number, uint8_t* record);
// The records from `first` on, at most `records` of them: shown where they
// lie where the source can show the part of them one run holds, else read
// into `buffer` (of a block); `records` becomes how many. Null when they
// cannot be read.
const uint8_t* RecordsAt(const Reading& reading, uint64_t first, uint64_t& records, std::vector<uint8_t>& buffer);
// The records last shown or read, for records taken again in rising order
// of number with gaps between them.
struct RecordWindow {
  const uint8_t* block = nullptr;
  uint64_t first = 0;
  uint64_t records = 0;
};
// The bytes of record `number`, shown or read into `buffer` in a block with
// those after it up to `last`; null when they cannot be read.
const uint8_t* RecordIn(const Reading& reading, uint64_t number, uint64_t last, RecordWindow& window,
                        std::vector<uint8_t>& buffer);
// The records are asked for this many ahead of the one read: the memory
// then delivers several at once, not one after another.
inline constexpr uint64_t kAskedAhead = 8;
// Asks for the parts of a record that its copy reads: its first sector,
// which most often holds all in use, and the end of its last.
void AskForRecord(const uint8_t* record, uint32_t size);
// Copies of a record the sectors that hold the part in use, and of the
// others the last two bytes that the fixups check: the rest is never read.
void CopyRecordInUse(const uint8_t* from, uint8_t* to, uint32_t size);
// After the pass: of the files summed that tie with the least kept among
// the largest, those whose paths the walk would list first are kept one by
// one instead, read again; false when one is damaged.
bool KeepTiedFiles(Reading& reading);

// Reads `bytes` bytes at `offset` of the volume, false where they do not lie inside it.
bool ReadAt(const Reading& reading, int64_t offset, uint8_t* buffer, size_t bytes);
// Notes that the table is damaged at `record`; false.
bool Damaged(Reading& reading, uint64_t record);
// Reads bytes [offset, offset + bytes) of a stream laid out in `runs`
// (sorted by vcn); a hole reads as zeros; false where no run covers a part.
bool ReadStream(const Reading& reading, const std::vector<ntfs::Run>& runs, int64_t offset, uint8_t* buffer,
                size_t bytes);
void SortRuns(std::vector<ntfs::Run>& runs);
// Adds what a named attribute holds of a folder's index (its root's keys,
// its blocks' runs, or which blocks are in use) to `parts`; false when it
// is malformed.
bool TakeIndexPart(const Reading& reading, FolderIndexParts& parts, const ntfs::Attribute& attribute);

// After the pass: the sums by type of each folder in use with the sequence
// they name, the part of the names they share kept with the names.
void JoinTypeSums(Reading& reading);
// After the pass, in this order: folds each extension record into its base
// record; puts every listed name in its folder in name order, false for a
// folder with two parents or a loop of parents; then orders each folder's
// names as its index stores them, which may read its records again.
void JoinExtensionRecords(VolumeTable& table);
bool LinkFolders(Reading& reading, const std::vector<char16_t>& upcase);
// After the pass: the plain files kept by record grouped by folder, those
// of no folder listed left out.
void GroupPlainRecords(VolumeTable& table);
bool OrderAsStored(Reading& reading);
