#include "mft/volume_table.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>

#include "console/held_sums.h"
#include "mft/table_reading.h"

namespace {

constexpr uint32_t kVolumeRecord = 3;
constexpr uint32_t kBitmapRecord = 6;
constexpr uint32_t kUpcaseRecord = 10;
constexpr size_t kUpcaseUnits = 65536;
// An attribute list longer than this is not one a volume writes.
constexpr int64_t kMaxAttributeList = 1 << 20;
// 100-nanosecond units from 1601-01-01 to 1970-01-01.
constexpr int64_t kEpochDifference = 116444736000000000;
// A link file (written by some NTFS drivers for symbolic links): a system
// file whose data begins with this magic, then the target.
constexpr uint8_t kLinkFileMagic[8] = {'I', 'n', 't', 'x', 'L', 'N', 'K', 1};
constexpr uint32_t kMaxLinkFileData = 8 + 2 * 4096;

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
  if (parent >= reading.recordCount) return Damaged(reading, number);
  // A name no UTF-8 text can hold is not listed.
  std::string& text = reading.nameText;
  if (!ntfs::NameToUtf8(value + 0x42, units, text)) return true;
  // No name of a file is empty, ".", ".." or holds "/" or a null (the root's own name is ".").
  if (number != ntfs::kRootRecord && (text.empty() || text == "." || text == ".." ||
                                      text.find('/') != std::string::npos || text.find('\0') != std::string::npos)) {
    return Damaged(reading, number);
  }
  VolumeTable& table = reading.table;
  table.names.push_back({static_cast<uint32_t>(table.files.size() - 1), static_cast<uint32_t>(parent),
                         static_cast<uint32_t>(table.nameBytes.size()), static_cast<uint16_t>(text.size()),
                         ntfs::SequenceOf(ntfs::Read64(value))});
  table.nameBytes += text;
  return true;
}

