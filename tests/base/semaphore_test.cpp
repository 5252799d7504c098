// Semaphore wrapper: counts 0 and 2048, the 2049th release refused.
#include "base/semaphore.h"

#include <gtest/gtest.h>

namespace VEXO::System::Thread {
namespace {

TEST(Semaphore, Accepts2048ReleasesAndRefusesThe2049th) {
  Semaphore semaphore(0, 2048, true);
  for (int i = 0; i < 2048; ++i) ASSERT_TRUE(semaphore.Release(1)) << i;
  EXPECT_FALSE(semaphore.Release(1));
  EXPECT_EQ(semaphore.Handle()->Count(), 2048u);
  EXPECT_TRUE(semaphore.Wait(0));
  EXPECT_TRUE(semaphore.Release(1));
}

TEST(Semaphore, WithoutHandleEverythingFails) {
  Semaphore empty(0, 2048, false);
  EXPECT_EQ(empty.Handle(), nullptr);
  EXPECT_FALSE(empty.Release(1));
  EXPECT_FALSE(empty.Wait(0));
  empty.Attach(std::make_unique<Vantor::KQCP::os::CountingSemaphore>(1, 2));
  EXPECT_TRUE(empty.Wait(0));
}

}  // namespace
}  // namespace VEXO::System::Thread
