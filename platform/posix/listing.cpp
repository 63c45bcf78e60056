// Folder listing on Linux: getdents64 on the folder's descriptor and one
// fstatat per entry relative to it, so no path is built or resolved per
// entry. Entry types map onto the Windows attribute bits the scanner tests.
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace platform {

// Names are bytes: "Build" and "build" are two folders.
const bool kNamesIgnoreCase = false;

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
// 32 KiB holds some 1,000 entries; with 64 reading threads the buffers take
// 2 MiB.
constexpr size_t kBufferSize = 32 * 1024;
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

// Why a folder could not be opened or read on. A symbolic link put in a
// folder's place since its parent was listed is not followed (ELOOP) and
// counts like a folder that went away.
bool IsShortOfResources(int error) { return error == EMFILE || error == ENFILE || error == ENOMEM; }

ListStatus FailureOf(int error) {
  if (error == ENOENT || error == ENOTDIR || error == ELOOP) return ListStatus::PathNotFound;
  // The generic category's message is strerror's text, and safe in any thread.
  return {ListStatus::Failed, std::generic_category().message(error), IsShortOfResources(error)};
}

// Visits one entry; answers the error of an entry that is there but could
// not be looked at (a folder that may be listed but not searched), else 0.
int VisitEntry(int folder, dev_t folderDevice, const LinuxDirent64& record, EntryVisitor visit,
               void* context) {
  ListingEntry entry{record.d_name, kAttrDirectory, 0};
  int error = 0;
  if (!IsDotOrDotDot(record.d_name)) {
    struct stat info;
    if (fstatat(folder, record.d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
      // Gone since it was listed, or out of sight: count it as an empty entry.
      if (errno != ENOENT) error = errno;
      entry.attributes = record.d_type == DT_DIR ? kAttrDirectory : 0;
    } else {
      entry.attributes = AttributesOf(info, folderDevice);
      if (entry.attributes == 0) {
        entry.size = info.st_size;
        entry.linkCount = static_cast<uint32_t>(info.st_nlink);
        entry.volumeId = info.st_dev;
        entry.fileId = info.st_ino;
      }
    }
  }
  visit(context, entry);
  return error;
}

// Waits a little longer each time, some 30 seconds in all, for another
// thread or process to give back what this one lacks.
constexpr int kResourceAttempts = 40;
void WaitForResources(int attempt) {
  std::this_thread::sleep_for(std::chrono::milliseconds(std::min(1 << std::min(attempt, 10), 1000)));
}

// Reads the next entries; a read that failed for want of memory is tried
// again rather than end the listing short.
long ReadEntries(int folder, char* buffer) {
  for (int attempt = 0;; ++attempt) {
    const long bytes = syscall(SYS_getdents64, folder, buffer, kBufferSize);
    if (bytes >= 0 || errno != ENOMEM || attempt == kResourceAttempts) return bytes;
    WaitForResources(attempt);
  }
}

ListStatus ReadAllEntries(int folder, dev_t device, char* buffer, EntryVisitor visit, void* context) {
  int entryError = 0;
  while (true) {
    long bytes = ReadEntries(folder, buffer);
    if (bytes < 0) return FailureOf(errno);
    if (bytes == 0) return entryError == 0 ? ListStatus::Listed : FailureOf(entryError);
    for (long offset = 0; offset < bytes;) {
      const auto& record = *reinterpret_cast<const LinuxDirent64*>(buffer + offset);
      const int error = VisitEntry(folder, device, record, visit, context);
      if (entryError == 0) entryError = error;
      offset += record.d_reclen;
    }
  }
}

// The folder listed last and its open ancestors stay open, so that a
// subfolder is opened relative to its parent's descriptor instead of
// resolving its whole path again: a scan lists a folder's subfolders right
// after the folder itself. Each thread keeps its own, closed when the thread
// ends. A folder with no open ancestor starts the chain anew: a worker reads
// folders all over the tree, and descriptors kept for later cost a search on
// every open and a close long after the kernel's copy of them went cold.
struct OpenFolder {
  std::string path;
  int descriptor;
  dev_t device;
};
constexpr size_t kMaxOpenFolders = 64;

// What the caches of all threads may hold together: the process's open-file
// limit less room for the folders being listed (one per reading thread), the
// standard handles and whatever else the program opens. Without it, 64
// threads of 64 descriptors each would exhaust the usual limit of 1,024, and
// a folder that could not be opened would be lost.
constexpr long kDescriptorsKeptFree = 128;
std::atomic<long> descriptorsCached{0};

long CacheBudget() {
  static const long budget = [] {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0L;
    // The soft limit may be raised to the hard one by anyone.
    if (limit.rlim_cur < limit.rlim_max) {
      struct rlimit raised = limit;
      raised.rlim_cur = limit.rlim_max;
      if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    const long usable = limit.rlim_cur == RLIM_INFINITY ? 1L << 20 : static_cast<long>(limit.rlim_cur);
    return std::max(0L, std::min(usable, 1L << 20) - kDescriptorsKeptFree);
  }();
  return budget;
}

struct FolderCache {
  std::vector<OpenFolder> folders;
  void CloseFrom(size_t first) {
    for (size_t i = first; i < folders.size(); ++i) close(folders[i].descriptor);
    descriptorsCached -= static_cast<long>(folders.size() - first);
    folders.resize(first);
  }
  ~FolderCache() { CloseFrom(0); }
};
thread_local FolderCache openFolders;

// `folderPath` names one subfolder of `parent`: its path, the subfolder's
// name and a separator.
bool IsSubfolderOf(const std::string& folderPath, const std::string& parent) {
  if (folderPath.size() <= parent.size() + 1 || folderPath.compare(0, parent.size(), parent) != 0) return false;
  return folderPath.find('/', parent.size()) == folderPath.size() - 1;
}

// Opens the folder, relative to an open parent when there is one. A
// subfolder opened that way is on its parent's device: the scan never
// enters a folder that its parent's listing marked as a mount point.
int OpenFolderAt(const std::string& folderPath, dev_t& device) {
  auto& cached = openFolders.folders;
  for (size_t i = cached.size(); i-- > 0;) {
    if (!IsSubfolderOf(folderPath, cached[i].path)) continue;
    openFolders.CloseFrom(i + 1);
    const std::string name = folderPath.substr(cached[i].path.size(), folderPath.size() - cached[i].path.size() - 1);
    device = cached[i].device;
    return openat(cached[i].descriptor, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }
  openFolders.CloseFrom(0);
  int folder = open(folderPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  struct stat info;
  if (folder >= 0 && fstat(folder, &info) != 0) {
    close(folder);
    return -1;
  }
  if (folder >= 0) device = info.st_dev;
  return folder;
}

// Opens the folder; a failure for want of descriptors or memory is not the
// folder's: this thread's cache is given back and the open tried again.
int OpenFolderWhenPossible(const std::string& folderPath, dev_t& device, int& error) {
  for (int attempt = 0;; ++attempt) {
    const int folder = OpenFolderAt(folderPath, device);
    error = errno;
    if (folder >= 0 || !IsShortOfResources(error) || attempt == kResourceAttempts) return folder;
    openFolders.CloseFrom(0);
    if (attempt > 0) WaitForResources(attempt);
  }
}

void KeepOpen(const std::string& folderPath, int folder, dev_t device) {
  if (openFolders.folders.size() == kMaxOpenFolders || descriptorsCached >= CacheBudget()) openFolders.CloseFrom(0);
  if (descriptorsCached >= CacheBudget()) {
    close(folder);
    return;
  }
  descriptorsCached += 1;
  openFolders.folders.push_back({folderPath, folder, device});
}

}  // namespace

ListStatus ListFolder(const std::string& folderPath, const FolderIdentity&, EntryVisitor visit, void* context) {
  dev_t device = 0;
  int error = 0;
  int folder = OpenFolderWhenPossible(folderPath, device, error);
  if (folder < 0) return FailureOf(error);
  std::unique_ptr<char[]> ownBuffer;
  char* buffer = sharedBuffer;
  if (listingDepth > 0) {
    ownBuffer.reset(new char[kBufferSize]);
    buffer = ownBuffer.get();
  }
  listingDepth += 1;
  ListStatus status = ReadAllEntries(folder, device, buffer, visit, context);
  listingDepth -= 1;
  // A nested listing (the long-path walk lists while its parent's listing
  // is open) keeps nothing open, so no descriptor outlives its reader.
  if (listingDepth == 0) {
    KeepOpen(folderPath, folder, device);
  } else {
    close(folder);
  }
  return status;
}

}  // namespace platform
