// Folders the user leaves out of the scan (-exclude=PATTERN), in the manner
// of gitignore:
// - a pattern without a separator matches a folder's name at any depth;
// - one with a separator at its start or in its middle matches the folder's
//   path below the start folder;
// - a separator at its end only says "a folder" (every excluded thing is
//   one): build/ is the name build at any depth;
// - "**" as a whole name matches any number of folders (**/cache,
//   src/**/gen; at the end, src/** , one or more);
// - "*" matches any run of characters within one name, "?" one character
//   (of UTF-8 text, not one byte);
// - an absolute path is taken below the start folder once the scan knows
//   it; one outside it is named on standard error and matches nothing. On
//   Windows a path is absolute with a drive (C:\Data) or a server
//   (\\server\share); on Linux, where a leading "/" also anchors a path
//   below the start folder (/build), when it begins with the start path or
//   its first name is a folder of the system's root (/home/me/src, /etc).
// Letter case counts where the system's names are case-sensitive.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct Exclusions {
  std::vector<std::string> namePatterns;
  // Each a path below the start folder, one pattern per folder name.
  std::vector<std::vector<std::string>> pathPatterns;
  // Absolute paths, until the scan's start folder places them: the
  // comparable path, and the word as the user typed it.
  struct AbsolutePattern {
    std::string path;
    std::string word;
  };
  std::vector<AbsolutePattern> absolutePatterns;
  // The patterns as given, in order, for the reports to record.
  std::vector<std::string> givenPatterns;
  // Where the relative path of a folder begins: the length of the start
  // path with its separator, set when the scan starts.
  size_t startPathLength = 0;
};

extern Exclusions exclusions;

// Adds `pattern`, given in `word` as the user typed it; false when nothing
// of it is left to match (an empty pattern, or separators alone).
bool AddExclusion(std::string_view pattern, std::string_view word);

// Places the patterns at the start folder `startPath` (a full path ending
// in a separator): an absolute pattern below it becomes a path below it,
// one outside it gets the line "Exclusion pattern matches nothing below the
// start folder - <word>" on standard error.
void AnchorExclusions(std::string_view startPath);

// Whether the subfolder `name` of the folder at `folderPath` (a full path
// ending in a separator, below or at the start path) is left out.
bool IsExcluded(std::string_view folderPath, std::string_view name);

// Whether `text` matches `pattern`, where "*" matches any run of characters
// but the separator and "?" any one character but the separator.
bool MatchesWildcards(std::string_view pattern, std::string_view text);
