// Removing what the user chose, on a real disk: to the trash, or for good,
// never following a link out of the tree. Written for both backends; where
// the system makes no links (Wine), the rows that need one are skipped.
// The trash is a temporary one: on Linux the test names it, under Wine
// (whose Recycle Bin is the Linux trash, found through the same variable,
// which must hold a Linux path) the test run does.
#include <gtest/gtest.h>

#include <filesystem>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

using platform::RemovalResult;
using Remove = RemovalResult (*)(const platform::ItemWay&);

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

class Removal : public ::testing::Test {
 protected:
  void SetUp() override {
    base = fs::temp_directory_path() /
           (std::string("tallyfold_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Clear();
    fs::create_directories(base / "tree");
    fs::create_directories(base / "outside");
    fs::create_directories(base / "data");
    std::ofstream(base / "outside" / "keep") << "outside the tree";
    if (platform::kPathStyle == platform::PathStyle::Posix) {
      trashSetting = "XDG_DATA_HOME=" + Utf8(base / "data");
      putenv(trashSetting.data());
    }
  }
  void TearDown() override {
    if (platform::kPathStyle == platform::PathStyle::Posix) putenv(const_cast<char*>("XDG_DATA_HOME="));
    Clear();
  }

  void Clear() {
    std::error_code ignored;
    if (fs::exists(base, ignored)) {
      for (const auto& entry : fs::recursive_directory_iterator(base, ignored)) {
        if (!entry.is_symlink()) fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
      }
    }
    fs::remove_all(base, ignored);
  }

  std::string Tree() const { return Utf8(base / "tree"); }
  // `path` below the tree as the platform names it.
  static std::string Below(fs::path path) { return Utf8(path.make_preferred()); }

  // A row may name another home and trash: each row begins with these.
  void RestoreEnvironment() {
    if (platform::kPathStyle != platform::PathStyle::Posix) return;
    putenv(homeSetting.data());
    putenv(trashSetting.data());
  }

  fs::path base;
  // The environment keeps these very texts: they live as long as the program.
  inline static std::string trashSetting;
  inline static std::string homeSetting = "HOME=" + platform::EnvironmentVariable("HOME");
};

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A link at `link` to the folder outside the tree; false where the system
// makes none.
bool LinkOutside(const fs::path& base, const fs::path& link) {
  std::error_code failed;
  fs::create_directory_symlink(base / "outside", link, failed);
  return !failed && fs::is_symlink(link);
}

void MakeFile(const fs::path& path) {
  fs::create_directories(path.parent_path());
  std::ofstream(path) << "data";
}

// Bind mounts made by a row, taken away after it.
std::vector<fs::path> mounts;

// The folder outside the tree mounted at `target`; false where the system
// does not allow it (Windows, or not root).
bool MountOutside(const fs::path& base, const fs::path& target) {
  if (platform::kPathStyle != platform::PathStyle::Posix) return false;
  fs::create_directories(target);
  const std::string command = "mount --bind '" + Utf8(base / "outside") + "' '" + Utf8(target) + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return false;
  mounts.push_back(target);
  return true;
}

// A file system of its own at `target`, whose top trash is its own too;
// false where the system does not allow it (Windows, or not root).
bool MountTmpfs(const fs::path& target) {
  if (platform::kPathStyle != platform::PathStyle::Posix) return false;
  const std::string command = "mount -t tmpfs tallyfold '" + Utf8(target) + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return false;
  mounts.push_back(target);
  return true;
}

void Unmount() {
  for (const fs::path& target : mounts) std::system(("umount -l '" + Utf8(target) + "'").c_str());
  mounts.clear();
}

struct Row {
  const char* what;
  Remove remove;
  // Builds the item "item" in base/tree; false when the system cannot.
  bool (*build)(const fs::path& base);
  RemovalResult::Outcome outcome;
  const char* failedPath;  // below the tree, for a failure
  const char* stays;       // below the tree, or null
  const char* goes;        // below the tree, or null
};

const Row kRows[] = {
    {"a folder to the trash", platform::MoveToTrash,
     [](const fs::path& base) {
       MakeFile(base / "tree" / "item" / "file");
       // Under Wine, only where the run named a trash of its own.
       return platform::kPathStyle == platform::PathStyle::Posix ||
              !platform::EnvironmentVariable("XDG_DATA_HOME").empty();
     },
     RemovalResult::Removed, "", nullptr, "item"},
    {"a read-only file", platform::DeleteForGood,
     [](const fs::path& base) {
       MakeFile(base / "tree" / "item");
       fs::permissions(base / "tree" / "item", fs::perms::owner_read);
       return true;
     },
     RemovalResult::Removed, "", nullptr, "item"},
    {"a tree with a link to a folder outside", platform::DeleteForGood,
     [](const fs::path& base) {
       MakeFile(base / "tree" / "item" / "sub" / "deeper" / "file");
       return LinkOutside(base, base / "tree" / "item" / "sub" / "link");
     },
     RemovalResult::Removed, "", nullptr, "item"},
    {"a tree deeper than the descriptors held open", platform::DeleteForGood,
     [](const fs::path& base) {
       fs::path deep = base / "tree" / "item";
       for (int level = 0; level < 150; ++level) deep /= "d";
       MakeFile(deep / "file");
       MakeFile(base / "tree" / "item" / "d" / "later");
       return true;
     },
     RemovalResult::Removed, "", nullptr, "item"},
    {"a folder that holds a mount point, for good", platform::DeleteForGood,
     [](const fs::path& base) {
       MakeFile(base / "tree" / "item" / "file");
       return MountOutside(base, base / "tree" / "item" / "sub" / "bm");
     },
     RemovalResult::HoldsMount, "item", "item/file", nullptr},
    {"a folder now a link, to the trash", platform::MoveToTrash,
     [](const fs::path& base) { return LinkOutside(base, base / "tree" / "item"); },
     RemovalResult::Failed, "item", "item", nullptr},
    {"a folder now a link, for good", platform::DeleteForGood,
     [](const fs::path& base) { return LinkOutside(base, base / "tree" / "item"); },
     RemovalResult::Failed, "item", "item", nullptr},
    {"a folder whose subfolder may not be changed", platform::DeleteForGood,
     [](const fs::path& base) {
       const fs::path item = base / "tree" / "item";
       MakeFile(item / "locked" / "file");
       MakeFile(item / "other" / "file");
       fs::permissions(item / "locked", fs::perms::owner_read | fs::perms::owner_exec);
       // Only where the folder's permissions bind its owner (not root, not Windows).
       std::ofstream probe(item / "locked" / "probe");
       return !probe.is_open();
     },
     RemovalResult::Failed, "item/locked/file", "item/locked/file", "item/other"},
    {"a file to the trash where the home is missing", platform::MoveToTrash,
     [](const fs::path& base) {
       // A tree made anew, so that the start folder held since the row
       // before is let go; the last row, as the tree stays this one after.
       fs::remove_all(base / "tree");
       fs::create_directory(base / "tree");
       if (!MountTmpfs(base / "tree")) return false;
       MakeFile(base / "tree" / "item");
       static std::string missingHome;
       missingHome = "HOME=" + Utf8(base / "tree" / "home");
       putenv(missingHome.data());
       putenv(const_cast<char*>("XDG_DATA_HOME="));
       return true;
     },
     RemovalResult::Removed, "", nullptr, "home"},
};

TEST_F(Removal, RemovesTheItemAndNothingOutsideTheTree) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.what);
    fs::remove_all(base / "tree" / "item");
    if (!row.build(base)) {
      std::cout << "skipped where the system does not allow it: " << row.what << "\n";
      continue;
    }
    const RemovalResult result = row.remove({Tree(), "item", {}});
    EXPECT_EQ(result.outcome, row.outcome) << result.reason;
    if (row.outcome != RemovalResult::Removed) {
      EXPECT_EQ(result.path, Below(base / "tree" / row.failedPath));
    }
    if (row.stays != nullptr) {
      EXPECT_TRUE(fs::exists(fs::symlink_status(base / "tree" / row.stays)));
    }
    if (row.goes != nullptr) {
      EXPECT_FALSE(fs::exists(fs::symlink_status(base / "tree" / row.goes)));
    }
    EXPECT_TRUE(fs::exists(base / "outside" / "keep"));
    Unmount();
    RestoreEnvironment();
  }
}

