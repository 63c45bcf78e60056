#include "scan/file_stats.h"

#include <algorithm>
#include <atomic>

#include "console/held_sums.h"
#include "settings/settings.h"

bool notingFiles = false;

namespace {

struct FileNotes {
  size_t startLength = 0;
  std::vector<ListedFile> largest;  // a heap, its front the least
  int64_t largestBytes = 0;
  std::unordered_map<std::string, TypeSums> types;
  std::vector<FileType> orderedTypes;
};

FileNotes notes;

// The size of the least listed file once the list is full, which only
// grows: a listing may skip a smaller file without a lock, since it can
// never enter; an old value only lets more through.
std::atomic<int64_t> leastListedBytes{0};

// Larger first; of equal sizes the earlier path.
bool Precedes(const ListedFile& a, const ListedFile& b) {
  if (a.bytes != b.bytes) return a.bytes > b.bytes;
  return a.path < b.path;
}

// -age alone notes only each folder's newest file.
bool NotesSingleFiles() { return options.topFiles > 0 || options.fileTypes; }

// Whether a file of `bytes` named `path` would enter `heap` of `limit` files.
bool Enters(const std::vector<ListedFile>& heap, size_t limit, int64_t bytes, std::string_view path) {
  if (heap.size() < limit) return true;
  const ListedFile& least = heap.front();
  return bytes > least.bytes || (bytes == least.bytes && path < least.path);
}

void Offer(std::vector<ListedFile>& heap, size_t limit, ListedFile file) {
  if (heap.size() == limit) {
    std::pop_heap(heap.begin(), heap.end(), Precedes);
    heap.back() = std::move(file);
  } else {
    heap.push_back(std::move(file));
  }
  std::push_heap(heap.begin(), heap.end(), Precedes);
}

void OfferOfFolder(FolderFiles& files, ListedFile file) {
  const size_t limit = static_cast<size_t>(options.topFiles);
  if (limit == 0 || !Enters(files.largest, limit, file.bytes, file.path)) return;
  Offer(files.largest, limit, std::move(file));
}

void AddToType(TypeSums& sums, int64_t files, int64_t bytes, int64_t wasted) {
  sums.files = AddBytes(sums.files, files);
  sums.bytes = AddBytes(sums.bytes, bytes);
  sums.wasted = AddBytes(sums.wasted, wasted);
}

// By bytes, then by extension; past kMaxFileTypes the rest summed as "(other)".
std::vector<FileType> OrderedTypes() {
  std::vector<FileType> types;
  types.reserve(notes.types.size());
  for (const auto& [extension, sums] : notes.types) types.push_back({extension, sums});
  std::sort(types.begin(), types.end(), [](const FileType& a, const FileType& b) {
    if (a.sums.bytes != b.sums.bytes) return a.sums.bytes > b.sums.bytes;
    return a.extension < b.extension;
  });
  if (types.size() <= kMaxFileTypes) return types;
  FileType other{"(other)", {}};
  for (size_t i = kMaxFileTypes; i < types.size(); ++i) {
    AddToType(other.sums, types[i].sums.files, types[i].sums.bytes, types[i].sums.wasted);
  }
  types.resize(kMaxFileTypes);
  types.push_back(std::move(other));
  return types;
}

}  // namespace

std::string FileTypeOf(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == name.size()) return "(none)";
  std::string extension(name.substr(dot + 1));
  if (platform::kNamesIgnoreCase) {
    for (char& c : extension) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return extension;
}

void BeginFileNotes(const std::string& startPath) {
  notingFiles = options.topFiles > 0 || options.fileTypes || options.noteAges;
  notes = FileNotes{};
  notes.startLength = startPath.size();
  leastListedBytes = 0;
  // Its full size at once: growing would hold the old and the new array.
  notes.largest.reserve(static_cast<size_t>(options.topFiles));
}

void NoteFile(std::unique_ptr<FolderFiles>& files, const platform::ListingEntry& entry, int64_t bytes,
              int64_t slack, bool linked) {
  if (files == nullptr) files = std::make_unique<FolderFiles>();
  files->newestModified = std::max(files->newestModified, entry.modifiedSeconds);
  if (!NotesSingleFiles()) return;
  if (linked) {
    files->linked.push_back({std::string(entry.name), bytes, entry.size, entry.modifiedSeconds});
    return;
  }
  if (options.fileTypes) AddToType(files->types[FileTypeOf(entry.name)], std::max(1, entry.summedFiles), bytes, slack);
  // Most files of a folder with many enter no list: their names are not
  // copied. Summed files are no single file.
  const size_t limit = static_cast<size_t>(options.topFiles);
  if (limit == 0 || entry.summedFiles != 0 || bytes < leastListedBytes.load(std::memory_order_relaxed)) return;
  if (!Enters(files->largest, limit, bytes, entry.name)) return;
  Offer(files->largest, limit, {std::string(entry.name), bytes, entry.size, entry.modifiedSeconds});
}

void NoteCountedLinkedFile(FolderFiles& files, size_t index, int64_t slack) {
  if (!NotesSingleFiles()) return;
  const ListedFile& file = files.linked[index];
  if (options.fileTypes) AddToType(files.types[FileTypeOf(file.path)], 1, file.bytes, slack);
  OfferOfFolder(files, file);
}

void TakeFolderFiles(const std::string& folderPath, FolderFiles& files) {
  const std::string_view relative = std::string_view(folderPath).substr(std::min(notes.startLength, folderPath.size()));
  const size_t limit = static_cast<size_t>(options.topFiles);
  std::string path;
  for (ListedFile& file : files.largest) {
    if (file.bytes < leastListedBytes.load(std::memory_order_relaxed)) continue;
    path.assign(relative);
    path += file.path;
    if (!Enters(notes.largest, limit, file.bytes, path)) continue;
    file.path = path;
    Offer(notes.largest, limit, std::move(file));
    if (notes.largest.size() == limit) leastListedBytes.store(notes.largest.front().bytes, std::memory_order_relaxed);
  }
  for (const auto& [extension, sums] : files.types) {
    AddToType(notes.types[extension], sums.files, sums.bytes, sums.wasted);
  }
}

void FinishFileNotes() {
  std::sort(notes.largest.begin(), notes.largest.end(), Precedes);
  notes.largestBytes = 0;
  for (const ListedFile& file : notes.largest) notes.largestBytes = AddBytes(notes.largestBytes, file.bytes);
  notes.orderedTypes = OrderedTypes();
  notes.types.clear();
}

void TakeSavedFileNotes(std::vector<ListedFile> largest, const std::vector<FileType>& types, size_t limit) {
  notes = FileNotes{};
  std::sort(largest.begin(), largest.end(), Precedes);
  if (largest.size() > limit) largest.resize(limit);
  notes.largest = std::move(largest);
  for (const FileType& type : types) {
    AddToType(notes.types[type.extension], type.sums.files, type.sums.bytes, type.sums.wasted);
  }
  FinishFileNotes();
}

const std::vector<FileType>& FileTypes() { return notes.orderedTypes; }

const std::vector<ListedFile>& LargestFiles() { return notes.largest; }

int64_t LargestFilesBytes() { return notes.largestBytes; }

void ForgetLargestFile(size_t index) {
  notes.largestBytes = AddBytes(notes.largestBytes, -notes.largest[index].bytes);
  notes.largest.erase(notes.largest.begin() + static_cast<std::ptrdiff_t>(index));
}

