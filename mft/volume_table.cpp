#include "mft/volume_table.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_map>

#include "mft/folder_index.h"
#include "mft/ntfs_record.h"

namespace {

// The table is read in blocks of this size: few calls, each a long sequential read.
constexpr size_t kReadBlock = 4u << 20;
constexpr uint32_t kVolumeRecord = 3;
constexpr uint32_t kBitmapRecord = 6;
constexpr uint32_t kUpcaseRecord = 10;
constexpr size_t kUpcaseUnits = 65536;
constexpr uint32_t kIndexRoot = 0x90;
constexpr uint32_t kIndexAllocation = 0xA0;
constexpr uint32_t kIndexBitmap = 0xB0;
// An attribute list longer than this is not one a volume writes.
constexpr int64_t kMaxAttributeList = 1 << 20;
// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 116444736000000000;
// A link file (written by some NTFS drivers for symbolic links): a system
// file whose data begins with this magic, then the target.
constexpr uint8_t kLinkFileMagic[8] = {'I', 'n', 't', 'x', 'L', 'N', 'K', 1};
constexpr uint32_t kMaxLinkFileData = 8 + 2 * 4096;

struct Reading {
  const VolumeSource& source;
  ntfs::BootSector boot;
  int64_t volumeBytes;  // what the boot sector says, within what the source holds
  VolumeTable& table;
  TableFailure& failure;
  std::vector<ntfs::Run> mftRuns;
  // The streams of the system files read after the pass.
  std::vector<ntfs::Run> bitmapRuns, upcaseRuns;
  int64_t upcaseBytes = 0;
  // Where the system lists folders as their indexes store them: each folder's index.
  std::unordered_map<uint32_t, FolderIndexParts> indexes;
};

bool Damaged(Reading& reading, uint64_t record) {
  reading.failure.damaged = true;
  reading.failure.record = record;
  return false;
}

bool ReadAt(const Reading& reading, int64_t offset, uint8_t* buffer, size_t bytes) {
  if (offset < 0 || offset > reading.volumeBytes || static_cast<int64_t>(bytes) > reading.volumeBytes - offset) {
    return false;
  }
  return reading.source.read(reading.source.context, offset, buffer, bytes);
}

// Reads bytes [offset, offset + bytes) of a stream laid out in `runs`
// (sorted by vcn); a hole reads as zeros; false where no run covers a part.
bool ReadStream(const Reading& reading, const std::vector<ntfs::Run>& runs, int64_t offset, uint8_t* buffer,
                size_t bytes) {
  const int64_t cluster = reading.boot.clusterSize;
  while (bytes > 0) {
    const int64_t vcn = offset / cluster;
    auto run = std::upper_bound(runs.begin(), runs.end(), vcn,
                                [](int64_t v, const ntfs::Run& r) { return v < r.vcn; });
    if (run == runs.begin()) return false;
    --run;
    if (vcn >= run->vcn + run->length) return false;
    const int64_t within = offset - run->vcn * cluster;
    const size_t piece = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(bytes), run->length * cluster - within));
    if (run->lcn < 0) {
      std::memset(buffer, 0, piece);
    } else if (!ReadAt(reading, run->lcn * cluster + within, buffer, piece)) {
      return false;
    }
    buffer += piece;
    offset += static_cast<int64_t>(piece);
    bytes -= piece;
  }
  return true;
}

void SortRuns(std::vector<ntfs::Run>& runs) {
  std::sort(runs.begin(), runs.end(), [](const ntfs::Run& a, const ntfs::Run& b) { return a.vcn < b.vcn; });
}

// Whether `runs` cover the first `bytes` of a stream without gaps, overlaps or holes.
bool CoversWhole(const Reading& reading, const std::vector<ntfs::Run>& runs, int64_t bytes) {
  int64_t vcn = 0;
  for (const auto& run : runs) {
    if (run.vcn != vcn || run.lcn < 0) return false;
    vcn += run.length;
  }
  return vcn >= (bytes + reading.boot.clusterSize - 1) / reading.boot.clusterSize;
}

