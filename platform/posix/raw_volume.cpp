// Reading a volume's blocks on Linux: a block device or an image file.
#include <fcntl.h>
#include <string.h>
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

void CloseRawVolume(RawVolume& volume) {
  if (volume.handle >= 0) close(static_cast<int>(volume.handle));
  volume = RawVolume{};
}

}  // namespace platform
