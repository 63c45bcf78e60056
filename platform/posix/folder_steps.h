// The few steps every walk of a tree on Linux takes, shared by the scan's
// listing and the removal of what the user chose, so that a folder is opened
// and told from another file system in one way only.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <string>

namespace platform::posix {

// A folder that is read: never a link in its place.
inline constexpr int kReadFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// An ancestor is only passed through: it need not be readable, only searchable.
inline constexpr int kPassFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// A descriptor of its own (the caller closes it) on the start folder that
// `startPath` named when it was first walked; opened now, following a link
// the user named, where no walk held it. -1 with errno on failure.
int OpenHeldStartFolder(const std::string& startPath);

// Whether the folder `name` in `folder`, where a file system of `device` is
// mounted, is a kernel file system (proc, sysfs, ...), which no walk enters
// and no line names; also one that cannot be looked at.
bool IsKernelFileSystem(int folder, const char* name, dev_t device);

// Whether a file system is mounted anywhere below the folder `realPath`; a
// mount table that cannot be read holds one, for nothing can be promised.
bool HoldsMountPointBelow(const std::string& realPath);

inline dev_t DeviceOf(const struct statx& info) { return makedev(info.stx_dev_major, info.stx_dev_minor); }

// The system marks the root of every mount (a btrfs subvolume that is not
// mounted on its own is part of the tree); an older kernel does not, and a
// device that differs from the folder's tells instead.
inline bool IsMountRoot(const struct statx& info, dev_t folderDevice) {
  if (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) return (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  return DeviceOf(info) != folderDevice;
}

}  // namespace platform::posix
