// Removing what the user chose, on Linux: to the freedesktop.org trash, or
// for good. The item is reached from the start folder one name at a time,
// following no link, and everything below it is removed relative to open
// descriptors: a folder swapped for a link meanwhile is never followed, and
// nothing outside the item is touched.
#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

namespace platform {

namespace {

constexpr const char* kNowALink = "Now a symbolic link; left alone";
constexpr const char* kOtherFileSystem = "On another file system; left alone";
constexpr const char* kChanged = "Changed during the removal; left alone";

// An open descriptor with one owner, closed however a step ends.
struct Descriptor {
  int fd = -1;
  Descriptor() = default;
  explicit Descriptor(int opened) : fd(opened) {}
  Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    std::swap(fd, other.fd);
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd >= 0) close(fd);
  }
};

std::string SystemReason(int error) { return std::generic_category().message(error); }

RemovalResult Failure(std::string path, std::string reason) {
  return {RemovalResult::Failed, std::move(path), std::move(reason)};
}

std::string Joined(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  return path.append(name);
}

constexpr unsigned kStatxFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
constexpr unsigned kItemFacts = STATX_TYPE | STATX_INO;

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

// Reaches the item's parent from the start folder one name at a time,
// passing through no link, and looks at the item itself. A link in the
// item's place, or a folder where another file system is mounted, is left
// alone. On failure `failure` says where and why.
bool Reach(const std::string& startFolder, const std::string& relativePath, ReachedItem& item,
           RemovalResult& failure) {
  item.path = Joined(startFolder, relativePath);
  std::vector<std::string> names;
  if (!SplitRelativeNames(relativePath, "/", names)) {
    failure = Failure(item.path, "Not below the start folder");
    return false;
  }
  // The start folder is the one the user named: a link to it is followed.
  item.parent = Descriptor(open(startFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  std::string reached = startFolder;
  struct stat parentFacts;
  if (item.parent.fd < 0 || fstat(item.parent.fd, &parentFacts) != 0) {
    failure = Failure(reached, SystemReason(errno));
    return false;
  }
  for (size_t i = 0; i + 1 < names.size(); ++i) {
    reached = Joined(reached, names[i]);
    Descriptor next(openat(item.parent.fd, names[i].c_str(), posix::kPassFolderFlags));
    if (next.fd < 0 || fstat(next.fd, &parentFacts) != 0) {
      failure = Failure(reached, WhyNotOpened(item.parent.fd, names[i], errno));
      return false;
    }
    item.parent = std::move(next);
  }
  item.parentPath = reached;
  item.parentDevice = parentFacts.st_dev;
  item.name = names.back();
  if (statx(item.parent.fd, item.name.c_str(), kStatxFlags, kItemFacts, &item.facts) != 0) {
    failure = Failure(item.path, SystemReason(errno));
    return false;
  }
  if (S_ISLNK(item.facts.stx_mode)) {
    failure = Failure(item.path, kNowALink);
    return false;
  }
  if (S_ISDIR(item.facts.stx_mode) && IsOtherFileSystem(item.facts, item.parentDevice)) {
    failure = Failure(item.path, kOtherFileSystem);
    return false;
  }
  return true;
}

// ---- The trash --------------------------------------------------------------

// A trash's two folders, and the folder its .trashinfo paths are relative
// to (empty for the home trash, whose paths are absolute).
struct Trash {
  std::string location;
  Descriptor files;
  Descriptor info;
  std::string top;
};

// How putting the item in one trash ended: Refused means this trash cannot
// take it (another may); ItemFailed that the item itself could not be moved.
struct TrashStep {
  enum Outcome { Moved, Refused, ItemFailed };
  Outcome outcome;
  std::string reason;
};

// $XDG_DATA_HOME/Trash, or ~/.local/share/Trash; a relative path is no
// setting, as the base directory rules say. Empty when there is neither.
std::string HomeTrashPath() {
  const std::string dataHome = EnvironmentVariable("XDG_DATA_HOME");
  if (dataHome.starts_with('/')) return Joined(dataHome, "Trash");
  const std::string home = EnvironmentVariable("HOME");
  return home.starts_with('/') ? Joined(home, ".local/share/Trash") : "";
}

// The device of the full path `path`, or of its nearest existing ancestor,
// where it would be made.
bool DeviceWhereMade(std::string path, dev_t& device) {
  struct stat facts;
  while (stat(path.c_str(), &facts) != 0) {
    if (errno != ENOENT || path == "/") return false;
    const size_t cut = path.find_last_of('/');
    path.resize(cut == 0 ? 1 : cut);
  }
  device = facts.st_dev;
  return true;
}

// Makes `path` and its missing ancestors, each for the user alone; the
// error of the first that could not be made, else 0.
int MakeFolders(const std::string& path) {
  for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
    if (mkdir(path.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (end == std::string::npos) return 0;
  }
}

// Opens (making them where missing) the files/ and info/ of the trash
// folder `folder`, which `trash.location` names.
bool OpenTrashFolders(int folder, Trash& trash, std::string& why) {
  for (auto [name, opened] : {std::pair{"files", &trash.files}, std::pair{"info", &trash.info}}) {
    const bool made = mkdirat(folder, name, 0700) == 0 || errno == EEXIST;
    if (made) *opened = Descriptor(openat(folder, name, posix::kReadFolderFlags));
    if (opened->fd < 0) {
      why = std::string(made ? "Cannot open " : "Cannot make ") + Joined(trash.location, name) + ": " + SystemReason(errno);
      return false;
    }
  }
  return true;
}

// The home trash, where it is (or would be) on the item's device.
bool OpenHomeTrash(dev_t itemDevice, Trash& trash, std::string& why) {
  trash.location = HomeTrashPath();
  dev_t device;
  if (trash.location.empty() || !DeviceWhereMade(trash.location, device) || device != itemDevice) return false;
  const int error = MakeFolders(trash.location);
  const Descriptor folder(open(trash.location.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.fd < 0) {
    why = "Cannot make " + trash.location + ": " + SystemReason(error != 0 ? error : errno);
    return false;
  }
  return OpenTrashFolders(folder.fd, trash, why);
}

// A trash folder below a file system's top that a user may trust: a folder
// (no link) of the user's own.
Descriptor OpenOwnTrashFolder(int parent, const std::string& name, const std::string& path, std::string& why) {
  if (mkdirat(parent, name.c_str(), 0700) != 0 && errno != EEXIST) {
    why = "Cannot make " + path + ": " + SystemReason(errno);
    return Descriptor();
  }
  Descriptor folder(openat(parent, name.c_str(), posix::kReadFolderFlags));
  struct stat facts;
  if (folder.fd < 0) {
    why = "Cannot use " + path + ": " + (errno == ELOOP ? "a symbolic link" : SystemReason(errno));
  } else if (fstat(folder.fd, &facts) != 0 || facts.st_uid != getuid()) {
    why = "Cannot use " + path + ": not the user's own";
    folder = Descriptor();
  }
  return folder;
}

// The file system's own trash: <top>/.Trash/<uid> where the administrator
// made a shared .Trash (a folder, not a link, with the sticky bit), else
// <top>/.Trash-<uid>.
bool OpenTopTrash(const std::string& itemPath, Trash& trash, std::string& why) {
  trash.top = MountPointOf(itemPath);
  if (trash.top.empty()) {
    why = "Cannot find the file system of " + itemPath;
    return false;
  }
  const Descriptor top(open(trash.top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (top.fd < 0) {
    why = "Cannot open " + trash.top + ": " + SystemReason(errno);
    return false;
  }
  const std::string uid = std::to_string(getuid());
  struct stat shared;
  if (fstatat(top.fd, ".Trash", &shared, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(shared.st_mode) &&
      (shared.st_mode & S_ISVTX) != 0) {
    const Descriptor sharedFolder(openat(top.fd, ".Trash", posix::kPassFolderFlags));
    trash.location = Joined(Joined(trash.top, ".Trash"), uid);
    std::string sharedWhy;
    const Descriptor own = OpenOwnTrashFolder(sharedFolder.fd, uid, trash.location, sharedWhy);
    if (own.fd >= 0 && OpenTrashFolders(own.fd, trash, why)) return true;
  }
  trash.location = Joined(trash.top, ".Trash-" + uid);
  const Descriptor own = OpenOwnTrashFolder(top.fd, ".Trash-" + uid, trash.location, why);
  return own.fd >= 0 && OpenTrashFolders(own.fd, trash, why);
}

// Every byte but the unreserved characters and '/' as %XX.
std::string PercentEncoded(std::string_view path) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                       (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (plain) {
      encoded += c;
    } else {
      encoded += '%';
      encoded += kDigits[byte >> 4];
      encoded += kDigits[byte & 15];
    }
  }
  return encoded;
}

std::string TrashInfoText(const std::string& path) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[32];
  const size_t length = std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
  return "[Trash Info]\nPath=" + PercentEncoded(path) + "\nDeletionDate=" + std::string(date, length) + "\n";
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

// Moves the item without replacing anything; a file system that cannot
// promise that gets a plain rename, after the name was seen free.
int RenameIntoTrash(int parent, const std::string& name, int files, const std::string& chosen) {
  if (renameat2(parent, name.c_str(), files, chosen.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  return renameat(parent, name.c_str(), files, chosen.c_str()) == 0 ? 0 : errno;
}

// The item's path as its .trashinfo records it: relative to the top of its
// file system in that file system's trash, where it lies below it.
std::string RecordedPath(const Trash& trash, const std::string& itemPath) {
  const std::string top = trash.top == "/" ? "/" : trash.top + "/";
  if (trash.top.empty() || itemPath.size() <= top.size() || itemPath.compare(0, top.size(), top) != 0) return itemPath;
  return itemPath.substr(top.size());
}

// The item's name in the trash: its own, cut short (at a character's
// start) where its .trashinfo's name and a number would not fit a name's
// 255 bytes.
std::string TrashName(const std::string& name) {
  constexpr size_t kLongest = 200;
  if (name.size() <= kLongest) return name;
  size_t end = kLongest;
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

// Writes the .trashinfo under the first free name (name, name.2, name.3 ...
// free in both files/ and info/), then moves the item there; a move that
// fails takes its .trashinfo back.
TrashStep PutInTrash(const Trash& trash, int parent, const std::string& name, const std::string& itemPath) {
  const std::string infoText = TrashInfoText(RecordedPath(trash, itemPath));
  const std::string stem = TrashName(name);
  for (int number = 1;; ++number) {
    const std::string chosen = number == 1 ? stem : stem + "." + std::to_string(number);
    const std::string infoName = chosen + ".trashinfo";
    const std::string infoPath = Joined(Joined(trash.location, "info"), infoName);
    struct stat taken;
    if (fstatat(trash.files.fd, chosen.c_str(), &taken, AT_SYMLINK_NOFOLLOW) == 0) continue;
    if (errno != ENOENT) return {TrashStep::Refused, "Cannot use " + trash.location + ": " + SystemReason(errno)};
    const Descriptor info(openat(trash.info.fd, infoName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (info.fd < 0 && errno == EEXIST) continue;
    if (info.fd < 0 || !WriteAll(info.fd, infoText)) {
      const std::string reason = "Cannot write " + infoPath + ": " + SystemReason(errno);
      if (info.fd >= 0) unlinkat(trash.info.fd, infoName.c_str(), 0);
      return {TrashStep::Refused, reason};
    }
    const int error = RenameIntoTrash(parent, name, trash.files.fd, chosen);
    if (error == 0) return {TrashStep::Moved, ""};
    unlinkat(trash.info.fd, infoName.c_str(), 0);
    if (error == EEXIST || error == ENOTEMPTY) continue;  // taken meanwhile
    if (error == EXDEV) return {TrashStep::Refused, "Cannot move to " + trash.location + ": " + SystemReason(error)};
    return {TrashStep::ItemFailed, SystemReason(error)};
  }
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
// descriptors.
constexpr size_t kOpenLevels = 64;

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

// Opens the folder `name` of `parent` (as `facts` saw it) for emptying; a
// folder that cannot be listed is still taken, to be removed if empty.
void Enter(Removal& removal, int parent, const std::string& name, const struct statx& facts) {
  Descriptor folder(openat(parent, name.c_str(), posix::kReadFolderFlags));
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
  if (removal.levels.size() > kOpenLevels) removal.levels[removal.levels.size() - 1 - kOpenLevels].folder = Descriptor();
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

RemovalResult MoveToTrash(const std::string& startFolder, const std::string& relativePath) {
  ReachedItem item;
  RemovalResult failure;
  if (!Reach(startFolder, relativePath, item, failure)) return failure;
  const std::string realPath = Joined(RealPathOf(item.parent.fd, item.parentPath), item.name);
  std::string why = "No trash on the file system of " + item.path;
  Trash home;
  Trash top;
  for (Trash* trash : {&home, &top}) {
    const bool opened = trash == &home ? OpenHomeTrash(posix::DeviceOf(item.facts), home, why)
                                       : OpenTopTrash(realPath, top, why);
    if (!opened) continue;
    const TrashStep step = PutInTrash(*trash, item.parent.fd, item.name, realPath);
    if (step.outcome == TrashStep::Moved) return {};
    if (step.outcome == TrashStep::ItemFailed) return Failure(item.path, step.reason);
    why = step.reason;
  }
  return {RemovalResult::NoTrash, item.path, why};
}

RemovalResult DeleteForGood(const std::string& startFolder, const std::string& relativePath) {
  ReachedItem item;
  RemovalResult failure;
  if (!Reach(startFolder, relativePath, item, failure)) return failure;
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
