#include "scan/linked_names.h"

#include <algorithm>
#include <map>
#include <utility>

#include "settings/settings.h"

namespace {

struct Name {
  uint32_t folder;  // in folderPaths
  bool counted;
};

struct LinkedFile {
  int64_t bytes;
  int64_t slack;
  std::vector<Name> names;  // in scan order
};

// Each folder that holds a linked file once, as the scan met them.
std::vector<std::string> folderPaths;
std::map<std::pair<uint64_t, uint64_t>, LinkedFile> linkedFiles;

bool IsBelow(const std::string& path, const std::string& folderPath) {
  return path.compare(0, folderPath.size(), folderPath) == 0;
}

}  // namespace

void NoteLinkedName(uint64_t volumeId, uint64_t fileId, int64_t bytes, int64_t slack, const std::string& folderPath,
                    bool counted) {
  // Only the browser removes anything, and it runs only where pages pause.
  if (!options.pauseEachPage) return;
  if (folderPaths.empty() || folderPaths.back() != folderPath) folderPaths.push_back(folderPath);
  LinkedFile& file = linkedFiles.try_emplace({volumeId, fileId}, LinkedFile{bytes, slack, {}}).first->second;
  file.names.push_back({static_cast<uint32_t>(folderPaths.size() - 1), counted});
}

void ForgetAllLinkedNames() {
  linkedFiles.clear();
  folderPaths.clear();
}

std::vector<std::pair<uint64_t, uint64_t>> CountedLinkedFiles() {
  std::vector<std::pair<uint64_t, uint64_t>> counted;
  for (const auto& [id, file] : linkedFiles) {
    if (std::ranges::any_of(file.names, &Name::counted)) counted.push_back(id);
  }
  return counted;
}

std::vector<CountedMove> ForgetLinkedNamesBelow(const std::string& folderPath) {
  std::vector<CountedMove> moves;
  for (auto file = linkedFiles.begin(); file != linkedFiles.end();) {
    std::vector<Name>& names = file->second.names;
    bool countedWent = false;
    bool countedStays = false;
    std::erase_if(names, [&](const Name& name) {
      const bool went = IsBelow(folderPaths[name.folder], folderPath);
      (went ? countedWent : countedStays) |= name.counted;
      return went;
    });
    if (countedWent && !countedStays && !names.empty()) {
      moves.push_back({file->first, folderPaths[names.front().folder], file->second.bytes, file->second.slack});
    }
    file = names.empty() ? linkedFiles.erase(file) : std::next(file);
  }
  return moves;
}

void CountAtFirstName(const CountedMove& move) {
  const auto file = linkedFiles.find(move.file);
  if (file != linkedFiles.end()) file->second.names.front().counted = true;
}
