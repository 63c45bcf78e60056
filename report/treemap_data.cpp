#include "report/treemap_data.h"

#include <algorithm>

#include "console/format.h"
#include "console/held_sums.h"
#include "console/output.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "report/escape.h"
#include "settings/settings.h"

namespace {

// The subfolders of each folder met while placing files, by name.
using SubfolderIndex = std::unordered_map<const TDirEntry*, std::unordered_map<std::string_view, const TDirEntry*>>;

std::string_view NamePart(std::string_view path) {
  const size_t separator = path.rfind(platform::kPathSeparator);
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

const TDirEntry* SubfolderNamed(const TDirEntry& folder, std::string_view name, SubfolderIndex& index) {
  auto [names, added] = index.try_emplace(&folder);
  if (added) {
    for (const TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) {
      names->second.emplace(child->name, child);
    }
  }
  const auto found = names->second.find(name);
  return found == names->second.end() ? nullptr : found->second;
}

// The folder of the tree that holds the file at `path` below `top`: its
// own, or the folder that its own was folded into. A loop, not recursion:
// a path may be as deep as the tree.
const TDirEntry* PlaceOf(const TDirEntry& top, std::string_view path, SubfolderIndex& index) {
  const TDirEntry* place = &top;
  size_t start = 0;
  for (size_t end = path.find(platform::kPathSeparator); end != std::string_view::npos;
       start = end + 1, end = path.find(platform::kPathSeparator, start)) {
    const TDirEntry* subfolder = SubfolderNamed(*place, path.substr(start, end - start), index);
    if (subfolder == nullptr) break;
    place = subfolder;
  }
  return place;
}

int64_t AllTypesBytes() {
  int64_t bytes = 0;
  for (const FileType& type : FileTypes()) bytes = AddBytes(bytes, type.sums.bytes);
  return bytes;
}

std::string TrimmedPercent(int64_t part, int64_t whole) {
  std::string percent = FormatPercent(part, whole);
  percent.erase(0, percent.find_first_not_of(' '));
  return percent;
}

std::string TableCell(std::string_view text) { return "<td>" + EscapeHtml(text) + "</td>"; }

std::string ShownPath(std::string_view path) {
  std::string shown;
  AppendShownName(shown, path);
  return shown;
}

}  // namespace

std::string ScriptSafeJson(std::string_view text) {
  const std::string quoted = QuoteJsonString(text);
  std::string safe;
  safe.reserve(quoted.size());
  for (char c : quoted) {
    if (c == '<') {
      safe += "\\u003c";
    } else {
      safe += c;
    }
  }
  return safe;
}

void AddMember(std::string& node, std::string_view name, std::string_view jsonValue) {
  if (node.back() != '{') node += ',';
  node += '"';
  node += name;
  node += "\":";
  node += jsonValue;
}

FilesByFolder FilesOfFolders(const TDirEntry& top, const std::vector<ListedFile>& largest) {
  FilesByFolder files;
  SubfolderIndex index;
  for (const ListedFile& file : largest) {
    if (file.bytes <= 0) continue;  // no area to draw
    files[PlaceOf(top, file.path, index)].push_back(&file);
  }
  return files;
}

TypeColours ColourOfTypes() {
  TypeColours colours;
  const std::vector<FileType>& types = FileTypes();
  for (size_t i = 0; i < std::min(kColouredTypes, types.size()); ++i) colours.emplace(types[i].extension, i);
  return colours;
}

std::string MapTypesMembers() {
  std::string types = "[";
  const std::vector<FileType>& all = FileTypes();
  for (size_t i = 0; i < std::min(kColouredTypes, all.size()); ++i) {
    if (i > 0) types += ',';
    types += '[' + ScriptSafeJson(all[i].extension) + ',' + FormatPlainNumber(all[i].sums.bytes) + ',' +
             ScriptSafeJson(FormatSize(all[i].sums.bytes)) + ']';
  }
  types += ']';
  std::string members = "{";
  AddMember(members, "types", types);
  AddMember(members, "typeBytes", FormatPlainNumber(AllTypesBytes()));
  return members.substr(1);
}

std::string MapFileNode(const ListedFile& file, const TypeColours& colours) {
  const std::string type = FileTypeOf(NamePart(file.path));
  const auto colour = colours.find(type);
  std::string node = "{";
  AddMember(node, "n", ScriptSafeJson(NamePart(file.path)));
  AddMember(node, "k", "\"f\"");
  AddMember(node, "v", FormatPlainNumber(file.bytes));
  AddMember(node, "t", ScriptSafeJson(FormatSize(file.bytes)));
  AddMember(node, "e", ScriptSafeJson(type));
  AddMember(node, "y", std::to_string(colour == colours.end() ? kColouredTypes : colour->second));
  if (options.noteAges) AddMember(node, "a", FormatPlainNumber(file.modifiedSeconds));
  node += '}';
  return node;
}

void WriteLargestFilesTable(const std::string& startPath) {
  const std::vector<ListedFile>& files = LargestFiles();
  WriteOutLine("<h2>The largest files</h2>");
  WriteOutLine("<table class=\"largest files\"><tr><th>File</th><th>Size</th><th>Type</th></tr>");
  const std::string above = EnsureTrailingBackslash(startPath);
  for (size_t i = 0; i < std::min(kLargestFilesShown, files.size()); ++i) {
    WriteOutLine("<tr><td class=\"path\">" + EscapeHtml(ShownPath(above + files[i].path)) + "</td>" +
                 TableCell(FormatSize(files[i].bytes)) + TableCell(ShownPath(FileTypeOf(NamePart(files[i].path)))) +
                 "</tr>");
  }
  WriteOutLine("</table>");
}

void WriteFileTypesTable() {
  const int64_t whole = AllTypesBytes();
  WriteOutLine("<h2>File types by bytes</h2>");
  WriteOutLine("<table class=\"largest types\"><tr><th>Type</th><th>Size</th><th>Share</th><th>Files</th></tr>");
  for (const FileType& type : FileTypes()) {
    WriteOutLine("<tr><td class=\"path\">" + EscapeHtml(ShownPath(type.extension)) + "</td>" +
                 TableCell(FormatSize(type.sums.bytes)) + TableCell(TrimmedPercent(type.sums.bytes, whole)) +
                 TableCell(FormatCount(type.sums.files)) + "</tr>");
  }
  WriteOutLine("</table>");
}
