// After the pass over the table: which of the files that tie with the least
// of the largest kept the walk lists. Among files of equal bytes the walk
// lists those of the earlier paths; the pass meets them before the folders'
// paths are known, so it sums them, notes only their records, and reads
// those records again here, keeping no more of them than it lists.
#include <algorithm>
#include <string>
#include <vector>

#include "mft/table_reading.h"
#include "mft/volume_table.h"

namespace {

struct Candidate {
  std::string path;  // inside the volume, as the walk compares them
  PlainFile file;
  bool summed;  // a tie read again, not one kept by the pass
};

// The `room` candidates of the earliest paths: a heap whose front is the latest.
struct Earliest {
  size_t room = 0;
  std::vector<Candidate> heap;
};

bool Later(const Candidate& a, const Candidate& b) { return a.path < b.path; }

void Offer(Earliest& earliest, Candidate candidate) {
  if (earliest.room == 0) return;
  if (earliest.heap.size() == earliest.room) {
    if (!Later(candidate, earliest.heap.front())) return;
    std::pop_heap(earliest.heap.begin(), earliest.heap.end(), Later);
    earliest.heap.back() = std::move(candidate);
  } else {
    earliest.heap.push_back(std::move(candidate));
  }
  std::push_heap(earliest.heap.begin(), earliest.heap.end(), Later);
}

// The name in its parent of each folder listed, by its index in `files`.
std::vector<uint32_t> NamesOfFolders(const VolumeTable& table) {
  std::vector<uint32_t> nameOf(table.files.size(), kNoFile);
  for (size_t folder = 0; folder + 1 < table.firstChild.size(); ++folder) {
    for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
      const TableName& name = table.names[table.children[i]];
      if (table.files[name.file].isDirectory) nameOf[name.file] = table.children[i];
    }
  }
  return nameOf;
}

// The paths of the folders, the last one found held: ties come folder by folder.
struct FolderPaths {
  const VolumeTable& table;
  std::vector<uint32_t> nameOf;  // by folder, its name in its parent
  uint32_t held = kNoFile;
  bool reached = false;
  std::string path;  // with a separator after each name
};

// The path inside the volume of a file named `name` in `folder`; false where
// no walk from the root reaches the folder (a link on the way, or no parent).
bool PathOf(FolderPaths& paths, uint32_t folder, std::string_view name, std::string& path) {
  const VolumeTable& table = paths.table;
  if (folder != paths.held) {
    paths.held = folder;
    paths.reached = true;
    std::vector<std::string_view> parts;
    const uint32_t root = TableIndexOf(table, ntfs::kRootRecord);
    for (uint32_t at = folder; at != root; at = table.names[paths.nameOf[at]].parent) {
      paths.reached = paths.nameOf[at] != kNoFile && !table.files[at].isLink;
      if (!paths.reached) break;
      const TableName& own = table.names[paths.nameOf[at]];
      parts.push_back(std::string_view(table.nameBytes).substr(own.nameAt, own.nameLength));
    }
    paths.path = platform::kPathSeparator;
    for (auto part = parts.rbegin(); part != parts.rend(); ++part) (paths.path += *part) += platform::kPathSeparator;
  }
  if (!paths.reached) return false;
  (path = paths.path) += name;
  return true;
}

int64_t CountedBytes(const Reading& reading, const PlainFile& file, int64_t& slack) {
  return reading.counting->count(PlainEntryOf(reading.table, file), slack);
}

// A tie's record read again as a plain file one by one, its folder linked,
// and its name; false where it is no longer one in a folder in use (the
// volume changed).
bool ReadTiedFile(Reading& reading, uint32_t number, const uint8_t* at, std::vector<uint8_t>& record,
                  PlainFile& file, std::string& name, bool& damaged) {
  VolumeTable& table = reading.table;
  const size_t files = table.files.size(), names = table.names.size(), kept = table.plainList.size();
  const size_t nameBytes = table.nameBytes.size();
  const PlainFileCounting* counting = reading.counting;
  reading.counting = nullptr;  // one by one
  CopyRecordInUse(at, record.data(), reading.boot.recordSize);
  damaged = !TakeRecord(reading, number, record.data());
  reading.counting = counting;
  const bool plain = !damaged && table.plainList.size() == kept + 1;
  if (plain) {
    file = table.plainList.back();
    name.assign(table.nameBytes, file.nameAt, file.nameLength);
  }
  table.files.resize(files);
  table.names.resize(names);
  table.plainList.resize(kept);
  table.nameBytes.resize(nameBytes);
  if (!plain) return false;
  file.folder = TableIndexOf(table, file.folder);
  return file.folder != kNoFile && table.files[file.folder].inUse && table.files[file.folder].isDirectory &&
         table.files[file.folder].sequence == file.parentSequence;
}

