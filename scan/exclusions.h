// Folders the user leaves out of the scan (-exclude=PATTERN). A pattern
// without a separator matches a folder's name at any depth; one with a
// separator matches the folder's path relative to the start folder. "*"
// stands for any run of characters within one name, "?" for one character.
// Letter case counts where the system's names are case-sensitive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct Exclusions {
  std::vector<std::string> namePatterns;
  std::vector<std::string> pathPatterns;  // without leading or trailing separators
  // Where the relative path of a folder begins: the length of the start
  // path with its separator, set when the scan starts.
  size_t startPathLength = 0;
};

extern Exclusions exclusions;

// Adds a pattern as the user gave it; false when nothing of it is left to
// match (an empty pattern, or separators alone).
bool AddExclusion(std::string_view pattern);

// Whether the subfolder `name` of the folder at `folderPath` (a full path
// ending in a separator, below or at the start path) is left out.
bool IsExcluded(std::string_view folderPath, std::string_view name);

// Whether `text` matches `pattern`, where "*" matches any run of characters
// but the separator and "?" any one character but the separator.
bool MatchesWildcards(std::string_view pattern, std::string_view text);
