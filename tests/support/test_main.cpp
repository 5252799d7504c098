// Test main: a child run executes its function instead of the tests; after the tests, files of
// named objects that ended processes left behind are removed.
#include <gtest/gtest.h>

#include "os/named_object.h"
#include "support/child_process.h"

int main(int argc, char** argv) {
  int exitCode = 0;
  if (kqcp_test::RunChildIfRequested(argc, argv, &exitCode)) return exitCode;
  testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  // Killed children and never-destroyed singletons leave files of named objects behind.
  Vantor::KQCP::os::NamedObject::RemoveStale();
  return result;
}
