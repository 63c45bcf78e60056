#include "console/output.h"

#include <cstdlib>

#include "console/line_fit.h"
#include "platform/platform.h"

namespace {

std::string pending;
std::string* capture = nullptr;
constexpr size_t kFlushThreshold = 1 << 16;

// A report that cannot be written is a failed run, not a silent success:
// stop instead of going on writing into a closed pipe or a full disk, and
// say why, except when the reader has only stopped early (| head), which
// it knows.
[[noreturn]] void FailOnWriteError() {
  if (!platform::LastWriteFoundReaderGone()) {
    platform::WriteStandardError("Cannot write to standard output: " + platform::LastWriteFailure() +
                                 platform::kLineEnd);
  }
  std::exit(1);
}

}  // namespace

void FlushOut() {
  if (capture != nullptr || pending.empty()) return;
  bool written = platform::WriteStandardOutput(pending);
  pending.clear();
  if (!written) FailOnWriteError();
}

void WriteOut(std::string_view text) {
  if (capture != nullptr) {
    capture->append(text);
    return;
  }
  pending.append(text);
  if (pending.size() >= kFlushThreshold) FlushOut();
}

void WriteOutLine(std::string_view text) {
  if (lineFit.width != 0 || lineFit.marked) {
    WriteOut(FittedLine(text));
  } else {
    WriteOut(text);
  }
  WriteOut(platform::kLineEnd);
}

void EndProgram(int exitCode) {
  FlushOut();
  std::exit(exitCode);
}

bool OutputIsCaptured() { return capture != nullptr; }

void CaptureOutput(std::string* sink) {
  FlushOut();
  capture = sink;
}
