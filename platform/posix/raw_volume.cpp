// Reading a volume's blocks on Linux: a block device or an image file.
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace platform {

const bool kListsNtfsFoldersAsStored = true;

bool OpenRawVolume(const std::string& path, RawVolume& volume, std::string& failure) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) {
    failure = strerror(errno);
    return false;
  }
  volume.handle = descriptor;
  const off_t end = lseek(descriptor, 0, SEEK_END);
  volume.size = end < 0 ? -1 : static_cast<int64_t>(end);
  return true;
}

bool ReadRawVolume(const RawVolume& volume, int64_t offset, void* buffer, size_t bytes) {
  auto* at = static_cast<char*>(buffer);
  while (bytes > 0) {
    const ssize_t got = pread(static_cast<int>(volume.handle), at, bytes, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    at += got;
    offset += got;
    bytes -= static_cast<size_t>(got);
  }
  return true;
}

namespace {

void DropView(RawVolume& volume) {
  if (volume.view != nullptr) munmap(volume.view, volume.viewBytes);
  volume.view = nullptr;
  volume.viewBytes = 0;
}

}  // namespace

// The pages of the system's cache mapped in place: no copy of the bytes,
// and only one view's pages held at a time.
const uint8_t* ViewRawVolume(RawVolume& volume, int64_t offset, size_t bytes) {
  DropView(volume);
  // Past the end of what the volume holds a mapping faults: never there.
  if (volume.size < 0 || offset < 0 || bytes == 0 || static_cast<int64_t>(bytes) > volume.size - offset) {
    return nullptr;
  }
  static const auto pageSize = static_cast<int64_t>(sysconf(_SC_PAGESIZE));
  const int64_t start = offset / pageSize * pageSize;
  const size_t length = bytes + static_cast<size_t>(offset - start);
  void* view = mmap(nullptr, length, PROT_READ, MAP_SHARED, static_cast<int>(volume.handle), static_cast<off_t>(start));
  if (view == MAP_FAILED) return nullptr;
  volume.view = view;
  volume.viewBytes = length;
  // One long read ahead of the pages, as one large read would be; then all
  // of them mapped at once, where a page that cannot be read fails here and
  // not when it is touched.
  madvise(view, length, MADV_WILLNEED);
  if (madvise(view, length, MADV_POPULATE_READ) != 0 && errno != EINVAL) {
    DropView(volume);
    return nullptr;
  }
  return static_cast<const uint8_t*>(view) + (offset - start);
}

void CloseRawVolume(RawVolume& volume) {
  DropView(volume);
  if (volume.handle >= 0) close(static_cast<int>(volume.handle));
  volume = RawVolume{};
}

// The device of the mount, and the record number, which both ntfs-3g and
// the kernel's ntfs3 give as the inode.
uint64_t NtfsVolumeId(const std::string& folder) {
  struct stat facts;
  return stat(folder.c_str(), &facts) == 0 ? static_cast<uint64_t>(facts.st_dev) : 0;
}

uint64_t NtfsFileId(uint64_t record, uint16_t) { return record; }

}  // namespace platform