bool TakeData(Reading& reading, TableFile& file, const ntfs::Attribute& attribute) {
  const uint32_t number = file.record;
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

bool TakeAttribute(Reading& reading, TableFile& file, const ntfs::Attribute& attribute) {
  switch (attribute.type) {
    case ntfs::kStandardInformation:
      if (attribute.nonResident || attribute.valueLength < 0x24) return Damaged(reading, file.record);
      file.modifiedSeconds = UnixSeconds(ntfs::Read64(attribute.value + 0x08));
      file.fileAttributes = ntfs::Read32(attribute.value + 0x20);
      return true;
    case ntfs::kFileName:
      return TakeFileName(reading, file.record, attribute);
    case ntfs::kData:
      return attribute.named || TakeData(reading, file, attribute);
    case ntfs::kReparsePoint:
      // A reparse point whose tag cannot be read is not entered either.
      if (attribute.nonResident || attribute.valueLength < 4 ||
          (ntfs::Read32(attribute.value) & ntfs::kNameSurrogateTag)) {
        file.isLink = true;
      }
      return true;
    case ntfs::kVolumeName:
      if (file.record == kVolumeRecord && !attribute.nonResident) {
        ntfs::NameToUtf8(attribute.value, attribute.valueLength / 2, reading.table.label);
      }
      return true;
    default:
      return true;
  }
}

// The allocation a listing gives of a file: in whole 512-byte blocks.
int64_t ListedAllocation(const TableFile& file) {
  return file.isDirectory || file.allocated < 0 ? -1 : (file.allocated + 511) / 512 * 512;
}

PlainFileSums* SumsOfFolder(VolumeTable& table, uint32_t folder) {
  return const_cast<PlainFileSums*>(PlainFilesOf(table, folder));
}

// A record read again keeps no marks: the pass found it a base record.
bool IsExtended(const Reading& reading, uint32_t number) {
  return number < reading.extended.size() && reading.extended[number];
}

// A file just read whose only listing is one name, whose figures its own
// record holds whole, and that a listing counts as it counts most files.
bool IsPlainFile(const Reading& reading, uint32_t firstName, bool hasAttributeList) {
  const VolumeTable& table = reading.table;
  const TableFile& file = table.files.back();
  return file.record >= ntfs::kFirstUserRecord && file.baseRecord == 0 && !file.isDirectory && !hasAttributeList &&
         !IsExtended(reading, file.record) && table.names.size() == firstName + 1 && table.names.back().parentSequence &&
         file.hasData && !file.isLink && !file.linkFileData && !(file.fileAttributes & ntfs::kFileOffline);
}

// A plain file just read, one by one, or by its record alone.
void KeepPlainFile(Reading& reading) {
  VolumeTable& table = reading.table;
  const TableFile& file = table.files.back();
  const TableName& name = table.names.back();
  if (reading.keepsRecords) {
    table.plainParents[file.record] = name.parent;
    table.nameBytes.resize(name.nameAt);
    return;
  }
  table.plainList.push_back({file.record, name.parent, name.nameAt, name.nameLength, name.parentSequence, file.size,
                             ListedAllocation(file), file.modifiedSeconds});
}

// The sums not yet joined to a folder that a plain file named `name` goes
// into: by its folder, and by type where the files are summed so.
LaterSums& LaterSumsOf(Reading& reading, const TableName& name) {
  if (!reading.counting->byType) return reading.laterSums[name.parent];
  const std::string_view text = std::string_view(reading.table.nameBytes).substr(name.nameAt, name.nameLength);
  const size_t dot = text.rfind('.');
  std::string key(reinterpret_cast<const char*>(&name.parent), sizeof name.parent);
  if (dot != std::string_view::npos) key += text.substr(dot);
  return reading.typeSums[key];
}

// The bytes and slack the scan counts of the file just read.
int64_t CountedBytesOf(const Reading& reading, int64_t& slack) {
  const TableFile& file = reading.table.files.back();
  platform::ListingEntry entry;
  entry.attributes = 0;
  entry.size = file.size;
  entry.allocatedBytes = ListedAllocation(file);
  return reading.counting->count(entry, slack);
}

// Whether a file of `bytes` may still be among the largest the pass keeps
// (larger than the least kept, where as many are kept as are listed); if so
// it is noted among them, else it is the largest summed so far or smaller.
bool MayBeAmongLargest(Reading& reading, int64_t bytes) {
  const size_t limit = reading.counting->keepLargest;
  std::vector<int64_t>& heap = reading.largest;
  if (limit == 0) return false;
  if (heap.size() == limit && bytes <= heap.front()) {
    reading.table.largestSummed = std::max(reading.table.largestSummed, bytes);
    return false;
  }
  if (heap.size() == limit) {
    std::pop_heap(heap.begin(), heap.end(), std::greater<>());
    heap.pop_back();
  }
  heap.push_back(bytes);
  std::push_heap(heap.begin(), heap.end(), std::greater<>());
  return true;
}

// The folder kept with record `record`, and its sums (null where it has
// none); kNoFile where it is not kept yet. The last one found is held, as a
// folder's files mostly follow one another: folders and their sums stay
// where they are while the pass reads.
uint32_t KeptFolder(Reading& reading, uint32_t record, PlainFileSums*& sums) {
  auto& held = reading.heldFolder;
  if (held.record != record) {
    const uint32_t index = TableIndexOf(reading.table, record);
    if (index == kNoFile) return kNoFile;
    held = {record, index, SumsOfFolder(reading.table, index)};
  }
  sums = held.sums;
  return held.index;
}

// A plain file just read, of `bytes` and `slack` counted, into the sums of
// its folder; false where its folder has none.
bool SumPlainFile(Reading& reading, int64_t bytes, int64_t slack) {
  const VolumeTable& table = reading.table;
  const TableFile& file = table.files.back();
  const TableName& name = table.names.back();
  PlainFileSums* kept = nullptr;
  LaterSums* later = nullptr;
  if (const uint32_t folder = reading.counting->byType ? kNoFile : KeptFolder(reading, name.parent, kept);
      folder != kNoFile) {
    // In no folder, or in a folder that has taken the record of its own: a
    // record of its own, which no listing shows.
    if (kept == nullptr || table.files[folder].sequence != name.parentSequence) return false;
  } else {
    later = &LaterSumsOf(reading, name);
    if (later->files == 0) later->sequence = name.parentSequence;
    if (later->sequence != name.parentSequence) return false;
  }
  auto add = [&](auto& sums) {
    sums.files = AddCount(sums.files, 1);
    sums.bytes = AddBytes(sums.bytes, bytes);
    sums.slack = AddBytes(sums.slack, slack);
    sums.newestModified = std::max(sums.newestModified, file.modifiedSeconds);
  };
  if (kept != nullptr) {
    add(*kept);
  } else {
    add(*later);
  }
  return true;
}

// A file summed whose bytes equal the least kept among the largest: which
// of those the walk lists depends on their paths, known after the pass.
// The least kept only grows: the last tie noted has the most bytes.
void NoteTie(Reading& reading, uint32_t number, int64_t bytes) {
  const std::vector<int64_t>& heap = reading.largest;
  if (heap.empty() || heap.size() < reading.counting->keepLargest || bytes != heap.front()) return;
  if (reading.tied.empty()) reading.tied.assign(reading.recordCount, false);
  reading.tied[number] = true;
  reading.tiedBytes = bytes;
}

// The sums of a folder just kept, with those its files gave before it.
void StartFolderSums(Reading& reading, const TableFile& folder) {
  VolumeTable& table = reading.table;
  const auto index = static_cast<uint32_t>(table.files.size() - 1);
  table.plainFiles.push_back({index, 0, 0, 0, INT64_MIN});
  auto later = reading.laterSums.find(folder.record);
  if (later == reading.laterSums.end()) return;
  const LaterSums& sums = later->second;
  if (sums.sequence == folder.sequence) {
    table.plainFiles.back() = {index, sums.files, sums.bytes, sums.slack, sums.newestModified};
  }
  reading.laterSums.erase(later);
}

}  // namespace

