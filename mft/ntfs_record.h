// One record of the NTFS master file table, read as untrusted bytes: the
// update-sequence fixups, the attributes and the data runs, each offset and
// length checked against the record before it is used. Names follow the
// format's own ($STANDARD_INFORMATION, $FILE_NAME, $ATTRIBUTE_LIST, data runs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ntfs {

// Attribute types.
inline constexpr uint32_t kStandardInformation = 0x10;
inline constexpr uint32_t kAttributeList = 0x20;
inline constexpr uint32_t kFileName = 0x30;
inline constexpr uint32_t kVolumeName = 0x60;
inline constexpr uint32_t kData = 0x80;
inline constexpr uint32_t kReparsePoint = 0xC0;
inline constexpr uint32_t kEndOfAttributes = 0xFFFFFFFF;

// $FILE_NAME namespaces: a DOS-only name is the short alias of another.
inline constexpr uint8_t kPosixName = 0;
inline constexpr uint8_t kWin32Name = 1;
inline constexpr uint8_t kDosName = 2;

// File attribute bits of $STANDARD_INFORMATION.
inline constexpr uint32_t kFileSystem = 0x4;
inline constexpr uint32_t kFileOffline = 0x1000;

// Reparse tags with this bit name another file (links, junctions, mount points).
inline constexpr uint32_t kNameSurrogateTag = 0x20000000;

// The first records belong to the file system itself ($MFT ... $Extend and
// reserved ones); the root folder is one of them.
inline constexpr uint64_t kRootRecord = 5;
inline constexpr uint64_t kFirstUserRecord = 16;

inline uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t Read32(const uint8_t* p) { return Read16(p) | static_cast<uint32_t>(Read16(p + 2)) << 16; }
inline uint64_t Read64(const uint8_t* p) { return Read32(p) | static_cast<uint64_t>(Read32(p + 4)) << 32; }

// A file reference: 48 bits of record number, 16 of sequence number.
inline uint64_t RecordOf(uint64_t reference) { return reference & 0xFFFFFFFFFFFFull; }
inline uint16_t SequenceOf(uint64_t reference) { return static_cast<uint16_t>(reference >> 48); }

// The facts of the boot sector.
struct BootSector {
  uint32_t sectorSize = 0;
  uint32_t clusterSize = 0;
  uint32_t recordSize = 0;
  int64_t clusterCount = 0;
  int64_t mftCluster = 0;
  uint64_t serialNumber = 0;
};
// Reads the first sector of a volume; false with `failure` when it is not
// NTFS or its figures make no sense.
bool ReadBootSector(const uint8_t* sector, size_t size, BootSector& boot, std::string& failure);

// Applies the update-sequence fixups of a record of `size` bytes in place:
// false for a torn record (a sector whose last two bytes do not carry the
// update sequence number) or a sequence array that does not fit.
bool ApplyFixups(uint8_t* record, size_t size);

// A run of clusters of an attribute: `lcn` -1 is a hole (sparse).
struct Run {
  int64_t vcn;
  int64_t lcn;
  int64_t length;
};
// Decodes the data runs at [runs, end) starting at `vcn`, appending to
// `out`; false when a run leaves the volume of `clusterCount` clusters or
// the list is malformed.
bool DecodeRuns(const uint8_t* runs, const uint8_t* end, int64_t vcn, int64_t clusterCount, std::vector<Run>& out);

// One attribute of a record, checked to lie inside it.
struct Attribute {
  uint32_t type = 0;
  bool nonResident = false;
  bool named = false;
  uint16_t flags = 0;
  // Resident: the value.
  const uint8_t* value = nullptr;
  uint32_t valueLength = 0;
  // Non-resident: the extent's place and the stream's sizes (those of the
  // first extent, lowestVcn 0, are the stream's).
  int64_t lowestVcn = 0;
  int64_t allocatedSize = 0;
  int64_t dataSize = 0;
  int64_t compressedSize = -1;  // only for compressed and sparse streams
  const uint8_t* runs = nullptr;
  const uint8_t* runsEnd = nullptr;
};

// The header of a record whose fixups have been applied.
struct RecordHeader {
  bool inUse = false;
  bool isDirectory = false;
  uint16_t sequence = 0;
  uint64_t baseReference = 0;  // 0 for a base record
  uint32_t firstAttribute = 0;
  uint32_t bytesInUse = 0;
};

enum class RecordState { Unused, Valid, Damaged };
// Checks a record of `size` bytes and applies its fixups. Unused: not a
// record in use (never written, or freed). Damaged: in use but torn or
// malformed.
RecordState ReadRecordHeader(uint8_t* record, size_t size, RecordHeader& header);

// Walks the attributes of a checked record: `offset` starts at the header's
// firstAttribute. False at the end, or at the first attribute that does not
// fit (then `malformed` is set).
bool NextAttribute(const uint8_t* record, const RecordHeader& header, uint32_t& offset, Attribute& attribute,
                   bool& malformed);

// A UTF-16LE name of `units` code units as UTF-8; false for an unpaired
// surrogate, which no UTF-8 name can hold.
bool NameToUtf8(const uint8_t* name, size_t units, std::string& out);
// The code units of a name that NameToUtf8 gave, as the volume holds them.
std::u16string NameUnits(std::string_view text);

}  // namespace ntfs
