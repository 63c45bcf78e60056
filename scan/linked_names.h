// Where the scan met each name of a file with several hard links, in scan
// order, and at which of them it counted the file's bytes: a removal that
// takes the counted name moves the bytes to the name a fresh scan would
// count. Kept only for such files, and only in runs that may browse.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// The scan met a name of the linked file `volumeId`/`fileId` (of `bytes`,
// `slack` of them wasted) in the folder `folderPath` (with its separator),
// and counted its bytes there when `counted`.
void NoteLinkedName(uint64_t volumeId, uint64_t fileId, int64_t bytes, int64_t slack, const std::string& folderPath,
                    bool counted);

// A new scan begins.
void ForgetAllLinkedNames();

// The linked files whose bytes count at one of the names kept: a folder
// read again counts none of them again.
std::vector<std::pair<uint64_t, uint64_t>> CountedLinkedFiles();

// A linked file whose counted name went, and the first of its names left.
struct CountedMove {
  std::pair<uint64_t, uint64_t> file;
  std::string folderPath;  // with its separator
  int64_t bytes = 0;
  int64_t slack = 0;
};

// The folder `folderPath` and everything below it left the tree, or are
// read again: its names are forgotten. Returns the files counted there
// and named elsewhere in the tree, which count nowhere now.
std::vector<CountedMove> ForgetLinkedNamesBelow(const std::string& folderPath);

// The file of `move` counts at the first of its names left, as a fresh
// scan counts it.
void CountAtFirstName(const CountedMove& move);
