// -mft: the tree built from the NTFS master file table instead of a listing
// per folder. The table is read once into memory; the scan then lists each
// folder from it, so every rule of the scan (allowance, links, exclusions,
// folding) and every report stays the walk's.
#pragma once

#include <string>

struct TableRequest {
  bool wanted = false;  // -mft or -mft=FILE
  std::string file;     // -mft=FILE: the image or device; empty for the start folder's volume
};

extern TableRequest tableRequest;

// The start folder of the run: with -mft=FILE the path inside the volume as
// FILE:<path>, otherwise the expansion of `startFolder`. Empty, with
// `failure`, when that fails.
std::string StartPathOfRun(const std::string& startFolder, std::string& failure);

// In place of ReadDriveStats: with -mft, reads the table of the volume that
// holds `startPath` and its figures, and the scan lists folders from it. A
// table that cannot be read is named on standard error; then the walk goes
// on (true when the drive was read as ReadDriveStats reads it), or, for
// -mft=FILE, nothing can (false).
bool ReadDriveStatsFromTable(const std::string& startPath);
