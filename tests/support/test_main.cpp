// Test main: a child run executes its function instead of the tests. Nothing is swept after the
// tests, so that files a test's processes leave behind stay visible.
#include <gtest/gtest.h>

#include "support/child_process.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (kqcp_test::RunChildIfRequested(argc, argv, &exitCode)) return exitCode;
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
