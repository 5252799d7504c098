// Named mutexes and semaphores across real processes: racing creators, abandoned mutexes,
// maximum counts, and one wait on several handles.
#include "share/kernel_objects.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "os/named_semaphore.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::ChildProcess;
using kqcp_test::Signal;
using VEXO::System::Thread::Semaphore;

// Waits for the "go" semaphore, then tries to create each round's mutex and keeps what it
// made until "done"; reports a string of 0/1 per round.
KQCP_CHILD(RaceCreators) {
  const std::string prefix = args[0];
  const int rounds = std::stoi(args[2]);
  Semaphore go(0, 2048, false), done(0, 2048, false);
  if (OpenNamedSemaphore(go, prefix + "_go") != 0) return 1;
  if (OpenNamedSemaphore(done, prefix + "_done") != 0) return 1;
  Signal::Send(args[1], "ready");
  go.Wait(os::kInfinite);
  std::vector<NamedMutex> held(rounds);
  std::string wins;
  for (int i = 0; i < rounds; ++i) {
    wins += CreateNamedMutex(held[i], prefix + "_" + std::to_string(i)) == 0 ? '1' : '0';
  }
  Signal::Send(args[1], wins);
  done.Wait(os::kInfinite);
  return 0;
}

TEST(KernelObjects, RacingCreatorsNeverBothWin) {
  constexpr int kRounds = 200;
  const std::string prefix = kqcp_test::UniqueName("race");
  Semaphore go(0, 2048, false), done(0, 2048, false);
  ASSERT_EQ(CreateNamedSemaphore(go, prefix + "_go", 0, 2048), 0);
  ASSERT_EQ(CreateNamedSemaphore(done, prefix + "_done", 0, 2048), 0);
  Signal a, b;
  ChildProcess first("RaceCreators", {prefix, a.WriteFdArg(), std::to_string(kRounds)});
  ChildProcess second("RaceCreators", {prefix, b.WriteFdArg(), std::to_string(kRounds)});
  ASSERT_EQ(a.ReadLine(), "ready");
  ASSERT_EQ(b.ReadLine(), "ready");
  go.Release(2);
  const std::string winsA = a.ReadLine(), winsB = b.ReadLine();
  ASSERT_EQ(winsA.size(), static_cast<std::size_t>(kRounds));
  ASSERT_EQ(winsB.size(), static_cast<std::size_t>(kRounds));
  for (int i = 0; i < kRounds; ++i) EXPECT_NE(winsA[i], winsB[i]) << "round " << i;
  done.Release(2);
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
}

KQCP_CHILD(HoldMutexForever) {
  NamedMutex mutex;
  if (OpenNamedMutex(mutex, args[0]) != 0 || mutex.LockFor(5000) != os::LockResult::kAcquired)
    return 1;
  Signal::Send(args[1], "locked");
  for (;;) pause();
}

TEST(KernelObjects, MutexOfAKilledOwnerIsAcquiredAsAbandoned) {
  const std::string name = kqcp_test::UniqueName("abandon");
  NamedMutex mutex;
  ASSERT_EQ(CreateNamedMutex(mutex, name), 0);
  EXPECT_EQ(CreateNamedMutex(mutex, name), -1);  // holder already filled
  Signal locked;
  ChildProcess owner("HoldMutexForever", {name, locked.WriteFdArg()});
  ASSERT_EQ(locked.ReadLine(), "locked");
  owner.Kill();
  EXPECT_EQ(mutex.handle->LockFor(5000), os::LockResult::kAbandoned);
  EXPECT_EQ(mutex.handle->LockFor(5000), os::LockResult::kAcquired);  // recursive for its owner
  mutex.Unlock();
  mutex.Unlock();
  std::thread([&] {
    EXPECT_EQ(mutex.handle->LockFor(5000), os::LockResult::kAcquired);
    mutex.Unlock();
  }).join();
}

TEST(KernelObjects, ResultsForTakenMissingAndFilledHolders) {
  const std::string name = kqcp_test::UniqueName("codes");
  NamedMutex first, second, opened;
  EXPECT_EQ(OpenNamedMutex(opened, name), 2);
  ASSERT_EQ(CreateNamedMutex(first, name), 0);
  EXPECT_EQ(CreateNamedMutex(second, name), 2);
  EXPECT_EQ(second.handle, nullptr);
  EXPECT_EQ(OpenNamedMutex(opened, name), 0);
  EXPECT_EQ(OpenNamedMutex(opened, name), -1);

  Semaphore semaphore(0, 2048, false), again(0, 2048, false);
  EXPECT_EQ(OpenNamedSemaphore(semaphore, name), 2);
  ASSERT_EQ(CreateNamedSemaphore(semaphore, name, 0, 2048), 0);
  EXPECT_EQ(CreateNamedSemaphore(again, name, 0, 2048), 2);
  EXPECT_EQ(CreateNamedSemaphore(semaphore, name, 0, 2048), -1);
}

TEST(KernelObjects, NamedSemaphoreRefusesAReleasePastItsMaximum) {
  Semaphore semaphore(0, 2048, false);
  ASSERT_EQ(CreateNamedSemaphore(semaphore, kqcp_test::UniqueName("max"), 0, 2048), 0);
  EXPECT_TRUE(semaphore.Release(2048));
  EXPECT_FALSE(semaphore.Release(1));
  EXPECT_EQ(semaphore.Handle()->Count(), 2048u);
}

KQCP_CHILD(ReleaseNamedSemaphore) {
  Semaphore semaphore(0, 2048, false);
  if (OpenNamedSemaphore(semaphore, args[0]) != 0) return 1;
  return semaphore.Release(1) ? 0 : 2;
}

TEST(KernelObjects, OneWaitOnThreeHandlesWakesForEachAndTimesOut) {
  const std::string name = kqcp_test::UniqueName("three");
  Semaphore local0, named(0, 2048, false), local2;
  ASSERT_EQ(CreateNamedSemaphore(named, name, 0, 2048), 0);
  std::vector<os::CountingSemaphore*> handles{local0.Handle(), named.Handle(), local2.Handle()};

  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(os::WaitAny(handles, 100), -1);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));

  std::thread releaser([&] { local2.Release(1); });
  EXPECT_EQ(os::WaitAny(handles, 10000), 2);
  releaser.join();

  ChildProcess other("ReleaseNamedSemaphore", {name});
  EXPECT_EQ(os::WaitAny(handles, 10000), 1);
  EXPECT_EQ(other.Wait(), 0);

  local0.Release(1);
  EXPECT_EQ(os::WaitAny(handles, 10000), 0);
  EXPECT_EQ(os::WaitAny(handles, 0), -1);
}

TEST(KernelObjects, ArbitraryAndLongNamesMapToDistinctObjects) {
  const std::string base = kqcp_test::UniqueName("n");
  const std::string names[] = {base + "/with/slashes",
                               base + " spaces\t\x01\xff",
                               base + std::string(400, 'x'),
                               base + std::string(400, 'x') + "y",
                               base + "%2F",
                               base + "/"};
  std::vector<NamedMutex> held(std::size(names));
  for (std::size_t i = 0; i < std::size(names); ++i) {
    EXPECT_EQ(CreateNamedMutex(held[i], names[i]), 0) << i;
  }
  for (std::size_t i = 0; i < std::size(names); ++i) {
    NamedMutex opened;
    EXPECT_EQ(OpenNamedMutex(opened, names[i]), 0) << i;
  }
}

}  // namespace
}  // namespace Vantor::KQCP