// The shell trims the dots and blanks that end a name: handed "data." it
// would recycle "data". Such an item goes only for good, after the typed yes.
TEST_F(Removal, AnItemWhoseNameEndsInADotIsNotHandedToTheShell) {
  if (platform::kPathStyle != platform::PathStyle::Windows) GTEST_SKIP() << "names the Windows shell trims";
  // Only a \\?\ path makes such a name.
  const fs::path tree(L"\\\\?\\" + (base / "tree").make_preferred().wstring());
  MakeFile(tree / "data" / "file");
  MakeFile(tree / "data." / "file");
  const RemovalResult trashed = platform::MoveToTrash({Tree(), "data.", {}});
  EXPECT_EQ(trashed.outcome, RemovalResult::NoTrash);
  EXPECT_EQ(trashed.reason, "The Recycle Bin cannot take this name");
  EXPECT_TRUE(fs::exists(tree / "data." / "file"));
  EXPECT_EQ(platform::DeleteForGood({Tree(), "data.", {}}).outcome, RemovalResult::Removed);
  EXPECT_FALSE(fs::exists(tree / "data."));
  EXPECT_TRUE(fs::exists(tree / "data" / "file"));
}

TEST_F(Removal, TheHomeTrashTakesAFolderWithItsPathAndDate) {
  if (platform::kPathStyle != platform::PathStyle::Posix) GTEST_SKIP() << "the freedesktop.org trash";
  const fs::path trash = base / "data" / "Trash";
  const std::string name = "my 100%\xC3\xA9";
  const std::regex info("\\[Trash Info\\]\nPath=" + Utf8(base) +
                        "/tree/my%20100%25%C3%A9\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
  for (const std::string& chosen : {name, name + ".2"}) {
    MakeFile(base / "tree" / name / "file");
    const RemovalResult result = platform::MoveToTrash({Tree(), name, {}});
    EXPECT_EQ(result.outcome, RemovalResult::Removed) << result.reason;
    EXPECT_FALSE(fs::exists(base / "tree" / name));
    EXPECT_TRUE(fs::exists(trash / "files" / chosen / "file")) << chosen;
    EXPECT_TRUE(std::regex_match(ReadAll(trash / "info" / (chosen + ".trashinfo")), info)) << chosen;
  }
}

TEST_F(Removal, TheShellRunsInTheFolderAndIsWaitedFor) {
  if (platform::kPathStyle != platform::PathStyle::Posix) GTEST_SKIP() << "a shell that needs no terminal";
  const std::string shell = Utf8(base / "shell");
  std::ofstream(shell) << "#!/bin/sh\npwd > '" << Utf8(base / "seen") << "'\n";
  fs::permissions(shell, fs::perms::owner_all);
  // putenv keeps the string itself: each setting lives as long as the program.
  static std::string settings[3];
  settings[2] = "SHELL=" + platform::EnvironmentVariable("SHELL");
  settings[0] = "SHELL=" + shell;
  settings[1] = "SHELL=" + Utf8(base / "none");
  for (int i = 0; i < 2; ++i) {
    putenv(settings[i].data());
    EXPECT_EQ(platform::RunShellIn(Tree()), i == 0) << settings[i];
  }
  EXPECT_EQ(ReadAll(base / "seen"), Tree() + "\n");
  putenv(settings[2].data());
}

}  // namespace