// The unnamed $DATA extents of one record of $MFT itself.
bool TakeMftExtents(Reading& reading, uint8_t* record, uint64_t number, int64_t& mftBytes,
                    std::vector<uint8_t>* attributeList) {
  ntfs::RecordHeader header;
  if (ntfs::ReadRecordHeader(record, reading.boot.recordSize, header) != ntfs::RecordState::Valid) {
    return Damaged(reading, number);
  }
  uint32_t offset = header.firstAttribute;
  ntfs::Attribute attribute;
  bool malformed = false;
  while (ntfs::NextAttribute(record, header, offset, attribute, malformed)) {
    if (attribute.type == ntfs::kData && !attribute.named && attribute.nonResident) {
      if (attribute.lowestVcn == 0) mftBytes = attribute.dataSize;
      if (!ntfs::DecodeRuns(attribute.runs, attribute.runsEnd, attribute.lowestVcn, reading.boot.clusterCount,
                            reading.mftRuns)) {
        return Damaged(reading, number);
      }
    } else if (attribute.type == ntfs::kAttributeList && attributeList != nullptr) {
      if (!attribute.nonResident) {
        attributeList->assign(attribute.value, attribute.value + attribute.valueLength);
        continue;
      }
      std::vector<ntfs::Run> runs;
      if (attribute.dataSize > kMaxAttributeList ||
          !ntfs::DecodeRuns(attribute.runs, attribute.runsEnd, 0, reading.boot.clusterCount, runs)) {
        return Damaged(reading, number);
      }
      attributeList->resize(static_cast<size_t>(attribute.dataSize));
      if (!ReadStream(reading, runs, 0, attributeList->data(), attributeList->size())) return Damaged(reading, number);
    }
  }
  return !malformed || Damaged(reading, number);
}

// $MFT's own runs: those of record 0, and of the records its
// $ATTRIBUTE_LIST names for the rest of its unnamed $DATA (a fragmented
// table outgrows one record).
bool ReadMftRuns(Reading& reading, int64_t& mftBytes) {
  const uint32_t size = reading.boot.recordSize;
  std::vector<uint8_t> record(size), attributeList;
  if (!ReadAt(reading, reading.boot.mftCluster * reading.boot.clusterSize, record.data(), size)) {
    reading.failure.reason = "its master file table lies outside it";
    return false;
  }
  mftBytes = -1;
  if (!TakeMftExtents(reading, record.data(), 0, mftBytes, &attributeList)) return false;
  for (size_t at = 0; at + 0x1A <= attributeList.size();) {
    const uint8_t* entry = attributeList.data() + at;
    const uint16_t length = ntfs::Read16(entry + 4);
    if (length < 0x1A || length > attributeList.size() - at) return Damaged(reading, 0);
    const uint64_t number = ntfs::RecordOf(ntfs::Read64(entry + 0x10));
    if (ntfs::Read32(entry) == ntfs::kData && entry[6] == 0 && number != 0) {
      SortRuns(reading.mftRuns);
      if (number > static_cast<uint64_t>(reading.volumeBytes / size) ||
          !ReadStream(reading, reading.mftRuns, static_cast<int64_t>(number * size), record.data(), size) ||
          !TakeMftExtents(reading, record.data(), number, mftBytes, nullptr) ||
          reading.mftRuns.size() > static_cast<size_t>(reading.boot.clusterCount)) {
        return Damaged(reading, 0);
      }
    }
    at += length;
  }
  SortRuns(reading.mftRuns);
  if (mftBytes < size || mftBytes > reading.volumeBytes || !CoversWhole(reading, reading.mftRuns, mftBytes)) {
    return Damaged(reading, 0);
  }
  return true;
}

