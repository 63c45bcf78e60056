#include "mft/table_scan.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>

#include "console/text.h"
#include "console/writer.h"
#include "mft/ntfs_record.h"
#include "mft/volume_table.h"
#include "platform/platform.h"
#include "scan/drive_stats.h"
#include "scan/exclusions.h"
#include "scan/folder_listing.h"
#include "scan/folder_reader.h"
#include "scan/scanner.h"
#include "scan/start_path.h"
#include "settings/settings.h"

TableRequest tableRequest;

namespace {

// The volume held open where plain files are kept by record, read again
// when listed: shown a MiB at a time, mapped again only when a folder's
// records lie past the block shown, as a folder's records mostly follow the
// last one's; read into `buffer` where it cannot be shown.
struct VolumeWindow {
  platform::RawVolume volume;
  int64_t at = 0;
  size_t bytes = 0;
  const uint8_t* shown = nullptr;
  std::vector<uint8_t> buffer;
};

// The table being listed, and how the scan's paths map onto it: the start
// folder's path `pathPrefix` stands for `prefixInVolume` inside the volume.
struct TableListing {
  VolumeTable table;
  std::string pathPrefix;
  std::string prefixInVolume;
  VolumeWindow window;
  std::mutex mutex;        // the scan may list from several threads
  std::mutex windowMutex;  // one reading of the volume at a time
  std::unordered_map<std::string, uint32_t> folders;  // scan path with separator -> record
};

TableListing listing;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

uint32_t ChildFolderNamed(const VolumeTable& table, uint32_t folder, std::string_view name) {
  for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
    const TableName& child = table.names[table.children[i]];
    const TableFile& file = table.files[child.file];
    if (TableEntryOf(table, child).name == name && file.isDirectory && !file.isLink) return child.file;
  }
  return kNoFile;
}

// The folder at a path inside the volume, name by name from the root.
uint32_t FolderAt(const VolumeTable& table, std::string_view path) {
  uint32_t folder = TableIndexOf(table, ntfs::kRootRecord);
  size_t at = 0;
  while (folder != kNoFile && at < path.size()) {
    if (path[at] == platform::kPathSeparator) {
      ++at;
      continue;
    }
    size_t end = path.find(platform::kPathSeparator, at);
    if (end == std::string_view::npos) end = path.size();
    folder = ChildFolderNamed(table, folder, path.substr(at, end - at));
    at = end;
  }
  return folder;
}

uint32_t FolderOfScanPath(const std::string& folderPath) {
  std::lock_guard<std::mutex> hold(listing.mutex);
  // A folder noted by its parent's listing is listed once by the scan;
  // another listing of it (a folder read again) finds it by its names.
  auto known = listing.folders.find(folderPath);
  if (known != listing.folders.end()) return listing.folders.extract(known).mapped();
  if (folderPath.compare(0, listing.pathPrefix.size(), listing.pathPrefix) != 0) return kNoFile;
  const uint32_t folder =
      FolderAt(listing.table, listing.prefixInVolume + folderPath.substr(listing.pathPrefix.size()));
  return folder;
}

void NoteSubfolders(const std::string& folderPath, uint32_t folder) {
  const VolumeTable& table = listing.table;
  std::lock_guard<std::mutex> hold(listing.mutex);
  for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
    const TableName& child = table.names[table.children[i]];
    const TableFile& file = table.files[child.file];
    if (file.isDirectory && !file.isLink) {
      std::string path = folderPath;
      path.append(TableEntryOf(table, child).name) += platform::kPathSeparator;
      listing.folders.emplace(std::move(path), child.file);
    }
  }
}

bool ReadFromRawVolume(void* context, int64_t offset, uint8_t* buffer, size_t bytes) {
  return platform::ReadRawVolume(*static_cast<platform::RawVolume*>(context), offset, buffer, bytes);
}

const uint8_t* ViewOfRawVolume(void* context, int64_t offset, size_t bytes) {
  return platform::ViewRawVolume(*static_cast<platform::RawVolume*>(context), offset, bytes);
}

bool ReadThroughWindow(void* context, int64_t offset, uint8_t* buffer, size_t bytes) {
  return platform::ReadRawVolume(static_cast<VolumeWindow*>(context)->volume, offset, buffer, bytes);
}

const uint8_t* ViewThroughWindow(void* context, int64_t offset, size_t bytes) {
  VolumeWindow& window = *static_cast<VolumeWindow*>(context);
  const auto end = static_cast<int64_t>(offset + bytes);
  if (window.shown == nullptr || offset < window.at || end > window.at + static_cast<int64_t>(window.bytes)) {
    if (window.volume.size < end) return nullptr;
    constexpr int64_t kBlock = 1 << 20;
    window.at = offset / kBlock * kBlock;
    window.bytes = static_cast<size_t>(std::min(window.volume.size, std::max(end, window.at + kBlock)) - window.at);
    window.shown = platform::ViewRawVolume(window.volume, window.at, window.bytes);
    if (window.shown == nullptr) return nullptr;
  }
  return window.shown + (offset - window.at);
}

