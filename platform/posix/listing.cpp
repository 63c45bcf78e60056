// Folder listing on Linux: getdents64 on the folder's descriptor and one
// statx per entry relative to it, so no path is built or resolved per
// entry. Entry types map onto the Windows attribute bits the scanner tests.
//
// The walk never leaves the start folder: every folder below it is opened
// relative to an open ancestor, one name at a time and without following a
// symbolic link, and is checked against what its parent's listing saw.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/folder_steps.h"

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
// a time, so one buffer per thread serves it. 32 KiB holds some 1,000
// entries; with 64 reading threads the buffers take 2 MiB.
constexpr size_t kBufferSize = 32 * 1024;
alignas(8) thread_local char sharedBuffer[kBufferSize];

// The start folder, held open for the whole walk; set before any thread lists.
struct Walk {
  std::string startPath;  // with its separator
  int startDescriptor = -1;
  ino_t startInode = 0;  // of the start folder, where it could be asked
  int openError = 0;  // why the start folder could not be opened
  std::thread::id owner;  // the thread that began it, which lists the folders the scan reads itself
};
Walk walk;

constexpr int kOpenFlags = posix::kReadFolderFlags;
constexpr int kPassFlags = posix::kPassFolderFlags;

using posix::DeviceOf;
using posix::IsMountRoot;

uint32_t AttributesOf(const struct statx& info, int folder, const char* name, dev_t folderDevice) {
  if (S_ISLNK(info.stx_mode)) return kAttrReparsePoint;
  if (!S_ISDIR(info.stx_mode)) return 0;
  if (!IsMountRoot(info, folderDevice)) return kAttrDirectory;
  return posix::IsKernelFileSystem(folder, name, DeviceOf(info)) ? kAttrDirectory | kAttrReparsePoint
                                                          : kAttrDirectory | kAttrOtherFileSystem;
}

