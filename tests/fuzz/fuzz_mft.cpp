// The NTFS master file table reader on hostile bytes. The first byte picks
// what the rest is: even, one record of 1,024 bytes (zeros after the input);
// odd, the beginning of a volume of 4 MiB whose other bytes are zeros (the
// bytes given shown in place, the others read), its plain files summed where
// the byte's second bit is set, by type where its third is, the two largest
// kept where its fourth is.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "mft/ntfs_record.h"
#include "mft/volume_table.h"

namespace {

constexpr size_t kRecordBytes = 1024;
constexpr int64_t kImageBytes = 4 << 20;
constexpr int64_t kClusterCount = 1 << 20;

struct Image {
  const uint8_t* data;
  size_t size;
};

bool ReadImage(void* context, int64_t offset, uint8_t* buffer, size_t bytes) {
  const auto& image = *static_cast<const Image*>(context);
  FUZZ_CHECK(offset >= 0 && static_cast<int64_t>(bytes) <= kImageBytes - offset);
  std::memset(buffer, 0, bytes);
  if (static_cast<size_t>(offset) < image.size) {
    std::memcpy(buffer, image.data + offset, std::min(bytes, image.size - static_cast<size_t>(offset)));
  }
  return true;
}

// The bytes the input holds are shown in place; the rest of the volume is read.
const uint8_t* ViewImage(void* context, int64_t offset, size_t bytes) {
  const auto& image = *static_cast<const Image*>(context);
  FUZZ_CHECK(offset >= 0 && static_cast<int64_t>(bytes) <= kImageBytes - offset);
  return static_cast<size_t>(offset) <= image.size && bytes <= image.size - static_cast<size_t>(offset)
             ? image.data + offset
             : nullptr;
}

void FuzzRecord(const uint8_t* data, size_t size) {
  std::vector<uint8_t> record(kRecordBytes, 0);
  std::memcpy(record.data(), data, std::min(size, kRecordBytes));
  ntfs::RecordHeader header;
  if (ntfs::ReadRecordHeader(record.data(), record.size(), header) != ntfs::RecordState::Valid) return;
  uint32_t offset = header.firstAttribute;
  ntfs::Attribute attribute;
  bool malformed = false;
  while (ntfs::NextAttribute(record.data(), header, offset, attribute, malformed)) {
    FUZZ_CHECK(offset <= header.bytesInUse);
    if (attribute.nonResident) {
      FUZZ_CHECK(attribute.runs >= record.data() && attribute.runsEnd <= record.data() + header.bytesInUse);
      std::vector<ntfs::Run> runs;
      if (!ntfs::DecodeRuns(attribute.runs, attribute.runsEnd, attribute.lowestVcn, kClusterCount, runs)) continue;
      for (const auto& run : runs) {
        FUZZ_CHECK(run.length > 0 && (run.lcn == -1 || (run.lcn >= 0 && run.lcn + run.length <= kClusterCount)));
      }
    } else {
      FUZZ_CHECK(attribute.value + attribute.valueLength <= record.data() + header.bytesInUse);
      std::string name;
      ntfs::NameToUtf8(attribute.value, attribute.valueLength / 2, name);
    }
  }
}

void CheckPlainEntry(void*, const platform::ListingEntry& entry) {
  FUZZ_CHECK(entry.size >= 0 && !entry.name.empty());
}

// Every folder reached from the root is reached once: the table is a tree;
// the plain files kept by record are read again.
void WalkFolders(const VolumeTable& table, const VolumeSource& source) {
  std::vector<uint8_t> buffer;
  std::vector<uint8_t> seen(table.files.size(), 0);
  std::vector<uint32_t> pending{TableIndexOf(table, ntfs::kRootRecord)};
  while (!pending.empty()) {
    const uint32_t folder = pending.back();
    pending.pop_back();
    FUZZ_CHECK(folder + 1 < table.firstChild.size() && !seen[folder]);
    seen[folder] = 1;
    for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
      FUZZ_CHECK(table.children[i] < table.names.size());
      const TableName& name = table.names[table.children[i]];
      FUZZ_CHECK(name.parent == folder && name.file < table.files.size());
      const platform::ListingEntry entry = TableEntryOf(table, name);
      FUZZ_CHECK(entry.size >= 0 && entry.linkCount >= 1);
      if ((entry.attributes & platform::kAttrDirectory) && !(entry.attributes & platform::kAttrReparsePoint)) {
        pending.push_back(name.file);
      }
    }
    const PlainFileSums* sums = PlainFilesOf(table, folder);
    FUZZ_CHECK(sums == nullptr || (sums->files > 0 && sums->bytes >= 0 && sums->slack >= 0));
    for (const PlainTypeSums& type : PlainTypesOf(table, folder)) {
      FUZZ_CHECK(type.sums.folder == folder && type.sums.files > 0 && type.sums.bytes >= 0 && type.sums.slack >= 0 &&
                 type.typeAt + type.typeLength <= table.nameBytes.size());
    }
    for (const PlainFile& file : PlainFilesIn(table, folder)) {
      FUZZ_CHECK(file.folder == folder && file.size >= 0 && file.nameAt + file.nameLength <= table.nameBytes.size());
    }
    ListPlainRecords(table, source, folder, buffer, CheckPlainEntry, nullptr);
  }
}

// Plain files counted at their length; all of a folder's summed, or those
// of a type; the two largest met kept or not.
int64_t CountedAtLength(const platform::ListingEntry& entry, int64_t&) { return entry.size; }
void TakeNoClusterSize(uint32_t) {}
const PlainFileCounting kCountings[4] = {{TakeNoClusterSize, CountedAtLength, false, 0},
                                         {TakeNoClusterSize, CountedAtLength, true, 0},
                                         {TakeNoClusterSize, CountedAtLength, false, 2},
                                         {TakeNoClusterSize, CountedAtLength, true, 2}};

void FuzzImage(const uint8_t* data, size_t size, const PlainFileCounting* counting) {
  Image image{data, size};
  VolumeTable table;
  TableFailure failure;
  const VolumeSource source{ReadImage, &image, ViewImage};
  if (!ReadVolumeTable(source, kImageBytes, counting, table, failure)) {
    FUZZ_CHECK(failure.damaged || !failure.reason.empty());
    return;
  }
  FUZZ_CHECK(table.freeBytes >= 0 && table.freeBytes <= table.capacityBytes);
  FUZZ_CHECK(table.children.size() <= table.names.size());
  WalkFolders(table, source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    FuzzImage(data + 1, size - 1, (data[0] & 2) ? &kCountings[(data[0] >> 2) & 3] : nullptr);
  } else {
    FuzzRecord(data + 1, size - 1);
  }
  return 0;
}