bool TakeRecord(Reading& reading, uint32_t number, uint8_t* record) {
  ntfs::RecordHeader header;
  switch (ntfs::ReadRecordHeader(record, reading.boot.recordSize, header)) {
    case ntfs::RecordState::Unused: return true;
    case ntfs::RecordState::Damaged: return Damaged(reading, number);
    case ntfs::RecordState::Valid: break;
  }
  VolumeTable& table = reading.table;
  const auto firstName = static_cast<uint32_t>(table.names.size());
  table.files.push_back(TableFile{});
  TableFile& file = table.files.back();
  file.record = number;
  file.inUse = true;
  file.isDirectory = header.isDirectory;
  file.sequence = header.sequence;
  if (reading.counting != nullptr && !reading.counting->byType && file.isDirectory) StartFolderSums(reading, file);
  const uint64_t base = ntfs::RecordOf(header.baseReference);
  if (base != 0) {
    // A file summed already has no record to fold this one into.
    if (base >= reading.recordCount || base == number || reading.summed[base]) return Damaged(reading, number);
    reading.extended[base] = true;
    file.baseRecord = static_cast<uint32_t>(base + 1);
    file.baseSequence = ntfs::SequenceOf(header.baseReference);
  }
  uint32_t offset = header.firstAttribute;
  ntfs::Attribute attribute;
  bool malformed = false;
  bool hasAttributeList = false;
  while (ntfs::NextAttribute(record, header, offset, attribute, malformed)) {
    if (!TakeAttribute(reading, file, attribute)) return false;
    hasAttributeList = hasAttributeList || attribute.type == ntfs::kAttributeList;
    if (attribute.named && (header.isDirectory || base != 0) && platform::kListsNtfsFoldersAsStored) {
      FolderIndexParts indexCheck;
      if (!TakeIndexPart(reading, indexCheck, attribute)) return Damaged(reading, number);
    }
  }
  if (malformed) return Damaged(reading, number);
  if (!IsPlainFile(reading, firstName, hasAttributeList)) return true;
  int64_t slack = 0;
  const int64_t bytes = reading.counting == nullptr ? 0 : CountedBytesOf(reading, slack);
  if (reading.counting == nullptr || MayBeAmongLargest(reading, bytes)) {
    KeepPlainFile(reading);
  } else if (SumPlainFile(reading, bytes, slack)) {
    NoteTie(reading, number, bytes);
    table.nameBytes.resize(table.names.back().nameAt);
  } else {
    return true;
  }
  table.names.pop_back();
  table.files.pop_back();
  if (number < reading.summed.size()) reading.summed[number] = true;
  return true;
}



