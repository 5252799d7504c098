// Test main for binaries whose tests start child processes: a child run executes its function
// instead of the tests.
#include <gtest/gtest.h>

#include "support/child_process.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (kqcp_test::RunChildIfRequested(argc, argv, &exitCode)) return exitCode;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
