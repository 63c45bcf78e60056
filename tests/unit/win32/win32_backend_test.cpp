// The Windows backend's own promises, built into the Windows unit tests only.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, whose types it uses.
#include <winioctl.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
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
    bool lost;  // characters the code page lacks were written as "?"
  } cases[] = {
      {1252, "??? \xC3\xDB", WC_NO_BEST_FIT_CHARS, true},
      {65001, "\xc4\x81\xce\xa9\xe6\xbc\xa2 \xC3\xDB", 0, false},
      {54936, "\xa8\xa1\xa6\xb8\x9d\x68 \xC3\xDB", 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::win32::NoLookAlikeFlags(c.codePage), c.flags) << c.codePage;
    // Wine 8 has no GB18030 tables: there the row checks the flags alone.
    if (!IsValidCodePage(c.codePage)) continue;
    bool lost = false;
    EXPECT_EQ(platform::win32::EncodeForFile(text, c.codePage, &lost), c.bytes) << c.codePage;
    EXPECT_EQ(lost, c.lost) << c.codePage;
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

TEST(Win32Paths, FullPathsTakeTheLongForm) {
  const struct {
    const char* path;
    const wchar_t* longForm;
  } cases[] = {
      {"C:\\Data\\", L"\\\\?\\C:\\Data\\"},
      {"C:\\Data\\data.\\x ", L"\\\\?\\C:\\Data\\data.\\x "},  // closing dots and blanks kept
      {"C:\\a\\.\\b\\..\\..\\..\\c/d", L"\\\\?\\C:\\c\\d"},   // never above the root
      {"\\\\server\\share\\x\\", L"\\\\?\\UNC\\server\\share\\x\\"},
      {"\\\\server\\share", L"\\\\?\\UNC\\server\\share\\"},
      {"\\\\?\\C:\\a\\..\\b", L"\\\\?\\C:\\a\\..\\b"},        // already long: as it is
      {"relative\\x", L"relative\\x"},
  };
  for (const auto& c : cases) EXPECT_EQ(platform::win32::LongPath(c.path), c.longForm) << c.path;
}

// Folders made in a temporary folder of their own, listed through the backend.
class Win32Listing : public ::testing::Test {
 protected:
  void SetUp() override {
    root = std::filesystem::temp_directory_path() /
           (std::string("tallyfold_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
  }
  void TearDown() override { std::filesystem::remove_all(root); }

  std::string Folder(const std::string& name = "") const {
    return platform::win32::Narrow((name.empty() ? root : root / name).wstring()) + "\\";
  }

  std::map<std::string, platform::ListingEntry> List(const std::string& folder,
                                                     platform::ListStatus* status = nullptr) const {
    std::map<std::string, platform::ListingEntry> seen;
    const platform::ListStatus listed = platform::ListFolder(
        folder, {},
        [](void* context, const platform::ListingEntry& entry) {
          (*static_cast<std::map<std::string, platform::ListingEntry>*>(context))[std::string(entry.name)] = entry;
        },
        &seen);
    if (status != nullptr) *status = listed;
    return seen;
  }

  std::filesystem::path root;
};

TEST_F(Win32Listing, AFolderReplacedSinceItsParentWasListedIsNotRead) {
  std::filesystem::create_directory(root / "child");
  std::filesystem::create_directory(root / "other");
  std::ofstream(root / "other" / "outside") << "x";
  const platform::ListingEntry child = List(Folder())["child"];
  const platform::FolderIdentity seen{child.volumeId, child.fileId};
  ASSERT_NE(seen.fileId, 0u);

  std::filesystem::rename(root / "child", root / "moved");
  std::filesystem::rename(root / "other", root / "child");
  int visits = 0;
  auto count = [](void* context, const platform::ListingEntry&) { ++*static_cast<int*>(context); };
  EXPECT_EQ(platform::ListFolder(Folder("child"), seen, count, &visits), platform::ListStatus::Changed);
  EXPECT_EQ(visits, 0);
  // The folder itself, wherever it went, is still the one listed.
  EXPECT_EQ(platform::ListFolder(Folder("moved"), seen, count, &visits), platform::ListStatus::Listed);

  // A link in its place that leads to the very folder is not followed either.
  // (Wine 8 answers that it made the link, and makes none.)
  std::filesystem::remove_all(root / "child");
  CreateSymbolicLinkW((root / "child").c_str(), (root / "moved").c_str(),
                      SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  if (GetFileAttributesW((root / "child").c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "this system makes no folder links";
  }
  EXPECT_EQ(platform::ListFolder(Folder("child"), seen, count, &visits), platform::ListStatus::Changed);
}

TEST_F(Win32Listing, OnlySparseAndCompressedFilesAskForTheirAllocation) {
  const std::filesystem::path sparse = root / "sparse";
  std::ofstream(root / "plain") << "plain";
  HANDLE file = CreateFileW(sparse.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  const bool madeSparse = DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
  LARGE_INTEGER size;
  size.QuadPart = 64 << 20;
  SetFilePointerEx(file, size, nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  CloseHandle(file);

  auto seen = List(Folder());
  EXPECT_EQ(seen["plain"].allocatedBytes, -1);
  if (!madeSparse || (seen["sparse"].attributes & FILE_ATTRIBUTE_SPARSE_FILE) == 0) {
    GTEST_SKIP() << "this system marks no file sparse";
  }
  EXPECT_GE(seen["sparse"].allocatedBytes, 0);
  EXPECT_LT(seen["sparse"].allocatedBytes, size.QuadPart);
}

}  // namespace