// An entry for plain files summed, named `name`.
platform::ListingEntry SummedEntry(const PlainFileSums& sums, std::string_view name) {
  platform::ListingEntry plain;
  plain.name = name;
  plain.attributes = 0;
  plain.size = 0;
  plain.summedFiles = sums.files;
  plain.summedBytes = sums.bytes;
  plain.summedSlack = sums.slack;
  plain.modifiedSeconds = sums.newestModified;
  return plain;
}

// Lists a folder from the table as the system lists it: "." and "..", then
// every name kept in the folder's index order, and its plain files one by
// one or summed.
platform::ListStatus ListFolderFromTable(const std::string& folderPath, const platform::FolderIdentity&,
                                         platform::EntryVisitor visit, void* context) {
  const uint32_t folder = FolderOfScanPath(folderPath);
  if (folder == kNoFile) return platform::ListStatus::PathNotFound;
  NoteSubfolders(folderPath, folder);
  const VolumeTable& table = listing.table;
  platform::ListingEntry self;
  self.attributes = platform::kAttrDirectory;
  self.size = 0;
  self.name = ".";
  self.volumeId = table.volumeId;
  self.fileId = platform::NtfsFileId(table.files[folder].record, table.files[folder].sequence);
  visit(context, self);
  self.name = "..";
  self.fileId = 0;
  self.volumeId = 0;
  visit(context, self);
  for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
    visit(context, TableEntryOf(table, table.names[table.children[i]]));
  }
  for (const PlainFile& file : PlainFilesIn(table, folder)) visit(context, PlainEntryOf(table, file));
  if (!table.plainRecordNumbers.empty()) {
    std::lock_guard<std::mutex> hold(listing.windowMutex);
    const VolumeSource source{ReadThroughWindow, &listing.window, ViewThroughWindow};
    if (!ListPlainRecords(table, source, folder, listing.window.buffer, visit, context)) {
      return {platform::ListStatus::Failed, "the master file table cannot be read"};
    }
  }
  if (const PlainFileSums* sums = PlainFilesOf(table, folder)) visit(context, SummedEntry(*sums, ""));
  for (const PlainTypeSums& type : PlainTypesOf(table, folder)) {
    visit(context, SummedEntry(type.sums, std::string_view(table.nameBytes).substr(type.typeAt, type.typeLength)));
  }
  return platform::ListStatus::Listed;
}

// Whether the scan can take plain files summed: not for the browser (which
// may ask for a list of files; a document is written whole, also on a
// console). File types need the files of each type summed apart; ages only
// each folder's newest file. The largest files (and the map's, which lists
// that many) are those kept where the pass sees every file the scan sees:
// from the volume's root, nothing excluded.
bool SumsPlainFiles(bool fromRoot) {
  const bool browsed = options.pauseEachPage && options.outputMode != OutputMode::json &&
                       options.outputMode != OutputMode::map;
  return !browsed && (options.topFiles == 0 || (fromRoot && exclusions.givenPatterns.empty()));
}

// Whether the files kept one by one in the tree below the root hold as
// many as -top lists that each come before any file summed (larger, or as
// large with an earlier path): then no file summed is among the largest the
// scan finds. The folders the scan enters: none past a link, nor past the
// path limit.
bool KeptTheLargest(const VolumeTable& table, size_t rootLength) {
  if (options.topFiles == 0 || table.largestSummed < 0) return true;
  int64_t larger = 0;
  std::vector<std::pair<uint32_t, size_t>> pending{{TableIndexOf(table, ntfs::kRootRecord), rootLength}};
  while (!pending.empty() && larger < options.topFiles) {
    const auto [folder, length] = pending.back();
    pending.pop_back();
    for (const PlainFile& file : PlainFilesIn(table, folder)) {
      int64_t slack = 0;
      const int64_t bytes = CountedFileBytes(PlainEntryOf(table, file), slack);
      larger += bytes > table.largestSummed ||
                (bytes == table.largestSummed &&
                 std::binary_search(table.keptBeforeTies.begin(), table.keptBeforeTies.end(), file.record));
    }
    for (uint32_t i = table.firstChild[folder]; i < table.firstChild[folder + 1]; ++i) {
      const TableName& child = table.names[table.children[i]];
      const TableFile& file = table.files[child.file];
      const std::string_view name = TableEntryOf(table, child).name;
      if (file.isDirectory && !file.isLink && FitsPathLimit(length, std::string(name))) {
        pending.emplace_back(child.file, length + platform::PathLength(std::string(name)) + 1);
      }
    }
  }
  return larger >= options.topFiles;
}

