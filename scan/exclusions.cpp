#include "scan/exclusions.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <system_error>

#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"

Exclusions exclusions;

namespace {

constexpr std::string_view kAnyFolders = "**";

// Names are compared in one case where the system ignores it.
std::string ComparableName(std::string_view name) {
  return platform::kNamesIgnoreCase ? UpperText(name) : std::string(name);
}

// A pattern also takes "/" for the system's own separator.
std::string ComparablePattern(std::string_view pattern) {
  std::string comparable = ComparableName(pattern);
  std::replace(comparable.begin(), comparable.end(), '/', platform::kPathSeparator);
  return comparable;
}

bool IsAbsolute(std::string_view pattern) {
  const char separator = platform::kPathSeparator;
  if (platform::kPathStyle == platform::PathStyle::Posix) return !pattern.empty() && pattern[0] == separator;
  const bool drivePath = pattern.size() >= 3 && pattern[1] == ':' && pattern[2] == separator;
  return drivePath || pattern.substr(0, 2) == std::string(2, separator);
}

// The names of a path, "**" once for a run of them.
std::vector<std::string> PathNames(std::string_view path) {
  std::vector<std::string> names;
  size_t at = 0;
  while (at <= path.size()) {
    const size_t end = std::min(path.find(platform::kPathSeparator, at), path.size());
    const std::string_view name = path.substr(at, end - at);
    const bool repeatsAnyFolders = name == kAnyFolders && !names.empty() && names.back() == kAnyFolders;
    if (!name.empty() && !repeatsAnyFolders) names.emplace_back(name);
    at = end + 1;
  }
  return names;
}

// A comparable pattern that is not absolute: a name, or a path below the
// start folder when a separator stands at its start or in its middle.
bool AddRelative(std::string_view pattern) {
  const size_t last = pattern.find_last_not_of(platform::kPathSeparator);
  if (last == std::string_view::npos) return false;
  pattern = pattern.substr(0, last + 1);  // a trailing separator only says "a folder"
  std::vector<std::string> names = PathNames(pattern);
  if (pattern.find(platform::kPathSeparator) == std::string_view::npos) {
    exclusions.namePatterns.push_back(std::move(names.front()));
  } else if (names.size() == 2 && names.front() == kAnyFolders) {
    exclusions.namePatterns.push_back(std::move(names.back()));  // **/cache: as fast as the name
  } else {
    exclusions.pathPatterns.push_back(std::move(names));
  }
  return true;
}

// Whether an absolute path that does not begin with the start path lies
// outside the start folder: on Windows always; on Linux when its first name
// is a folder of the system's root ("/etc"), since "/build" may also mean
// the folder build right below the start folder.
bool LiesOutside(std::string_view path) {
  if (platform::kPathStyle != platform::PathStyle::Posix) return true;
  const std::string_view first = path.substr(0, path.find(platform::kPathSeparator, 1));
  std::error_code error;
  return std::filesystem::is_directory(platform::FilePath(std::string(first)), error);
}

void Anchor(const Exclusions::AbsolutePattern& absolute, const std::string& start) {
  const std::string_view path = absolute.path;
  const bool below = path.size() > start.size() && path.substr(0, start.size()) == start &&
                     path.find_first_not_of(platform::kPathSeparator, start.size()) != std::string_view::npos;
  if (below) {
    std::string relative(1, platform::kPathSeparator);  // anchored right below the start folder
    relative += path.substr(start.size());
    AddRelative(relative);
  } else if (LiesOutside(path)) {
    WriteErrorLine("Exclusion pattern matches nothing below the start folder - " + absolute.word);
  } else {
    AddRelative(path);
  }
}

// The length of the UTF-8 character that begins at `at`: its lead byte
// and the continuation bytes after it; a stray byte counts alone.
size_t CharacterLength(std::string_view text, size_t at) {
  size_t end = at + 1;
  if (static_cast<uint8_t>(text[at]) >= 0xC0) {
    while (end < text.size() && end - at < 4 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) ++end;
  }
  return end - at;
}

// The position of the name after the one at `at`; npos after the last.
size_t NextName(std::string_view path, size_t at) {
  const size_t end = path.find(platform::kPathSeparator, at);
  return end == std::string_view::npos ? end : end + 1;
}

std::string_view NameAt(std::string_view path, size_t at) {
  return path.substr(at, std::min(path.find(platform::kPathSeparator, at), path.size()) - at);
}

// Whether the names of `path` match `names`, where "**" stands for any
// number of names (at the end, for one name or more: everything inside a
// folder). As with "*" in a name, only the last "**" is ever given more
// names, so a path of any depth is matched in a loop, without recursion.
bool MatchesPathNames(const std::vector<std::string>& names, std::string_view path) {
  constexpr size_t kNone = std::string_view::npos;
  size_t first = 0, at = 0;
  size_t anyAt = kNone, anyTakesFrom = kNone;  // the last "**" met and where its names end
  while (true) {
    if (first < names.size() && names[first] == kAnyFolders) {
      if (first + 1 == names.size()) return at != kNone;
      anyAt = first++;
      anyTakesFrom = at;
      continue;
    }
    if (first == names.size() && at == kNone) return true;
    if (first < names.size() && at != kNone && MatchesWildcards(names[first], NameAt(path, at))) {
      first += 1;
      at = NextName(path, at);
      continue;
    }
    if (anyAt == kNone || anyTakesFrom == kNone) return false;
    anyTakesFrom = NextName(path, anyTakesFrom);
    first = anyAt + 1;
    at = anyTakesFrom;
  }
}

}  // namespace

