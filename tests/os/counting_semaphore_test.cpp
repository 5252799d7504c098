// Futex semaphores: maximum count, timeouts, waiting on several, shared-memory state.
#include "os/counting_semaphore.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

namespace Vantor::KQCP::os {
namespace {

TEST(CountingSemaphore, ReleasePastMaximumFailsAndKeepsCount) {
  CountingSemaphore s(0, 3);
  std::uint32_t previous = 99;
  EXPECT_TRUE(s.Release(2, &previous));
  EXPECT_EQ(previous, 0u);
  EXPECT_FALSE(s.Release(2));
  EXPECT_EQ(s.Count(), 2u);
  EXPECT_TRUE(s.Release(1));
  EXPECT_FALSE(s.Release(1));
  EXPECT_EQ(s.Count(), 3u);
  EXPECT_FALSE(s.Release(0));
}

TEST(CountingSemaphore, WaitTimesOutThenAcquiresWhatIsReleased) {
  CountingSemaphore s(0, 10);
  EXPECT_FALSE(s.Wait(0));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(s.Wait(60));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(55));
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.Release(1);
  });
  EXPECT_TRUE(s.Wait(kInfinite));
  releaser.join();
  EXPECT_EQ(s.Count(), 0u);
}

TEST(CountingSemaphore, WaitAnyWakesOnTheSignalledOneAndTimesOut) {
  CountingSemaphore a(0, 10), b(0, 10), c(0, 10);
  std::vector<CountingSemaphore*> all{&a, &b, &c};
  EXPECT_EQ(WaitAny(all, 30), -1);
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    c.Release(1);
  });
  EXPECT_EQ(WaitAny(all, kInfinite), 2);
  releaser.join();
  b.Release(1);
  c.Release(1);
  EXPECT_EQ(WaitAny(all, 0), 1);  // earlier ones first
  EXPECT_EQ(WaitAny(all, 0), 2);
}

TEST(CountingSemaphore, EveryReleaseReachesOneOfManyWaiters) {
  CountingSemaphore a(0, 1000), b(0, 1000);
  std::vector<CountingSemaphore*> pair{&a, &b};
  std::atomic<int> acquired{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      for (int k = 0; k < 50; ++k) {
        if (WaitAny(pair, 5000) >= 0) ++acquired;
      }
    });
  }
  for (int k = 0; k < 100; ++k) {
    a.Release(1);
    b.Release(1);
  }
  for (auto& w : waiters) w.join();
  EXPECT_EQ(acquired, 200);
}

TEST(CountingSemaphore, StateInSharedMemoryWakesAnotherProcess) {
  void* memory = mmap(nullptr, sizeof(SemaphoreState), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(memory, MAP_FAILED);
  auto* state = static_cast<SemaphoreState*>(memory);
  CountingSemaphore::InitState(state, 0, 5);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CountingSemaphore view(state, true, nullptr);
    _exit(view.Wait(5000) ? 0 : 1);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  CountingSemaphore view(state, true, nullptr);
  EXPECT_TRUE(view.Release(1));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  munmap(memory, sizeof(SemaphoreState));
}

}  // namespace
}  // namespace Vantor::KQCP::os
