// Drive figures on Linux: the "drive" of a folder is the file system that
// holds it, found in /proc/self/mountinfo and measured with statvfs.
#include <limits.h>
#include <stdlib.h>
#include <sys/statvfs.h>

#include <ctype.h>
#include <dirent.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "platform/posix/folder_steps.h"

namespace platform {

namespace {

struct Mount {
  std::string root;  // the folder of the file system mounted there
  std::string mountPoint;
  std::string fileSystemType;
  std::string source;
};

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

// mountinfo writes a blank, tab, line break or backslash as \ooo (octal).
std::string UnescapeOctal(const std::string& field) {
  std::string text;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) && IsOctal(field[i + 2]) &&
        IsOctal(field[i + 3])) {
      text.push_back(static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8)));
      i += 3;
    } else {
      text.push_back(field[i]);
    }
  }
  return text;
}

// udev names a label's link with \xHH for each unsafe byte.
std::string UnescapeHex(const std::string& name) {
  std::string text;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && isxdigit(name[i + 2]) &&
        isxdigit(name[i + 3])) {
      text.push_back(static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      text.push_back(name[i]);
    }
  }
  return text;
}

// The fields of one mountinfo line: the mount point is the fifth; after the
// lone "-" come the file-system type and the source.
bool ParseMountLine(const std::string& line, Mount& mount) {
  std::istringstream fields(line);
  std::string field;
  for (int i = 0; i < 5 && fields >> field; ++i) {
    if (i == 3) mount.root = UnescapeOctal(field);
    if (i == 4) mount.mountPoint = UnescapeOctal(field);
  }
  while (fields >> field && field != "-") {
  }
  return static_cast<bool>(fields >> mount.fileSystemType >> mount.source);
}

bool IsUnder(const std::string& path, const std::string& mountPoint) {
  if (mountPoint == "/") return true;
  return path.compare(0, mountPoint.size(), mountPoint) == 0 &&
         (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The nearest existing folder at or above `path`, with links resolved.
std::string ResolvedExistingPath(std::string path) {
  while (true) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr) return resolved;
    size_t cut = path.find_last_of('/');
    if (cut == std::string::npos || path == "/") return "/";
    path = cut == 0 ? "/" : path.substr(0, cut);
  }
}

bool FindMount(const std::string& path, Mount& found) {
  std::ifstream table("/proc/self/mountinfo");
  if (!table) return false;
  const std::string resolved = ResolvedExistingPath(path);
  bool any = false;
  std::string line;
  Mount mount;
  while (std::getline(table, line)) {
    if (!ParseMountLine(line, mount) || !IsUnder(resolved, mount.mountPoint)) continue;
    // Later lines mount over earlier ones at the same place.
    if (!any || mount.mountPoint.size() >= found.mountPoint.size()) found = mount;
    any = true;
  }
  return any;
}

std::string LabelOfDevice(const std::string& device) {
  char deviceResolved[PATH_MAX];
  if (realpath(device.c_str(), deviceResolved) == nullptr) return "";
  const std::string folder = "/dev/disk/by-label/";
  DIR* labels = opendir(folder.c_str());
  if (labels == nullptr) return "";
  std::string label;
  while (dirent* entry = readdir(labels)) {
    char target[PATH_MAX];
    if (entry->d_name[0] == '.') continue;
    if (realpath((folder + entry->d_name).c_str(), target) != nullptr &&
        std::string(target) == deviceResolved) {
      label = UnescapeHex(entry->d_name);
      break;
    }
  }
  closedir(labels);
  return label;
}

}  // namespace

std::string MountPointOf(const std::string& path) {
  Mount mount;
  return FindMount(path, mount) ? mount.mountPoint : "";
}

bool posix::HoldsMountPointBelow(const std::string& realPath) {
  std::ifstream table("/proc/self/mountinfo");
  if (!table) return true;
  const std::string below = realPath.ends_with('/') ? realPath : realPath + '/';
  std::string line;
  Mount mount;
  while (std::getline(table, line)) {
    if (ParseMountLine(line, mount) && mount.mountPoint.starts_with(below)) return true;
  }
  return false;
}

bool ReadDriveFigures(const std::string& root, DriveFigures& figures) {
  struct statvfs info;
  if (statvfs(root.c_str(), &info) != 0) return false;
  figures.clusterSize = static_cast<int32_t>(info.f_frsize);
  figures.capacityBytes = static_cast<int64_t>(info.f_blocks) * static_cast<int64_t>(info.f_frsize);
  // The space an ordinary user can still write, as df shows it: the blocks
  // kept for root are not free to anyone else.
  figures.freeBytes = static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
  figures.usedBytes = static_cast<int64_t>(info.f_blocks - info.f_bfree) * static_cast<int64_t>(info.f_frsize);
  return true;
}

std::string DescribeVolume(const std::string& root) {
  Mount mount;
  if (!FindMount(root, mount)) return "";
  return LabelOfDevice(mount.source) + " (" + mount.fileSystemType + ")";
}

namespace {

// The file systems that read NTFS: the kernel's two drivers and the FUSE one.
bool ReadsNtfs(const std::string& type) {
  return type == "ntfs" || type == "ntfs3" || type == "fuseblk" || type == "fuse" || type.rfind("fuse.", 0) == 0;
}

}  // namespace

bool LocateVolume(const std::string& folder, VolumeLocation& location, std::string& failure) {
  Mount mount;
  if (!FindMount(folder, mount)) {
    location.device = folder;
    failure = "the mount table cannot be read";
    return false;
  }
  location.device = mount.source;
  location.mountPoint = mount.mountPoint;
  if (!ReadsNtfs(mount.fileSystemType)) {
    failure = "not an NTFS volume (" + mount.fileSystemType + ")";
    return false;
  }
  const std::string resolved = ResolvedExistingPath(folder);
  const std::string below = mount.mountPoint == "/" ? resolved : resolved.substr(mount.mountPoint.size());
  location.pathInVolume = mount.root == "/" ? (below.empty() ? "/" : below) : mount.root + below;
  return true;
}

}  // namespace platform
