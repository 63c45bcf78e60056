// The Linux trash on a file system that cannot rename without replacing
// (RENAME_NOREPLACE gives EINVAL there, as on ntfs-3g; here strace makes it
// so): an entry that came into files/ after the name was chosen is kept.
// The racer is made exact by a permission event: the opening of the item's
// .trashinfo waits until the racer has put its own entry under the name
// chosen.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/fanotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

// Makes every renameat2 of this process give EINVAL until the tracer it
// returns (0: none could trace) is ended.
pid_t RenamesWithoutNoReplace() {
  const std::string self = std::to_string(getpid());
  const pid_t tracer = fork();
  if (tracer == 0) {
    execlp("strace", "strace", "-qq", "-f", "-p", self.c_str(), "-e", "trace=renameat2", "-e",
           "inject=renameat2:error=EINVAL", "-o", "/dev/null", nullptr);
    _exit(127);
  }
  for (int wait = 0; tracer > 0 && wait < 500; ++wait) {
    if (ReadAll("/proc/self/status").find("TracerPid:\t0\n") == std::string::npos) return tracer;
    if (waitpid(tracer, nullptr, WNOHANG) == tracer) return 0;
    usleep(10000);
  }
  return 0;
}

void EndTracer(pid_t tracer) {
  kill(tracer, SIGTERM);
  waitpid(tracer, nullptr, 0);
}

TEST(TrashRace, AnEntryThatRacedIntoTheTrashIsKeptWhereRenamingCannotRefuseToReplace) {
  const fs::path base = fs::temp_directory_path() / "tallyfold_trash_race";
  fs::remove_all(base);
  fs::create_directories(base / "tree");
  std::ofstream(base / "tree" / "item") << "moved";
  const fs::path trash = base / "data" / "Trash";
  fs::create_directories(trash / "files");
  fs::create_directories(trash / "info");
  static std::string trashSetting;  // the environment keeps this very text
  trashSetting = "XDG_DATA_HOME=" + (base / "data").string();
  putenv(trashSetting.data());
  const int watch = fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK, O_RDONLY);
  const bool watched = watch >= 0 && fanotify_mark(watch, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_EVENT_ON_CHILD,
                                                   AT_FDCWD, (trash / "info").c_str()) == 0;
  const pid_t tracer = watched ? RenamesWithoutNoReplace() : 0;
  if (tracer == 0) {
    if (watch >= 0) close(watch);
    putenv(const_cast<char*>("XDG_DATA_HOME="));
    fs::remove_all(base);
    GTEST_SKIP() << "needs root (fanotify) and strace";
  }
  std::atomic<bool> done = false;
  std::thread racer(Race, watch, trash / "files" / "item", std::cref(done));
  const platform::RemovalResult result = platform::MoveToTrash({(base / "tree").string(), "item", {}});
  done = true;
  racer.join();
  close(watch);
  EndTracer(tracer);
  putenv(const_cast<char*>("XDG_DATA_HOME="));

  EXPECT_EQ(result.outcome, platform::RemovalResult::Removed) << result.reason;
  EXPECT_EQ(ReadAll(trash / "files" / "item"), "raced in");
  EXPECT_EQ(ReadAll(trash / "files" / "item.2"), "moved");
  fs::remove_all(base);
}

}  // namespace