namespace {

bool ReadAllRecords(Reading& reading, int64_t mftBytes) {
  const uint32_t size = reading.boot.recordSize;
  const uint64_t count = std::min<uint64_t>(static_cast<uint64_t>(mftBytes) / size, UINT32_MAX);
  reading.recordCount = count;
  reading.summed.assign(count, false);
  reading.extended.assign(count, false);
  // Room for every record at once: only the pages filled take memory, and
  // growing would hold the old and the new array.
  reading.table.files.reserve(count);
  reading.table.names.reserve(count);
  if (reading.keepsRecords) {
    reading.table.plainParents.assign(count, kNoFile);
  } else if (!reading.counting->byType) {
    reading.table.plainFiles.reserve(count);
  }
  const uint64_t perBlock = std::max<uint64_t>(kReadBlock / size, 1);
  std::vector<uint8_t> buffer, record(size);
  for (uint64_t first = 0; first < count;) {
    uint64_t records = std::min<uint64_t>(perBlock, count - first);
    const uint8_t* block = RecordsAt(reading, first, records, buffer);
    if (block == nullptr) return Damaged(reading, first);
    for (uint64_t i = 0; i < records; ++i) {
      if (i + kAskedAhead < records) AskForRecord(block + (i + kAskedAhead) * size, size);
      // The fixups change a record: a record shown in place is changed in a copy.
      CopyRecordInUse(block + i * size, record.data(), size);
      if (!TakeRecord(reading, static_cast<uint32_t>(first + i), record.data())) return false;
    }
    first += records;
  }
  // The last block shown takes no room while the records kept are linked.
  if (reading.source.view != nullptr) reading.source.view(reading.source.context, 0, 0);
  return true;
}

// The plain files of each folder in use, summed or one by one, by folder;
// an extension record is no folder of its own. Their arrays keep the room
// they were given: only what was filled takes memory.
void LinkPlainFiles(Reading& reading) {
  VolumeTable& table = reading.table;
  JoinTypeSums(reading);
  std::erase_if(table.plainFiles,
                [&](const PlainFileSums& sums) { return sums.files == 0 || !table.files[sums.folder].inUse; });
  reading.laterSums = {};
  // Those kept one by one, in a folder in use with the sequence they name.
  for (PlainFile& plain : table.plainList) {
    plain.folder = TableIndexOf(table, plain.folder);
    const bool listed = plain.folder != kNoFile && table.files[plain.folder].inUse &&
                        table.files[plain.folder].isDirectory && table.files[plain.folder].sequence == plain.parentSequence;
    if (!listed) plain.folder = kNoFile;
  }
  std::erase_if(table.plainList, [](const PlainFile& plain) { return plain.folder == kNoFile; });
  std::sort(table.plainList.begin(), table.plainList.end(), [](const PlainFile& a, const PlainFile& b) {
    return a.folder != b.folder ? a.folder < b.folder : a.record < b.record;
  });
  if (reading.keepsRecords) GroupPlainRecords(table);
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
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(kReadBlock, (clusters + 7) / 8)));
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

