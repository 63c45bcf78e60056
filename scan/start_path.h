// Turns the folder argument into the full path of the start folder.
#pragma once

#include <string>
#include <string_view>

// By the rules of the running system. Empty when the argument is relative
// and the current directory cannot be had (it was removed, say), with
// `failure` saying why; a full path never needs it.
std::string ExpandStartPath(const std::string& argument, std::string& failure);

// Drive-letter rules: full drive paths and UNC paths are kept; a path without
// a drive takes the current drive; a relative path is resolved against the
// current directory of its drive, with ".", ".\", ".." and "..\" applied.
std::string ExpandDrivePath(std::string_view argument, char currentDrive,
                            std::string (*currentDirectoryOfDrive)(char letter));

// POSIX rules: a path beginning with "/" is kept; any other is resolved
// against `currentDirectory` with the same treatment of "." and "..".
std::string ExpandPosixPath(std::string_view argument, std::string_view currentDirectory);

// Whether `expandedPath` names something that is there but is no folder (a
// file, say); false for a folder and for nothing at all.
bool NamesANonFolder(const std::string& expandedPath);