bool AddExclusion(std::string_view pattern, std::string_view word) {
  std::string comparable = ComparablePattern(pattern);
  if (comparable.find_first_not_of(platform::kPathSeparator) == std::string::npos) return false;
  if (IsAbsolute(comparable)) {
    exclusions.absolutePatterns.push_back({std::move(comparable), std::string(word)});
  } else if (!AddRelative(comparable)) {
    return false;
  }
  exclusions.givenPatterns.emplace_back(pattern);
  return true;
}

void AnchorExclusions(std::string_view startPath) {
  exclusions.startPathLength = startPath.size();
  const std::string start = ComparablePattern(startPath);
  for (const Exclusions::AbsolutePattern& absolute : exclusions.absolutePatterns) Anchor(absolute, start);
  exclusions.absolutePatterns.clear();
}

bool IsExcluded(std::string_view folderPath, std::string_view name) {
  if (exclusions.namePatterns.empty() && exclusions.pathPatterns.empty()) return false;
  std::string upperName;
  if (platform::kNamesIgnoreCase) upperName = UpperText(name);
  const std::string_view comparableName = platform::kNamesIgnoreCase ? std::string_view(upperName) : name;
  for (const std::string& pattern : exclusions.namePatterns) {
    if (MatchesWildcards(pattern, comparableName)) return true;
  }
  if (exclusions.pathPatterns.empty()) return false;
  // A string of this call's own, not one kept per thread: a thread-local
  // with a destructor makes the C library abort when it cannot register it
  // for want of memory, where the program would report that instead.
  const size_t start = std::min(exclusions.startPathLength, folderPath.size());
  std::string path = platform::kNamesIgnoreCase ? UpperText(folderPath.substr(start))
                                                : std::string(folderPath.substr(start));
  path += comparableName;
  return std::any_of(exclusions.pathPatterns.begin(), exclusions.pathPatterns.end(),
                     [&path](const std::vector<std::string>& names) { return MatchesPathNames(names, path); });
}

// Backtracks only to the last "*": a later "*" can take over everything an
// earlier one could have matched, so the earlier one need never grow again.
bool MatchesWildcards(std::string_view pattern, std::string_view text) {
  const char separator = platform::kPathSeparator;
  size_t p = 0, t = 0;
  size_t starAt = std::string_view::npos, resumeAt = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starAt = p++;
      resumeAt = t;
    } else if (p < pattern.size() && pattern[p] == '?' && text[t] != separator) {
      ++p;
      t += CharacterLength(text, t);
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (starAt != std::string_view::npos && text[resumeAt] != separator) {
      p = starAt + 1;
      resumeAt += CharacterLength(text, resumeAt);
      t = resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}
