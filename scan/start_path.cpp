#include "scan/start_path.h"

#include <filesystem>
#include <system_error>

#include "console/text.h"
#include "platform/platform.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Applies a relative argument to `directory`: "." and a leading "./" are
// dropped, each leading ".." climbs one level (never above the root), and the
// rest is appended after a separator.
std::string ResolveRelative(std::string_view argument, std::string directory, char separator) {
  const std::string dot{'.', separator};
  const std::string dotDot{'.', '.', separator};
  if (argument == ".") {
    argument = {};
  } else if (StartsWith(argument, dot)) {
    argument.remove_prefix(2);
  }
  while (StartsWith(argument, dotDot) || argument == "..") {
    argument.remove_prefix(argument == ".." ? 2 : 3);
    directory = ParentFolderText(directory, separator);
  }
  return EnsureTrailingBackslash(std::move(directory), separator) + std::string(argument);
}

// A full drive path such as C:\Data, or a UNC path.
bool IsFullDrivePath(std::string_view argument) {
  return (argument.size() >= 3 && argument.substr(1, 2) == ":\\") || StartsWith(argument, "\\\\");
}

}  // namespace

std::string ExpandDrivePath(std::string_view argument, char currentDrive,
                            std::string (*currentDirectoryOfDrive)(char letter)) {
  if (IsFullDrivePath(argument)) return std::string(argument);
  std::string drive;
  if (argument.size() >= 2 && argument[1] == ':') {
    drive = std::string(argument.substr(0, 2));
    argument.remove_prefix(2);
  } else {
    drive = {currentDrive, ':'};
  }
  if (StartsWith(argument, "\\")) return drive + std::string(argument);
  char letter = UpperText(drive.substr(0, 1))[0];
  return ResolveRelative(argument, currentDirectoryOfDrive(letter), '\\');
}

std::string ExpandPosixPath(std::string_view argument, std::string_view currentDirectory) {
  if (StartsWith(argument, "/")) return std::string(argument);
  return ResolveRelative(argument, std::string(currentDirectory), '/');
}

std::string ExpandStartPath(const std::string& argument, std::string& failure) {
  const bool windows = platform::kPathStyle == platform::PathStyle::Windows;
  if (windows ? IsFullDrivePath(argument) : StartsWith(argument, "/")) return argument;
  const std::string current = platform::CurrentDirectory(&failure);
  if (current.empty()) return {};
  if (windows) return ExpandDrivePath(argument, current[0], platform::CurrentDirectoryOfDrive);
  return ExpandPosixPath(argument, current);
}

bool NamesANonFolder(const std::string& expandedPath) {
  // A file with a separator after its name is still the file (the system
  // would only say that no such folder is there).
  const size_t last = expandedPath.find_last_not_of(platform::kPathSeparator);
  if (last == std::string::npos) return false;
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::status(platform::FilePath(expandedPath.substr(0, last + 1)), error);
  return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}
