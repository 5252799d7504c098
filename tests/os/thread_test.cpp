// Operating-system threads: exit codes, suspended start, waiting alone and all at once.
#include "os/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace Vantor::KQCP::os {
namespace {

TEST(OsThread, ExitCodeIsTheBodyResult) {
  auto handle = ThreadHandle::Start([] { return 7u; }, false);
  ASSERT_TRUE(handle);
  EXPECT_TRUE(handle->Wait(kInfinite));
  EXPECT_EQ(handle->ExitCode(), 7u);
  EXPECT_TRUE(handle->Wait(0));  // stays signalled
}

TEST(OsThread, SuspendedThreadRunsOnlyAfterResume) {
  std::atomic<bool> ran{false};
  auto handle = ThreadHandle::Start(
      [&] {
        ran = true;
        return 0u;
      },
      true);
  ASSERT_TRUE(handle);
  EXPECT_FALSE(handle->Wait(50));
  EXPECT_FALSE(ran);
  handle->Resume();
  EXPECT_TRUE(handle->Wait(kInfinite));
  EXPECT_TRUE(ran);
}

TEST(OsThread, WaitAllTimesOutWhileOneRunsAndSucceedsWhenAllEnd) {
  std::atomic<bool> release{false};
  auto quick = ThreadHandle::Start([] { return 1u; }, false);
  auto slow = ThreadHandle::Start(
      [&] {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 2u;
      },
      false);
  std::vector<const ThreadHandle*> both{quick.get(), slow.get()};
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitAll(both, 100));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  release = true;
  EXPECT_TRUE(WaitAll(both, kInfinite));
  EXPECT_EQ(slow->ExitCode(), 2u);
  EXPECT_FALSE(WaitAll({}, 0));
}

TEST(OsThread, ManyWaitersOnOneThread) {
  std::atomic<bool> release{false};
  auto target = ThreadHandle::Start(
      [&] {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 3u;
      },
      false);
  std::vector<std::thread> waiters;
  std::atomic<int> woken{0};
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      if (target->Wait(kInfinite)) ++woken;
    });
  }
  release = true;
  for (auto& w : waiters) w.join();
  EXPECT_EQ(woken, 4);
}

}  // namespace
}  // namespace Vantor::KQCP::os
