#include "report/loaded_report.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <string_view>

#include <nlohmann/json.hpp>

#include "console/held_sums.h"
#include "platform/platform.h"
#include "report/json_report.h"
#include "scan/drive_stats.h"
#include "scan/exclusions.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace {

// A folder takes two levels (its object and its children's array); no
// folder path is a few thousand levels deep, and the limit keeps a hostile
// file from costing memory without end.
constexpr size_t kMaxNesting = 20000;

// What a report gives besides its tree.
struct ReportFacts {
  std::string program, created, path, host;
  bool hasPath = false, hasRoot = false, hasDrive = false;
  int64_t clusterSize = -1;
  int dirMode = -1, includeOffline = -1;  // -1 until given
  bool links = false, mounts = false;
  std::vector<std::string> exclude;
  DriveStats drive;
  std::string driveRoot, driveName;
  ScanTotals totals;
};

// The loaded reports of the run.
struct Loaded {
  bool loaded = false;
  std::string created;  // ISO 8601, as the first report gives it
  std::string host;
};

Loaded loaded;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeHex(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  bytes.clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]), low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

int32_t HeldCount(int64_t value) {
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

// The SAX reader of a report: the top object's members that the report
// shows, and each folder into a record of the tree. Other values are
// skipped unstored; the nesting is followed in `frames`, not by recursion.
struct TreeReader {
  enum class Place : uint8_t { top, drive, totals, folder, children, patterns };
  struct Frame {
    Place place;
    TDirEntry* folder;
    TDirEntry* lastChild = nullptr;
    int32_t childCount = 0;
    bool ordered = false;  // a child gave its place in the scan's order
    int64_t total = -1;    // -1 until the folder gives it
    bool named = false, namedByBytes = false;
  };

  TDirEntry& top;
  ReportFacts& facts;
  std::vector<Frame> frames;
  std::string currentKey;
  size_t skipping = 0;
  bool syntaxError = false, cutShort = false;
  size_t errorByte = 0;
  std::string pathBytes;

  TreeReader(TDirEntry& into, ReportFacts& into_facts) : top(into), facts(into_facts) {}

  bool NotAReport() { return false; }
  Place Here() const { return frames.back().place; }
  Frame& HereFrame() { return frames.back(); }
  TDirEntry& HereFolder() { return *frames.back().folder; }

  bool Complete() const {
    return facts.program == "tallyfold" && facts.hasPath && facts.hasRoot && facts.clusterSize >= 0 &&
           facts.dirMode >= 0 && facts.includeOffline >= 0;
  }

  bool NewChild() {
    Frame& parent = HereFrame();
    auto* child = new TDirEntry;
    if (parent.lastChild != nullptr) {
      parent.lastChild->next = child;
    } else {
      parent.folder->firstChild = child;
    }
    parent.lastChild = child;
    if (parent.childCount < std::numeric_limits<int32_t>::max()) parent.childCount += 1;
    frames.push_back({Place::folder, child});
    return true;
  }

  bool Deeper() const { return frames.size() + skipping < kMaxNesting; }

  bool start_object(std::size_t) {
    if (!Deeper()) return NotAReport();
    if (skipping > 0 || (!frames.empty() && Here() != Place::top && Here() != Place::children)) {
      skipping += 1;
    } else if (frames.empty()) {
      frames.push_back({Place::top, nullptr});
    } else if (Here() == Place::children) {
      return NewChild();
    } else if (currentKey == "root") {
      if (facts.hasRoot) return NotAReport();
      facts.hasRoot = true;
      frames.push_back({Place::folder, &top});
    } else if (currentKey == "drive") {
      facts.hasDrive = true;
      frames.push_back({Place::drive, nullptr});
    } else if (currentKey == "totals") {
      frames.push_back({Place::totals, nullptr});
    } else {
      skipping += 1;
    }
    return true;
  }

  bool start_array(std::size_t) {
    if (!Deeper()) return NotAReport();
    if (skipping > 0) {
      skipping += 1;
      return true;
    }
    if (frames.empty() || Here() == Place::children) return NotAReport();
    if (Here() == Place::folder && currentKey == "children") {
      frames.push_back({Place::children, &HereFolder()});
    } else if (Here() == Place::top && currentKey == "exclude") {
      frames.push_back({Place::patterns, nullptr});
    } else {
      skipping += 1;
    }
    return true;
  }

  // Without places in the scan's order, the children's listing order is
  // the reverse of the order the scan finished them in.
  static void NumberInListingOrder(const Frame& children) {
    int32_t order = children.childCount;
    for (TDirEntry* child = children.folder->firstChild; child != nullptr; child = child->next) {
      child->scanOrder = --order;
    }
  }

  bool end_object() {
    if (skipping > 0) {
      skipping -= 1;
      return true;
    }
    const Frame ended = frames.back();
    frames.pop_back();
    if (ended.place != Place::folder) return true;
    TDirEntry& folder = *ended.folder;
    if (ended.total < folder.localBytes || (!ended.named && ended.folder != &top)) return NotAReport();
    folder.subBytes = ended.total - folder.localBytes;
    return true;
  }

  bool end_array() {
    if (skipping > 0) {
      skipping -= 1;
      return true;
    }
    if (Here() == Place::children && !HereFrame().ordered) NumberInListingOrder(HereFrame());
    frames.pop_back();
    return true;
  }

  bool key(std::string& name) {
    if (skipping == 0) currentKey = name;
    return true;
  }

  bool ScalarAllowed() const { return skipping > 0 || (!frames.empty() && Here() != Place::children); }

  void SetName(std::string text, bool byBytes) {
    Frame& frame = HereFrame();
    if (frame.namedByBytes && !byBytes) return;
    frame.folder->name = std::move(text);
    frame.named = true;
    frame.namedByBytes = byBytes;
  }

  bool TopString(std::string& text) {
    if (currentKey == "program") facts.program = text;
    else if (currentKey == "created") facts.created = text;
    else if (currentKey == "host") facts.host = text;
    else if (currentKey == "path") {
      facts.path = text;
      facts.hasPath = true;
    } else if (currentKey == "pathBytes") {
      if (!DecodeHex(text, pathBytes)) return NotAReport();
    }
    return true;
  }

  bool string(std::string& text) {
    if (!ScalarAllowed()) return NotAReport();
    if (skipping > 0) return true;
    switch (Here()) {
      case Place::top: return TopString(text);
      case Place::patterns: facts.exclude.push_back(text); return true;
      case Place::drive:
        if (currentKey == "root") facts.driveRoot = text;
        if (currentKey == "name") facts.driveName = text;
        if (currentKey == "description") facts.drive.volumeDescription = text;
        return true;
      case Place::folder:
        if (currentKey == "name") SetName(text, false);
        if (currentKey == "nameBytes") {
          std::string bytes;
          if (!DecodeHex(text, bytes)) return NotAReport();
          SetName(std::move(bytes), true);
        }
        return true;
      default: return true;
    }
  }

  void FolderNumber(int64_t number) {
    Frame& frame = HereFrame();
    TDirEntry& folder = *frame.folder;
    if (currentKey == "total") frame.total = number;
    else if (currentKey == "own") folder.localBytes = number;
    else if (currentKey == "wasted") folder.wastedBytes = number;
    else if (currentKey == "files") folder.fileCount = HeldCount(number);
    else if (currentKey == "order") {
      folder.scanOrder = HeldCount(number);
      Frame& siblings = frames[frames.size() - 2];  // a folder's frame always has one above it
      if (siblings.place == Place::children) siblings.ordered = true;
    }
  }

  bool number_unsigned(std::uint64_t value) {
    if (!ScalarAllowed()) return NotAReport();
    if (skipping > 0 || value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return true;
    const auto number = static_cast<int64_t>(value);
    switch (Here()) {
      case Place::top:
        if (currentKey == "clusterSize") facts.clusterSize = number;
        break;
      case Place::drive:
        if (currentKey == "clusterSize") facts.drive.clusterSize = HeldCount(number);
        if (currentKey == "capacity") facts.drive.capacityBytes = number;
        if (currentKey == "free") facts.drive.freeBytes = number;
        if (currentKey == "used") facts.drive.usedBytes = number;
        break;
      case Place::totals:
        if (currentKey == "wasted") facts.totals.totalWasted = number;
        if (currentKey == "files") facts.totals.totalFiles = HeldCount(number);
        break;
      case Place::folder: FolderNumber(number); break;
      default: break;
    }
    return true;
  }

  bool boolean(bool value) {
    if (!ScalarAllowed()) return NotAReport();
    if (skipping > 0) return true;
    if (Here() == Place::top && currentKey == "dirMode") facts.dirMode = value;
    if (Here() == Place::top && currentKey == "includeOffline") facts.includeOffline = value;
    if (Here() == Place::top && currentKey == "links") facts.links = value;
    if (Here() == Place::top && currentKey == "mounts") facts.mounts = value;
    if (Here() == Place::folder && currentKey == "folded") HereFolder().folded = value;
    return true;
  }

  bool null() { return ScalarAllowed() || NotAReport(); }
  bool number_integer(std::int64_t) { return ScalarAllowed() || NotAReport(); }
  bool number_float(double, const std::string&) { return ScalarAllowed() || NotAReport(); }
  bool binary(nlohmann::json::binary_t&) { return NotAReport(); }

  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& error) {
    syntaxError = true;
    errorByte = position;
    cutShort = std::string_view(error.what()).find("unexpected end of input") != std::string_view::npos;
    return false;
  }
};

// The bytes of a stream, read a block at a time, as the JSON parser's input
// iterator: the parser then takes each byte without a call through the
// stream's buffer.
struct BlockReader {
  std::istream& input;
  std::vector<char> block = std::vector<char>(1 << 16);
  size_t at = 0, end = 0;

  bool Refill() {
    input.read(block.data(), static_cast<std::streamsize>(block.size()));
    end = static_cast<size_t>(input.gcount());
    at = 0;
    return end > 0;
  }
};

struct ByteIterator {
  using iterator_category = std::input_iterator_tag;
  using value_type = char;
  using difference_type = std::ptrdiff_t;
  using pointer = const char*;
  using reference = const char&;

  BlockReader* reader = nullptr;  // none once the input has ended

  reference operator*() const { return reader->block[reader->at]; }
  ByteIterator& operator++() {
    if (++reader->at == reader->end && !reader->Refill()) reader = nullptr;
    return *this;
  }
  bool operator==(const ByteIterator& other) const { return reader == other.reader; }
};

std::string NameOfFile(const std::string& file) { return file == "-" ? "standard input" : file; }

// Reads one report into `into` and `facts`; false with the message line in
// `failure`. A tree read only in part is released.
bool ReadReport(const std::string& file, TDirEntry& into, ReportFacts& facts, std::string& failure) {
  std::ifstream stream;
  std::istream* input = &std::cin;
  if (file != "-") {
    const std::filesystem::path filePath = platform::FilePath(file);
    std::error_code error;
    if (std::filesystem::is_directory(filePath, error)) {
      failure = "Cannot read the report " + file + ": it is a folder";
      return false;
    }
    stream.open(filePath, std::ios::binary);
    if (!stream) {
      failure = "Cannot read the report " + file + ": " + std::strerror(errno);
      return false;
    }
    input = &stream;
  }
  const std::string named = "The report " + NameOfFile(file);
  TreeReader reader(into, facts);
  BlockReader blocks{*input};
  const ByteIterator first{blocks.Refill() ? &blocks : nullptr};
  const bool parsed = nlohmann::json::sax_parse(first, ByteIterator{}, &reader);
  if (reader.syntaxError && reader.cutShort) {
    failure = named + " is cut short";
  } else if (reader.syntaxError) {
    failure = named + " is not JSON (syntax error at byte " + std::to_string(reader.errorByte) + ")";
  } else if (!parsed || !reader.Complete()) {
    failure = named + " is not a report of Tallyfold";
  }
  if (!failure.empty()) {
    FoldSubtree(into);
    return false;
  }
  if (!reader.pathBytes.empty()) facts.path = reader.pathBytes;
  return true;
}

// "2026-12-07T13:05:09+01:00" as the text reports write a time; the text as
// it is when it is no such time.
std::string CreatedText(const std::string& iso) {
  platform::WallClock clock{};
  char separator = 0;
  const int read = std::sscanf(iso.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d", &clock.year, &clock.month, &clock.day,
                               &separator, &clock.hour, &clock.minute, &clock.second);
  if (read != 7 || separator != 'T') return iso;
  return platform::FormatLocalDateTime(clock);
}

// The settings and figures of the run become the report's.
void TakeFacts(const ReportFacts& facts) {
  scanTotals = facts.totals;
  effectiveClusterSize = static_cast<int32_t>(std::clamp<int64_t>(facts.clusterSize, 1, 65536));
  options.dirMode = facts.dirMode == 1;
  if (options.dirMode) options.showWaste = false;
  options.includeOffline = facts.includeOffline == 1;
  options.countEveryLink = facts.links;
  options.crossMounts = facts.mounts;
  exclusions = Exclusions{};
  exclusions.givenPatterns = facts.exclude;
  if (!facts.hasDrive) {
    options.showDriveStats = false;
    return;
  }
  driveStats = facts.drive;
  driveName = !facts.driveName.empty() ? facts.driveName : facts.driveRoot;
}

void AddFigures(ScanTotals& sum, const ScanTotals& more) {
  sum.totalFiles = AddCount(sum.totalFiles, more.totalFiles);
  sum.totalWasted = AddBytes(sum.totalWasted, more.totalWasted);
}

// Reads each report into a folder of its own below the root "(N reports)".
bool MergeReports(const std::vector<std::string>& files, std::string& failure, std::string& warning) {
  root.name = std::to_string(files.size());
  root.name.insert(0, 1, '(');
  root.name += " reports)";
  ReportFacts first;
  ScanTotals totals;
  TDirEntry* last = nullptr;
  int32_t order = static_cast<int32_t>(files.size());
  for (const std::string& file : files) {
    ReportFacts facts;
    auto* part = new TDirEntry;
    if (!ReadReport(file, *part, facts, failure)) {
      delete part;
      return false;
    }
    (last != nullptr ? last->next : root.firstChild) = part;
    last = part;
    part->scanOrder = --order;
    part->name = (facts.host.empty() ? std::string("?") : facts.host) + ":" + facts.path;
    root.subBytes = AddBytes(root.subBytes, TotalBytes(*part));
    if (last == root.firstChild) {
      first = facts;
    } else if (facts.dirMode != first.dirMode) {
      failure = "The reports " + NameOfFile(files.front()) + " and " + NameOfFile(file) +
                " do not merge: one counted plain file sizes (-dir), the other whole clusters";
      return false;
    } else if (facts.clusterSize != first.clusterSize && warning.empty()) {
      warning = "The reports were counted with different cluster sizes; the cluster size of " +
                NameOfFile(files.front()) + " is shown";
    }
    AddFigures(totals, facts.totals);
  }
  first.totals = totals;
  TakeFacts(first);
  loaded.created = first.created;
  return true;
}

}  // namespace

