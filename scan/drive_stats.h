// The figures of the drive that holds the start folder.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct DriveStats {
  int32_t clusterSize = 0;
  int64_t capacityBytes = 0;
  int64_t freeBytes = 0;
  // In use, as the system counts it (on Linux not capacity minus free: the
  // blocks kept for root are neither).
  int64_t usedBytes = 0;
  std::string volumeDescription;
};

extern DriveStats driveStats;
// How the statistics name the drive: its letter ("C", or "\" for a share)
// on Windows, the mount point on Linux.
extern std::string driveName;

// In a run over several folders, the drives of the folders past the first
// that are not the first folder's drive: their statistics follow its.
struct NamedDrive {
  std::string name;
  DriveStats stats;
};
extern std::vector<NamedDrive> moreDrives;

// Reads the figures of the drive holding `folderPath` (an expanded start
// path). False, with its message line written, when the drive cannot be
// identified or read.
bool ReadDriveStats(const std::string& folderPath);

// The root of a drive path ("C:\") or of a UNC path ("\\server\share\").
// Without a root, `failure` holds the message line.
std::optional<std::string> FindDriveRoot(std::string_view path, std::string& failure);
