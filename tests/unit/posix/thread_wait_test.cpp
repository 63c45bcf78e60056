// Linux alone counts a thread's waits; Windows gives the scan no count.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/platform.h"

namespace {

// The scan asks the system whether a read waited: a thread that slept has.
TEST(ThreadWaits, AThreadThatSleptHasWaited) {
  const int64_t before = platform::ThreadWaitCount();
  ASSERT_GE(before, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_GT(platform::ThreadWaitCount(), before);
}

}  // namespace
