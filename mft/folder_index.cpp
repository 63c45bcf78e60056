#include "mft/folder_index.h"

#include <cstring>

namespace {

constexpr uint16_t kLastEntry = 0x2;

// The entries of an index header at `header` within [.., end): each a file
// reference and, but for the last, a $FILE_NAME value as its key.
bool ReadEntries(const uint8_t* header, const uint8_t* end, std::vector<IndexKey>& keys) {
  if (end - header < 16) return false;
  const uint32_t first = ntfs::Read32(header);
  const uint32_t used = ntfs::Read32(header + 4);
  if (first < 16 || used > static_cast<uint64_t>(end - header) || first > used) return false;
  for (const uint8_t* entry = header + first; entry < header + used;) {
    if (header + used - entry < 0x10) return false;
    const uint16_t length = ntfs::Read16(entry + 8);
    const uint16_t keyLength = ntfs::Read16(entry + 10);
    const uint16_t flags = ntfs::Read16(entry + 12);
    if (length < 0x10 || length > header + used - entry) return false;
    if (flags & kLastEntry) return true;
    if (keyLength < 0x42 || 0x10u + keyLength > length) return false;
    const uint8_t* key = entry + 0x10;
    const uint8_t units = key[0x40];
    if (0x42u + 2u * units > keyLength) return false;
    if (key[0x41] != ntfs::kDosName) {
      IndexKey indexKey{static_cast<uint32_t>(ntfs::RecordOf(ntfs::Read64(entry))), std::u16string(units, u'\0')};
      for (size_t i = 0; i < units; ++i) indexKey.units[i] = static_cast<char16_t>(ntfs::Read16(key + 0x42 + 2 * i));
      keys.push_back(std::move(indexKey));
    }
    entry += length;
  }
  return false;
}

}  // namespace

bool ReadIndexRoot(const uint8_t* value, uint32_t length, FolderIndexParts& parts) {
  if (length < 0x20) return false;
  parts.blockSize = ntfs::Read32(value + 8);
  return ReadEntries(value + 0x10, value + length, parts.rootKeys);
}

bool ReadIndexBlock(uint8_t* block, size_t size, std::vector<IndexKey>& keys) {
  if (size < 0x28 || std::memcmp(block, "INDX", 4) != 0 || !ntfs::ApplyFixups(block, size)) return false;
  return ReadEntries(block + 0x18, block + size, keys);
}
