// The file-backed registry store: values, subtrees, where the user's store lives, and writes
// that never follow a planted symlink.
#include "os/registry_store.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

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

std::string Contents(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

// Puts XDG_CONFIG_HOME and HOME back as they were, for whatever runs later in the process.
class EnvironmentRestore {
 public:
  EnvironmentRestore() {
    for (int i = 0; i < 2; ++i) {
      if (const char* value = std::getenv(kNames[i])) saved_[i] = value;
    }
  }
  ~EnvironmentRestore() {
    for (int i = 0; i < 2; ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
  }
  EnvironmentRestore(const EnvironmentRestore&) = delete;
  EnvironmentRestore& operator=(const EnvironmentRestore&) = delete;

 private:
  static constexpr const char* kNames[2] = {"XDG_CONFIG_HOME", "HOME"};
  std::optional<std::string> saved_[2];
};

TEST(RegistryStore, TheDefaultStoreLiesInTheUsersOwnDirectoriesOnly) {
  const passwd* user = getpwuid(getuid());
  ASSERT_NE(user, nullptr);
  const std::string fromDatabase = std::string(user->pw_dir) + "/.config/kqcp/registry";
  struct Case {
    std::optional<std::string> config;  // XDG_CONFIG_HOME; nullopt: unset
    std::optional<std::string> home;    // HOME
    std::string expected;
  };
  const Case cases[] = {
      {"/srv/cfg", "/home/someone", "/srv/cfg/kqcp/registry"},
      {std::nullopt, "/home/someone", "/home/someone/.config/kqcp/registry"},
      {"", "/home/someone", "/home/someone/.config/kqcp/registry"},
      {"relative/cfg", "/home/someone", "/home/someone/.config/kqcp/registry"},
      {std::nullopt, std::nullopt, fromDatabase},
      {std::nullopt, "", fromDatabase},
      {std::nullopt, "relative", fromDatabase},
  };
  const EnvironmentRestore restore;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.config.value_or("(unset)") + " " + c.home.value_or("(unset)"));
    for (const auto& [name, value] :
         {std::pair{"XDG_CONFIG_HOME", c.config}, std::pair{"HOME", c.home}}) {
      if (value) {
        setenv(name, value->c_str(), 1);
      } else {
        unsetenv(name);
      }
    }
    const std::string path = RegistryStore::DefaultPath();
    EXPECT_EQ(path, c.expected);
    // Never a shared temporary directory, whatever the environment lacks.
    EXPECT_NE(path.rfind(std::filesystem::temp_directory_path().string(), 0), 0u);
    EXPECT_NE(path.rfind("/tmp", 0), 0u);
  }
}

// A directory with a file an attacker wants overwritten, and the store's path beside it.
struct PlantedDirectory : testing::Test {
  PlantedDirectory() { std::ofstream(victim) << "precious\n"; }
  kqcp_test::TempDir dir;
  const std::string victim = dir.File("victim");
  const std::string file = dir.File("registry");
};

TEST_F(PlantedDirectory, WritesReplaceASymlinkInsteadOfFollowingIt) {
  // Planted where a store written through "<store>.tmp" or at the store itself would land.
  std::filesystem::create_symlink(victim, file + ".tmp");
  std::filesystem::create_symlink(victim, file);
  {
    RegistryStore store(file);
    ASSERT_TRUE(store.SetValue("Root/A", "", "value"));
    EXPECT_EQ(store.GetValue("Root/A", ""), "value");
  }
  EXPECT_EQ(Contents(victim), "precious\n");
  EXPECT_FALSE(std::filesystem::is_symlink(file));
  // Nothing else is left beside the store than the planted link, the lock and the victim.
  int entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    ++entries;
    const std::string name = entry.path().filename().string();
    EXPECT_TRUE(name == "registry" || name == "registry.tmp" || name == "registry.lock" ||
                name == "victim")
        << name;
  }
  EXPECT_EQ(entries, 4);
}

TEST_F(PlantedDirectory, ALockFileReplacedByASymlinkIsRefused) {
  std::filesystem::create_symlink(victim, file + ".lock");
  RegistryStore store(file);
  EXPECT_FALSE(store.CreateKey("Root"));
  EXPECT_EQ(Contents(victim), "precious\n");
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace Vantor::KQCP::os
