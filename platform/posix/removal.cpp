// Removing what the user chose, on Linux: to the freedesktop.org trash, or
// for good. The item is reached from the start folder held since the scan,
// one name at a time, following no link and passing only through the
// folders the scan saw, and everything below it is removed relative to open
// descriptors: a folder swapped for a link or a mount meanwhile is never
// followed, and nothing outside the item is touched.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/relative_names.h"
#include "platform/posix/folder_steps.h"
#include "platform/posix/removal_steps.h"

namespace platform {

namespace {

using posix::Descriptor;
using posix::Failure;
using posix::Joined;
using posix::SystemReason;

constexpr const char* kNowALink = "Now a symbolic link; left alone";
constexpr const char* kOtherFileSystem = "On another file system; left alone";
constexpr const char* kChanged = "Changed during the removal; left alone";

constexpr unsigned kStatxFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
constexpr unsigned kItemFacts = STATX_TYPE | STATX_INO | STATX_UID;

// A folder on another device than its parent, or where a file system is
// mounted (a bind mount of a folder elsewhere shares its device).
bool IsOtherFileSystem(const struct statx& facts, dev_t parentDevice) {
  return posix::IsMountRoot(facts, parentDevice) || posix::DeviceOf(facts) != parentDevice;
}

// Why the folder `name` of `parent` could not be opened: a link in its
// place says so (opening a link as a folder fails as "not a directory").
std::string WhyNotOpened(int parent, const std::string& name, int error) {
  struct stat facts;
  if ((error == ELOOP || error == ENOTDIR) && fstatat(parent, name.c_str(), &facts, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(facts.st_mode)) {
    return kNowALink;
  }
  return SystemReason(error);
}

// The item as reached: its parent held open, its own facts (never those of
// what a link leads to).
struct ReachedItem {
  Descriptor parent;
  std::string parentPath;
  std::string name;
  std::string path;
  struct statx facts;
  dev_t parentDevice = 0;
};

RemovalResult Changed(std::string path) { return {RemovalResult::Changed, std::move(path), "", ""}; }

// Whether `facts` are those of what the scan saw as `seen`; a folder the
// scan kept nothing of must at least be on its parent's file system.
bool IsAsScanned(const struct statx& facts, const FolderIdentity& seen, dev_t parentDevice) {
  if (seen == FolderIdentity{}) return !IsOtherFileSystem(facts, parentDevice);
  return posix::DeviceOf(facts) == seen.volumeId && facts.stx_ino == seen.fileId;
}

FolderIdentity SeenOf(const ItemWay& way, size_t index) {
  return index < way.folders.size() ? way.folders[index] : FolderIdentity{};
}

// Passes from the folder held in `item.parent` into its folder `name`, the
// way's folder `index`, which must be what the scan saw there.
bool PassInto(const ItemWay& way, size_t index, const std::string& name, ReachedItem& item, RemovalResult& failure) {
  item.parentPath = Joined(item.parentPath, name);
  struct statx facts;
  if (statx(item.parent.fd, name.c_str(), kStatxFlags, kItemFacts, &facts) != 0) {
    failure = Failure(item.parentPath, SystemReason(errno));
    return false;
  }
  if (S_ISLNK(facts.stx_mode)) {
    failure = Failure(item.parentPath, kNowALink);
    return false;
  }
  if (!S_ISDIR(facts.stx_mode) || !IsAsScanned(facts, SeenOf(way, index), item.parentDevice)) {
    failure = Changed(item.parentPath);
    return false;
  }
  Descriptor next(openat(item.parent.fd, name.c_str(), posix::kPassFolderFlags));
  struct stat opened;
  if (next.fd < 0 || fstat(next.fd, &opened) != 0) {
    failure = Failure(item.parentPath, WhyNotOpened(item.parent.fd, name, errno));
    return false;
  }
  if (opened.st_dev != posix::DeviceOf(facts) || opened.st_ino != facts.stx_ino) {
    failure = Changed(item.parentPath);
    return false;
  }
  item.parent = std::move(next);
  item.parentDevice = opened.st_dev;
  return true;
}

// Takes the start folder held since the scan, which must be what it saw.
bool ReachStart(const ItemWay& way, ReachedItem& item, RemovalResult& failure) {
  item.parent = Descriptor(posix::OpenHeldStartFolder(way.startFolder));
  item.parentPath = way.startFolder;
  struct stat start;
  if (item.parent.fd < 0 || fstat(item.parent.fd, &start) != 0) {
    failure = Failure(way.startFolder, SystemReason(errno));
    return false;
  }
  const FolderIdentity seen = SeenOf(way, 0);
  if (seen != FolderIdentity{} && (start.st_dev != seen.volumeId || start.st_ino != seen.fileId)) {
    failure = Changed(way.startFolder);
    return false;
  }
  item.parentDevice = start.st_dev;
  return true;
}

// Reaches the item's parent from the start folder held since the scan, one
// name at a time, passing through no link and only through the folders the
// scan saw, and looks at the item itself. A link in the item's place, or a
// folder where another file system is mounted, is left alone. On failure
// `failure` says where and why.
bool Reach(const ItemWay& way, ReachedItem& item, RemovalResult& failure) {
  item.path = Joined(way.startFolder, way.relativePath);
  std::vector<std::string> names;
  if (!SplitRelativeNames(way.relativePath, "/", names)) {
    failure = Failure(item.path, "Not below the start folder");
    return false;
  }
  if (!ReachStart(way, item, failure)) return false;
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    if (!PassInto(way, i + 1, names[i], item, failure)) return false;
  }
  item.name = names.back();
  if (statx(item.parent.fd, item.name.c_str(), kStatxFlags, kItemFacts, &item.facts) != 0) {
    failure = Failure(item.path, SystemReason(errno));
    return false;
  }
  if (S_ISLNK(item.facts.stx_mode)) {
    failure = Failure(item.path, kNowALink);
    return false;
  }
  const FolderIdentity seen = SeenOf(way, names.size());
  if (S_ISDIR(item.facts.stx_mode) && seen != FolderIdentity{} && !IsAsScanned(item.facts, seen, item.parentDevice)) {
    failure = Changed(item.path);
    return false;
  }
  if (S_ISDIR(item.facts.stx_mode) && IsOtherFileSystem(item.facts, item.parentDevice)) {
    failure = {RemovalResult::OtherFileSystem, item.path, kOtherFileSystem, ""};
    return false;
  }
  return true;
}

// The full path of what `folder` is open on, links resolved; the path it
// was reached by when the system does not say.
std::string RealPathOf(int folder, const std::string& fallback) {
  char path[4096];
  const std::string link = "/proc/self/fd/" + std::to_string(folder);
  const ssize_t length = readlink(link.c_str(), path, sizeof path);
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path || path[0] != '/') return fallback;
  return std::string(path, static_cast<size_t>(length));
}

std::string RealPathOf(const ReachedItem& item) {
  return Joined(RealPathOf(item.parent.fd, item.parentPath), item.name);
}

// What no removal takes, to the trash or for good: a trash in use, and a
// folder that holds a mount point, whose file system whoever empties the
// trash might walk into.
bool Refused(const ReachedItem& item, RemovalResult& refusal) {
  if (!S_ISDIR(item.facts.stx_mode)) return false;
  const std::string realPath = RealPathOf(item);
  if (posix::IsTrashFolder(posix::DeviceOf(item.facts), item.facts.stx_ino, realPath)) {
    refusal = {RemovalResult::IsTrash, item.path, "", ""};
  } else if (posix::HoldsMountPointBelow(realPath)) {
    refusal = {RemovalResult::HoldsMount, item.path, "", ""};
  } else {
    return false;
  }
  return true;
}

// ---- Deleting for good --------------------------------------------------------

// One folder being emptied. Only the deepest levels keep their descriptors;
// a shallower one is opened again through ".." of its child when the walk
// comes back to it, and must be the folder it was.
struct Level {
  Descriptor folder;
  dev_t device;
  ino_t inode;
  std::string name;                // in its parent
  std::vector<std::string> names;  // its entries when it was entered
  size_t next = 0;
};

// Deep enough for any ordinary tree, few enough to leave the process its
// descriptors: at most a quarter of what it may open.
size_t OpenLevels() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 64;
  return std::clamp<size_t>(limit.rlim_cur / 4, 1, 64);
}

