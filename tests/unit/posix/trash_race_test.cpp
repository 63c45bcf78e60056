// The Linux trash on a file system that cannot rename without replacing
// (ntfs-3g gives EINVAL for RENAME_NOREPLACE): an entry that came into
// files/ after the name was chosen is kept. The racer is made exact by a
// permission event: the opening of the item's .trashinfo waits until the
// racer has put its own entry under the name chosen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/fanotify.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

bool Quietly(const std::string& command) { return std::system((command + " > /dev/null 2>&1").c_str()) == 0; }

// Answers every opening in the watched folder until `done`; before it
// answers the opening of the item's .trashinfo, puts an entry of its own at
// `raced`.
void Race(int watch, fs::path raced, const std::atomic<bool>& done) {
  while (!done) {
    pollfd ready{watch, POLLIN, 0};
    fanotify_event_metadata event;
    if (poll(&ready, 1, 20) <= 0 || read(watch, &event, sizeof event) != static_cast<ssize_t>(sizeof event)) continue;
    if (event.fd < 0) continue;
    std::error_code unnamed;
    const fs::path opened = fs::read_symlink("/proc/self/fd/" + std::to_string(event.fd), unnamed);
    if (opened.filename() == "item.trashinfo") std::ofstream(raced) << "raced in";
    const fanotify_response allow{event.fd, FAN_ALLOW};
    const bool answered = write(watch, &allow, sizeof allow) == static_cast<ssize_t>(sizeof allow);
    close(event.fd);
    if (!answered) return;
  }
}

TEST(TrashRace, AnEntryThatRacedIntoTheTrashIsKeptWhereRenamingCannotRefuseToReplace) {
  const fs::path base = fs::temp_directory_path() / "tallyfold_trash_race";
  const fs::path tree = base / "tree";
  Quietly("umount -l '" + tree.string() + "'");
  fs::remove_all(base);
  fs::create_directories(tree);
  const std::string image = (base / "volume.img").string();
  if (geteuid() != 0 || !Quietly("truncate -s 4M '" + image + "' && mkntfs -q -F -f '" + image + "'") ||
      !Quietly("ntfs-3g '" + image + "' '" + tree.string() + "'")) {
    fs::remove_all(base);
    GTEST_SKIP() << "needs root, mkntfs and ntfs-3g";
  }
  std::ofstream(tree / "item") << "moved";
  const fs::path trash = tree / ".Trash-0";
  fs::create_directories(trash / "files");
  fs::create_directories(trash / "info");
  const int watch = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY);
  ASSERT_GE(watch, 0);
  ASSERT_EQ(fanotify_mark(watch, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD, AT_FDCWD,
                          (trash / "info").c_str()),
            0);
  std::atomic<bool> done = false;
  std::thread racer(Race, watch, trash / "files" / "item", std::cref(done));
  const platform::RemovalResult result = platform::MoveToTrash({tree.string(), "item", {}});
  done = true;
  racer.join();
  close(watch);

  EXPECT_EQ(result.outcome, platform::RemovalResult::Removed) << result.reason;
  EXPECT_EQ(ReadAll(trash / "files" / "item"), "raced in");
  EXPECT_EQ(ReadAll(trash / "files" / "item.2"), "moved");
  Quietly("umount -l '" + tree.string() + "'");
  fs::remove_all(base);
}

}  // namespace