// Takes a file chosen from its folder's sums: its bytes, slack and count.
void Unsum(Reading& reading, const PlainFile& file, std::string_view name) {
  int64_t slack = 0;
  const int64_t bytes = CountedBytes(reading, file, slack);
  VolumeTable& table = reading.table;
  PlainFileSums* sums = nullptr;
  if (!reading.counting->byType) {
    sums = const_cast<PlainFileSums*>(PlainFilesOf(table, file.folder));
  } else {
    const size_t dot = name.rfind('.');
    const std::string_view type = dot == std::string_view::npos ? std::string_view() : name.substr(dot);
    for (const PlainTypeSums& of : PlainTypesOf(table, file.folder)) {
      if (std::string_view(table.nameBytes).substr(of.typeAt, of.typeLength) == type) {
        sums = const_cast<PlainFileSums*>(&of.sums);
      }
    }
  }
  if (sums == nullptr || sums->files == 0) return;
  sums->files -= 1;
  sums->bytes = std::max<int64_t>(0, sums->bytes - bytes);
  sums->slack = std::max<int64_t>(0, sums->slack - slack);
}

// The chosen ties kept one by one, in the order the files kept are.
void KeepChosen(Reading& reading, std::vector<Candidate>& chosen) {
  VolumeTable& table = reading.table;
  for (Candidate& candidate : chosen) {
    table.keptBeforeTies.push_back(candidate.file.record);
    if (!candidate.summed) continue;
    const std::string_view name = std::string_view(candidate.path).substr(candidate.path.size() - candidate.file.nameLength);
    Unsum(reading, candidate.file, name);
    candidate.file.nameAt = static_cast<uint32_t>(table.nameBytes.size());
    table.nameBytes += name;
    table.plainList.push_back(candidate.file);
  }
  std::sort(table.keptBeforeTies.begin(), table.keptBeforeTies.end());
  std::erase_if(table.plainFiles, [](const PlainFileSums& sums) { return sums.files == 0; });
  std::erase_if(table.plainTypes, [](const PlainTypeSums& type) { return type.sums.files == 0; });
  std::sort(table.plainList.begin(), table.plainList.end(), [](const PlainFile& a, const PlainFile& b) {
    return a.folder != b.folder ? a.folder < b.folder : a.record < b.record;
  });
}

}  // namespace

bool KeepTiedFiles(Reading& reading) {
  if (reading.tied.empty() || reading.tiedBytes != reading.largest.front()) return true;
  VolumeTable& table = reading.table;
  FolderPaths paths{table, NamesOfFolders(table), kNoFile, false, {}};
  // The walk lists first those kept that are larger, then of those that tie the earliest paths.
  Earliest earliest;
  size_t larger = 0;
  int64_t slack = 0;
  for (const PlainFile& file : table.plainList) larger += CountedBytes(reading, file, slack) > reading.tiedBytes;
  earliest.room = reading.counting->keepLargest - std::min<size_t>(larger, reading.counting->keepLargest);
  std::string path, name;
  for (const PlainFile& file : table.plainList) {
    const std::string_view name = std::string_view(table.nameBytes).substr(file.nameAt, file.nameLength);
    if (CountedBytes(reading, file, slack) == reading.tiedBytes && PathOf(paths, file.folder, name, path)) {
      Offer(earliest, {path, file, false});
    }
  }
  const uint32_t size = reading.boot.recordSize;
  std::vector<uint8_t> buffer, record(size);
  RecordWindow window;
  for (uint32_t number = 0; number < reading.tied.size(); ++number) {
    if (!reading.tied[number]) continue;
    const uint8_t* at = RecordIn(reading, number, reading.recordCount - 1, window, buffer);
    if (at == nullptr) return Damaged(reading, number);
    if (number + kAskedAhead < window.first + window.records) AskForRecord(at + kAskedAhead * size, size);
    PlainFile file;
    bool damaged = false;
    if (!ReadTiedFile(reading, number, at, record, file, name, damaged)) {
      if (damaged) return false;
      continue;
    }
    // A tie with a least the kept have passed since is no tie.
    if (CountedBytes(reading, file, slack) == reading.tiedBytes && PathOf(paths, file.folder, name, path)) {
      Offer(earliest, {path, file, true});
    }
  }
  reading.tied = {};
  KeepChosen(reading, earliest.heap);
  return true;
}
