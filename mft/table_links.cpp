// After the pass over the table: the sums by type joined to their folders,
// the names linked into their folders, and each folder's names put in the
// order the system lists them.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "mft/table_reading.h"
#include "mft/volume_table.h"

namespace {

constexpr uint32_t kIndexRoot = 0x90;
constexpr uint32_t kIndexAllocation = 0xA0;
constexpr uint32_t kIndexBitmap = 0xB0;

// A name is listed when it belongs to a file of the user's (not one of the
// file system's own) and its folder is in use with the sequence it names.
bool Listed(const VolumeTable& table, const TableName& name) {
  if (name.file == kNoFile || name.parent == kNoFile) return false;
  const TableFile& file = table.files[name.file];
  if (file.record < ntfs::kFirstUserRecord || !file.inUse) return false;
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
      if (parentOf[at] == kNoFile) break;
      at = parentOf[at];
      if (state[at] == 1) return Damaged(reading, files[at].record);
    }
    for (uint32_t at : path) state[at] = 2;
    path.clear();
  }
  return true;
}

std::u16string UnitsOf(const VolumeTable& table, const TableName& name) {
  return ntfs::NameUnits(std::string_view(table.nameBytes).substr(name.nameAt, name.nameLength));
}

// The listing order of a folder: names compared in upper case by the
// volume's own table, then as they are.
void OrderChildren(VolumeTable& table, const std::vector<char16_t>& upcase) {
  auto upper = [&](char16_t unit) { return upcase.empty() ? unit : upcase[unit]; };
  std::vector<std::pair<std::u16string, uint32_t>> named;  // each name's units, the name
  for (size_t folder = 0; folder + 1 < table.firstChild.size(); ++folder) {
    if (table.firstChild[folder + 1] - table.firstChild[folder] < 2) continue;
    named.clear();
    for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
      named.emplace_back(UnitsOf(table, table.names[table.children[i]]), table.children[i]);
    }
    std::sort(named.begin(), named.end(), [&](const auto& a, const auto& b) {
      const std::u16string& x = a.first;
      const std::u16string& y = b.first;
      const size_t common = std::min(x.size(), y.size());
      for (size_t i = 0; i < common; ++i) {
        if (upper(x[i]) != upper(y[i])) return upper(x[i]) < upper(y[i]);
      }
      if (x.size() != y.size()) return x.size() < y.size();
      return x < y;
    });
    for (size_t i = 0; i < named.size(); ++i) table.children[table.firstChild[folder] + i] = named[i].second;
  }
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

std::u16string RankKey(uint32_t record, std::u16string_view units) {
  std::u16string key(units);
  key += static_cast<char16_t>(record);
  key += static_cast<char16_t>(record >> 16);
  return key;
}

// The parts of a folder's index that its records hold: those the pass
// checked are read again, in record order, the extension records' with the
// base record's.
bool ReadIndexParts(Reading& reading, const std::vector<uint32_t>& records, FolderIndexParts& parts) {
  const uint32_t size = reading.boot.recordSize;
  std::vector<uint8_t> record(size);
  for (uint32_t number : records) {
    ntfs::RecordHeader header;
    if (!ReadStream(reading, reading.mftRuns, static_cast<int64_t>(number) * size, record.data(), size) ||
        ntfs::ReadRecordHeader(record.data(), size, header) != ntfs::RecordState::Valid) {
      return Damaged(reading, number);
    }
    uint32_t offset = header.firstAttribute;
    ntfs::Attribute attribute;
    bool malformed = false;
    while (ntfs::NextAttribute(record.data(), header, offset, attribute, malformed)) {
      if (attribute.named && !TakeIndexPart(reading, parts, attribute)) return Damaged(reading, number);
    }
    if (malformed) return Damaged(reading, number);
  }
  return true;
}

// The records that hold each folder's index: its own and its extension
// records, by the folder's index in `files`.
std::unordered_map<uint32_t, std::vector<uint32_t>> ExtensionRecordsOf(const VolumeTable& table) {
  std::unordered_map<uint32_t, std::vector<uint32_t>> extensions;
  for (const TableFile& file : table.files) {
    if (file.baseRecord == 0) continue;
    const uint32_t base = TableIndexOf(table, file.baseRecord - 1);
    if (base != kNoFile) extensions[base].push_back(file.record);
  }
  return extensions;
}

}  // namespace

void JoinTypeSums(Reading& reading) {
  VolumeTable& table = reading.table;
  table.plainTypes.reserve(reading.typeSums.size());
  for (const auto& [key, sums] : reading.typeSums) {
    uint32_t record = 0;
    std::memcpy(&record, key.data(), sizeof record);
    const uint32_t folder = TableIndexOf(table, record);
    if (folder == kNoFile || !table.files[folder].inUse || !table.files[folder].isDirectory ||
        table.files[folder].sequence != sums.sequence) {
      continue;
    }
    const std::string_view type = std::string_view(key).substr(sizeof record);
    table.plainTypes.push_back({{folder, sums.files, sums.bytes, sums.slack, sums.newestModified},
                                static_cast<uint32_t>(table.nameBytes.size()),
                                static_cast<uint16_t>(type.size())});
    table.nameBytes += type;
  }
  reading.typeSums = {};
  std::sort(table.plainTypes.begin(), table.plainTypes.end(), [](const PlainTypeSums& a, const PlainTypeSums& b) {
    return a.sums.folder != b.sums.folder ? a.sums.folder < b.sums.folder : a.typeAt < b.typeAt;
  });
}

