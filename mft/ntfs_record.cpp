#include "mft/ntfs_record.h"

#include <cstring>

namespace ntfs {

namespace {

// The fixups protect every 512 bytes of a record, whatever the sector size.
constexpr size_t kFixupBlock = 512;
constexpr uint16_t kRecordInUse = 0x1;
constexpr uint16_t kRecordIsDirectory = 0x2;
constexpr uint32_t kRecordHeaderSize = 0x30;
constexpr uint32_t kResidentHeaderSize = 0x18;
constexpr uint32_t kNonResidentHeaderSize = 0x40;
constexpr uint32_t kCompressedHeaderSize = 0x48;
constexpr uint16_t kAttributeCompressed = 0x00FF;
constexpr uint16_t kAttributeSparse = 0x8000;

bool IsPowerOfTwo(uint64_t value) { return value != 0 && (value & (value - 1)) == 0; }

// A signed little-endian number of `bytes` bytes (1 to 8).
int64_t ReadSigned(const uint8_t* p, unsigned bytes) {
  uint64_t value = 0;
  for (unsigned i = 0; i < bytes; ++i) value |= static_cast<uint64_t>(p[i]) << (8 * i);
  if (bytes < 8 && (p[bytes - 1] & 0x80)) value |= ~0ull << (8 * bytes);
  return static_cast<int64_t>(value);
}

bool ReadNonResident(const uint8_t* at, uint32_t length, Attribute& attribute) {
  if (length < kNonResidentHeaderSize) return false;
  attribute.lowestVcn = static_cast<int64_t>(Read64(at + 0x10));
  const int64_t highestVcn = static_cast<int64_t>(Read64(at + 0x18));
  const uint16_t runsOffset = Read16(at + 0x20);
  attribute.allocatedSize = static_cast<int64_t>(Read64(at + 0x28));
  attribute.dataSize = static_cast<int64_t>(Read64(at + 0x30));
  if (attribute.lowestVcn < 0 || highestVcn < attribute.lowestVcn - 1) return false;
  if (attribute.allocatedSize < 0 || attribute.dataSize < 0) return false;
  if (attribute.flags & (kAttributeCompressed | kAttributeSparse)) {
    if (length < kCompressedHeaderSize) return false;
    attribute.compressedSize = static_cast<int64_t>(Read64(at + 0x40));
    if (attribute.compressedSize < 0) return false;
  }
  if (runsOffset < kNonResidentHeaderSize || runsOffset > length) return false;
  attribute.runs = at + runsOffset;
  attribute.runsEnd = at + length;
  return true;
}

bool ReadResident(const uint8_t* at, uint32_t length, Attribute& attribute) {
  if (length < kResidentHeaderSize) return false;
  attribute.valueLength = Read32(at + 0x10);
  const uint16_t valueOffset = Read16(at + 0x14);
  if (valueOffset > length || attribute.valueLength > length - valueOffset) return false;
  attribute.value = at + valueOffset;
  return true;
}

void AppendUtf8(uint32_t code, std::string& out) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | code >> 18);
    out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

}  // namespace

bool ReadBootSector(const uint8_t* sector, size_t size, BootSector& boot, std::string& failure) {
  if (size < 512 || std::memcmp(sector + 3, "NTFS    ", 8) != 0) {
    failure = "not an NTFS volume";
    return false;
  }
  failure = "its boot sector is damaged";
  boot.sectorSize = Read16(sector + 0x0B);
  const uint8_t clusterCode = sector[0x0D];
  if (!IsPowerOfTwo(boot.sectorSize) || boot.sectorSize < 256 || boot.sectorSize > 4096) return false;
  // Above 0x80 the byte is a negative power of two (clusters over 64 KiB).
  const uint64_t sectorsPerCluster = clusterCode <= 0x80 ? clusterCode : clusterCode >= 0xF4 ? 1ull << (256 - clusterCode) : 0;
  if (!IsPowerOfTwo(sectorsPerCluster) || sectorsPerCluster > 4096) return false;
  const uint64_t clusterSize = sectorsPerCluster * boot.sectorSize;
  if (clusterSize > (2u << 20)) return false;
  boot.clusterSize = static_cast<uint32_t>(clusterSize);
  const int64_t sectors = static_cast<int64_t>(Read64(sector + 0x28));
  if (sectors <= 0 || sectors > INT64_MAX / boot.sectorSize) return false;
  boot.clusterCount = sectors / static_cast<int64_t>(sectorsPerCluster);
  boot.mftCluster = static_cast<int64_t>(Read64(sector + 0x30));
  // A negative count is a power of two in bytes.
  const int8_t recordCode = static_cast<int8_t>(sector[0x40]);
  const uint64_t recordSize = recordCode > 0 ? static_cast<uint64_t>(recordCode) * clusterSize
                              : recordCode < 0 && recordCode > -31 ? 1ull << -recordCode
                                                                   : 0;
  if (!IsPowerOfTwo(recordSize) || recordSize < kFixupBlock || recordSize > 65536) return false;
  boot.recordSize = static_cast<uint32_t>(recordSize);
  if (boot.clusterCount <= 0 || boot.mftCluster <= 0 || boot.mftCluster >= boot.clusterCount) return false;
  boot.serialNumber = Read64(sector + 0x48);
  failure.clear();
  return true;
}

