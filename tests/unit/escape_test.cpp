#include "report/escape.h"

#include <gtest/gtest.h>

TEST(EscapeHtml, TurnsMarkupCharactersIntoEntities) {
  const struct {
    const char* text;
    const char* escaped;
  } cases[] = {
      {"", ""},
      {"plain name", "plain name"},
      {"<b>x</b>", "&lt;b&gt;x&lt;/b&gt;"},
      {"Tom & Jerry", "Tom &amp; Jerry"},
      {"&amp;", "&amp;amp;"},  // an entity in a name is text, not markup
      {"say \"hi\"", "say &quot;hi&quot;"},
      {"it's", "it's"},
      {"a,b\tc\r\nd", "a,b\tc\r\nd"},  // commas, tabs and line breaks are plain HTML text
      {"C:\\Tools\\", "C:\\Tools\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeHtml(c.text), c.escaped) << c.text;
}

TEST(EscapeHtml, WritesTheBoxDrawingCharactersAsReferences) {
  EXPECT_EQ(EscapeHtml("\u2514\u251C\u2500\u2502"), "&#9492;&#9500;&#9472;&#9474;");
  EXPECT_EQ(EscapeHtml("  \u2502  \u2514\u2500\u2500<x>"), "  &#9474;  &#9492;&#9472;&#9472;&lt;x&gt;");
}

TEST(EscapeHtml, KeepsOtherCharactersAndBytesAsTheyAre) {
  EXPECT_EQ(EscapeHtml("Caf\u00e9 \u65e5\u672c"), "Caf\u00e9 \u65e5\u672c");
  EXPECT_EQ(EscapeHtml("\u2550"), "\u2550");  // a double bar is not in the graphics set
  EXPECT_EQ(EscapeHtml("bad \xff\xe2\x94 end"), "bad \xff\xe2\x94 end");  // cut sequence at the end
  EXPECT_EQ(EscapeHtml("\xe2\x94"), "\xe2\x94");
}

TEST(QuoteDelimitedField, QuotesAndDoublesInnerQuotes) {
  const struct {
    const char* text;
    const char* quoted;
  } cases[] = {
      {"", "\"\""},
      {"/data/", "\"/data/\""},
      {"C:\\Data\\Music", "\"C:\\Data\\Music\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"\"", "\"\"\"\""},
      {"a,b", "\"a,b\""},
      {"a\tb", "\"a\tb\""},
      {"a\nb\r\nc", "\"a\nb\r\nc\""},
      {"<&>", "\"<&>\""},
      {"Old ...", "\"Old ...\""},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteDelimitedField(c.text), c.quoted) << c.text;
}

TEST(QuoteJsonString, EscapesWhatAParserNeedsAndWritesPlainAscii) {
  const struct {
    const char* text;
    const char* quoted;
  } cases[] = {
      {"", "\"\""},
      {"plain/name", "\"plain/name\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"C:\\Data\\", "\"C:\\\\Data\\\\\""},
      {"a\tb\nc\rd", "\"a\\tb\\nc\\rd\""},
      {"\x01\x1f\x7f", "\"\\u0001\\u001f\\u007f\""},
      {"Caf\u00e9 \u65e5", "\"Caf\\u00e9 \\u65e5\""},
      {"\U0001F600", "\"\\ud83d\\ude00\""},                 // above U+FFFF: a surrogate pair
      {"bad\xff\xfe!", "\"bad\\ufffd\\ufffd!\""},            // each bad byte
      {"cut \xe6\x97", "\"cut \\ufffd\\ufffd\""},            // a sequence cut short
      {"\xc0\xaf", "\"\\ufffd\\ufffd\""},                    // an overlong "/"
      {"\xed\xa0\x80", "\"\\ufffd\\ufffd\\ufffd\""},         // a surrogate
      {"\xf4\x90\x80\x80", "\"\\ufffd\\ufffd\\ufffd\\ufffd\""},  // above U+10FFFF
  };
  for (const auto& c : cases) {
    EXPECT_EQ(QuoteJsonString(c.text), c.quoted) << c.text;
    const bool valid = std::string_view(c.quoted).find("ufffd") == std::string_view::npos;
    EXPECT_EQ(IsValidUtf8(c.text), valid) << c.text;
  }
}
