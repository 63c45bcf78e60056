// The Windows backend's own promises, built into the Windows unit tests only.
#include <gtest/gtest.h>
#include <windows.h>

#include <initializer_list>
#include <string>

#include "platform/platform.h"
#include "platform/win32/console.h"
#include "platform/win32/wide_text.h"

namespace {

TEST(Win32Console, PagesByTheWindowAndWrapsAtTheBufferWidth) {
  const struct {
    SHORT bufferRows;
    SHORT windowTop;
    SHORT windowBottom;
    int pageLength;
  } cases[] = {
      {25, 0, 24, 24},        // the classic 80 x 25 console
      {9001, 0, 29, 29},      // Windows 10 and 11: a tall buffer behind 30 rows
      {9001, 8970, 8999, 29}, // the same window scrolled down
  };
  for (const auto& c : cases) {
    CONSOLE_SCREEN_BUFFER_INFO screen{};
    screen.dwSize = {120, c.bufferRows};
    screen.srWindow = {0, c.windowTop, 99, c.windowBottom};
    const platform::ConsoleFacts facts = platform::win32::FactsOfScreen(screen);
    EXPECT_FALSE(facts.outputRedirected);
    EXPECT_EQ(facts.pageLength, c.pageLength) << c.bufferRows << " rows from " << c.windowTop;
    EXPECT_EQ(facts.screenWidth, 120);
  }
}

TEST(Win32Console, EncodesAFileInTheCodePageWithTheBoxBytesOfCodePage437) {
  // "a-macron omega han", a blank, the tree's tee and a share bar's block:
  // the UTF-8 code page and GB18030 keep every character; code page 1252
  // has none of the three letters and must not write a look-alike "a".
  // UTF-8 and GB18030 refuse any flag.
  const std::string text = "\xc4\x81\xce\xa9\xe6\xbc\xa2 \xe2\x94\x9c\xe2\x96\x88";
  const struct {
    UINT codePage;
    std::string bytes;
    DWORD flags;
  } cases[] = {
      {1252, "??? \xC3\xDB", WC_NO_BEST_FIT_CHARS},
      {65001, "\xc4\x81\xce\xa9\xe6\xbc\xa2 \xC3\xDB", 0},
      {54936, "\xa8\xa1\xa6\xb8\x9d\x68 \xC3\xDB", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::win32::NoLookAlikeFlags(c.codePage), c.flags) << c.codePage;
    // Wine 8 has no GB18030 tables: there the row checks the flags alone.
    if (!IsValidCodePage(c.codePage)) continue;
    EXPECT_EQ(platform::win32::EncodeForFile(text, c.codePage), c.bytes) << c.codePage;
  }
}

TEST(Win32Console, AMissingStandardHandleIsAFailedOne) {
  // A process started without a standard input has NULL for it.
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  for (const HANDLE missing : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
    SetStdHandle(STD_INPUT_HANDLE, missing);
    platform::ConsoleFacts facts{};
    std::string failure;
    EXPECT_FALSE(platform::OpenConsole(facts, failure)) << missing;
    EXPECT_EQ(failure, "Cannot get console input handle.");
  }
  SetStdHandle(STD_INPUT_HANDLE, input);
}

constexpr wchar_t kSettingsKey[] = L"SOFTWARE\\Quenlow\\Tallyfold";

bool SettingsKeyExists() {
  HKEY key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

TEST(Win32Settings, ReadingLeavesNoKeyWhereThereWasNone) {
  const std::string saved = platform::ReadStoredDefaults();
  RegDeleteKeyW(HKEY_CURRENT_USER, kSettingsKey);
  ASSERT_FALSE(SettingsKeyExists());

  EXPECT_EQ(platform::ReadStoredDefaults(), "");
  EXPECT_FALSE(SettingsKeyExists());

  std::string failure;
  ASSERT_TRUE(platform::WriteStoredDefaults(saved, failure)) << failure;
  EXPECT_TRUE(SettingsKeyExists());
}

std::wstring ClipboardText() {
  if (!OpenClipboard(nullptr)) return L"(clipboard not opened)";
  std::wstring text = L"(no text)";
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    text = static_cast<const wchar_t*>(GlobalLock(data));
    GlobalUnlock(data);
  }
  CloseClipboard();
  return text;
}

TEST(Win32Shell, TextReallyLandsOnTheClipboard) {
  const std::string target = "C:\\Program Files\\Tallyfold\\config \xce\xa9.exe";
  platform::PutOnClipboard(target);
  EXPECT_EQ(ClipboardText(), platform::win32::Widen(target));
}

}  // namespace