// Rounded down, as the system gives the seconds of a time before 1970.
int64_t UnixSeconds(uint64_t ntfsTime) {
  const int64_t units = static_cast<int64_t>(ntfsTime);
  const int64_t seconds = units / 10000000 - (units % 10000000 < 0 ? 1 : 0);
  return seconds - kEpochDifference / 10000000;
}

bool TakeFileName(Reading& reading, uint32_t number, const ntfs::Attribute& attribute) {
  if (attribute.nonResident || attribute.valueLength < 0x42) return Damaged(reading, number);
  const uint8_t* value = attribute.value;
  const uint8_t units = value[0x40];
  if (0x42u + 2u * units > attribute.valueLength) return Damaged(reading, number);
  if (value[0x41] == ntfs::kDosName) return true;
  const uint64_t parent = ntfs::RecordOf(ntfs::Read64(value));
  if (parent >= reading.table.files.size()) return Damaged(reading, number);
  TableName name{number, static_cast<uint32_t>(parent), ntfs::SequenceOf(ntfs::Read64(value)), {}, {}};
  // A name no UTF-8 text can hold is not listed.
  if (!ntfs::NameToUtf8(value + 0x42, units, name.name)) return true;
  // No name of a file is empty, ".", ".." or holds "/" or a null (the root's own name is ".").
  if (number != ntfs::kRootRecord && (name.name.empty() || name.name == "." || name.name == ".." ||
                                      name.name.find_first_of(std::string_view("/\0", 2)) != std::string::npos)) {
    return Damaged(reading, number);
  }
  name.units.resize(units);
  for (size_t i = 0; i < units; ++i) name.units[i] = static_cast<char16_t>(ntfs::Read16(value + 0x42 + 2 * i));
  reading.table.names.push_back(std::move(name));
  return true;
}

bool TakeData(Reading& reading, uint32_t number, const ntfs::Attribute& attribute) {
  TableFile& file = reading.table.files[number];
  if (attribute.nonResident) {
    if (number == kBitmapRecord || number == kUpcaseRecord) {
      auto& runs = number == kBitmapRecord ? reading.bitmapRuns : reading.upcaseRuns;
      if (!ntfs::DecodeRuns(attribute.runs, attribute.runsEnd, attribute.lowestVcn, reading.boot.clusterCount, runs)) {
        return Damaged(reading, number);
      }
      if (number == kUpcaseRecord && attribute.lowestVcn == 0) reading.upcaseBytes = attribute.dataSize;
    }
    if (attribute.lowestVcn != 0) return true;
    file.size = attribute.dataSize;
    file.allocated = attribute.compressedSize >= 0 ? attribute.compressedSize : attribute.allocatedSize;
  } else {
    file.size = attribute.valueLength;
    file.allocated = (file.size + 7) & ~int64_t{7};
    file.linkFileData = attribute.valueLength > sizeof kLinkFileMagic && attribute.valueLength <= kMaxLinkFileData &&
                        std::memcmp(attribute.value, kLinkFileMagic, sizeof kLinkFileMagic) == 0;
  }
  file.hasData = true;
  return true;
}

bool TakeAttribute(Reading& reading, uint32_t number, const ntfs::Attribute& attribute) {
  TableFile& file = reading.table.files[number];
  switch (attribute.type) {
    case ntfs::kStandardInformation:
      if (attribute.nonResident || attribute.valueLength < 0x24) return Damaged(reading, number);
      file.modifiedSeconds = UnixSeconds(ntfs::Read64(attribute.value + 0x08));
      file.fileAttributes = ntfs::Read32(attribute.value + 0x20);
      return true;
    case ntfs::kFileName:
      return TakeFileName(reading, number, attribute);
    case ntfs::kData:
      return attribute.named || TakeData(reading, number, attribute);
    case ntfs::kReparsePoint:
      // A reparse point whose tag cannot be read is not entered either.
      if (attribute.nonResident || attribute.valueLength < 4 ||
          (ntfs::Read32(attribute.value) & ntfs::kNameSurrogateTag)) {
        file.isLink = true;
      }
      return true;
    case ntfs::kVolumeName:
      if (number == kVolumeRecord && !attribute.nonResident) {
        ntfs::NameToUtf8(attribute.value, attribute.valueLength / 2, reading.table.label);
      }
      return true;
    default:
      return true;
  }
}

