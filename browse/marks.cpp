#include "browse/marks.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "console/format.h"
#include "console/held_sums.h"
#include "report/report_origin.h"
#include "scan/tree_edit.h"
#include "settings/settings.h"

namespace {

// In the order they were marked.
std::vector<const TDirEntry*> marks;

// The chain from a child of the root down to `target`; none when the tree
// no longer holds it.
std::optional<FolderChain> ChainTo(const TDirEntry* target) {
  // Each entry: a folder and the chain down to it, walked without recursion
  // so that a tree of any depth is searched.
  std::vector<std::pair<TDirEntry*, size_t>> pending;
  FolderChain chain;
  for (TDirEntry* child = root.firstChild; child != nullptr; child = child->next) pending.push_back({child, 0});
  while (!pending.empty()) {
    const auto [folder, depth] = pending.back();
    pending.pop_back();
    chain.resize(depth);
    chain.push_back(folder);
    if (folder == target) return chain;
    for (TDirEntry* child = folder->firstChild; child != nullptr; child = child->next) {
      pending.push_back({child, depth + 1});
    }
  }
  return std::nullopt;
}

// The chains of the marked folders still in the tree, without those inside
// another marked folder, which go with it.
std::vector<FolderChain> OutermostMarkedChains() {
  std::vector<FolderChain> chains;
  for (const TDirEntry* mark : marks) {
    std::optional<FolderChain> chain = ChainTo(mark);
    if (!chain) continue;
    const bool inside = std::any_of(chain->begin(), chain->end() - 1, [](const TDirEntry* f) { return IsMarked(*f); });
    if (!inside) chains.push_back(std::move(*chain));
  }
  return chains;
}

// The question for all was answered yes already; one for good is still
// asked of each folder where no trash takes it.
const BarQuestions* batchQuestions = nullptr;
KeyRead AnsweredYes(const std::string&) { return {'y', 0, false}; }
std::string AskWordOfBatch(const std::string& question) { return batchQuestions->askWord(question); }
constexpr BarQuestions kAfterYes = {AnsweredYes, AskWordOfBatch};

}  // namespace

bool IsMarked(const TDirEntry& folder) { return std::find(marks.begin(), marks.end(), &folder) != marks.end(); }

void FlipMark(const TDirEntry& folder) {
  const auto found = std::find(marks.begin(), marks.end(), &folder);
  if (found == marks.end()) {
    marks.push_back(&folder);
  } else {
    marks.erase(found);
  }
}

size_t MarkCount() { return marks.size(); }

void DropMarks() { marks.clear(); }

void DropMarksWithin(const TDirEntry& folder) {
  std::vector<const TDirEntry*> pending = {&folder};
  while (!pending.empty() && !marks.empty()) {
    const TDirEntry* at = pending.back();
    pending.pop_back();
    std::erase(marks, at);
    for (const TDirEntry* child = at->firstChild; child != nullptr; child = child->next) pending.push_back(child);
  }
}

std::string DeleteMarkedFolders(const std::string& startPath, const BarQuestions& ask) {
  if (ReportLoaded()) return std::string(kNotOnLoadedReport);
  const std::vector<FolderChain> chains = OutermostMarkedChains();
  int64_t bytes = 0;
  int32_t files = 0;
  for (const FolderChain& chain : chains) {
    const FigureChange figures = FiguresOf(*chain.back());
    bytes = AddBytes(bytes, figures.bytes);
    files = AddCount(files, figures.files);
  }
  const std::string question = "Move " + FormatCount(static_cast<int64_t>(chains.size())) + " folders (" +
                               FormatSize(bytes) + ", " + FormatCount(files) + " files) to the trash? y/N";
  if (!SaidYes(ask.askKey(question))) return "";
  DropMarks();
  batchQuestions = &ask;
  std::string firstFailure;
  // Each removal leaves the others' chains as they were: only the removed
  // folder's own subtree is released or read again.
  for (const FolderChain& chain : chains) {
    const std::string outcome = DeleteFolder({startPath, chain}, kAfterYes);
    if (firstFailure.empty()) firstFailure = outcome;
  }
  batchQuestions = nullptr;
  return firstFailure;
}
