// The file-backed registry store.
#include "os/registry_store.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace Vantor::KQCP::os {
namespace {

TEST(RegistryStore, ValuesSurviveReopeningAndEscaping) {
  kqcp_test::TempDir dir;
  const std::string file = dir.File("sub/registry");
  {
    RegistryStore store(file);
    ASSERT_TRUE(store.SetValue("Root/A/B", "", "default"));
    ASSERT_TRUE(store.SetValue("Root/A/B", "tab\tname", "line\nbreak\\slash"));
  }
  RegistryStore store(file);
  EXPECT_TRUE(store.KeyExists("Root"));
  EXPECT_TRUE(store.KeyExists("Root/A"));
  EXPECT_EQ(store.GetValue("Root/A/B", ""), "default");
  EXPECT_EQ(store.GetValue("Root/A/B", "tab\tname"), "line\nbreak\\slash");
  EXPECT_EQ(store.GetValue("Root/A/B", "missing"), std::nullopt);
}

TEST(RegistryStore, DeleteKeyRemovesSubtreeOnly) {
  kqcp_test::TempDir dir;
  RegistryStore store(dir.File("registry"));
  ASSERT_TRUE(store.CreateKey("R/A/deep/deeper"));
  ASSERT_TRUE(store.CreateKey("R/AB"));
  ASSERT_TRUE(store.DeleteKey("R/A"));
  EXPECT_EQ(store.Keys(), (std::vector<std::string>{"R", "R/AB"}));
  EXPECT_TRUE(store.DeleteKey("R/never"));
}

}  // namespace
}  // namespace Vantor::KQCP::os
