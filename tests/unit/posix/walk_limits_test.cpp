// The Linux walks' own limits: the names they take and the descriptors
// they hold.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

struct Walk : ::testing::Test {
  void SetUp() override {
    base = fs::temp_directory_path() /
           (std::string("tallyfold_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base);
    fs::create_directories(base / "tree" / "a");
  }
  void TearDown() override { fs::remove_all(base); }
  fs::path base;
};

void CountEntry(void* context, const platform::ListingEntry&) { ++*static_cast<int*>(context); }

// A name that leads out of the start folder (a crafted report may hold one)
// is never opened, one name at a time or several at once.
TEST_F(Walk, NoListingLeavesTheStartFolderByDots) {
  const std::string tree = (base / "tree").string() + "/";
  platform::BeginWalk(tree);
  for (const std::string below : {"../", "a/../../", "a/./"}) {
    int entries = 0;
    EXPECT_NE(platform::ListFolder(tree + below, {}, CountEntry, &entries), platform::ListStatus::Listed) << below;
    EXPECT_EQ(entries, 0) << below;
  }
  platform::EndWalk();
}

// Mounts made for one test, taken down (lazily) however it ends.
struct Mounts {
  std::vector<fs::path> targets;
  bool Mount(const std::string& arguments, const fs::path& target) {
    if (std::system(("mount " + arguments + " '" + target.string() + "' 2>/dev/null").c_str()) != 0) return false;
    targets.push_back(target);
    return true;
  }
  ~Mounts() {
    for (auto target = targets.rbegin(); target != targets.rend(); ++target) {
      std::system(("umount -l '" + target->string() + "'").c_str());
    }
  }
};

ino_t InodeOf(const fs::path& path) {
  struct stat facts {};
  return stat(path.c_str(), &facts) == 0 ? facts.st_ino : 0;
}

void NoteChild(void* context, const platform::ListingEntry& entry) {
  if (entry.name == "child") *static_cast<platform::FolderIdentity*>(context) = {entry.volumeId, entry.fileId};
}

// Two fresh file systems number their folders alike: a folder of another
// one mounted over the name after the parent was listed has the number the
// parent's listing saw, but it is no folder of the tree.
TEST_F(Walk, AFolderOfAnotherFileSystemMountedOverTheNameIsChanged) {
  Mounts mounts;
  fs::create_directories(base / "outside");
  if (!mounts.Mount("-t tmpfs tallyfold", base / "tree") || !mounts.Mount("-t tmpfs tallyfold", base / "outside")) {
    GTEST_SKIP() << "mounting needs root";
  }
  fs::create_directories(base / "tree" / "a");
  fs::create_directories(base / "tree" / "child");
  fs::create_directories(base / "outside" / "sub" / "x");
  if (InodeOf(base / "tree" / "child") != InodeOf(base / "outside" / "sub" / "x")) {
    GTEST_SKIP() << "this system numbers the folders of two file systems apart";
  }
  const std::string tree = (base / "tree").string() + "/";
  platform::BeginWalk(tree);
  platform::FolderIdentity child;
  ASSERT_EQ(platform::ListFolder(tree, {}, NoteChild, &child), platform::ListStatus::Listed);
  ASSERT_TRUE(mounts.Mount("--bind '" + (base / "outside" / "sub" / "x").string() + "'", base / "tree" / "child"));
  int entries = 0;
  EXPECT_EQ(platform::ListFolder(tree + "child/", child, CountEntry, &entries), platform::ListStatus::Changed);
  EXPECT_EQ(entries, 0);
  platform::EndWalk();
}

// The deletion walk keeps at most a quarter of the open-file limit open.
TEST_F(Walk, ADeepTreeIsDeletedAtALowOpenFileLimit) {
  fs::path deep = base / "tree" / "item";
  for (int level = 0; level < 150; ++level) deep /= "d";
  fs::create_directories(deep);
  std::ofstream(deep / "file") << "data";
  struct rlimit kept;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &kept), 0);
  struct rlimit low = kept;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  const platform::RemovalResult result = platform::DeleteForGood({(base / "tree").string(), "item", {}});
  setrlimit(RLIMIT_NOFILE, &kept);
  EXPECT_EQ(result.outcome, platform::RemovalResult::Removed) << result.path << ": " << result.reason;
  EXPECT_FALSE(fs::exists(base / "tree" / "item"));
}

// An empty folder of the user's own that the user may not even read (mode
// 000) goes too, as rm -r removes it. Run as another user where the test
// runs as root, whom no mode stops.
TEST_F(Walk, AnUnreadableFolderOfTheUsersOwnIsRemoved) {
  const fs::path locked = base / "tree" / "item" / "locked";
  fs::create_directories(locked);
  ASSERT_EQ(chmod(locked.c_str(), 0), 0);
  const auto remove = [this] {
    return platform::DeleteForGood({(base / "tree").string(), "item", {}}).outcome;
  };
  if (getuid() != 0) {
    EXPECT_EQ(remove(), platform::RemovalResult::Removed);
  } else {
    constexpr uid_t kNobody = 65534;
    for (const fs::path& path : {base, base / "tree", base / "tree" / "item", locked}) {
      ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
    }
    const pid_t child = fork();
    if (child == 0) _exit(setgid(kNobody) == 0 && setuid(kNobody) == 0 ? static_cast<int>(remove()) : 100);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), platform::RemovalResult::Removed);
  }
  EXPECT_FALSE(fs::exists(base / "tree" / "item"));
}

}  // namespace
