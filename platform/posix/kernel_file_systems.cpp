// Kernel file systems (proc, sysfs, ...) mounted in a tree: views of the
// system, not data, never entered by a walk.
#include <fcntl.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/posix/folder_steps.h"

namespace platform::posix {

namespace {

// Never entered, not even with -mounts, and given no line.
constexpr uint32_t kKernelFileSystems[] = {
    0x9fa0,      // proc
    0x62656572,  // sysfs
    0x1cd1,      // devpts
    0x27e0eb,    // cgroup
    0x63677270,  // cgroup2
    0x73636673,  // securityfs
    0x64626720,  // debugfs
    0x74726163,  // tracefs
    0xcafe4a11,  // bpf
    0x6165676c,  // pstore
    0x19800202,  // mqueue
    0x958458f6,  // hugetlbfs
    0x62656570,  // configfs
    0x65735543,  // fusectl
    0x42494e4d,  // binfmt_misc
    0x0187,      // autofs
    0xde5e81e4,  // efivarfs
};
constexpr uint32_t kTmpfsType = 0x01021994;

// devtmpfs tells itself from tmpfs only by its name in the mount table.
bool MountedAsDevtmpfs(dev_t device) {
  FILE* table = std::fopen("/proc/self/mountinfo", "re");
  if (table == nullptr) return false;
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  char line[4096];
  bool found = false;
  while (!found && std::fgets(line, sizeof line, table) != nullptr) {
    // "id parent major:minor root mount-point options ... - type source ..."
    char numbers[64];
    if (std::sscanf(line, "%*s %*s %63s", numbers) != 1 || wanted != numbers) continue;
    const char* separator = std::strstr(line, " - ");
    found = separator != nullptr && std::strncmp(separator + 3, "devtmpfs ", 9) == 0;
  }
  std::fclose(table);
  return found;
}

}  // namespace

// Mount points are rare: the calls that tell their kind cost nothing
// measurable. One that cannot be looked at is not entered.
bool IsKernelFileSystem(int folder, const char* name, dev_t device) {
  const int mounted = openat(folder, name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  if (mounted < 0) return true;
  struct statfs figures;
  const bool known = fstatfs(mounted, &figures) == 0;
  close(mounted);
  if (!known) return true;
  const auto type = static_cast<uint32_t>(figures.f_type);
  if (type == kTmpfsType) return MountedAsDevtmpfs(device);
  return std::find(std::begin(kKernelFileSystems), std::end(kKernelFileSystems), type) !=
         std::end(kKernelFileSystems);
}

}  // namespace platform::posix
