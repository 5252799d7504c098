// CriticalSection: recursive for its owner, exclusive between threads, left on exceptions.
#include "base/critical_section.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

namespace VEXO::System::Thread {
namespace {

TEST(CriticalSection, RecursiveForOwnerExclusiveForOthers) {
  CriticalSection lock;
  ScopedLock outer(lock);
  {
    ScopedLock inner(lock);  // same thread enters again
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = lock.TryEnter(); }).join();
    EXPECT_FALSE(otherGotIt);
  }
  bool otherGotIt = true;
  std::thread([&] { otherGotIt = lock.TryEnter(); }).join();
  EXPECT_FALSE(otherGotIt);  // still held once
}

TEST(CriticalSection, ScopedLockLeavesWhenAnExceptionPasses) {
  CriticalSection lock;
  try {
    ScopedLock guard(lock);
    throw std::runtime_error("boom");
  } catch (const std::runtime_error&) {
  }
  bool otherGotIt = false;
  std::thread([&] {
    otherGotIt = lock.TryEnter();
    if (otherGotIt) lock.Leave();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

}  // namespace
}  // namespace VEXO::System::Thread
