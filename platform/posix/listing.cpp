// Folder listing on Linux: getdents64 on the folder's descriptor and one
// fstatat per entry relative to it, so no path is built or resolved per
// entry. Entry types map onto the Windows attribute bits the scanner tests.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "platform/platform.h"

namespace platform {

namespace {

struct LinuxDirent64 {
  ino64_t d_ino;
  off64_t d_off;
  unsigned short d_reclen;
  unsigned char d_type;
  char d_name[];
};

// Large reads cut the number of getdents calls. A thread lists one folder at
// a time, so one buffer per thread serves it, and nested listings get their own.
constexpr size_t kBufferSize = 64 * 1024;
alignas(8) thread_local char sharedBuffer[kBufferSize];
thread_local int listingDepth = 0;

uint32_t AttributesOf(const struct stat& info, dev_t folderDevice) {
  if (S_ISLNK(info.st_mode)) return kAttrReparsePoint;
  if (S_ISDIR(info.st_mode)) {
    // A directory on another file system is a mount point: like a mounted
    // volume on Windows it is neither counted nor entered, which keeps the
    // scan out of /proc and other mounts.
    return info.st_dev == folderDevice ? kAttrDirectory : kAttrDirectory | kAttrReparsePoint;
  }
  return 0;
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void VisitEntry(int folder, dev_t folderDevice, const LinuxDirent64& record, EntryVisitor visit,
                void* context) {
  ListingEntry entry{record.d_name, kAttrDirectory, 0};
  if (!IsDotOrDotDot(record.d_name)) {
    struct stat info;
    if (fstatat(folder, record.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      // Gone since it was listed: count it as the empty entry it now is.
      entry.attributes = record.d_type == DT_DIR ? kAttrDirectory : 0;
    } else {
      entry.attributes = AttributesOf(info, folderDevice);
      if (entry.attributes == 0) entry.size = info.st_size;
    }
  }
  visit(context, entry);
}

ListStatus ReadAllEntries(int folder, char* buffer, EntryVisitor visit, void* context) {
  struct stat folderInfo;
  if (fstat(folder, &folderInfo) != 0) return ListStatus::Failed;
  while (true) {
    long bytes = syscall(SYS_getdents64, folder, buffer, kBufferSize);
    if (bytes < 0) return errno == ENOENT ? ListStatus::PathNotFound : ListStatus::Failed;
    if (bytes == 0) return ListStatus::Listed;
    for (long offset = 0; offset < bytes;) {
      const auto& record = *reinterpret_cast<const LinuxDirent64*>(buffer + offset);
      VisitEntry(folder, folderInfo.st_dev, record, visit, context);
      offset += record.d_reclen;
    }
  }
}

}  // namespace

ListStatus ListFolder(const std::string& folderPath, EntryVisitor visit, void* context) {
  int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    return (errno == ENOENT || errno == ENOTDIR) ? ListStatus::PathNotFound : ListStatus::Failed;
  }
  std::unique_ptr<char[]> ownBuffer;
  char* buffer = sharedBuffer;
  if (listingDepth > 0) {
    ownBuffer.reset(new char[kBufferSize]);
    buffer = ownBuffer.get();
  }
  listingDepth += 1;
  ListStatus status = ReadAllEntries(folder, buffer, visit, context);
  listingDepth -= 1;
  close(folder);
  return status;
}

}  // namespace platform
