// Process liveness, including an ended but not yet reaped child.
#include "os/process.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace Vantor::KQCP::os {
namespace {

TEST(Process, LivenessFollowsTheProcess) {
  EXPECT_TRUE(ProcessAlive(CurrentProcessId()));
  EXPECT_FALSE(ProcessAlive(0));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(ProcessAlive(static_cast<std::uint32_t>(child)));  // zombie
  waitpid(child, nullptr, 0);
  EXPECT_FALSE(ProcessAlive(static_cast<std::uint32_t>(child)));
}

}  // namespace
}  // namespace Vantor::KQCP::os
