#include "console/text.h"

#include <gtest/gtest.h>

TEST(PadLeft, AddsBlanksUpToTheWidthAndNeverCuts) {
  EXPECT_EQ(PadLeft("12", 5), "   12");
  EXPECT_EQ(PadLeft("123456", 4), "123456");
  EXPECT_EQ(PadLeft("", 3), "   ");
  EXPECT_EQ(PadLeft("\u2500\u2500", 4), "  \u2500\u2500");  // counts characters, not bytes
}

TEST(RepeatChar, RepeatsOneCharacter) {
  EXPECT_EQ(RepeatChar(0, "-"), "");
  EXPECT_EQ(RepeatChar(3, "-"), "---");
  EXPECT_EQ(RepeatChar(2, "\u2500"), "\u2500\u2500");
}

TEST(EnsureTrailingBackslash, AddsOneSeparatorOnlyWhenMissing) {
  EXPECT_EQ(EnsureTrailingBackslash("C:\\Data", '\\'), "C:\\Data\\");
  EXPECT_EQ(EnsureTrailingBackslash("D:\\", '\\'), "D:\\");
  EXPECT_EQ(EnsureTrailingBackslash("/home", '/'), "/home/");
  EXPECT_EQ(EnsureTrailingBackslash("/", '/'), "/");
}

TEST(ParentFolderText, CutsTheLastPartButNeverTheRoot) {
  const struct {
    const char* path;
    char separator;
    const char* parent;
  } cases[] = {
      {"C:\\a\\b", '\\', "C:\\a"},       {"C:\\a\\", '\\', "C:\\"},
      {"C:\\a", '\\', "C:\\"},            {"C:\\", '\\', "C:\\"},
      {"\\\\srv\\share\\dir", '\\', "\\\\srv\\share"},
      {"/a/b", '/', "/a"},                {"/a/", '/', "/"},
      {"/a", '/', "/"},                   {"/", '/', "/"},
  };
  for (const auto& c : cases) EXPECT_EQ(ParentFolderText(c.path, c.separator), c.parent) << c.path;
}

TEST(FirstChars, CountsCharactersNotBytes) {
  EXPECT_EQ(FirstChars("\u2500\u2500\u2500", 2), "\u2500\u2500");
  EXPECT_EQ(FirstChars("abc", 5), "abc");
}
