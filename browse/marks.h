// Navigation's marks: folders picked with Space, to be moved to the trash
// with one question for them all.
#pragma once

#include <cstddef>
#include <string>

#include "browse/folder_actions.h"

bool IsMarked(const TDirEntry& folder);
void FlipMark(const TDirEntry& folder);
size_t MarkCount();
void DropMarks();
// Drops the marks of `folder` and of the folders below it, before a change
// that may release their records.
void DropMarksWithin(const TDirEntry& folder);

// Delete and X with marks: asks once, "Move 2 folders (<size>, <files>
// files) to the trash? y/N", then removes each marked folder as a single
// removal does, every check and question for good included; a folder
// inside another marked one goes with it. A failure does not stop the
// rest. Returns what the bar says: the first failure, or nothing. The
// marks are dropped unless the answer was no.
std::string DeleteMarkedFolders(const std::string& startPath, const BarQuestions& ask);
