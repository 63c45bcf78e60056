// Reading a volume's blocks on Windows: \\.\X: (which needs administrator
// rights) or an image file. A volume is read only in whole sectors at
// sector offsets, so every read goes through aligned blocks.
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/wide_text.h"

namespace platform {

const bool kListsNtfsFoldersAsStored = false;

namespace {

// A multiple of every sector size a volume has.
constexpr int64_t kAlignment = 4096;

// The bytes read at `offset`, at most `bytes`; 0 on failure.
DWORD ReadAt(HANDLE file, int64_t offset, uint8_t* buffer, DWORD bytes) {
  OVERLAPPED place{};
  place.Offset = static_cast<DWORD>(offset);
  place.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  return ReadFile(file, buffer, bytes, &got, &place) ? got : 0;
}

int64_t SizeOf(HANDLE file) {
  LARGE_INTEGER size;
  if (GetFileSizeEx(file, &size)) return size.QuadPart;
  GET_LENGTH_INFORMATION length;
  DWORD returned = 0;
  if (DeviceIoControl(file, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr)) {
    return length.Length.QuadPart;
  }
  return -1;
}

}  // namespace

bool LocateVolume(const std::string& folder, VolumeLocation& location, std::string& failure) {
  location.device = folder;
  if (folder.size() < 3 || folder[1] != ':' || folder[2] != '\\') {
    failure = "not a local drive";
    return false;
  }
  const char letter = static_cast<char>(folder[0] & ~0x20);
  location.device = std::string("\\\\.\\") + letter + ":";
  location.mountPoint = std::string{letter, ':', '\\'};
  location.pathInVolume = folder.substr(2);
  wchar_t fileSystem[MAX_PATH + 1] = {};
  if (!GetVolumeInformationW(win32::Widen(location.mountPoint).c_str(), nullptr, 0, nullptr, nullptr, nullptr,
                             fileSystem, MAX_PATH + 1)) {
    failure = win32::SystemMessage(GetLastError());
    return false;
  }
  if (std::wstring(fileSystem) != L"NTFS") {
    failure = "not an NTFS volume (" + win32::Narrow(fileSystem) + ")";
    return false;
  }
  return true;
}

bool OpenRawVolume(const std::string& path, RawVolume& volume, std::string& failure) {
  HANDLE file = CreateFileW(win32::Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failure = win32::SystemMessage(GetLastError());
    return false;
  }
  volume.handle = reinterpret_cast<intptr_t>(file);
  volume.size = SizeOf(file);
  return true;
}

bool ReadRawVolume(const RawVolume& volume, int64_t offset, void* buffer, size_t bytes) {
  HANDLE file = reinterpret_cast<HANDLE>(volume.handle);
  auto* out = static_cast<uint8_t*>(buffer);
  std::vector<uint8_t> block;
  while (bytes > 0) {
    const int64_t start = offset / kAlignment * kAlignment;
    const size_t skip = static_cast<size_t>(offset - start);
    const size_t piece = std::min<size_t>(bytes, (16u << 20) - skip);
    if (skip == 0 && piece % kAlignment == 0) {
      if (ReadAt(file, offset, out, static_cast<DWORD>(piece)) != piece) return false;
    } else {
      // An image file may end inside the last block: what it holds is enough.
      block.resize((skip + piece + kAlignment - 1) / kAlignment * kAlignment);
      if (ReadAt(file, start, block.data(), static_cast<DWORD>(block.size())) < skip + piece) return false;
      std::memcpy(out, block.data() + skip, piece);
    }
    out += piece;
    offset += static_cast<int64_t>(piece);
    bytes -= piece;
  }
  return true;
}

// A volume cannot be mapped: its blocks are read.
const uint8_t* ViewRawVolume(RawVolume&, int64_t, size_t) { return nullptr; }

void CloseRawVolume(RawVolume& volume) {
  if (volume.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(volume.handle));
  volume = RawVolume{};
}

// The walk's listing gives no volume, and the file reference: the record
// number with the sequence number in its high 16 bits.
uint64_t NtfsVolumeId(const std::string&) { return 0; }

uint64_t NtfsFileId(uint64_t record, uint16_t sequence) { return static_cast<uint64_t>(sequence) << 48 | record; }

}  // namespace platform
