#include "report/growth.h"

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "console/format.h"
#include "console/held_sums.h"
#include "console/text.h"
#include "console/writer.h"
#include "platform/platform.h"
#include "settings/settings.h"

GrowthFigures growthFigures;

namespace {

// The largest gone folders that the console and HTML forms name.
constexpr int32_t kGoneShown = 10;

int64_t GrowthSortKey(const TDirEntry& folder) {
  if (!Comparing()) return TotalBytes(folder);
  const Growth growth = GrowthOf(folder);
  switch (growth.kind) {
    case Growth::Kind::known: return growth.bytes;
    case Growth::Kind::added: return TotalBytes(folder);
    case Growth::Kind::unreadable: return std::numeric_limits<int64_t>::min();
    case Growth::Kind::unknown: break;
  }
  return 0;
}

// Each folder's children are ordered apart from any other's: the folders
// wait in a stack of their own, which a tree of any depth fits.
void OrderChildren(TDirEntry& top) {
  std::vector<TDirEntry*> pending{&top};
  std::vector<TDirEntry*> children;
  while (!pending.empty()) {
    TDirEntry& folder = *pending.back();
    pending.pop_back();
    children.clear();
    for (TDirEntry* child = folder.firstChild; child != nullptr; child = child->next) children.push_back(child);
    if (children.empty()) continue;
    std::stable_sort(children.begin(), children.end(),
                     [](const TDirEntry* a, const TDirEntry* b) { return GrowthSortKey(*a) > GrowthSortKey(*b); });
    folder.firstChild = children.front();
    for (size_t i = 0; i < children.size(); ++i) {
      children[i]->next = i + 1 < children.size() ? children[i + 1] : nullptr;
      pending.push_back(children[i]);
    }
  }
}

// A folder read again with its earlier self, and the growth it had then.
struct CarriedPair {
  const TDirEntry* before;
  Growth then;
  const TDirEntry* now;
};

// Carries one pair's growth; its subfolders of the same names wait in
// `pending`, which a tree of any depth fits.
void CarryGrowthOfPair(const CarriedPair& pair, std::vector<CarriedPair>& pending) {
  const TDirEntry& before = *pair.before;
  const TDirEntry& now = *pair.now;
  const Growth& then = pair.then;
  Growth carried = then;
  if (then.kind == Growth::Kind::known) {
    carried.bytes = AddBytes(AddBytes(then.bytes, TotalBytes(now)), -TotalBytes(before));
  }
  growthFigures.growth[&now] = carried;
  std::vector<std::pair<std::string, const TDirEntry*>> beforeChildren;
  for (const TDirEntry* child = before.firstChild; child != nullptr; child = child->next) {
    beforeChildren.emplace_back(NameKey(child->name), child);
  }
  std::sort(beforeChildren.begin(), beforeChildren.end());
  const bool unknowable =
      then.kind == Growth::Kind::unknown || then.kind == Growth::Kind::unreadable || before.folded;
  for (const TDirEntry* child = now.firstChild; child != nullptr; child = child->next) {
    const std::string childKey = NameKey(child->name);
    const auto found = std::lower_bound(beforeChildren.begin(), beforeChildren.end(),
                                        std::pair<std::string, const TDirEntry*>(childKey, nullptr));
    if (found != beforeChildren.end() && found->first == childKey) {
      pending.push_back({found->second, GrowthOf(*found->second), child});
    } else {
      MarkGrowthOfSubtree(*child, unknowable ? Growth::Kind::unknown : Growth::Kind::added);
    }
  }
}

// `now` is what `before` was when the scan read it, read again: it keeps
// its earlier total, so its growth moves by what its total moved, and so do
// its folders' of the same names. A folder that the scan did not list,
// though nothing was folded into its parent, came after the scan and so
// after the earlier report too.
void CarryGrowth(const TDirEntry& before, const Growth& then, const TDirEntry& now) {
  std::vector<CarriedPair> pending{{&before, then, &now}};
  while (!pending.empty()) {
    const CarriedPair pair = pending.back();
    pending.pop_back();
    CarryGrowthOfPair(pair, pending);
  }
}

}  // namespace

// Names compare as the file system compares them: Windows ignores case,
// Linux compares bytes.
std::string NameKey(std::string_view name) {
  if (platform::kPathStyle == platform::PathStyle::Windows) return UpperText(name);
  return std::string(name);
}