// A part of a folder's index: its root's keys, its blocks' runs, or which
// blocks are in use.
bool TakeIndexPart(Reading& reading, uint32_t folder, const ntfs::Attribute& attribute) {
  if (attribute.type == kIndexRoot && !attribute.nonResident) {
    // Only a folder's index of names; the file system's own files index other things.
    if (attribute.valueLength < 4 || ntfs::Read32(attribute.value) != ntfs::kFileName) return true;
    return ReadIndexRoot(attribute.value, attribute.valueLength, reading.indexes[folder]);
  }
  if (attribute.type == kIndexAllocation && attribute.nonResident) {
    return ntfs::DecodeRuns(attribute.runs, attribute.runsEnd, attribute.lowestVcn, reading.boot.clusterCount,
                            reading.indexes[folder].blockRuns);
  }
  if (attribute.type == kIndexBitmap && !attribute.nonResident) {
    FolderIndexParts& parts = reading.indexes[folder];
    parts.blockBitmap.assign(attribute.value, attribute.value + attribute.valueLength);
    parts.hasBitmap = true;
  }
  return true;
}

bool TakeRecord(Reading& reading, uint32_t number, uint8_t* record) {
  ntfs::RecordHeader header;
  switch (ntfs::ReadRecordHeader(record, reading.boot.recordSize, header)) {
    case ntfs::RecordState::Unused: return true;
    case ntfs::RecordState::Damaged: return Damaged(reading, number);
    case ntfs::RecordState::Valid: break;
  }
  TableFile& file = reading.table.files[number];
  file.inUse = true;
  file.isDirectory = header.isDirectory;
  file.sequence = header.sequence;
  const uint64_t base = ntfs::RecordOf(header.baseReference);
  if (base != 0) {
    if (base >= reading.table.files.size() || base == number) return Damaged(reading, number);
    file.baseRecord = static_cast<uint32_t>(base + 1);
    file.baseSequence = ntfs::SequenceOf(header.baseReference);
  }
  uint32_t offset = header.firstAttribute;
  ntfs::Attribute attribute;
  bool malformed = false;
  const uint32_t folder = base != 0 ? static_cast<uint32_t>(base) : number;
  while (ntfs::NextAttribute(record, header, offset, attribute, malformed)) {
    if (!TakeAttribute(reading, number, attribute)) return false;
    if (attribute.named && (header.isDirectory || base != 0) && platform::kListsNtfsFoldersAsStored &&
        !TakeIndexPart(reading, folder, attribute)) {
      return Damaged(reading, number);
    }
  }
  return !malformed || Damaged(reading, number);
}

bool ReadAllRecords(Reading& reading, int64_t mftBytes) {
  const uint32_t size = reading.boot.recordSize;
  const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(mftBytes) / size, UINT32_MAX);
  reading.table.files.assign(count, TableFile{});
  const size_t block = std::max<size_t>(kReadBlock / size * size, size);
  std::vector<uint8_t> buffer(block);
  for (uint64_t first = 0; first < count;) {
    const uint64_t records = std::min<uint64_t>(block / size, count - first);
    if (!ReadStream(reading, reading.mftRuns, static_cast<int64_t>(first * size), buffer.data(), records * size)) {
      return Damaged(reading, first);
    }
    for (uint64_t i = 0; i < records; ++i) {
      if (!TakeRecord(reading, static_cast<uint32_t>(first + i), buffer.data() + i * size)) return false;
    }
    first += records;
  }
  return true;
}

