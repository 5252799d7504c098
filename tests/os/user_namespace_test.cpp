// The user's private namespace of named objects: what the user itself planted at a name is
// refused, another user can neither reach nor squat the user's objects, and a folder that is not
// the user's own and closed is never used. Tests that act as other users need root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "os/named_object.h"
#include "os/shared_memory.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace Vantor::KQCP::os {
namespace {

namespace fs = std::filesystem;
using kqcp_test::ChildProcess;

// Unused ids for the other users of these tests.
constexpr uid_t kIntruder = 61001;
constexpr uid_t kVictim = 61002;

std::string FolderOf(uid_t user) { return "/dev/shm/kqcp-" + std::to_string(user); }

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(UserNamespace, FolderIsTheUsersOwnAndClosedToOthers) {
  NamedResult result{};
  auto memory = SharedMemory::Create(kqcp_test::UniqueName("folder"), 64, &result);
  ASSERT_TRUE(memory);
  struct stat info {};
  ASSERT_EQ(lstat(FolderOf(geteuid()).c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_uid, geteuid());
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(UserNamespace, WhatTheUserPlantedAtANameIsRefused) {
  // In the same folder, so that a hard link to it can be made.
  const std::string bystander = FolderOf(geteuid()) + "/" + kqcp_test::UniqueName("bystander");
  ASSERT_FALSE(NamedObject::FilePath(NamedKind::kSharedMemory, "any").empty());
  std::ofstream(bystander) << "keep me";
  chmod(bystander.c_str(), 0600);  // so that only its second link tells it apart
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> plant;
  } cases[] = {
      {"a symlink to another file",
       [&](const std::string& p) { symlink(bystander.c_str(), p.c_str()); }},
      {"a file others may write",
       [](const std::string& p) {
         close(open(p.c_str(), O_CREAT | O_WRONLY, 0600));
         chmod(p.c_str(), 0666);
       }},
      {"a second link of another file",
       [&](const std::string& p) { link(bystander.c_str(), p.c_str()); }},
      {"a fifo", [](const std::string& p) { mkfifo(p.c_str(), 0600); }},
      {"a folder", [](const std::string& p) { mkdir(p.c_str(), 0700); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = kqcp_test::UniqueName("planted");
    const std::string path = NamedObject::FilePath(NamedKind::kSharedMemory, name);
    ASSERT_FALSE(path.empty());
    c.plant(path);
    NamedResult result{};
    EXPECT_FALSE(SharedMemory::Create(name, 64, &result));
    EXPECT_EQ(result, NamedResult::kFailed);
    EXPECT_FALSE(SharedMemory::Open(name, &result));
    // A sweep leaves what it cannot trust alone, too.
    NamedObject::RemoveStale();
    EXPECT_EQ(ReadFile(bystander), "keep me");
    fs::remove(path);
    EXPECT_TRUE(SharedMemory::Create(name, 64, &result)) << "usable again once removed";
  }
  fs::remove(bystander);
}

// Tries, as another user, to reach or squat the object the parent made.
KQCP_CHILD(IntrudeOn) {
  const std::string& name = args[0];
  const std::string& victimFile = args[1];
  NamedResult result{};
  // The intruder's own namespace knows nothing of the victim's name...
  if (SharedMemory::Open(name, &result)) return 10;
  // ...the victim's files and folder are closed to it...
  if (open(victimFile.c_str(), O_RDWR) >= 0 || errno != EACCES) return 11;
  const std::string folder = victimFile.substr(0, victimFile.rfind('/'));
  if (open((folder + "/kqcp.shm.planted").c_str(), O_CREAT | O_RDWR, 0666) >= 0) return 12;
  if (symlink("/etc/passwd", (folder + "/kqcp.shm.link").c_str()) == 0) return 13;
  // ...and a service of the same name lives apart from the victim's.
  auto own = SharedMemory::Create(name, 64, &result);
  if (!own) return 14;
  std::memcpy(own->Data(), "intruder", 8);
  return 0;
}

TEST(UserNamespace, AnotherUserCanNeitherReachNorSquatTheUsersObjects) {
  if (!kqcp_test::CanRunAsOtherUsers()) GTEST_SKIP() << "needs root to act as another user";
  const std::string name = kqcp_test::UniqueName("guarded");
  NamedResult result{};
  auto mine = SharedMemory::Create(name, 64, &result);
  ASSERT_TRUE(mine);
  std::memcpy(mine->Data(), "victim", 6);
  ChildProcess intruder("IntrudeOn", {name, NamedObject::FilePath(NamedKind::kSharedMemory, name)},
                        kIntruder);
  EXPECT_EQ(intruder.Wait(), 0);
  EXPECT_EQ(std::memcmp(mine->Data(), "victim", 6), 0);
  // Normal use carries on: the name is still this user's.
  auto again = SharedMemory::Open(name, &result);
  ASSERT_TRUE(again);
  EXPECT_EQ(std::memcmp(again->Data(), "victim", 6), 0);
  fs::remove_all(FolderOf(kIntruder));
}

// Makes one object as the victim user: exit 0 when it could, 1 when it was refused.
KQCP_CHILD(MakeObject) {
  NamedResult result{};
  return SharedMemory::Create(args[0], 64, &result) ? 0 : 1;
}

TEST(UserNamespace, AFolderThatIsNotTheUsersOwnAndClosedIsNeverUsed) {
  if (!kqcp_test::CanRunAsOtherUsers()) GTEST_SKIP() << "needs root to act as other users";
  const std::string folder = FolderOf(kVictim), intruderFolder = FolderOf(kIntruder);
  struct Case {
    const char* what;
    std::function<void()> prepare;
  } cases[] = {
      {"an intruder's open folder",
       [&] {
         mkdir(folder.c_str(), 0777);
         chmod(folder.c_str(), 0777);
         chown(folder.c_str(), kIntruder, kIntruder);
       }},
      {"a symlink to the intruder's folder",
       [&] {
         mkdir(intruderFolder.c_str(), 0700);
         chown(intruderFolder.c_str(), kIntruder, kIntruder);
         symlink(intruderFolder.c_str(), folder.c_str());
       }},
      {"the victim's own folder open to others",
       [&] {
         mkdir(folder.c_str(), 0755);
         chown(folder.c_str(), kVictim, kVictim);
       }},
      {"a plain file", [&] { close(open(folder.c_str(), O_CREAT | O_WRONLY, 0600)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.prepare();
    ChildProcess victim("MakeObject", {"probe"}, kVictim);
    EXPECT_EQ(victim.Wait(), 1);
    EXPECT_FALSE(fs::exists(intruderFolder + "/kqcp.shm.probe"));
    std::error_code ignored;
    fs::remove(folder, ignored);
    fs::remove_all(intruderFolder, ignored);
  }
  // Without a folder in the way the victim makes its own and uses it.
  ChildProcess victim("MakeObject", {"probe"}, kVictim);
  EXPECT_EQ(victim.Wait(), 0);
  struct stat info {};
  ASSERT_EQ(lstat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, kVictim);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace Vantor::KQCP::os
