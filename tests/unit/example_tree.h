// The worked example the renderers are tested on, built in memory: a start
// folder with 10 MB of its own (12 files, 40 KB slack), Docs (5 MB, 100
// files, 200 KB slack) holding Old (1 MB, 10 files, 20 KB slack), and Music
// (20 MB, 300 files, 600 KB slack); 4 KB clusters; 422 files and 860 KB of
// slack in all; a drive of 500,107,862,016 bytes with 123,456,789,012 free,
// labelled DATA (NTFS).
#pragma once

#include <initializer_list>
#include <string>

#include "scan/tree.h"

// Builds the example under `root`, named `startPath`, with its totals and
// drive figures; returns Docs.
TDirEntry* BuildExampleTree(const std::string& startPath);
// Leaves the start folder alone, with only its own figures.
void RemoveExampleSubfolders();
// Releases the tree and clears the totals and drive figures.
void ReleaseExampleTree();

// The texts as lines, each with the platform's line end.
std::string Lines(std::initializer_list<std::string> texts);
