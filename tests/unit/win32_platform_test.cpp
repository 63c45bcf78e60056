// The platform layer against a real disk and the real system. Written for
// the Windows backend (wide names, 64-bit sizes from two words, UTF-16 path
// lengths, the registry), and run on Linux too, where the same promises hold.
#include <gtest/gtest.h>
#include <cctype>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path PathOf(const std::string& utf8) { return fs::path(std::u8string(utf8.begin(), utf8.end())); }

struct Seen {
  uint32_t attributes;
  int64_t size;
};
using Listing = std::map<std::string, Seen>;

void Record(void* context, const platform::ListingEntry& entry) {
  (*static_cast<Listing*>(context))[std::string(entry.name)] = {entry.attributes, entry.size};
}

class PlatformListing : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() /
           (std::string("tallyfold_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root);
    platform::BeginWalk(Folder());
  }
  void TearDown() override {
    platform::EndWalk();
    fs::remove_all(root);
  }

  void MakeFile(const std::string& name, uintmax_t size) {
    { std::ofstream(root / PathOf(name), std::ios::binary); }
    fs::resize_file(root / PathOf(name), size);
  }

  std::string Folder(const std::string& name = "") const {
    return Utf8(name.empty() ? root : root / PathOf(name)) + platform::kPathSeparator;
  }

  fs::path root;
};

TEST_F(PlatformListing, GivesEveryEntryWithItsAttributesAndSize) {
  // Names outside any one ANSI code page, and a size that needs both size words.
  const struct {
    const char* name;
    bool folder;
    uintmax_t size;
  } entries[] = {
      {"plain.txt", false, 1234},
      {"\xce\xa9mega.bin", false, 77},          // Greek
      {"\xe6\xbc\xa2\xe5\xad\x97", true, 0},    // CJK folder
      {"big.img", false, 4294967296ull + 123},  // above 4 GB, sparse
      {"empty", false, 0},
  };
  for (const auto& e : entries) {
    if (e.folder)
      fs::create_directory(root / PathOf(e.name));
    else
      MakeFile(e.name, e.size);
  }

  Listing seen;
  ASSERT_EQ(platform::ListFolder(Folder(), {}, Record, &seen), platform::ListStatus::Listed);

  ASSERT_EQ(seen.size(), std::size(entries) + 2);
  for (const char* dot : {".", ".."}) {
    ASSERT_TRUE(seen.count(dot)) << dot;
    EXPECT_TRUE(seen[dot].attributes & platform::kAttrDirectory) << dot;
  }
  for (const auto& e : entries) {
    ASSERT_TRUE(seen.count(e.name)) << e.name;
    EXPECT_EQ((seen[e.name].attributes & platform::kAttrDirectory) != 0, e.folder) << e.name;
    EXPECT_EQ(seen[e.name].attributes & platform::kAttrReparsePoint, 0u) << e.name;
    if (!e.folder) {
      EXPECT_EQ(seen[e.name].size, static_cast<int64_t>(e.size)) << e.name;
    }
  }
}

TEST_F(PlatformListing, AFolderThatIsNotThereIsPathNotFound) {
  MakeFile("file", 10);
  for (const std::string& folder :
       {Folder("missing"), Folder("missing") + "deeper" + platform::kPathSeparator, Folder("file")}) {
    Listing seen;
    EXPECT_EQ(platform::ListFolder(folder, {}, Record, &seen), platform::ListStatus::PathNotFound) << folder;
    EXPECT_TRUE(seen.empty()) << folder;
  }
}

TEST(PlatformPathLength, CountsWhatThePathLimitCounts) {
  const bool windows = platform::kPathStyle == platform::PathStyle::Windows;
  const struct {
    const char* path;
    size_t windowsUnits;  // UTF-16 units
    size_t posixBytes;
  } cases[] = {
      {"", 0, 0},
      {"abc", 3, 3},
      {"\xce\xa9", 1, 2},           // two-byte character
      {"\xe6\xbc\xa2", 1, 3},       // three-byte character
      {"\xf0\x9f\x98\x80x", 3, 5},  // a surrogate pair and one more
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::PathLength(c.path), windows ? c.windowsUnits : c.posixBytes) << c.path;
  }
}

TEST(PlatformText, UpperCasesAsciiOnEveryPlatformAndMoreOnWindows) {
  EXPECT_EQ(platform::UpperCase("abc-Xyz 1\\"), "ABC-XYZ 1\\");
  if (platform::kPathStyle != platform::PathStyle::Windows) return;
  EXPECT_EQ(platform::UpperCase("\xce\xb1\xce\xb2 \xc3\xa4"), "\xce\x91\xce\x92 \xc3\x84");  // αβ ä
}

TEST(PlatformLocale, GivesOneAsciiSeparatorAndADate) {
  platform::InitLocale();
  const char separator = platform::ThousandsSeparator();
  EXPECT_TRUE(separator == ' ' || (std::ispunct(static_cast<unsigned char>(separator)) &&
                                   static_cast<unsigned char>(separator) < 0x7F))
      << static_cast<int>(separator);
  const std::string now = platform::LocalDateTime();
  EXPECT_NE(now.find_first_of("0123456789"), std::string::npos) << now;
}

TEST(PlatformPaths, CurrentAndProgramFoldersAreFullPaths) {
  EXPECT_EQ(platform::CurrentDirectory(), Utf8(fs::current_path()));
  const std::string program = platform::ProgramFolder();
  ASSERT_FALSE(program.empty());
  EXPECT_EQ(program.back(), platform::kPathSeparator);
  EXPECT_TRUE(PathOf(program).is_absolute()) << program;
  if (platform::kPathStyle == platform::PathStyle::Windows) {
    const std::string current = platform::CurrentDirectory();
    EXPECT_EQ(platform::CurrentDirectoryOfDrive(current[0]), current);
  }
}

TEST(PlatformSettings, StoredDefaultsComeBackAsWritten) {
  // On Linux this would rewrite the user's own settings file.
  if (platform::kPathStyle != platform::PathStyle::Windows) GTEST_SKIP();
  const std::string saved = platform::ReadStoredDefaults();
  std::string failure;
  for (const std::string value : {"-nofiles -sort=total \"C:\\My \xce\xa9\"", ""}) {
    ASSERT_TRUE(platform::WriteStoredDefaults(value, failure)) << failure;
    EXPECT_EQ(platform::ReadStoredDefaults(), value);
  }
  ASSERT_TRUE(platform::WriteStoredDefaults(saved, failure)) << failure;
}

TEST(PlatformEnvironment, NamesMatchWithoutRegardToCaseOnWindows) {
  const std::string path = platform::EnvironmentVariable("PATH");
  EXPECT_FALSE(path.empty());
  EXPECT_EQ(platform::EnvironmentVariable("TALLYFOLD_SURELY_UNSET_VARIABLE"), "");
  if (platform::kPathStyle == platform::PathStyle::Windows) {
    EXPECT_EQ(platform::EnvironmentVariable("pAtH"), path);
  }
}

}  // namespace
