#include "scan/exclusions.h"

#include <algorithm>

#include "console/text.h"
#include "platform/platform.h"

Exclusions exclusions;

namespace {

// Patterns and names are compared in one case where the system ignores it;
// "/" separates like the system's own separator.
std::string Comparable(std::string_view text) {
  std::string comparable = platform::kNamesIgnoreCase ? UpperText(text) : std::string(text);
  std::replace(comparable.begin(), comparable.end(), '/', platform::kPathSeparator);
  return comparable;
}

bool MatchesAny(const std::vector<std::string>& patterns, std::string_view text) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [text](const std::string& pattern) { return MatchesWildcards(pattern, text); });
}

}  // namespace

bool AddExclusion(std::string_view pattern) {
  std::string comparable = Comparable(pattern);
  const bool isPath = comparable.find(platform::kPathSeparator) != std::string::npos;
  const size_t first = comparable.find_first_not_of(platform::kPathSeparator);
  if (first == std::string::npos) return false;
  comparable = comparable.substr(first, comparable.find_last_not_of(platform::kPathSeparator) + 1 - first);
  (isPath ? exclusions.pathPatterns : exclusions.namePatterns).push_back(std::move(comparable));
  return true;
}

bool IsExcluded(std::string_view folderPath, std::string_view name) {
  if (exclusions.namePatterns.empty() && exclusions.pathPatterns.empty()) return false;
  const std::string comparableName = Comparable(name);
  if (MatchesAny(exclusions.namePatterns, comparableName)) return true;
  if (exclusions.pathPatterns.empty()) return false;
  const size_t start = std::min(exclusions.startPathLength, folderPath.size());
  return MatchesAny(exclusions.pathPatterns, Comparable(folderPath.substr(start)) + comparableName);
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
    } else if (p < pattern.size() && (pattern[p] == text[t] || (pattern[p] == '?' && text[t] != separator))) {
      ++p;
      ++t;
    } else if (starAt != std::string_view::npos && text[resumeAt] != separator) {
      p = starAt + 1;
      t = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}