// Folds each extension record into its base record: the $DATA extent that
// gives the stream's sizes, and the names, may live in one.
void JoinExtensionRecords(VolumeTable& table) {
  for (auto& file : table.files) {
    if (!file.inUse || file.baseRecord == 0) continue;
    TableFile& base = table.files[file.baseRecord - 1];
    if (base.inUse && base.baseRecord == 0 && base.sequence == file.baseSequence) {
      if (file.hasData && !base.hasData) {
        base.hasData = true;
        base.size = file.size;
        base.allocated = file.allocated;
        base.linkFileData = file.linkFileData;
      }
      base.isLink = base.isLink || file.isLink;
    }
  }
  for (auto& name : table.names) {
    const TableFile& owner = table.files[name.record];
    if (owner.baseRecord == 0) continue;
    const TableFile& base = table.files[owner.baseRecord - 1];
    const bool joined = base.inUse && base.baseRecord == 0 && base.sequence == owner.baseSequence;
    name.record = joined ? owner.baseRecord - 1 : UINT32_MAX;
  }
  for (auto& file : table.files) {
    if (file.baseRecord != 0) file.inUse = false;
  }
}

// A name is listed when it belongs to a file of the user's (not one of the
// file system's own) and its folder is in use with the sequence it names.
bool Listed(const VolumeTable& table, const TableName& name) {
  if (name.record == UINT32_MAX || name.record < ntfs::kFirstUserRecord || !table.files[name.record].inUse) {
    return false;
  }
  const TableFile& parent = table.files[name.parent];
  return parent.inUse && parent.isDirectory && (name.parentSequence == 0 || name.parentSequence == parent.sequence);
}

// Every folder has one parent, and following parents never comes back to
// where it began.
bool CheckFolderParents(Reading& reading, const std::vector<uint32_t>& parentOf) {
  const auto& files = reading.table.files;
  std::vector<uint8_t> state(files.size(), 0);  // 1: on the path being followed, 2: leads to no loop
  std::vector<uint32_t> path;
  for (uint32_t start = 0; start < files.size(); ++start) {
    for (uint32_t at = start; state[at] == 0;) {
      state[at] = 1;
      path.push_back(at);
      if (parentOf[at] == UINT32_MAX) break;
      at = parentOf[at];
      if (state[at] == 1) return Damaged(reading, at);
    }
    for (uint32_t at : path) state[at] = 2;
    path.clear();
  }
  return true;
}

// The listing order of a folder: names compared in upper case by the
// volume's own table, then as they are.
void OrderChildren(VolumeTable& table, const std::vector<char16_t>& upcase) {
  auto upper = [&](char16_t unit) { return upcase.empty() ? unit : upcase[unit]; };
  for (size_t folder = 0; folder + 1 < table.firstChild.size(); ++folder) {
    std::sort(table.children.begin() + table.firstChild[folder], table.children.begin() + table.firstChild[folder + 1],
              [&](uint32_t a, uint32_t b) {
                const std::u16string& x = table.names[a].units;
                const std::u16string& y = table.names[b].units;
                const size_t common = std::min(x.size(), y.size());
                for (size_t i = 0; i < common; ++i) {
                  if (upper(x[i]) != upper(y[i])) return upper(x[i]) < upper(y[i]);
                }
                if (x.size() != y.size()) return x.size() < y.size();
                return x < y;
              });
  }
}

