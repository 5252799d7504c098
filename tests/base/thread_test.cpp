// Thread base: exit code from Run, flags, and the 2000 result when no thread can be made.
#include "base/thread.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>

namespace VEXO::System::Thread {
namespace {

class Returns7 : public Thread {
 protected:
  std::uint32_t Run() override {
    sawRunning = IsRunning();
    return 7;
  }

 public:
  std::atomic<bool> sawRunning{false};
};

TEST(Thread, RunResultBecomesTheExitCode) {
  Returns7 thread;
  EXPECT_FALSE(thread.IsCreated());
  ASSERT_EQ(thread.Start(true), 0u);
  EXPECT_TRUE(thread.IsCreated());
  EXPECT_TRUE(thread.StartFlag());
  ASSERT_TRUE(thread.Handle()->Wait(Vantor::KQCP::os::kInfinite));
  EXPECT_EQ(thread.Handle()->ExitCode(), 7u);
  EXPECT_TRUE(thread.sawRunning);
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_NE(thread.ThreadId(), 0u);
}

// Makes every thread created with default attributes ask for an impossible stack.
class ImpossibleDefaultStack {
 public:
  ImpossibleDefaultStack() {
    pthread_getattr_default_np(&saved_);
    pthread_attr_t huge;
    pthread_attr_init(&huge);
    pthread_attr_setstacksize(&huge, std::size_t{1} << 46);
    pthread_setattr_default_np(&huge);
    pthread_attr_destroy(&huge);
  }
  ~ImpossibleDefaultStack() {
    pthread_setattr_default_np(&saved_);
    pthread_attr_destroy(&saved_);
  }

 private:
  pthread_attr_t saved_{};
};

TEST(Thread, FailedCreationReturns2000AndStaysUncreated) {
  Returns7 thread;
  std::uint32_t result = 0;
  {
    ImpossibleDefaultStack noStack;
    result = thread.Start(true);
  }
  EXPECT_EQ(result, Thread::kStartFailed);
  EXPECT_FALSE(thread.IsCreated());
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(thread.Handle(), nullptr);
}

}  // namespace
}  // namespace VEXO::System::Thread