struct Removal {
  std::string itemPath;
  std::vector<Level> levels;
  RemovalResult first;  // Removed until something fails
};

void Note(Removal& removal, std::string path, std::string reason) {
  if (removal.first.outcome == RemovalResult::Removed) removal.first = Failure(std::move(path), std::move(reason));
}

// The path of the deepest level (the item itself is the first).
std::string DeepestPath(const Removal& removal) {
  std::string path = removal.itemPath;
  for (size_t i = 1; i < removal.levels.size(); ++i) path.append("/").append(removal.levels[i].name);
  return path;
}

std::string PathBelow(const Removal& removal, std::string_view name) { return Joined(DeepestPath(removal), name); }

// The entries of a folder, "." and ".." left out; the error that cut the
// listing short, else 0.
int ListNames(int folder, std::vector<std::string>& names) {
  const int reader = fcntl(folder, F_DUPFD_CLOEXEC, 0);
  DIR* listing = reader >= 0 ? fdopendir(reader) : nullptr;
  if (listing == nullptr) {
    const int error = errno;
    if (reader >= 0) close(reader);
    return error;
  }
  while (true) {
    errno = 0;
    const dirent* entry = readdir(listing);
    if (entry == nullptr) break;
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  const int error = errno;
  closedir(listing);
  return error;
}

// The path of `name` in the deepest level, or of the item before any level.
std::string PathOfEntered(const Removal& removal, std::string_view name) {
  return removal.levels.empty() ? removal.itemPath : PathBelow(removal, name);
}

// A folder of the user's own that the user may not read (mode 000) is
// allowed to be, as rm -r does, so that it can be emptied: the very folder
// `facts` saw, reached without following a link, gets its owner's rights.
bool MayBeOpenedAfterAllowing(int parent, const std::string& name, const struct statx& facts) {
  if (facts.stx_uid != getuid()) return false;
  const Descriptor reached(openat(parent, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat found;
  if (reached.fd < 0 || fstat(reached.fd, &found) != 0 || found.st_ino != facts.stx_ino ||
      found.st_dev != posix::DeviceOf(facts)) {
    return false;
  }
  // A descriptor that only locates may not change modes itself; its name in /proc may.
  const std::string located = "/proc/self/fd/" + std::to_string(reached.fd);
  return chmod(located.c_str(), (found.st_mode & 07777) | S_IRWXU) == 0;
}

// Opens the folder `name` of `parent` (as `facts` saw it) for emptying; a
// folder that cannot be listed is still taken, to be removed if empty.
void Enter(Removal& removal, int parent, const std::string& name, const struct statx& facts) {
  Descriptor folder(openat(parent, name.c_str(), posix::kReadFolderFlags));
  if (folder.fd < 0 && errno == EACCES && MayBeOpenedAfterAllowing(parent, name, facts)) {
    folder = Descriptor(openat(parent, name.c_str(), posix::kReadFolderFlags));
  }
  struct stat opened;
  if (folder.fd < 0) {
    Note(removal, PathOfEntered(removal, name), WhyNotOpened(parent, name, errno));
    return;
  }
  if (fstat(folder.fd, &opened) != 0 || opened.st_ino != facts.stx_ino || opened.st_dev != posix::DeviceOf(facts)) {
    Note(removal, PathOfEntered(removal, name), kChanged);
    return;
  }
  Level level{std::move(folder), opened.st_dev, opened.st_ino, name, {}, 0};
  if (const int error = ListNames(level.folder.fd, level.names); error != 0) {
    Note(removal, PathOfEntered(removal, name), SystemReason(error));
  }
  removal.levels.push_back(std::move(level));
  const size_t openLevels = OpenLevels();
  if (removal.levels.size() > openLevels) removal.levels[removal.levels.size() - 1 - openLevels].folder = Descriptor();
}

// Removes one entry of the deepest level: a file or link itself, a folder
// by entering it.
void RemoveEntry(Removal& removal, const std::string& name) {
  const int folder = removal.levels.back().folder.fd;
  const dev_t device = removal.levels.back().device;
  struct statx facts;
  if (statx(folder, name.c_str(), kStatxFlags, kItemFacts, &facts) != 0) {
    if (errno != ENOENT) Note(removal, PathBelow(removal, name), SystemReason(errno));
  } else if (!S_ISDIR(facts.stx_mode)) {
    if (unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) {
      Note(removal, PathBelow(removal, name), SystemReason(errno));
    }
  } else if (IsOtherFileSystem(facts, device)) {
    Note(removal, PathBelow(removal, name), kOtherFileSystem);
  } else {
    Enter(removal, folder, name, facts);
  }
}

// Opens the level left without its descriptor again, from its child; false
// when ".." is no longer that folder (the child was moved away).
bool Reopen(Level& level, int child) {
  Descriptor folder(openat(child, "..", posix::kReadFolderFlags));
  struct stat facts;
  if (folder.fd < 0 || fstat(folder.fd, &facts) != 0 || facts.st_dev != level.device || facts.st_ino != level.inode) {
    return false;
  }
  level.folder = std::move(folder);
  return true;
}

// The deepest level is empty (or as empty as it gets): it is removed from
// its parent, unless it is the item itself, which the caller removes.
void Leave(Removal& removal) {
  Level done = std::move(removal.levels.back());
  removal.levels.pop_back();
  if (removal.levels.empty()) return;
  Level& parent = removal.levels.back();
  if (parent.folder.fd < 0 && !Reopen(parent, done.folder.fd)) {
    Note(removal, DeepestPath(removal), kChanged);
    removal.levels.clear();
    return;
  }
  if (unlinkat(parent.folder.fd, done.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
    Note(removal, PathBelow(removal, done.name), SystemReason(errno));
  }
}

void EmptyLevels(Removal& removal) {
  while (!removal.levels.empty()) {
    Level& level = removal.levels.back();
    if (level.next == level.names.size()) {
      Leave(removal);
    } else {
      const std::string name = std::move(level.names[level.next++]);
      RemoveEntry(removal, name);
    }
  }
}

}  // namespace

RemovalResult CheckWay(const ItemWay& way) {
  ReachedItem item;
  RemovalResult failure;
  const bool reached = way.relativePath.empty() ? ReachStart(way, item, failure) : Reach(way, item, failure);
  return reached ? RemovalResult{} : failure;
}

RemovalResult MoveToTrash(const ItemWay& way) {
  ReachedItem item;
  RemovalResult failure;
  if (!Reach(way, item, failure) || Refused(item, failure)) return failure;
  return posix::PutItemInTrash(item.parent.fd, item.name, S_ISDIR(item.facts.stx_mode), posix::DeviceOf(item.facts),
                               item.path, RealPathOf(item));
}

RemovalResult DeleteForGood(const ItemWay& way) {
  ReachedItem item;
  RemovalResult failure;
  if (!Reach(way, item, failure) || Refused(item, failure)) return failure;
  if (!S_ISDIR(item.facts.stx_mode)) {
    if (unlinkat(item.parent.fd, item.name.c_str(), 0) != 0) return Failure(item.path, SystemReason(errno));
    return {};
  }
  Removal removal{item.path, {}, {}};
  Enter(removal, item.parent.fd, item.name, item.facts);
  if (removal.levels.empty()) return removal.first;
  EmptyLevels(removal);
  if (unlinkat(item.parent.fd, item.name.c_str(), AT_REMOVEDIR) != 0) Note(removal, item.path, SystemReason(errno));
  return removal.first;
}

}  // namespace platform
