// The Linux listing on a real disk: a folder swapped for a link between its
// parent's listing and its own is not followed, and a file counts the space
// the system allocated to it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "fake_listing.h"
#include "platform/platform.h"
#include "scan/scanner.h"
#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

class LinuxListing : public ::testing::Test {
 protected:
  void SetUp() override {
    if (platform::kPathStyle != platform::PathStyle::Posix) GTEST_SKIP() << "the Linux listing";
    base = fs::temp_directory_path() /
           (std::string("tallyfold_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(base);
    fs::create_directories(base / "tree");
    fs::create_directories(base / "outside");
  }
  void TearDown() override {
    platform::EndWalk();
    ResetScan();
    if (!base.empty()) fs::remove_all(base);
  }

  std::string Tree(const std::string& below = "") const {
    return (below.empty() ? base / "tree" : base / "tree" / below).string() + "/";
  }

  fs::path base;
};

struct Listing {
  platform::FolderIdentity child;
  int entries = 0;
};

void NoteEntry(void* context, const platform::ListingEntry& entry) {
  auto& listing = *static_cast<Listing*>(context);
  listing.entries += 1;
  if (entry.name == "child") listing.child = {entry.volumeId, entry.fileId};
}

TEST_F(LinuxListing, AFolderSwappedAfterItsParentWasListedIsChanged) {
  fs::create_directory(base / "tree" / "child");
  { std::ofstream(base / "outside" / "secret") << "outside the tree"; }
  platform::BeginWalk(Tree());
  Listing parent;
  ASSERT_EQ(platform::ListFolder(Tree(), {}, NoteEntry, &parent), platform::ListStatus::Listed);
  ASSERT_NE(parent.child, platform::FolderIdentity{});
  fs::rename(base / "tree" / "child", base / "outside" / "child");
  // A link to a folder outside, then another folder under the same name.
  for (const bool link : {true, false}) {
    fs::remove(base / "tree" / "child");
    if (link) {
      fs::create_directory_symlink(base / "outside", base / "tree" / "child");
    } else {
      fs::create_directory(base / "tree" / "child");
    }
    // A thread that holds no folder of the tree open reaches it from the start.
    Listing child;
    platform::ListStatus status;
    std::thread([&] { status = platform::ListFolder(Tree("child"), parent.child, NoteEntry, &child); }).join();
    EXPECT_EQ(status, platform::ListStatus::Changed) << link;
    EXPECT_EQ(child.entries, 0) << link;
  }
}

TEST_F(LinuxListing, AFileCountsTheClustersTheSystemAllocatedAtMost) {
  const struct {
    const char* name;
    int64_t written, length, counted;
  } cases[] = {
      {"ordinary", 5000, 5000, 8192},
      {"sparse", 0, 1LL << 30, 0},
      {"partly written", 4096, 1 << 20, 4096},
  };
  for (const auto& c : cases) {
    const fs::path folder = base / "tree" / c.name;
    fs::create_directory(folder);
    { std::ofstream(folder / "f", std::ios::binary) << std::string(c.written, 'x'); }
    fs::resize_file(folder / "f", c.length);
    allowanceFreeRoot = folder.string() + "/";
    effectiveClusterSize = 4096;
    scanPath = folder.string();
    platform::BeginWalk(scanPath);
    root = TDirEntry{};
    ASSERT_TRUE(ScanFolder(root)) << c.name;
    EXPECT_EQ(root.localBytes, c.counted) << c.name;
    EXPECT_EQ(root.wastedBytes, c.counted - std::min(c.counted, c.length)) << c.name;
    platform::EndWalk();
  }
}

}  // namespace
