// Where every file is listed one by one, the pass keeps of a plain file only
// its record; listing its folder reads those records again, as the pass
// read them, the records of one folder in one view or read where they lie
// close together.
#include <algorithm>

#include "mft/table_reading.h"
#include "mft/volume_table.h"

namespace {

std::span<const PlainRecord> PlainRecordsIn(const VolumeTable& table, uint32_t folder) {
  auto first = std::lower_bound(table.plainRecords.begin(), table.plainRecords.end(), folder,
                                [](const PlainRecord& plain, uint32_t f) { return plain.folder < f; });
  auto last = std::upper_bound(first, table.plainRecords.end(), folder,
                               [](uint32_t f, const PlainRecord& plain) { return f < plain.folder; });
  return {first, last};
}

// Whether `record` names a base record: an extension record, which the
// pass never kept as a plain file, would be folded into one.
bool IsBaseRecord(const uint8_t* record) { return ntfs::Read64(record + 0x20) == 0; }

}  // namespace

bool ListPlainRecords(const VolumeTable& table, const VolumeSource& source, uint32_t folder,
                      std::vector<uint8_t>& buffer, platform::EntryVisitor visit, void* context) {
  const std::span<const PlainRecord> records = PlainRecordsIn(table, folder);
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
  const uint8_t* block = nullptr;
  uint64_t first = 0, shown = 0;
  for (const PlainRecord& plain : records) {
    if (block == nullptr || plain.record >= first + shown) {
      first = plain.record;
      shown = std::min<uint64_t>(std::max<size_t>(kReadBlock / size, 1), records.back().record - first + 1);
      block = RecordsAt(reading, first, shown, buffer);
      if (block == nullptr) return false;
    }
    CopyRecordInUse(block + (plain.record - first) * size, record.data(), size);
    again.files.clear();
    again.names.clear();
    again.nameBytes.clear();
    again.plainList.clear();
    if (!IsBaseRecord(record.data()) || !TakeRecord(reading, plain.record, record.data()) ||
        again.plainList.size() != 1) {
      continue;
    }
    const PlainFile& file = again.plainList.back();
    if (file.folder == own.record && file.parentSequence == own.sequence) visit(context, PlainEntryOf(again, file));
  }
  return true;
}