bool LinkFolders(Reading& reading, const std::vector<char16_t>& upcase) {
  VolumeTable& table = reading.table;
  std::vector<uint32_t> parentOf(table.files.size(), UINT32_MAX);
  std::vector<uint32_t> counts(table.files.size() + 1, 0);
  for (uint32_t i = 0; i < table.names.size(); ++i) {
    const TableName& name = table.names[i];
    if (!Listed(table, name)) continue;
    TableFile& file = table.files[name.record];
    file.linkCount += 1;
    counts[name.parent + 1] += 1;
    if (!file.isDirectory) continue;
    // A folder has one parent: a second would make it two places at once.
    if (parentOf[name.record] != UINT32_MAX && parentOf[name.record] != name.parent) {
      return Damaged(reading, name.record);
    }
    parentOf[name.record] = name.parent;
  }
  if (!CheckFolderParents(reading, parentOf)) return false;
  for (size_t i = 1; i < counts.size(); ++i) counts[i] += counts[i - 1];
  table.firstChild = counts;
  table.children.assign(counts.back(), 0);
  for (uint32_t i = 0; i < table.names.size(); ++i) {
    if (Listed(table, table.names[i])) table.children[counts[table.names[i].parent]++] = i;
  }
  OrderChildren(table, upcase);
  return true;
}

// The keys of a folder's index in the order it stores them; false when a
// block cannot be read.
bool StoredKeys(const Reading& reading, FolderIndexParts& parts, std::vector<IndexKey>& keys) {
  keys = std::move(parts.rootKeys);
  if (parts.blockRuns.empty()) return true;
  const uint32_t size = parts.blockSize;
  if (size < 512 || size > 65536 || (size & (size - 1)) != 0) return false;
  SortRuns(parts.blockRuns);
  const ntfs::Run& last = parts.blockRuns.back();
  const int64_t blocks = (last.vcn + last.length) * reading.boot.clusterSize / size;
  std::vector<uint8_t> block(size);
  for (int64_t i = 0; i < blocks; ++i) {
    if (parts.hasBitmap && (static_cast<size_t>(i / 8) >= parts.blockBitmap.size() ||
                            (parts.blockBitmap[i / 8] & (1 << (i % 8))) == 0)) {
      continue;
    }
    if (!ReadStream(reading, parts.blockRuns, i * size, block.data(), size) ||
        !ReadIndexBlock(block.data(), size, keys)) {
      return false;
    }
  }
  return true;
}

std::u16string RankKey(uint32_t record, const std::u16string& units) {
  return units + static_cast<char16_t>(record) + static_cast<char16_t>(record >> 16);
}

// Orders each folder's names as its index stores them; a folder whose index
// cannot be read keeps the name order.
void OrderAsStored(Reading& reading) {
  VolumeTable& table = reading.table;
  std::vector<IndexKey> keys;
  std::unordered_map<std::u16string, uint32_t> rank;
  std::vector<std::pair<uint32_t, uint32_t>> ranked;  // place in the index, name
  for (auto& [folder, parts] : reading.indexes) {
    const bool listed = folder == ntfs::kRootRecord || folder >= ntfs::kFirstUserRecord;
    if (!listed || !table.files[folder].isDirectory || !StoredKeys(reading, parts, keys)) continue;
    rank.clear();
    for (uint32_t i = 0; i < keys.size(); ++i) rank.emplace(RankKey(keys[i].record, keys[i].units), i);
    // Each name's place in the index, looked up once; names the index lacks go last, in name order.
    ranked.clear();
    for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
      const TableName& name = table.names[table.children[i]];
      auto found = rank.find(RankKey(name.record, name.units));
      ranked.emplace_back(found == rank.end() ? UINT32_MAX : found->second, table.children[i]);
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < ranked.size(); ++i) table.children[table.firstChild[folder] + i] = ranked[i].second;
  }
}

std::vector<char16_t> ReadUpcase(const Reading& reading) {
  std::vector<uint8_t> bytes(kUpcaseUnits * 2);
  std::vector<ntfs::Run> runs = reading.upcaseRuns;
  SortRuns(runs);
  if (reading.upcaseBytes < static_cast<int64_t>(bytes.size()) ||
      !ReadStream(reading, runs, 0, bytes.data(), bytes.size())) {
    return {};
  }
  std::vector<char16_t> upcase(kUpcaseUnits);
  for (size_t i = 0; i < kUpcaseUnits; ++i) upcase[i] = static_cast<char16_t>(ntfs::Read16(bytes.data() + 2 * i));
  return upcase;
}