bool SameOrInside(const std::string& inner, const std::string& outer) {
  return NameKey(EnsureTrailingBackslash(inner)).starts_with(NameKey(EnsureTrailingBackslash(outer)));
}

bool Overlapping(const std::string& a, const std::string& b) { return SameOrInside(a, b) || SameOrInside(b, a); }

void MarkGrowthOfSubtree(const TDirEntry& folder, Growth::Kind kind) {
  std::vector<const TDirEntry*> pending{&folder};
  while (!pending.empty()) {
    const TDirEntry* next = pending.back();
    pending.pop_back();
    growthFigures.growth[next] = Growth{kind, 0};
    for (const TDirEntry* child = next->firstChild; child != nullptr; child = child->next) pending.push_back(child);
  }
}

void OrderByGrowth() { OrderChildren(root); }

void CarryGrowthToRescan(const TDirEntry& before, TDirEntry& folder) {
  if (!growthFigures.loaded) return;
  CarryGrowth(before, GrowthOf(folder), folder);
  for (const TDirEntry* child = before.firstChild; child != nullptr; child = child->next) ForgetGrowth(*child);
}

void ForgetGrowth(const TDirEntry& folder) {
  std::vector<const TDirEntry*> pending{&folder};
  while (!pending.empty()) {
    const TDirEntry* next = pending.back();
    pending.pop_back();
    growthFigures.growth.erase(next);
    for (const TDirEntry* child = next->firstChild; child != nullptr; child = child->next) pending.push_back(child);
  }
}

void ShiftGrowth(const TDirEntry& folder, int64_t bytes) {
  const auto found = growthFigures.growth.find(&folder);
  if (found != growthFigures.growth.end() && found->second.kind == Growth::Kind::known) {
    found->second.bytes = AddBytes(found->second.bytes, bytes);
  }
}

void ReleaseComparison() { growthFigures = GrowthFigures{}; }

bool Comparing() { return growthFigures.loaded; }
bool GrowthShown() { return growthFigures.loaded && options.showGrowth; }

Growth GrowthOf(const TDirEntry& folder) {
  const auto found = growthFigures.growth.find(&folder);
  return found == growthFigures.growth.end() ? Growth{} : found->second;
}

std::string GrowthSizeText(const Growth& growth) {
  switch (growth.kind) {
    case Growth::Kind::known:
      if (growth.bytes > 0) return "+" + FormatSize(growth.bytes);
      if (growth.bytes < 0) return "-" + FormatSize(-growth.bytes);
      return FormatSize(0);
    case Growth::Kind::added: return "new";
    case Growth::Kind::unreadable: return "?";
    case Growth::Kind::unknown: break;
  }
  return "";
}

std::string GrowthPlainText(const Growth& growth) {
  switch (growth.kind) {
    case Growth::Kind::known: return FormatPlainNumber(growth.bytes);
    case Growth::Kind::added: return "new";
    case Growth::Kind::unreadable: return "?";
    case Growth::Kind::unknown: break;
  }
  return "";
}

const std::string& EarlierCreated() { return growthFigures.created; }
const std::string& EarlierPath() { return growthFigures.path; }
int64_t GoneFolders() { return growthFigures.goneFolders; }
int64_t GoneBytes() { return growthFigures.goneBytes; }

std::string ComparisonFooterText() {
  const int64_t gone = growthFigures.goneFolders;
  // The earlier report's text, as every name, cannot drive a terminal.
  std::string text = "Growth since the report of ";
  AppendShownName(text, growthFigures.created);
  return text + "; gone since then: " + FormatCount(gone) + (gone == 1 ? " folder, " : " folders, ") +
         FormatSize(growthFigures.goneBytes);
}

const std::vector<GoneFolder>& GoneList() { return growthFigures.gone; }

int32_t GoneLinesShown() {
  const auto named = static_cast<int32_t>(std::min<size_t>(growthFigures.gone.size(), kGoneFoldersListed));
  return std::min(named, kGoneShown);
}

std::string GoneLineText(int32_t line) {
  const GoneFolder& gone = growthFigures.gone[static_cast<size_t>(line)];
  std::string text = "  gone: ";
  AppendShownName(text, gone.path);
  return text + "  " + FormatSize(gone.bytes);
}
