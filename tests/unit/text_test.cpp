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

TEST(AppendControlsMasked, MasksC0DelAndC1ButNoOtherCharacter) {
  const struct {
    const char* text;
    const char* shown;
  } cases[] = {
      {"esc\x1b[31mred", "esc?[31mred"},  {"line\nbreak\r", "line?break?"}, {"tab\there\x7f", "tab?here?"},
      {"csi\xc2\x9b" "2J", "csi?2J"},     {"nel\xc2\x85", "nel?"},          {"nbsp\xc2\xa0", "nbsp\xc2\xa0"},
      {"caf\xc3\xa9 \u2514\u2500", "caf\xc3\xa9 \u2514\u2500"},             {"cut\xc2", "cut\xc2"},
  };
  for (const auto& c : cases) {
    std::string shown = "> ";
    AppendControlsMasked(shown, c.text);
    EXPECT_EQ(shown, std::string("> ") + c.shown) << c.text;
  }
}
