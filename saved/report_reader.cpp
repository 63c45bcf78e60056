#include "saved/report_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/platform.h"

namespace {

// A folder takes two levels (its object and its children's array) and
// more than 30 bytes ({"name":"","total":0,"children":[ at the least), so a
// report of this program is never nested deeper than a level per 8 bytes
// read so far. Anything deeper is not a report of this program; the bound
// keeps the memory of a hostile file's nesting within a few times its size,
// and any depth that a report can hold is read.
constexpr size_t kLeastBytesPerLevel = 8;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The bytes that `hex` spells, two digits a byte; false when it spells none.
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

// The bytes of a stream, read a block at a time, as the JSON parser's input
// iterator: the parser then takes each byte without a call through the
// stream's buffer.
struct BlockReader {
  std::istream& input;
  std::vector<char> block = std::vector<char>(1 << 16);
  size_t at = 0, end = 0;
  size_t before = 0;  // the bytes of the blocks before this one

  bool Refill() {
    before += end;
    input.read(block.data(), static_cast<std::streamsize>(block.size()));
    end = static_cast<size_t>(input.gcount());
    at = 0;
    return end > 0;
  }

  size_t BytesRead() const { return before + at; }
};

// What a folder's own name can be on this system.
bool IsFolderName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  if (name.find('\0') != std::string_view::npos || name.find('/') != std::string_view::npos) return false;
  return platform::kPathStyle == platform::PathStyle::Posix || name.find('\\') == std::string_view::npos;
}

// The SAX reader: the events of the parse, followed through the places of a
// report.
struct Reader {
  enum class Place : uint8_t { top, drive, totals, folder, children, patterns, files, file, types, type };
  struct Frame {
    Place place = Place::top;
    bool namedByBytes = false;
    ReportFolder folder;  // what a folder has given so far
  };

  const FolderKeeper& folders;
  ReportFacts& facts;
  const BlockReader& input;
  std::vector<Frame> frames;
  std::string currentKey;  // of the member whose value comes next
  size_t skipping = 0;     // levels of a value being skipped
  bool syntaxError = false, cutShort = false;
  size_t errorByte = 0;
  std::string pathBytes;
  // The entry of "files" or "types" being read: one at a time, at one depth,
  // so they are kept here rather than in every frame of the nesting.
  ListedFile file{};
  FileType type;

  Reader(const FolderKeeper& keeper, ReportFacts& into, const BlockReader& blocks)
      : folders(keeper), facts(into), input(blocks) {}

  // The key's length is known where it is written, so that each test is a
  // comparison of lengths and, where they agree, of bytes.
  bool KeyIs(std::string_view key) const { return currentKey == key; }

  // Stops the parse: a SAX event answered false ends it there.
  bool NotAReport() { return false; }
  Place Here() const { return frames.back().place; }
  Frame& HereFrame() { return frames.back(); }

  bool Complete() const {
    return facts.program == "tallyfold" && facts.hasPath && facts.hasRoot && facts.clusterSize >= 0 &&
           facts.dirMode >= 0 && facts.includeOffline >= 0;
  }

  void Enter(Place place) {
    frames.emplace_back();
    frames.back().place = place;
  }

  bool OpenFolder() {
    Enter(Place::folder);
    return folders.opens(folders.keeper);
  }

  // Opening an object or array: one level more, within what the bytes read
  // so far can hold.
  bool Deeper() const { return frames.size() + skipping <= 1 + input.BytesRead() / kLeastBytesPerLevel; }

  bool TakesObjects() const {
    const Place here = Here();
    return here == Place::top || here == Place::children || here == Place::files || here == Place::types;
  }