bool ReadVolumeTable(const VolumeSource& source, int64_t volumeBytes, const PlainFileCounting* counting,
                     VolumeTable& table, TableFailure& failure) {
  table = VolumeTable{};
  failure = TableFailure{};
  std::vector<uint8_t> sector(512);
  if (!source.read(source.context, 0, sector.data(), sector.size())) {
    failure.reason = "its first sector cannot be read";
    return false;
  }
  Reading reading{source, counting, table, failure};
  reading.keepsRecords = counting == nullptr;
  if (!ntfs::ReadBootSector(sector.data(), sector.size(), reading.boot, failure.reason)) return false;
  reading.volumeBytes = reading.boot.clusterCount * reading.boot.clusterSize;
  if (volumeBytes >= 0) reading.volumeBytes = std::min(reading.volumeBytes, volumeBytes);
  if (counting != nullptr) counting->prepare(reading.boot.clusterSize);
  int64_t mftBytes = 0;
  if (!ReadMftRuns(reading, mftBytes) || !ReadAllRecords(reading, mftBytes)) return false;
  const uint32_t root = TableIndexOf(table, ntfs::kRootRecord);
  if (reading.recordCount <= kUpcaseRecord || root == kNoFile || !table.files[root].isDirectory) {
    return Damaged(reading, ntfs::kRootRecord);
  }
  JoinExtensionRecords(table);
  LinkPlainFiles(reading);
  MarkLinkFiles(table);
  if (!LinkFolders(reading, ReadUpcase(reading))) return false;
  if (!CountFreeClusters(reading) || !OrderAsStored(reading) || !KeepTiedFiles(reading)) return false;
  table.clusterSize = reading.boot.clusterSize;
  table.capacityBytes = reading.boot.clusterCount * reading.boot.clusterSize;
  table.volumeId = reading.boot.serialNumber;
  if (reading.keepsRecords) table.layout = {reading.boot, reading.volumeBytes, reading.recordCount, reading.mftRuns};
  return true;
}

uint32_t TableIndexOf(const VolumeTable& table, uint64_t record) {
  auto kept = std::lower_bound(table.files.begin(), table.files.end(), record,
                               [](const TableFile& file, uint64_t r) { return file.record < r; });
  return kept != table.files.end() && kept->record == record ? static_cast<uint32_t>(kept - table.files.begin())
                                                              : kNoFile;
}

platform::ListingEntry TableEntryOf(const VolumeTable& table, const TableName& name) {
  const TableFile& file = table.files[name.file];
  platform::ListingEntry entry;
  entry.name = std::string_view(table.nameBytes).substr(name.nameAt, name.nameLength);
  entry.attributes = (file.isDirectory ? platform::kAttrDirectory : 0) |
                     (file.isLink ? platform::kAttrReparsePoint : 0) |
                     (file.fileAttributes & platform::kAttrOffline);
  entry.size = file.isDirectory ? 0 : file.size;
  entry.linkCount = file.linkCount;
  entry.volumeId = table.volumeId;
  entry.fileId = platform::NtfsFileId(file.record, file.sequence);
  entry.allocatedBytes = ListedAllocation(file);
  entry.modifiedSeconds = file.modifiedSeconds;
  return entry;
}

platform::ListingEntry PlainEntryOf(const VolumeTable& table, const PlainFile& file) {
  platform::ListingEntry plain;
  plain.name = std::string_view(table.nameBytes).substr(file.nameAt, file.nameLength);
  plain.attributes = 0;
  plain.size = file.size;
  // A file of one name is never told apart by its identity.
  plain.allocatedBytes = file.allocatedBytes;
  plain.modifiedSeconds = file.modifiedSeconds;
  return plain;
}

std::span<const PlainFile> PlainFilesIn(const VolumeTable& table, uint32_t folder) {
  auto first = std::lower_bound(table.plainList.begin(), table.plainList.end(), folder,
                                [](const PlainFile& file, uint32_t f) { return file.folder < f; });
  auto last = std::upper_bound(first, table.plainList.end(), folder,
                               [](uint32_t f, const PlainFile& file) { return f < file.folder; });
  return {first, last};
}

const PlainFileSums* PlainFilesOf(const VolumeTable& table, uint32_t folder) {
  auto sums = std::lower_bound(table.plainFiles.begin(), table.plainFiles.end(), folder,
                               [](const PlainFileSums& s, uint32_t f) { return s.folder < f; });
  return sums != table.plainFiles.end() && sums->folder == folder ? &*sums : nullptr;
}

std::span<const PlainTypeSums> PlainTypesOf(const VolumeTable& table, uint32_t folder) {
  auto first = std::lower_bound(table.plainTypes.begin(), table.plainTypes.end(), folder,
                                [](const PlainTypeSums& s, uint32_t f) { return s.sums.folder < f; });
  auto last = std::upper_bound(first, table.plainTypes.end(), folder,
                               [](uint32_t f, const PlainTypeSums& s) { return f < s.sums.folder; });
  return {first, last};
}