bool TakeIndexPart(const Reading& reading, FolderIndexParts& parts, const ntfs::Attribute& attribute) {
  if (attribute.type == kIndexRoot && !attribute.nonResident) {
    // Only a folder's index of names; the file system's own files index other things.
    if (attribute.valueLength < 4 || ntfs::Read32(attribute.value) != ntfs::kFileName) return true;
    return ReadIndexRoot(attribute.value, attribute.valueLength, parts);
  }
  if (attribute.type == kIndexAllocation && attribute.nonResident) {
    return ntfs::DecodeRuns(attribute.runs, attribute.runsEnd, attribute.lowestVcn, reading.boot.clusterCount,
                            parts.blockRuns);
  }
  if (attribute.type == kIndexBitmap && !attribute.nonResident) {
    parts.blockBitmap.assign(attribute.value, attribute.value + attribute.valueLength);
    parts.hasBitmap = true;
  }
  return true;
}

// Folds each extension record into its base record: the $DATA extent that
// gives the stream's sizes, and the names, may live in one.
void JoinExtensionRecords(VolumeTable& table) {
  std::vector<uint32_t> joinedTo(table.files.size(), kNoFile);
  for (uint32_t i = 0; i < table.files.size(); ++i) {
    const TableFile& file = table.files[i];
    if (file.baseRecord == 0) continue;
    const uint32_t at = TableIndexOf(table, file.baseRecord - 1);
    if (at == kNoFile) continue;
    TableFile& base = table.files[at];
    if (base.inUse && base.baseRecord == 0 && base.sequence == file.baseSequence) {
      joinedTo[i] = at;
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
    if (table.files[name.file].baseRecord != 0) name.file = joinedTo[name.file];
  }
  for (auto& file : table.files) {
    if (file.baseRecord != 0) file.inUse = false;
  }
}

bool LinkFolders(Reading& reading, const std::vector<char16_t>& upcase) {
  VolumeTable& table = reading.table;
  for (TableName& name : table.names) name.parent = TableIndexOf(table, name.parent);
  std::vector<uint32_t> parentOf(table.files.size(), kNoFile);
  std::vector<uint32_t> counts(table.files.size() + 1, 0);
  for (const TableName& name : table.names) {
    if (!Listed(table, name)) continue;
    TableFile& file = table.files[name.file];
    file.linkCount += 1;
    counts[name.parent + 1] += 1;
    if (!file.isDirectory) continue;
    // A folder has one parent: a second would make it two places at once.
    if (parentOf[name.file] != kNoFile && parentOf[name.file] != name.parent) return Damaged(reading, file.record);
    parentOf[name.file] = name.parent;
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

// Orders each folder's names as its index stores them, where the system
// lists folders so; a folder whose index cannot be read keeps the name order.
bool OrderAsStored(Reading& reading) {
  if (!platform::kListsNtfsFoldersAsStored) return true;
  VolumeTable& table = reading.table;
  auto extensions = ExtensionRecordsOf(table);
  std::vector<IndexKey> keys;
  std::unordered_map<std::u16string, uint32_t> rank;
  std::vector<std::pair<uint32_t, uint32_t>> ranked;  // place in the index, name
  std::vector<uint32_t> records;
  for (uint32_t folder = 0; folder < table.files.size(); ++folder) {
    const TableFile& file = table.files[folder];
    const bool listed = file.record == ntfs::kRootRecord || file.record >= ntfs::kFirstUserRecord;
    // One name or none is in order already.
    if (!listed || !file.isDirectory || table.firstChild[folder + 1] - table.firstChild[folder] < 2) continue;
    records = std::move(extensions[folder]);
    records.push_back(file.record);
    std::sort(records.begin(), records.end());
    FolderIndexParts parts;
    if (!ReadIndexParts(reading, records, parts)) return false;
    if (!StoredKeys(reading, parts, keys)) continue;
    rank.clear();
    for (uint32_t i = 0; i < keys.size(); ++i) rank.emplace(RankKey(keys[i].record, keys[i].units), i);
    // Each name's place in the index, looked up once; names the index lacks go last, in name order.
    ranked.clear();
    for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
      const TableName& name = table.names[table.children[i]];
      auto found = rank.find(RankKey(table.files[name.file].record, UnitsOf(table, name)));
      ranked.emplace_back(found == rank.end() ? UINT32_MAX : found->second, table.children[i]);
    }
    std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    for (size_t i = 0; i < ranked.size(); ++i) table.children[table.firstChild[folder] + i] = ranked[i].second;
  }
  return true;
}