bool ApplyFixups(uint8_t* record, size_t size) {
  const uint16_t arrayOffset = Read16(record + 0x04);
  const uint16_t arrayCount = Read16(record + 0x06);
  if (size % kFixupBlock != 0 || arrayCount != size / kFixupBlock + 1) return false;
  if (arrayOffset < 0x08 || (arrayOffset & 1) || arrayOffset + 2u * arrayCount > kFixupBlock - 2) return false;
  const uint8_t* sequence = record + arrayOffset;
  for (size_t block = 0; block + 1 < arrayCount; ++block) {
    uint8_t* tail = record + (block + 1) * kFixupBlock - 2;
    if (tail[0] != sequence[0] || tail[1] != sequence[1]) return false;
  }
  for (size_t block = 0; block + 1 < arrayCount; ++block) {
    uint8_t* tail = record + (block + 1) * kFixupBlock - 2;
    tail[0] = sequence[2 + 2 * block];
    tail[1] = sequence[3 + 2 * block];
  }
  return true;
}

bool DecodeRuns(const uint8_t* runs, const uint8_t* end, int64_t vcn, int64_t clusterCount, std::vector<Run>& out) {
  int64_t lcn = 0;
  // The streams read this way (the table's own) lie inside the volume.
  if (vcn < 0 || vcn > clusterCount) return false;
  while (runs < end && *runs != 0) {
    const unsigned lengthBytes = *runs & 0x0F;
    const unsigned offsetBytes = *runs >> 4;
    if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) return false;
    if (end - runs - 1 < static_cast<ptrdiff_t>(lengthBytes + offsetBytes)) return false;
    const int64_t length = ReadSigned(runs + 1, lengthBytes);
    if (length <= 0 || length > clusterCount) return false;
    Run run{vcn, -1, length};
    if (offsetBytes != 0) {
      const int64_t delta = ReadSigned(runs + 1 + lengthBytes, offsetBytes);
      if ((delta > 0 && lcn > clusterCount - delta) || (delta < 0 && lcn < -delta)) return false;
      lcn += delta;
      if (lcn < 0 || lcn > clusterCount - length) return false;
      run.lcn = lcn;
    }
    out.push_back(run);
    vcn += length;
    if (vcn > clusterCount) return false;
    runs += 1 + lengthBytes + offsetBytes;
  }
  return runs < end;
}

RecordState ReadRecordHeader(uint8_t* record, size_t size, RecordHeader& header) {
  if (size < kFixupBlock || std::memcmp(record, "FILE", 4) != 0) {
    // "BAAD" marks a record the file system found torn.
    return size >= 4 && std::memcmp(record, "BAAD", 4) == 0 ? RecordState::Damaged : RecordState::Unused;
  }
  const uint16_t flags = Read16(record + 0x16);
  if ((flags & kRecordInUse) == 0) return RecordState::Unused;
  if (!ApplyFixups(record, size)) return RecordState::Damaged;
  header.inUse = true;
  header.isDirectory = (flags & kRecordIsDirectory) != 0;
  header.sequence = Read16(record + 0x10);
  header.firstAttribute = Read16(record + 0x14);
  header.bytesInUse = Read32(record + 0x18);
  header.baseReference = Read64(record + 0x20);
  if (header.bytesInUse > size || header.firstAttribute < kRecordHeaderSize ||
      header.firstAttribute > header.bytesInUse || (header.firstAttribute & 7)) {
    return RecordState::Damaged;
  }
  return RecordState::Valid;
}

bool NextAttribute(const uint8_t* record, const RecordHeader& header, uint32_t& offset, Attribute& attribute,
                   bool& malformed) {
  malformed = false;
  if (offset > header.bytesInUse || header.bytesInUse - offset < 4) {
    malformed = true;
    return false;
  }
  const uint8_t* at = record + offset;
  attribute = Attribute{};
  attribute.type = Read32(at);
  if (attribute.type == kEndOfAttributes) return false;
  malformed = true;
  if (header.bytesInUse - offset < 0x10) return false;
  const uint32_t length = Read32(at + 4);
  if (length < 0x10 || (length & 7) || length > header.bytesInUse - offset) return false;
  attribute.nonResident = at[8] != 0;
  const uint8_t nameLength = at[9];
  const uint16_t nameOffset = Read16(at + 0x0A);
  if (nameLength != 0 && (nameOffset > length || 2u * nameLength > length - nameOffset)) return false;
  attribute.named = nameLength != 0;
  attribute.flags = Read16(at + 0x0C);
  if (!(attribute.nonResident ? ReadNonResident(at, length, attribute) : ReadResident(at, length, attribute))) {
    return false;
  }
  malformed = false;
  offset += length;
  return true;
}

bool NameToUtf8(const uint8_t* name, size_t units, std::string& out) {
  // Most names are ASCII: a byte a unit.
  out.resize(units);
  size_t i = 0;
  for (; i < units && name[2 * i] < 0x80 && name[2 * i + 1] == 0; ++i) out[i] = static_cast<char>(name[2 * i]);
  out.resize(i);
  for (; i < units; ++i) {
    uint32_t code = Read16(name + 2 * i);
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    if (code >= 0xD800 && code <= 0xDBFF) {
      if (i + 1 == units) return false;
      const uint32_t low = Read16(name + 2 * (i + 1));
      if (low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    }
    AppendUtf8(code, out);
  }
  return true;
}

std::u16string NameUnits(std::string_view text) {
  std::u16string units;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<uint8_t>(text[i]);
    const size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    uint32_t code = length == 1 ? lead : lead & (0xFFu >> (length + 1));
    for (size_t k = 1; k < length && i + k < text.size(); ++k) {
      code = code << 6 | (static_cast<uint8_t>(text[i + k]) & 0x3Fu);
    }
    i += length;
    if (code >= 0x10000) {
      units += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
      units += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
      units += static_cast<char16_t>(code);
    }
  }
  return units;
}

}  // namespace ntfs