  bool start_object(std::size_t) {
    if (!Deeper()) return NotAReport();
    if (skipping > 0 || (!frames.empty() && !TakesObjects())) {
      skipping += 1;
    } else if (frames.empty()) {
      Enter(Place::top);
    } else if (Here() == Place::children) {
      return OpenFolder();
    } else if (Here() == Place::files) {
      Enter(Place::file);
      file = ListedFile{"", -1, 0, 0};
    } else if (Here() == Place::types) {
      Enter(Place::type);
      type = FileType{"", {-1, 0, 0}};
    } else if (KeyIs("root")) {
      if (facts.hasRoot) return NotAReport();
      facts.hasRoot = true;
      return OpenFolder();
    } else if (KeyIs("drive")) {
      facts.hasDrive = true;
      Enter(Place::drive);
    } else if (KeyIs("totals")) {
      Enter(Place::totals);
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
    if (Here() == Place::folder && KeyIs("children")) {
      Enter(Place::children);
    } else if (Here() == Place::top && KeyIs("exclude")) {
      Enter(Place::patterns);
    } else if (Here() == Place::top && KeyIs("files")) {
      facts.hasFiles = true;
      Enter(Place::files);
    } else if (Here() == Place::top && KeyIs("types")) {
      facts.hasTypes = true;
      Enter(Place::types);
    } else {
      skipping += 1;
    }
    return true;
  }

  bool end_object() {
    if (skipping > 0) {
      skipping -= 1;
      return true;
    }
    if (Here() == Place::file) return EndFile();
    if (Here() == Place::type) return EndType();
    if (Here() != Place::folder) {
      frames.pop_back();
      return true;
    }
    ReportFolder& folder = HereFrame().folder;
    // The root is known by the start path, every other folder by its name.
    const bool isRoot = frames[frames.size() - 2].place == Place::top;
    if (folder.total < 0 || (!isRoot && !(folder.named && NameAllowed(folder.name)))) return NotAReport();
    const bool kept = folders.closes(folders.keeper, folder);
    frames.pop_back();
    return kept;
  }

  // The root of several reports or folders names each by its path; below
  // those, and in every other report, a name is one folder's.
  bool NameAllowed(std::string_view name) const {
    const bool partOfSeveral = frames.size() == 4 && facts.path.starts_with('(') &&
                               (facts.path.ends_with(" reports)") || facts.path.ends_with(" folders)"));
    if (partOfSeveral) return !name.empty() && name.find('\0') == std::string_view::npos;
    return IsFolderName(name);
  }

  bool EndFile() {
    if (file.path.empty() || file.bytes < 0) return NotAReport();
    facts.files.push_back(std::move(file));
    frames.pop_back();
    return true;
  }

  bool EndType() {
    if (type.extension.empty() || type.sums.files < 0) return NotAReport();
    facts.types.push_back(std::move(type));
    frames.pop_back();
    return true;
  }

  bool end_array() {
    if (skipping > 0) {
      skipping -= 1;
    } else {
      frames.pop_back();
    }
    return true;
  }

  bool key(std::string& name) {
    if (skipping == 0) currentKey = name;
    return true;
  }

  // A scalar where only folder objects belong is not a report; anywhere
  // else a value of a member not read, or of the wrong type, is ignored
  // (a required member then stays missing).
  bool ScalarAllowed() const { return skipping > 0 || (!frames.empty() && Here() != Place::children); }

  bool TopString(const std::string& text) {
    if (KeyIs("program")) facts.program = text;
    else if (KeyIs("created")) facts.created = text;
    else if (KeyIs("host")) facts.host = text;
    else if (KeyIs("path")) {
      facts.path = text;
      facts.hasPath = true;
    } else if (KeyIs("pathBytes")) {
      return DecodeHex(text, pathBytes);
    }
    return true;
  }

  void DriveString(const std::string& text) {
    if (KeyIs("root")) facts.driveRoot = text;
    if (KeyIs("name")) facts.driveName = text;
    if (KeyIs("description")) facts.drive.volumeDescription = text;
  }

  void SetName(const std::string& name, bool byBytes) {
    Frame& frame = HereFrame();
    if (frame.namedByBytes && !byBytes) return;
    frame.folder.name = name;
    frame.folder.named = true;
    frame.namedByBytes = byBytes;
  }

  // A text or its bytes ("pathBytes", "extensionBytes") outranking it.
  bool EntryText(const std::string& text, std::string_view key, std::string& into) {
    Frame& frame = HereFrame();
    if (KeyIs(key) && !frame.namedByBytes) into = text;
    if (currentKey.size() == key.size() + 5 && currentKey.starts_with(key) && currentKey.ends_with("Bytes")) {
      if (!DecodeHex(text, into)) return false;
      frame.namedByBytes = true;
    }
    return true;
  }

  bool FileString(const std::string& text) {
    if (KeyIs("modified")) ParseIsoTime(text, file.modifiedSeconds);
    return EntryText(text, "path", file.path);
  }

  bool FolderString(const std::string& text) {
    if (KeyIs("modified")) {
      facts.hasAges = true;
      ParseIsoTime(text, HereFrame().folder.modifiedSeconds);
    }
    if (KeyIs("name")) SetName(text, false);
    if (KeyIs("nameBytes")) {
      std::string bytes;
      if (!DecodeHex(text, bytes)) return false;
      SetName(bytes, true);
    }
    return true;
  }

  bool string(std::string& text) {
    if (!ScalarAllowed()) return NotAReport();
    if (skipping > 0) return true;
    switch (Here()) {
      case Place::top: return TopString(text) || NotAReport();
      case Place::patterns: facts.exclude.push_back(text); return true;
      case Place::drive: DriveString(text); return true;
      case Place::folder: return FolderString(text) || NotAReport();
      case Place::file: return FileString(text) || NotAReport();
      case Place::type: return EntryText(text, "extension", type.extension) || NotAReport();
      default: return true;
    }
  }

  void FolderNumber(int64_t number) {
    ReportFolder& folder = HereFrame().folder;
    if (KeyIs("total")) folder.total = number;
    else if (KeyIs("own")) folder.own = number;
    else if (KeyIs("wasted")) folder.wasted = number;
    else if (KeyIs("files")) folder.files = number;
    else if (KeyIs("order")) folder.order = number;
  }

  void FileNumber(int64_t number) {
    if (KeyIs("bytes")) file.bytes = number;
    if (KeyIs("length")) file.length = number;
  }

  void TypeNumber(int64_t number) {
    TypeSums& sums = type.sums;
    if (KeyIs("files")) sums.files = number;
    if (KeyIs("bytes")) sums.bytes = number;
    if (KeyIs("wasted")) sums.wasted = number;
  }

  bool number_unsigned(std::uint64_t value) {
    if (!ScalarAllowed()) return NotAReport();
    if (skipping > 0 || value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return true;
    const auto number = static_cast<int64_t>(value);
    switch (Here()) {
      case Place::top:
        if (KeyIs("clusterSize")) facts.clusterSize = number;
        break;
      case Place::drive:
        if (KeyIs("clusterSize")) facts.drive.clusterSize = HeldCount(number);
        if (KeyIs("capacity")) facts.drive.capacityBytes = number;
        if (KeyIs("free")) facts.drive.freeBytes = number;
        if (KeyIs("used")) facts.drive.usedBytes = number;
        break;
      case Place::totals:
        if (KeyIs("wasted")) facts.totals.totalWasted = number;
        if (KeyIs("files")) facts.totals.totalFiles = HeldCount(number);
        if (KeyIs("unreadable")) facts.totals.unreadableFolders = HeldCount(number);
        break;
      case Place::folder: FolderNumber(number); break;
      case Place::file: FileNumber(number); break;
      case Place::type: TypeNumber(number); break;
      default: break;
    }
    return true;
  }

  bool boolean(bool value) {
    if (!ScalarAllowed()) return NotAReport();
    if (skipping > 0) return true;
    if (Here() == Place::top && KeyIs("dirMode")) facts.dirMode = value;
    if (Here() == Place::top && KeyIs("includeOffline")) facts.includeOffline = value;
    if (Here() == Place::top && KeyIs("links")) facts.links = value;
    if (Here() == Place::top && KeyIs("mounts")) facts.mounts = value;
    if (Here() == Place::folder && KeyIs("folded")) HereFrame().folder.folded = value;
    if (Here() == Place::folder && KeyIs("unreadable")) HereFrame().folder.unreadable = value;
    return true;
  }

  bool null() {
    if (!ScalarAllowed()) return NotAReport();
    // A folder whose subtree holds no file has no age.
    if (skipping == 0 && Here() == Place::folder && KeyIs("modified")) facts.hasAges = true;
    return true;
  }
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

}  // namespace

bool OpenReportFile(const std::string& file, const std::string& kind, std::ifstream& stream, std::string& failure) {
  const std::filesystem::path filePath = platform::FilePath(file);
  std::error_code error;
  if (std::filesystem::is_directory(filePath, error)) {
    failure = "Cannot read the " + kind + " " + file + ": it is a folder";
    return false;
  }
  stream.open(filePath, std::ios::binary);
  if (stream) return true;
  failure = "Cannot read the " + kind + " " + file + ": " + std::strerror(errno);
  return false;
}

bool ReadReport(std::istream& input, const std::string& named, const FolderKeeper& folders, ReportFacts& facts,
                std::string& failure) {
  BlockReader blocks{input};
  Reader reader{folders, facts, blocks};
  const ByteIterator first{blocks.Refill() ? &blocks : nullptr};
  const bool parsed = nlohmann::json::sax_parse(first, ByteIterator{}, &reader);
  if (reader.syntaxError && reader.cutShort) {
    failure = named + " is cut short";
  } else if (reader.syntaxError) {
    failure = named + " is not JSON (syntax error at byte " + std::to_string(reader.errorByte) + ")";
  } else if (!parsed || !reader.Complete()) {
    failure = named + " is not a report of Tallyfold";
  } else {
    if (!reader.pathBytes.empty()) facts.path = reader.pathBytes;
    return true;
  }
  return false;
}

namespace {

// The days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// The number of `digits` digits at `at` of `text`, which moves past them.
bool TakeDigits(std::string_view text, size_t& at, size_t digits, int64_t& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (size_t end = at + digits; at < end; ++at) {
    if (text[at] < '0' || text[at] > '9') return false;
    value = value * 10 + (text[at] - '0');
  }
  return true;
}

bool TakeChar(std::string_view text, size_t& at, char expected) {
  if (at >= text.size() || text[at] != expected) return false;
  at += 1;
  return true;
}

}  // namespace

bool ParseIsoTime(std::string_view text, int64_t& seconds) {
  int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, offsetHours = 0, offsetMinutes = 0;
  size_t at = 0;
  const bool dated = TakeDigits(text, at, 4, year) && TakeChar(text, at, '-') && TakeDigits(text, at, 2, month) &&
                     TakeChar(text, at, '-') && TakeDigits(text, at, 2, day) && TakeChar(text, at, 'T') &&
                     TakeDigits(text, at, 2, hour) && TakeChar(text, at, ':') && TakeDigits(text, at, 2, minute) &&
                     TakeChar(text, at, ':') && TakeDigits(text, at, 2, second);
  if (!dated || at >= text.size() || (text[at] != '+' && text[at] != '-')) return false;
  const int64_t sign = text[at++] == '-' ? -1 : 1;
  if (!TakeDigits(text, at, 2, offsetHours) || !TakeChar(text, at, ':') || !TakeDigits(text, at, 2, offsetMinutes) ||
      at != text.size() || month < 1 || month > 12 || day < 1 || day > 31) {
    return false;
  }
  const int64_t local = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  seconds = local - sign * (offsetHours * 3600 + offsetMinutes * 60);
  return true;
}

int32_t HeldCount(int64_t value) {
  return static_cast<int32_t>(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}
