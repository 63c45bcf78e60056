// The reader of an earlier report (-compare=): whatever the file holds, it is
// either refused with a message or loaded, and a loaded report compares with
// a small tree without a crash, with no negative count of gone folders.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

#include "fuzz_check.h"
#include "report/comparison.h"
#include "scan/tree.h"
#include "settings/settings.h"

namespace {

// /data holding "a" (holding the folded "b ...") and "c".
void BuildTree() {
  static TDirEntry a, b, c;
  root = TDirEntry{};
  root.name = "/data";
  root.localBytes = 4096;
  root.subBytes = 3 * 4096;
  a = TDirEntry{};
  a.name = "a";
  a.localBytes = a.subBytes = 4096;
  b = TDirEntry{};
  b.name = "b";
  b.folded = true;
  b.localBytes = 4096;
  c = TDirEntry{};
  c.name = "c";
  c.localBytes = 4096;
  root.firstChild = &a;
  a.next = &c;
  a.firstChild = &b;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string file = "/tmp/fuzz-compare-report-" + std::to_string(getpid()) + ".json";
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  options = ReportOptions{};
  effectiveClusterSize = 4096;
  BuildTree();
  std::string refusal;
  if (LoadComparison(file, "/data", refusal)) {
    FUZZ_CHECK(refusal.empty());
    CompareWithTree();
    OrderByGrowth();
    FUZZ_CHECK(GoneFolders() >= 0 && GoneBytes() >= 0);
    FUZZ_CHECK(GrowthOf(root).kind == Growth::Kind::known);
  } else {
    FUZZ_CHECK(!refusal.empty() && !Comparing());
  }
  ReleaseComparison();
  std::remove(file.c_str());
  return 0;
}
