// The freedesktop.org trash on Linux: the home trash where it is on the
// item's file system, else that file system's own .Trash/<uid> or
// .Trash-<uid>, each folder opened relative to its parent and trusted only
// where it is the user's own.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/folder_steps.h"
#include "platform/posix/removal_steps.h"

namespace platform::posix {

namespace {

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

// The folder below which a home trash's missing folders may be made: the
// home folder when the trash lies below it (~/.local/share may be missing
// on a new account), else the trash's own parent, its data home. Nothing
// above it is ever made: not even a missing home.
std::string MadeBelow(const std::string& trashPath) {
  const std::string home = EnvironmentVariable("HOME");
  if (home.starts_with('/') && trashPath.starts_with(Joined(home, ""))) return home;
  return trashPath.substr(0, trashPath.find_last_of('/'));
}

// Makes `path` and its missing ancestors below the existing folder `from`,
// each for the user alone; the error of the first that could not be made,
// else 0.
int MakeFolders(const std::string& path, const std::string& from) {
  struct stat facts;
  if (stat(from.c_str(), &facts) != 0) return errno;
  for (size_t end = path.find('/', from.size() + 1);; end = path.find('/', end + 1)) {
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
  const int error = MakeFolders(trash.location, MadeBelow(trash.location));
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

// Moves the item without replacing anything. A file system that cannot
// promise that gets a plain rename onto a name reserved first, an empty
// folder for a folder or an empty file for a file, made only where the name
// was free; the rename replaces that and nothing else.
int RenameIntoTrash(int parent, const std::string& name, bool isFolder, int files, const std::string& chosen) {
  if (renameat2(parent, name.c_str(), files, chosen.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL) return errno;
  if (isFolder) {
    if (mkdirat(files, chosen.c_str(), 0700) != 0) return errno;
  } else {
    const Descriptor reserved(openat(files, chosen.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (reserved.fd < 0) return errno;
  }
  if (renameat(parent, name.c_str(), files, chosen.c_str()) == 0) return 0;
  const int error = errno;
  unlinkat(files, chosen.c_str(), isFolder ? AT_REMOVEDIR : 0);
  return error;
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
TrashStep PutInTrash(const Trash& trash, int parent, const std::string& name, bool isFolder,
                     const std::string& itemPath) {
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
    const int error = RenameIntoTrash(parent, name, isFolder, trash.files.fd, chosen);
    if (error == 0) return {TrashStep::Moved, ""};
    unlinkat(trash.info.fd, infoName.c_str(), 0);
    if (error == EEXIST || error == ENOTEMPTY) continue;  // taken meanwhile
    if (error == EXDEV) return {TrashStep::Refused, "Cannot move to " + trash.location + ": " + SystemReason(error)};
    return {TrashStep::ItemFailed, SystemReason(error)};
  }
}

bool IsSameFolder(const std::string& path, dev_t device, ino_t inode) {
  struct stat facts;
  return lstat(path.c_str(), &facts) == 0 && facts.st_dev == device && facts.st_ino == inode;
}

}  // namespace

bool IsTrashFolder(dev_t device, ino_t inode, const std::string& realPath) {
  std::vector<std::string> trashes;
  if (const std::string home = HomeTrashPath(); !home.empty()) trashes.push_back(home);
  if (const std::string top = MountPointOf(realPath); !top.empty()) {
    const std::string uid = std::to_string(getuid());
    trashes.push_back(Joined(top, ".Trash-" + uid));
    trashes.push_back(Joined(Joined(top, ".Trash"), uid));
    trashes.push_back(Joined(top, ".Trash"));
  }
  for (const std::string& trash : trashes) {
    for (const std::string& path : {trash, Joined(trash, "files"), Joined(trash, "info")}) {
      if (IsSameFolder(path, device, inode)) return true;
    }
  }
  return false;
}

RemovalResult PutItemInTrash(int parent, const std::string& name, bool isFolder, dev_t device,
                             const std::string& itemPath, const std::string& realPath) {
  std::string why = "No trash on the file system of " + itemPath;
  Trash home;
  Trash top;
  for (Trash* trash : {&home, &top}) {
    const bool opened = trash == &home ? OpenHomeTrash(device, home, why) : OpenTopTrash(realPath, top, why);
    if (!opened) continue;
    const TrashStep step = PutInTrash(*trash, parent, name, isFolder, realPath);
    if (step.outcome == TrashStep::Moved) return {RemovalResult::Removed, "", "", trash->location};
    if (step.outcome == TrashStep::ItemFailed) return Failure(itemPath, step.reason);
    why = step.reason;
  }
  return {RemovalResult::NoTrash, itemPath, why, ""};
}

}  // namespace platform::posix