// The clusters in use, from $Bitmap: one bit per cluster.
bool CountFreeClusters(Reading& reading) {
  SortRuns(reading.bitmapRuns);
  const int64_t clusters = reading.boot.clusterCount;
  std::vector<uint8_t> buffer(kReadBlock);
  int64_t used = 0;
  for (int64_t byte = 0; byte * 8 < clusters;) {
    const size_t piece = static_cast<size_t>(std::min<int64_t>(kReadBlock, (clusters + 7) / 8 - byte));
    if (!ReadStream(reading, reading.bitmapRuns, byte, buffer.data(), piece)) return Damaged(reading, kBitmapRecord);
    for (size_t i = 0; i < piece; ++i) {
      uint8_t bits = buffer[i];
      const int64_t first = (byte + static_cast<int64_t>(i)) * 8;
      if (clusters - first < 8) bits &= static_cast<uint8_t>((1u << (clusters - first)) - 1);
      used += std::popcount(bits);
    }
    byte += static_cast<int64_t>(piece);
  }
  reading.table.freeBytes = (clusters - used) * reading.boot.clusterSize;
  return true;
}

void MarkLinkFiles(VolumeTable& table) {
  for (auto& file : table.files) {
    if (file.linkFileData && (file.fileAttributes & ntfs::kFileSystem) && !file.isDirectory) file.isLink = true;
  }
}

}  // namespace

bool ReadVolumeTable(const VolumeSource& source, int64_t volumeBytes, VolumeTable& table, TableFailure& failure) {
  table = VolumeTable{};
  failure = TableFailure{};
  std::vector<uint8_t> sector(512);
  if (!source.read(source.context, 0, sector.data(), sector.size())) {
    failure.reason = "its first sector cannot be read";
    return false;
  }
  Reading reading{source, {}, 0, table, failure, {}, {}, {}, 0, {}};
  if (!ntfs::ReadBootSector(sector.data(), sector.size(), reading.boot, failure.reason)) return false;
  reading.volumeBytes = reading.boot.clusterCount * reading.boot.clusterSize;
  if (volumeBytes >= 0) reading.volumeBytes = std::min(reading.volumeBytes, volumeBytes);
  int64_t mftBytes = 0;
  if (!ReadMftRuns(reading, mftBytes) || !ReadAllRecords(reading, mftBytes)) return false;
  if (table.files.size() <= kUpcaseRecord || !table.files[ntfs::kRootRecord].isDirectory) {
    return Damaged(reading, ntfs::kRootRecord);
  }
  JoinExtensionRecords(table);
  MarkLinkFiles(table);
  if (!LinkFolders(reading, ReadUpcase(reading)) || !CountFreeClusters(reading)) return false;
  OrderAsStored(reading);
  table.clusterSize = reading.boot.clusterSize;
  table.capacityBytes = reading.boot.clusterCount * reading.boot.clusterSize;
  table.serialNumber = reading.boot.serialNumber;
  return true;
}

platform::ListingEntry TableEntryOf(const VolumeTable& table, const TableName& name) {
  const TableFile& file = table.files[name.record];
  platform::ListingEntry entry;
  entry.name = name.name;
  entry.attributes = (file.isDirectory ? platform::kAttrDirectory : 0) |
                     (file.isLink ? platform::kAttrReparsePoint : 0) |
                     (file.fileAttributes & platform::kAttrOffline);
  entry.size = file.isDirectory ? 0 : file.size;
  entry.linkCount = file.linkCount;
  entry.volumeId = table.serialNumber;
  entry.fileId = name.record;
  // What the system's listing gives: the allocation in whole 512-byte blocks.
  entry.allocatedBytes = file.isDirectory || file.allocated < 0 ? -1 : (file.allocated + 511) / 512 * 512;
  entry.modifiedSeconds = file.modifiedSeconds;
  return entry;
}
