// Reading the table's blocks from the volume: each read checked to lie
// inside it, a stream's parts found by its runs, and the records shown in
// place where the source can show them.
#include <algorithm>
#include <cstring>

#include "mft/table_reading.h"
#include "mft/volume_table.h"

bool ReadAt(const Reading& reading, int64_t offset, uint8_t* buffer, size_t bytes) {
  if (offset < 0 || offset > reading.volumeBytes || static_cast<int64_t>(bytes) > reading.volumeBytes - offset) {
    return false;
  }
  return reading.source.read(reading.source.context, offset, buffer, bytes);
}

bool Damaged(Reading& reading, uint64_t record) {
  reading.failure.damaged = true;
  reading.failure.record = record;
  return false;
}

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

const uint8_t* RecordsAt(const Reading& reading, uint64_t first, uint64_t& records, std::vector<uint8_t>& buffer) {
  const uint32_t size = reading.boot.recordSize;
  const int64_t offset = static_cast<int64_t>(first * size);
  const int64_t cluster = reading.boot.clusterSize;
  auto run = std::upper_bound(reading.mftRuns.begin(), reading.mftRuns.end(), offset / cluster,
                              [](int64_t v, const ntfs::Run& r) { return v < r.vcn; });
  if (reading.source.view != nullptr && run != reading.mftRuns.begin()) {
    --run;
    const int64_t within = offset - run->vcn * cluster;
    const uint64_t inRun = static_cast<uint64_t>(run->length * cluster - within) / size;
    const int64_t at = run->lcn * cluster + within;
    const uint64_t shown = std::min(records, inRun);
    if (shown > 0 && at + static_cast<int64_t>(shown * size) <= reading.volumeBytes) {
      if (const uint8_t* view = reading.source.view(reading.source.context, at, shown * size)) {
        records = shown;
        return view;
      }
    }
  }
  if (buffer.empty()) buffer.resize(kReadBlock / size * size);
  return ReadStream(reading, reading.mftRuns, offset, buffer.data(), records * size) ? buffer.data() : nullptr;
}

const uint8_t* RecordIn(const Reading& reading, uint64_t number, uint64_t last, RecordWindow& window,
                        std::vector<uint8_t>& buffer) {
  const uint32_t size = reading.boot.recordSize;
  if (window.block == nullptr || number < window.first || number >= window.first + window.records) {
    window.first = number;
    window.records = std::min<uint64_t>(std::max<size_t>(kReadBlock / size, 1), last - number + 1);
    window.block = RecordsAt(reading, number, window.records, buffer);
    if (window.block == nullptr) return nullptr;
  }
  return window.block + (number - window.first) * size;
}

void CopyRecordInUse(const uint8_t* from, uint8_t* to, uint32_t size) {
  constexpr uint32_t kSector = 512;
  const uint32_t used = std::clamp<uint32_t>(ntfs::Read32(from + 0x18), 1, size);
  const uint32_t whole = (used + kSector - 1) / kSector * kSector;
  std::memcpy(to, from, whole);
  for (uint32_t tail = whole + kSector - 2; tail < size; tail += kSector) std::memcpy(to + tail, from + tail, 2);
}

void AskForRecord(const uint8_t* record, uint32_t size) {
  constexpr uint32_t kLine = 64;
  for (uint32_t at = 0; at < 512; at += kLine) __builtin_prefetch(record + at);
  __builtin_prefetch(record + size - 2);
}
