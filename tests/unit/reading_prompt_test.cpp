#include <gtest/gtest.h>

#include "console/format.h"
#include "scan/reading_prompt.h"

namespace {

TEST(ReadingPrompt, ProgressFiguresSayFoldersFilesBytesTimeAndShareOfUsedSpace) {
  thousandsSeparator = ',';
  struct Row {
    int64_t folders, files, bytes, seconds, usedSpace;
    const char* expected;
  } rows[] = {
      {1, 0, 0, 1, 0, "  1 folders, 0 files, 0 bytes, 0:01"},
      {12478, 121719, 188327936, 65, 0, "  12,478 folders, 121,719 files, 179.6 MB, 1:05"},
      {5, 7, 1024, 3725, 0, "  5 folders, 7 files, 1 KB, 1:02:05"},
      {5, 7, 250, 9, 1000, "  5 folders, 7 files, 250 bytes, 0:09, 25% of used space"},
      {5, 7, 2000, 9, 1000, "  5 folders, 7 files, 2 KB, 0:09, 100% of used space"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(ProgressFigures(row.folders, row.files, row.bytes, row.seconds, row.usedSpace), row.expected);
  }
}

}  // namespace
