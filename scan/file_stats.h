// What the scan notes of single files when a report asks for them: the
// largest files (-top) and the sums per file type (-types). Each folder's
// listing notes its files in a record of its own, which may be filled by a
// worker; the scan merges it into the run's figures when it takes the
// folder, in the same order with or without workers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"

struct ListedFile {
  std::string path;  // in a folder's record its name; merged, relative to the start folder
  int64_t bytes;     // as the scan counts them
  int64_t length;
  int64_t modifiedSeconds;
};

struct TypeSums {
  int64_t files = 0;
  int64_t bytes = 0;
  int64_t wasted = 0;
};

struct FileType {
  std::string extension;  // "(none)" and "(other)" name no extension
  TypeSums sums;
};

struct FolderFiles {
  // At most -top of its largest files, kept as a heap whose front is the
  // least of them.
  std::vector<ListedFile> largest;
  // Its files with several hard links, in the order of the folder's linked
  // files: the scan says which of them it counts.
  std::vector<ListedFile> linked;
  std::unordered_map<std::string, TypeSums> types;
  int64_t newestModified = 0;  // of its files, for -age
};

// Whether listings note files (-top, -types, -age); off, the listing's only
// cost is this test.
extern bool notingFiles;

// Before a scan that starts at `startPath` (with its separator).
void BeginFileNotes(const std::string& startPath);
// A file of a listing and the bytes the scan counts of it; a file with
// several hard links waits for NoteCountedLinkedFile.
void NoteFile(std::unique_ptr<FolderFiles>& files, const platform::ListingEntry& entry, int64_t bytes,
              int64_t slack, bool linked);
// The scan counts the folder's linked file `index` here, wasting `slack`.
void NoteCountedLinkedFile(FolderFiles& files, size_t index, int64_t slack);
// Merges what a folder at `folderPath` (with its separator) noted.
void TakeFolderFiles(const std::string& folderPath, FolderFiles& files);
// After the scan: puts the largest files and the file types in order.
void FinishFileNotes();
// In place of a scan's notes: the files and file types a saved report
// holds, put in order as FinishFileNotes does, and at most `limit` files.
void TakeSavedFileNotes(std::vector<ListedFile> largest, const std::vector<FileType>& types, size_t limit);
// The largest files, largest first, ties by path.
const std::vector<ListedFile>& LargestFiles();
// The bytes of the listed files.
int64_t LargestFilesBytes();
// Takes file `index` off the list (it was removed from the disk).
void ForgetLargestFile(size_t index);
// The type of a file named `name`: the part after its last dot, lower-cased
// where names ignore case; "(none)" without one.
std::string FileTypeOf(std::string_view name);
// The file types by bytes, at most kMaxFileTypes of them and then "(other)"
// for the rest.
const std::vector<FileType>& FileTypes();

inline constexpr size_t kMaxFileTypes = 1000;
