#include "scan/drive_stats.h"

#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "scan/scanner.h"

DriveStats driveStats;
std::string driveName;
std::vector<NamedDrive> moreDrives;

namespace {

constexpr size_t kMaxRootLength = 255;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::optional<std::string> FindUncRoot(std::string_view path, std::string& failure) {
  std::string_view afterSlashes = path.substr(2, kMaxRootLength);
  size_t serverEnd = afterSlashes.find('\\');
  if (serverEnd == std::string_view::npos) {
    failure = "Expecting UNC path: \\\\computer name\\share name\\";
    return std::nullopt;
  }
  std::string_view afterServer = path.substr(serverEnd + 3, kMaxRootLength);
  size_t shareEnd = afterServer.find('\\');
  if (shareEnd == std::string_view::npos) return std::string(path) + "\\";
  return std::string(path.substr(0, serverEnd + shareEnd + 4));
}

std::optional<std::string> FindRootOfStartFolder(const std::string& folderPath, std::string& failure) {
  if (platform::kPathStyle == platform::PathStyle::Windows) return FindDriveRoot(folderPath, failure);
  std::string mountPoint = platform::MountPointOf(folderPath);
  if (mountPoint.empty()) {
    failure = "Can't determine drive of " + folderPath;
    return std::nullopt;
  }
  return mountPoint;
}

// On Windows only a drive root such as C:\ goes without the directory-entry
// allowance (a share's root has one); on Linux the mount point's folder does.
std::string AllowanceFreeRootOf(const std::string& root) {
  if (platform::kPathStyle == platform::PathStyle::Windows) return root.size() == 3 ? root : "";
  return EnsureTrailingBackslash(root);
}

}  // namespace

std::optional<std::string> FindDriveRoot(std::string_view path, std::string& failure) {
  if (path.size() >= 3 && path.substr(1, 2) == ":\\") return std::string{UpperAscii(path[0]), ':', '\\'};
  if (path.substr(0, 2) != "\\\\") {
    failure = "Can't determine drive of " + std::string(path);
    return std::nullopt;
  }
  return FindUncRoot(path, failure);
}

bool ReadDriveStats(const std::string& folderPath) {
  driveStats.clusterSize = 0;
  driveStats.capacityBytes = 0;
  driveStats.freeBytes = 0;
  driveStats.usedBytes = 0;
  std::string failure;
  std::optional<std::string> root = FindRootOfStartFolder(folderPath, failure);
  if (!root) {
    WriteMessageLine(failure, Paging::straight);
    return false;
  }
  platform::DriveFigures figures;
  if (!platform::ReadDriveFigures(*root, figures)) {
    WriteMessageLine("Invalid drive " + *root + "  Ensure the drive door is closed", Paging::straight);
    driveStats.volumeDescription.clear();
    return false;
  }
  driveStats.clusterSize = figures.clusterSize;
  driveStats.capacityBytes = figures.capacityBytes;
  driveStats.freeBytes = figures.freeBytes;
  driveStats.usedBytes = figures.usedBytes;
  driveStats.volumeDescription = platform::DescribeVolume(*root);
  allowanceFreeRoot = AllowanceFreeRootOf(*root);
  driveName = platform::kPathStyle == platform::PathStyle::Windows
                  ? std::string{UpperAscii(folderPath[0])}
                  : *root;
  return true;
}