bool LoadReports(const std::vector<std::string>& files, std::string& failure, std::string& warning) {
  loaded = Loaded{};
  root = TDirEntry{};
  if (files.size() > 1) {
    if (!MergeReports(files, failure, warning)) {
      FoldSubtree(root);
      return false;
    }
  } else {
    ReportFacts facts;
    if (!ReadReport(files.front(), root, facts, failure)) return false;
    root.name = facts.path;
    TakeFacts(facts);
    loaded.created = facts.created;
    loaded.host = facts.host;
  }
  loaded.loaded = true;
  return true;
}

bool ReportLoaded() { return loaded.loaded; }

std::string ReportCreatedText() { return loaded.loaded ? CreatedText(loaded.created) : platform::LocalDateTime(); }
std::string ReportCreatedIso() { return loaded.loaded ? loaded.created : IsoLocalDateTime(); }
std::string ReportHost() { return loaded.loaded && !loaded.host.empty() ? loaded.host : platform::HostName(); }

namespace {

// As the scan does on its way back up: a folder at the depth limit folds
// its subtree, and a folder smaller than the size limit folds into its parent.
void ShapeFolder(TDirEntry& folder, int32_t depth) {
  TDirEntry** link = &folder.firstChild;
  while (*link != nullptr) {
    TDirEntry* child = *link;
    ShapeFolder(*child, depth + 1);
    TDirEntry* const next = child->next;
    if (FoldFinishedChild(folder, child, depth + 1)) {
      *link = next;
    } else {
      link = &child->next;
    }
  }
}

}  // namespace

void ShapeLoadedTree() {
  ShapeFolder(root, 0);
  RelinkTree(root);
}