// The run counts by -cl=# where given, else by the volume's own cluster size.
void TakeClusterSize(uint32_t clusterSize) {
  effectiveClusterSize =
      options.requestedClusterSize != 0 ? options.requestedClusterSize : static_cast<int32_t>(clusterSize);
}

// Reads the table of `device`, whose root the scan starts at where
// `rootLength` (the start path's length with its separator) is not 0; false
// with the line that says why written.
bool ReadTable(const std::string& device, const char* instead, size_t rootLength) {
  platform::RawVolume volume;
  std::string reason;
  TableFailure failure;
  const PlainFileCounting counting{TakeClusterSize, CountedFileBytes, options.fileTypes,
                                   static_cast<uint32_t>(options.topFiles)};
  bool read = platform::OpenRawVolume(device, volume, reason);
  if (read) {
    const VolumeSource source{ReadFromRawVolume, &volume, ViewOfRawVolume};
    const bool summing = SumsPlainFiles(rootLength != 0);
    read = ReadVolumeTable(source, volume.size, summing ? &counting : nullptr, listing.table, failure);
    // Some of the largest kept lie where the scan does not go: every file one by one.
    if (read && summing && !KeptTheLargest(listing.table, rootLength)) {
      read = ReadVolumeTable(source, volume.size, nullptr, listing.table, failure);
    }
    reason = failure.reason;
  }
  if (read && !listing.table.plainRecordNumbers.empty()) {
    listing.window.volume = volume;
    return true;
  }
  platform::CloseRawVolume(volume);
  if (read) return true;
  if (failure.damaged) {
    WriteErrorLine("The master file table of " + device + " is damaged at record " + std::to_string(failure.record) +
                   instead);
  } else {
    WriteErrorLine("Cannot read the master file table of " + device + ": " + reason + instead);
  }
  listing.table = VolumeTable{};
  return false;
}

void TakeTableFigures() {
  const VolumeTable& table = listing.table;
  driveStats.clusterSize = static_cast<int32_t>(table.clusterSize);
  driveStats.capacityBytes = table.capacityBytes;
  driveStats.freeBytes = table.freeBytes;
  driveStats.usedBytes = table.capacityBytes - table.freeBytes;
  folderLister = ListFolderFromTable;
}

// -mft=FILE: the volume's own figures and its label; its root has no allowance.
bool ReadImageTable(const std::string& startPath) {
  const bool fromRoot = startPath.size() == tableRequest.file.size() + 2;
  if (!ReadTable(tableRequest.file, "", fromRoot ? platform::PathLength(startPath) : 0)) return false;
  TakeTableFigures();
  listing.pathPrefix = EnsureTrailingBackslash(startPath);
  listing.prefixInVolume = EnsureTrailingBackslash(startPath.substr(tableRequest.file.size() + 1));
  driveName = tableRequest.file;
  driveStats.volumeDescription = listing.table.label + " (NTFS)";
  allowanceFreeRoot = tableRequest.file + ":" + platform::kPathSeparator;
  return true;
}

// -mft: the drive as the walk names it, its figures from the table.
bool ReadMountedTable(const std::string& startPath) {
  if (!ReadDriveStats(startPath)) return false;
  platform::VolumeLocation location;
  std::string reason;
  constexpr const char* kInstead = "; listing the folders instead";
  if (!platform::LocateVolume(startPath, location, reason)) {
    WriteErrorLine("Cannot read the master file table of " + location.device + ": " + reason + kInstead);
    return true;
  }
  const bool fromRoot = EnsureTrailingBackslash(location.pathInVolume).size() == 1;
  const std::string root = EnsureTrailingBackslash(startPath);
  if (!ReadTable(location.device, kInstead, fromRoot ? platform::PathLength(root) : 0)) return true;
  listing.pathPrefix = EnsureTrailingBackslash(startPath);
  listing.prefixInVolume = EnsureTrailingBackslash(location.pathInVolume);
  // The browser's actions check what they reach against the system's identities.
  listing.table.volumeId = platform::NtfsVolumeId(startPath);
  TakeTableFigures();
  return true;
}

}  // namespace

std::string StartPathOfRun(const std::string& startFolder, std::string& failure) {
  if (tableRequest.file.empty()) return ExpandStartPath(startFolder, failure);
  std::string inside = startFolder == "." ? "" : startFolder;
  for (char& c : inside) {
    if (IsSeparator(c)) c = platform::kPathSeparator;
  }
  if (inside.empty() || inside[0] != platform::kPathSeparator) inside.insert(inside.begin(), platform::kPathSeparator);
  return tableRequest.file + ":" + inside;
}

bool ReadDriveStatsFromTable(const std::string& startPath) {
  if (!tableRequest.wanted) return ReadDriveStats(startPath);
  if (!tableRequest.file.empty()) return ReadImageTable(startPath);
  return ReadMountedTable(startPath);
}