bool IsDotOrDotDot(const char* name) {
  return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool IsShortOfResources(int error) { return error == EMFILE || error == ENFILE || error == ENOMEM; }

// Why a folder could not be opened or read on. A name that its parent's
// listing saw as a folder and that is no folder now (a symbolic link put in
// its place is not followed) is a folder that changed.
ListStatus FailureOf(int error, bool listedAsFolder = false) {
  if (error == ENOENT) return ListStatus::PathNotFound;
  if (error == ENOTDIR || error == ELOOP) return listedAsFolder ? ListStatus::Changed : ListStatus::PathNotFound;
  // The generic category's message is strerror's text, and safe in any thread.
  return {ListStatus::Failed, std::generic_category().message(error)};
}

// What a listing knows of the folder it reads.
struct OpenedFolder {
  int descriptor;
  dev_t device;
  ino_t inode;
};

constexpr unsigned kEntryFacts =
    STATX_TYPE | STATX_MODE | STATX_NLINK | STATX_INO | STATX_SIZE | STATX_BLOCKS | STATX_MTIME;

// Visits one entry; answers the error of an entry that is there but could
// not be looked at (a folder that may be listed but not searched), else 0.
int VisitEntry(const OpenedFolder& folder, const LinuxDirent64& record, EntryVisitor visit, void* context) {
  ListingEntry entry{record.d_name, kAttrDirectory, 0};
  int error = 0;
  if (IsDotOrDotDot(record.d_name)) {
    if (record.d_name[1] == '\0') {
      entry.volumeId = folder.device;
      entry.fileId = folder.inode;
    }
  } else {
    struct statx info;
    if (statx(folder.descriptor, record.d_name, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kEntryFacts, &info) != 0) {
      // Gone since it was listed, or out of sight: count it as an empty entry.
      if (errno != ENOENT) error = errno;
      entry.attributes = record.d_type == DT_DIR ? kAttrDirectory : 0;
    } else {
      entry.attributes = AttributesOf(info, folder.descriptor, record.d_name, folder.device);
      entry.volumeId = DeviceOf(info);
      entry.fileId = info.stx_ino;
      if ((entry.attributes & (kAttrDirectory | kAttrReparsePoint)) == 0) {
        entry.size = static_cast<int64_t>(info.stx_size);
        entry.linkCount = info.stx_nlink;
        entry.allocatedBytes = static_cast<int64_t>(info.stx_blocks) * 512;
        entry.modifiedSeconds = info.stx_mtime.tv_sec;
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

// Visits every entry, from the `bytes` already read into `buffer` on.
ListStatus ReadAllEntries(const OpenedFolder& folder, char* buffer, long bytes, EntryVisitor visit, void* context) {
  int entryError = 0;
  for (bool first = true;; first = false) {
    if (!first) bytes = ReadEntries(folder.descriptor, buffer);
    if (bytes < 0) return FailureOf(errno);
    if (bytes == 0) return entryError == 0 ? ListStatus::Listed : FailureOf(entryError);
    for (long offset = 0; offset < bytes;) {
      const auto& record = *reinterpret_cast<const LinuxDirent64*>(buffer + offset);
      const int error = VisitEntry(folder, record, visit, context);
      if (entryError == 0) entryError = error;
      offset += record.d_reclen;
    }
  }
}

// The folder listed last and its open ancestors stay open, each the parent
// of the next, so that a subfolder is opened relative to its parent: a scan
// lists a folder's subfolders right after the folder itself. Each thread
// keeps its own. A folder with no open ancestor is reached from the start
// folder, and the folders passed on the way are kept too: a worker reads the
// next folder near the last one.
struct CachedFolder {
  size_t pathLength;  // its path is the first characters of the cache's path
  int descriptor;
  ino_t inode;  // 0 for a folder only passed through, whose number was not asked
};
constexpr size_t kMaxOpenFolders = 64;

// What the caches of all threads may hold together: the process's open-file
// limit less room for the folders being listed (one per reading thread), the
// standard handles and whatever else the program opens. Without it, 64
// threads of 64 descriptors each would exhaust the usual limit of 1,024, and
// a folder that could not be opened would be lost. Under a limit of 128 or
// less no worker keeps any: a worker that waits for work would hold what
// the others need.
//
// The thread that began the walk is the scan's own, which waits for workers
// only while they read. Under such a limit it alone keeps folders open, a
// quarter of the limit: the scan opens each subfolder from its parent's
// descriptor, and a path of any depth is not walked again from the start
// for every folder (past PATH_MAX that is one call per name).
constexpr long kDescriptorsKeptFree = 128;
std::atomic<long> descriptorsCached{0};
// Where the budget holds full chains for this many threads (the usual hard
// limit of some 500,000 descriptors does), their caches are not counted:
// two atomic operations per folder were a twentieth of what the program
// spends on a folder from memory. A thread beyond them keeps nothing.
constexpr long kThreadsKeepingUncounted = 128;

struct CacheBudgets {
  long shared;  // for the caches of all threads together
  long owned;   // for the walk's own thread, when none is shared
};

const CacheBudgets& Budgets() {
  static const CacheBudgets budgets = [] {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return CacheBudgets{0, 0};
    // The soft limit may be raised to the hard one by anyone.
    if (limit.rlim_cur < limit.rlim_max) {
      struct rlimit raised = limit;
      raised.rlim_cur = limit.rlim_max;
      if (setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
    }
    const long usable = std::min(limit.rlim_cur == RLIM_INFINITY ? 1L << 20 : static_cast<long>(limit.rlim_cur),
                                 1L << 20);
    const long shared = std::max(0L, usable - kDescriptorsKeptFree);
    return CacheBudgets{shared, shared == 0 ? usable / 4 : 0};
  }();
  return budgets;
}

long CacheBudget() { return Budgets().shared; }

// The chain is folders[0] to folders[count - 1]. Each is an ancestor of
// the next, so one path, the deepest one's, holds every path of the chain:
// a folder kept open costs the length of its name, not of its path, which
// in a deep tree is as long as the tree is deep.
struct FolderCache {
  std::vector<CachedFolder> folders;
  size_t count = 0;
  std::string path;
  bool counted = true;  // against the budget shared by the threads' caches
  size_t most = kMaxOpenFolders;
  void CloseFrom(size_t first) {
    for (size_t i = first; i < count; ++i) close(folders[i].descriptor);
    if (counted) descriptorsCached -= static_cast<long>(count - first);
    count = first;
    path.resize(first > 0 ? folders[first - 1].pathLength : 0);
  }
};

// The caches of every thread that listed in this walk, released together
// when the walk ends. A thread finds its own through a plain pointer: a
// thread-local variable with a destructor would have the C library record
// the destructor when a worker first lists, an allocation that aborts the
// process when memory is short.
struct ThreadCaches {
  std::mutex lock;
  std::vector<FolderCache*> caches;
  std::atomic<uint64_t> walkNumber{1};  // a thread's pointer from an earlier walk is stale
};
ThreadCaches threadCaches;

struct ThreadCachePointer {
  FolderCache* cache;
  uint64_t walkNumber;
};
thread_local ThreadCachePointer ownCache{nullptr, 0};

FolderCache& OpenFolders() {
  if (ownCache.cache == nullptr || ownCache.walkNumber != threadCaches.walkNumber) {
    std::lock_guard<std::mutex> hold(threadCaches.lock);
    threadCaches.caches.reserve(threadCaches.caches.size() + 1);
    ownCache = {new FolderCache, threadCaches.walkNumber};
    if (CacheBudget() >= kThreadsKeepingUncounted * static_cast<long>(kMaxOpenFolders)) {
      ownCache.cache->counted = false;
      if (static_cast<long>(threadCaches.caches.size()) >= kThreadsKeepingUncounted) ownCache.cache->most = 0;
    }
    threadCaches.caches.push_back(ownCache.cache);
  }
  return *ownCache.cache;
}

// Called once no thread lists any more.
void ReleaseThreadCaches() {
  std::lock_guard<std::mutex> hold(threadCaches.lock);
  for (FolderCache* cache : threadCaches.caches) {
    cache->CloseFrom(0);
    delete cache;
  }
  threadCaches.caches.clear();
  threadCaches.walkNumber += 1;
}

// Keeps `descriptor`, the folder of the first `length` characters of
// `folderPath`, as the deepest folder of the chain, whose folders are all
// its ancestors; false when the budget has no room for it (the caller
// closes it). A full chain, or one that the budget leaves no room beside,
// gives up its shallowest folder: the deepest are those the next folders
// are opened from.
bool KeepOpen(const std::string& folderPath, size_t length, int descriptor, ino_t inode = 0) {
  FolderCache& cache = OpenFolders();
  auto& cached = cache.folders;
  if (cache.most == 0) return false;
  const long owned = std::this_thread::get_id() == walk.owner ? Budgets().owned : 0;
  const auto full = [&] {
    return cache.counted && descriptorsCached >= CacheBudget() && static_cast<long>(cache.count) >= owned;
  };
  if (cache.count > 0 && (cache.count == cache.most || full())) {
    close(cached.front().descriptor);
    if (cache.counted) descriptorsCached -= 1;
    std::rotate(cached.begin(), cached.begin() + 1, cached.begin() + static_cast<std::ptrdiff_t>(cache.count));
    cache.count -= 1;
    if (cache.count == 0) cache.path.clear();
  }
  if (full()) return false;
  if (cache.counted) descriptorsCached += 1;
  if (cache.count == cached.size()) cached.emplace_back();
  cache.path.append(folderPath, cache.path.size(), length - cache.path.size());
  cached[cache.count] = {length, descriptor, inode};
  cache.count += 1;
  return true;
}

// Whether the kernel resolves a relative path without following links in
// one call (openat2); cleared when it says it cannot.
std::atomic<bool> resolvesBeneath{true};

// Opens `relative`, several names below `base`, in one call that follows no
// link, never leaves `base` and crosses no mount; -1 with errno ENOSYS where
// the kernel cannot, EXDEV where a mount lies on the way.
int OpenBeneath(int base, const std::string& relative, int flags) {
  if (!resolvesBeneath || relative.size() >= PATH_MAX) {
    errno = ENOSYS;
    return -1;
  }
  open_how how{};
  how.flags = static_cast<uint64_t>(flags);
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS | RESOLVE_NO_XDEV;
  const int opened = static_cast<int>(syscall(SYS_openat2, base, relative.c_str(), &how, sizeof how));
  // A system that filters the call may refuse it with EPERM.
  if (opened < 0 && (errno == ENOSYS || errno == EPERM)) {
    resolvesBeneath = false;
    errno = ENOSYS;
  }
  return opened;
}

// The number of an open folder; 0 where it cannot be asked.
ino_t InodeOf(int folder) {
  struct stat facts;
  return fstat(folder, &facts) == 0 ? facts.st_ino : 0;
}

// `path` is `folder` or lies below it.
bool IsWithin(const std::string& path, const std::string& folder) {
  return path.size() >= folder.size() && path.compare(0, folder.size(), folder) == 0;
}

// How many first characters `path` shares with the cache's path; most
// often all of the cache's, when its deepest folder is an ancestor, or all
// but the last name, when it is a sibling. Compared eight bytes at a time:
// a character at a time took a tenth of what a folder from the cache costs.
size_t SharedLength(const std::string& path, const FolderCache& cache) {
  const size_t most = std::min(path.size(), cache.path.size());
  const char* a = path.data();
  const char* b = cache.path.data();
  size_t shared = 0;
  for (; shared + 8 <= most; shared += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + shared, 8);
    std::memcpy(&y, b + shared, 8);
    if (x != y) break;
  }
  while (shared < most && a[shared] == b[shared]) ++shared;
  return shared;
}

// Opens the folder one name at a time from the deepest open ancestor (or
// the start folder), keeping the folders passed on the way; `parentInode`
// is the number of the folder it was opened from, where known, else 0.
int OpenBelowStart(const std::string& folderPath, ino_t& parentInode) {
  parentInode = 0;
  FolderCache& openFolders = OpenFolders();
  auto& cached = openFolders.folders;
  size_t held = openFolders.count;
  const size_t shared = SharedLength(folderPath, openFolders);
  while (held > 0 && cached[held - 1].pathLength > shared) --held;
  openFolders.CloseFrom(held);
  int base = held > 0 ? cached[held - 1].descriptor : walk.startDescriptor;
  size_t done = held > 0 ? cached[held - 1].pathLength : walk.startPath.size();
  ino_t baseInode = held > 0 ? cached[held - 1].inode : walk.startInode;
  // Where the folder's own name begins: its parent is kept open with its
  // number, so that its siblings, which a worker often reads next, are
  // opened from it and told by their first entries, a call each.
  const size_t ownName = folderPath.size() < 2 ? 0 : folderPath.rfind('/', folderPath.size() - 2) + 1;
  bool baseKept = true;
  // Several names to the parent: the kernel walks them fastest, where it can.
  if (const size_t slash = folderPath.find('/', done); done < ownName && slash + 1 < ownName) {
    // A mount on the way (entered with -mounts) is passed one name at a time.
    const int parent = OpenBeneath(base, folderPath.substr(done, ownName - done), kPassFlags);
    if (parent < 0 && errno != ENOSYS && errno != EXDEV) return -1;
    if (parent >= 0) {
      base = parent;
      done = ownName;
      baseInode = InodeOf(parent);
      baseKept = KeepOpen(folderPath, done, parent, baseInode);
    }
  }
  while (true) {
    // The folder itself when it is the one held: "." opens it for reading.
    const bool itself = done >= folderPath.size();
    const size_t end = itself ? done : std::min(folderPath.find('/', done), folderPath.size());
    const bool last = end + 1 >= folderPath.size();
    const std::string_view part = itself ? std::string_view(".") : std::string_view(folderPath).substr(done, end - done);
    // A name that leads nowhere below: no listing gives one, a crafted report
    // might; nor one longer than any system allows.
    if ((!itself && (part == "." || part == "..")) || part.size() > NAME_MAX) {
      if (!baseKept) close(base);
      errno = part.size() > NAME_MAX ? ENAMETOOLONG : ENOENT;
      return -1;
    }
    // Copied to the stack: no string is made per folder.
    char name[NAME_MAX + 1];
    std::memcpy(name, part.data(), part.size());
    name[part.size()] = '\0';
    const int opened = openat(base, name, last ? kOpenFlags : kPassFlags);
    const int error = errno;
    if (!baseKept) close(base);
    if (opened < 0 || last) {
      if (!itself) parentInode = baseInode;
      errno = error;
      return opened;
    }
    done = end + 1;
    base = opened;
    baseInode = done == ownName ? InodeOf(opened) : 0;
    baseKept = KeepOpen(folderPath, done, opened, baseInode);
  }
}

int OpenFolder(const std::string& folderPath, ino_t& parentInode) {
  if (!IsWithin(folderPath, walk.startPath)) {
    errno = ENOENT;
    return -1;
  }
  if (walk.startDescriptor < 0) {
    errno = walk.openError;
    return -1;
  }
  return OpenBelowStart(folderPath, parentInode);
}

// Opens the folder; a failure for want of descriptors or memory is not the
// folder's: this thread's cache is given back and the open tried again.
int OpenFolderWhenPossible(const std::string& folderPath, int& error, ino_t& parentInode) {
  for (int attempt = 0;; ++attempt) {
    const int folder = OpenFolder(folderPath, parentInode);
    error = errno;
    if (folder >= 0 || !IsShortOfResources(error) || attempt == kResourceAttempts) return folder;
    OpenFolders().CloseFrom(0);
    if (attempt > 0) WaitForResources(attempt);
  }
}

bool Matches(const FolderIdentity& expected, const struct stat& info) {
  if (expected.volumeId == 0 && expected.fileId == 0) return true;
  return expected.volumeId == info.st_dev && expected.fileId == info.st_ino;
}

// Whether the first entries read show the folder that its parent's listing
// saw: its "." numbered as that folder and its ".." as the folder it was
// opened from. A file system mounted over the name since then lists its own
// root as "..", whatever numbers its device gives, and a folder put in the
// name's place has another number. Where the entries do not tell (they
// come later, or the parent's number is not known), the folder itself is
// asked, a system call more.
bool EntriesConfirm(const char* buffer, long bytes, const FolderIdentity& expected, ino_t parentInode) {
  if (parentInode == 0 || expected.fileId == 0 || bytes <= 0) return false;
  constexpr int kFirstEntries = 4;  // where the file systems list "." and ".."
  bool itself = false, parent = false;
  long offset = 0;
  for (int i = 0; i < kFirstEntries && offset < bytes && !(itself && parent); ++i) {
    const auto& record = *reinterpret_cast<const LinuxDirent64*>(buffer + offset);
    if (record.d_name[0] == '.' && record.d_name[1] == '\0') {
      itself = record.d_ino == expected.fileId;
      if (!itself) return false;
    } else if (record.d_name[0] == '.' && record.d_name[1] == '.' && record.d_name[2] == '\0') {
      parent = record.d_ino == parentInode;
      if (!parent) return false;
    }
    offset += record.d_reclen;
  }
  return itself && parent;
}

}  // namespace

namespace {

// The start folders of the run, each as its first walk opened it.
struct HeldStart {
  std::string path;  // with its separator
  int descriptor;
};
std::vector<HeldStart> heldStarts;

std::string WithSeparator(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

}  // namespace

namespace posix {

int OpenHeldStartFolder(const std::string& startPath) {
  const std::string path = WithSeparator(startPath);
  for (HeldStart& held : heldStarts) {
    if (held.path != path) continue;
    // One removed since leaves the path to whatever is made there now,
    // which every action compares with the scan.
    struct stat facts;
    if (fstat(held.descriptor, &facts) == 0 && facts.st_nlink > 0) return fcntl(held.descriptor, F_DUPFD_CLOEXEC, 0);
    close(held.descriptor);
    held = heldStarts.back();
    heldStarts.pop_back();
    break;
  }
  // The start folder is the one the user named: a link to it is followed.
  const int opened = open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (opened < 0) return -1;
  const int held = fcntl(opened, F_DUPFD_CLOEXEC, 0);
  if (held >= 0) heldStarts.push_back({path, held});
  return opened;
}

}  // namespace posix

void BeginWalk(const std::string& startFolderPath) {
  EndWalk();
  walk.startPath = WithSeparator(startFolderPath);
  walk.startDescriptor = posix::OpenHeldStartFolder(walk.startPath);
  walk.openError = walk.startDescriptor < 0 ? errno : 0;
  struct stat start;
  if (walk.startDescriptor >= 0 && fstat(walk.startDescriptor, &start) == 0) walk.startInode = start.st_ino;
  walk.owner = std::this_thread::get_id();
}

void EndWalk() {
  ReleaseThreadCaches();
  if (walk.startDescriptor >= 0) close(walk.startDescriptor);
  walk = Walk{};
}

ListStatus ListFolder(const std::string& folderPath, const FolderIdentity& expected, EntryVisitor visit,
                      void* context) {
  int error = 0;
  ino_t parentInode = 0;
  const int descriptor = OpenFolderWhenPossible(folderPath, error, parentInode);
  if (descriptor < 0) return FailureOf(error, expected != FolderIdentity{});
  const long bytes = ReadEntries(descriptor, sharedBuffer);
  const int readError = errno;
  OpenedFolder folder{descriptor, static_cast<dev_t>(expected.volumeId), static_cast<ino_t>(expected.fileId)};
  if (!EntriesConfirm(sharedBuffer, bytes, expected, parentInode)) {
    struct stat info;
    if (fstat(descriptor, &info) != 0) {
      error = errno;
      close(descriptor);
      return FailureOf(error);
    }
    if (!Matches(expected, info)) {
      close(descriptor);
      return ListStatus::Changed;
    }
    folder.device = info.st_dev;
    folder.inode = info.st_ino;
  }
  if (bytes < 0) {
    close(descriptor);
    return FailureOf(readError);
  }
  ListStatus status = ReadAllEntries(folder, sharedBuffer, bytes, visit, context);
  if (!KeepOpen(folderPath, folderPath.size(), descriptor, folder.inode)) close(descriptor);
  return status;
}

}  // namespace platform
