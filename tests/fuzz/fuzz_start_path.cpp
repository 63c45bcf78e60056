// Both rules that turn the folder argument into a full path: drive letters
// and backslashes, and POSIX paths. The input holds a current directory, a
// zero byte, then the argument; the current drive is the directory's first
// character.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "scan/start_path.h"

namespace {

std::string currentDirectory;
bool askedForDirectory = false;
char askedLetter = 0;

std::string DirectoryOfDrive(char letter) {
  askedForDirectory = true;
  askedLetter = letter;
  return currentDirectory;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// What is left of a relative argument once "." and "..": its tail.
std::string_view RelativeTail(std::string_view argument, char separator) {
  const std::string dot{'.', separator};
  const std::string dotDot{'.', '.', separator};
  if (argument == ".") return {};
  if (StartsWith(argument, dot)) argument.remove_prefix(2);
  while (StartsWith(argument, dotDot) || argument == "..") argument.remove_prefix(argument == ".." ? 2 : 3);
  return argument;
}

void CheckDriveRule(std::string_view argument, char currentDrive) {
  askedForDirectory = false;
  const std::string result = ExpandDrivePath(argument, currentDrive, DirectoryOfDrive);
  if ((argument.size() >= 3 && argument.substr(1, 2) == ":\\") || StartsWith(argument, "\\\\")) {
    FUZZ_CHECK(result == argument);
    return;
  }
  const bool namesDrive = argument.size() >= 2 && argument[1] == ':';
  const char drive = namesDrive ? argument[0] : currentDrive;
  std::string_view rest = namesDrive ? argument.substr(2) : argument;
  if (StartsWith(rest, "\\")) {
    const std::string drivePrefix{drive, ':'};
    FUZZ_CHECK(result == drivePrefix + std::string(rest));
    return;
  }
  FUZZ_CHECK(askedForDirectory);
  if (drive >= 'a' && drive <= 'z') FUZZ_CHECK(askedLetter == drive - 'a' + 'A');
  FUZZ_CHECK(EndsWith(result, RelativeTail(rest, '\\')));
  // Climbing never leaves the directory's own root behind.
  FUZZ_CHECK(StartsWith(result, std::string_view(currentDirectory).substr(0, 3)));
}

void CheckPosixRule(std::string_view argument) {
  const std::string result = ExpandPosixPath(argument, currentDirectory);
  if (StartsWith(argument, "/")) {
    FUZZ_CHECK(result == argument);
    return;
  }
  FUZZ_CHECK(EndsWith(result, "/" + std::string(RelativeTail(argument, '/'))));
  if (StartsWith(currentDirectory, "/")) FUZZ_CHECK(StartsWith(result, "/"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.find('\0');
  if (split == std::string_view::npos) return 0;
  currentDirectory = std::string(input.substr(0, split));
  const std::string_view argument = input.substr(split + 1);
  CheckDriveRule(argument, currentDirectory.empty() ? 'C' : currentDirectory[0]);
  CheckPosixRule(argument);
  return 0;
}
