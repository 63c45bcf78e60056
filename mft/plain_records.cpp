// Where every file is listed one by one, the pass keeps of a plain file only
// its record; listing its folder reads those records again, as the pass
// read them, the records of one folder in one view or read where they lie
// close together.
#include <algorithm>

#include "mft/table_reading.h"
#include "mft/volume_table.h"

namespace {

std::span<const uint32_t> PlainRecordsIn(const VolumeTable& table, uint32_t folder) {
  if (folder + 1 >= table.firstPlainRecord.size()) return {};
  return std::span(table.plainRecordNumbers)
      .subspan(table.firstPlainRecord[folder], table.firstPlainRecord[folder + 1] - table.firstPlainRecord[folder]);
}

// Whether `record` names a base record: an extension record, which the
// pass never kept as a plain file, would be folded into one.
bool IsBaseRecord(const uint8_t* record) { return ntfs::Read64(record + 0x20) == 0; }

}  // namespace

void GroupPlainRecords(VolumeTable& table) {
  std::vector<uint32_t>& parents = table.plainParents;
  table.firstPlainRecord.assign(table.files.size() + 1, 0);
  // Each record's folder as its index in `files`, kNoFile where none is
  // listed; a folder's files mostly follow one another.
  uint32_t heldRecord = kNoFile, heldIndex = kNoFile;
  for (uint32_t& parent : parents) {
    if (parent == kNoFile) continue;
    if (parent != heldRecord) {
      heldRecord = parent;
      heldIndex = TableIndexOf(table, parent);
      const bool listed = heldIndex != kNoFile && table.files[heldIndex].inUse && table.files[heldIndex].isDirectory;
      if (!listed) heldIndex = kNoFile;
    }
    parent = heldIndex;
    if (parent != kNoFile) ++table.firstPlainRecord[parent + 1];
  }
  for (size_t f = 1; f < table.firstPlainRecord.size(); ++f) table.firstPlainRecord[f] += table.firstPlainRecord[f - 1];
  table.plainRecordNumbers.resize(table.firstPlainRecord.back());
  std::vector<uint32_t> next(table.firstPlainRecord.begin(), table.firstPlainRecord.end() - 1);
  for (uint32_t record = 0; record < parents.size(); ++record) {
    if (parents[record] != kNoFile) table.plainRecordNumbers[next[parents[record]]++] = record;
  }
  table.plainParents = {};
}

bool ListPlainRecords(const VolumeTable& table, const VolumeSource& source, uint32_t folder,
                      std::vector<uint8_t>& buffer, platform::EntryVisitor visit, void* context) {
  const std::span<const uint32_t> records = PlainRecordsIn(table, folder);
  if (records.empty()) return true;
  VolumeTable again;
  TableFailure failure;
  Reading reading{source, nullptr, again, failure};
  reading.boot = table.layout.boot;
  reading.volumeBytes = table.layout.volumeBytes;
  reading.recordCount = table.layout.recordCount;
  reading.mftRuns = table.layout.mftRuns;
  const uint32_t size = reading.boot.recordSize;
  const TableFile& own = table.files[folder];
  std::vector<uint8_t> record(size);
  RecordWindow window;
  for (const uint32_t number : records) {
    const uint8_t* at = RecordIn(reading, number, records.back(), window, buffer);
    if (at == nullptr) return false;
    CopyRecordInUse(at, record.data(), size);
    again.files.clear();
    again.names.clear();
    again.nameBytes.clear();
    again.plainList.clear();
    if (!IsBaseRecord(record.data()) || !TakeRecord(reading, number, record.data()) ||
        again.plainList.size() != 1) {
      continue;
    }
    const PlainFile& file = again.plainList.back();
    if (file.folder == own.record && file.parentSequence == own.sequence) visit(context, PlainEntryOf(again, file));
  }
  return true;
}
