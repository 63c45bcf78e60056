// What removing an item on Linux shares between putting it in the trash and
// deleting it for good.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/platform.h"

namespace platform::posix {

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

inline std::string SystemReason(int error) { return std::generic_category().message(error); }

inline RemovalResult Failure(std::string path, std::string reason) {
  return {RemovalResult::Failed, std::move(path), std::move(reason), ""};
}

inline std::string Joined(const std::string& folder, std::string_view name) {
  std::string path = folder;
  if (path.empty() || path.back() != '/') path += '/';
  return path.append(name);
}

// Puts the item `name` (a folder or not) of the open folder `parent` into a trash on its
// file system `device`: the home trash, else the file system's own.
// `itemPath` is the path the user sees, `realPath` its full path with links
// resolved, which its .trashinfo records.
RemovalResult PutItemInTrash(int parent, const std::string& name, bool isFolder, dev_t device,
                             const std::string& itemPath, const std::string& realPath);

// Whether the folder (`device`, `inode`), at `realPath`, is a trash in use,
// or its files/ or info/.
bool IsTrashFolder(dev_t device, ino_t inode, const std::string& realPath);

}  // namespace platform::posix
