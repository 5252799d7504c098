// Share sessions in the user's private namespace, with real processes: a service of another user
// under the same platform name never hears this user's clients, a normal exit leaves no file of
// the platform behind, files of killed processes are swept by the next start, and a folder that
// another user made first under /dev/shm does not stop a user who has a runtime folder.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "com/com_ptr.h"
#include "os/named_object.h"
#include "session_fixture.h"
#include "share/share_session_manager.h"
#include "support/child_process.h"

namespace Vantor::KQCP {
namespace {

namespace fs = std::filesystem;
using kqcp_test::SessionPeer;

constexpr uid_t kIntruder = 61001;

// Files of the user's namespace that belong to the platform.
std::vector<std::string> FilesOf(const std::string& platform) {
  std::vector<std::string> found;
  const std::string anyObject = os::NamedObject::FilePath(os::NamedKind::kMutex, "x");
  const fs::path folder = fs::path(anyObject).parent_path();
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(platform) != std::string::npos) found.push_back(name);
  }
  return found;
}

TEST(ShareNamespace, AnotherUsersServiceNeverHearsThisUsersClients) {
  if (!kqcp_test::CanRunAsOtherUsers()) GTEST_SKIP() << "needs root to act as another user";
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer squatter("EchoService", platform, {}, kIntruder);
  ASSERT_EQ(squatter.Line(), "ready");
  {
    // With only the other user's service there is nothing to join.
    SessionPeer client("Client", platform, "victim");
    EXPECT_EQ(client.Line(), "start-failed");
  }
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready") << "the other user's service must not block the name";
  SessionPeer client("Client", platform, "victim");
  ASSERT_EQ(client.Line(), "ready");
  EXPECT_TRUE(client.RoundTrip());
  EXPECT_EQ(service.LineStartingWith("request "), "request victim ask");
  EXPECT_EQ(squatter.Line(300), "") << "the other user heard a request";
  EXPECT_EQ(client.Exit(), 0);
  EXPECT_EQ(service.Exit(), 0);
  EXPECT_EQ(squatter.Exit(), 0);
  fs::remove_all("/dev/shm/kqcp-" + std::to_string(kIntruder));
}

// In a mount namespace of its own, with empty /dev/shm and /run: another user takes this
// user's folder under /dev/shm first; a service fails, then works once the user has a runtime
// folder, and a client reaches it. Exit 77 when namespaces or mounts are not allowed here.
KQCP_CHILD(SquattedSharedMemory) {
  if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) ||
      mount("none", "/dev/shm", "tmpfs", 0, "mode=1777") != 0 ||
      mount("none", "/run", "tmpfs", 0, "mode=755") != 0) {
    return 77;
  }
  const std::string uid = std::to_string(geteuid());
  const std::string squatted = "/dev/shm/kqcp-" + uid;
  if (mkdir(squatted.c_str(), 0700) != 0 || chown(squatted.c_str(), kIntruder, kIntruder) != 0) {
    return 1;
  }
  const std::string platform = kqcp_test::PlatformName();
  {
    SessionPeer refused("EchoService", platform);
    if (refused.Line() != "start-failed") return 2;
    refused.Command("exit");
  }
  const std::string runtime = "/run/user/" + uid;
  if (mkdir("/run/user", 0755) != 0 || mkdir(runtime.c_str(), 0700) != 0) return 3;
  SessionPeer service("EchoService", platform);
  if (service.Line() != "ready") return 4;
  SessionPeer client("Client", platform, "client");
  if (client.Line() != "ready" || !client.RoundTrip()) return 5;
  struct stat folder {};
  if (stat((runtime + "/kqcp").c_str(), &folder) != 0 || (folder.st_mode & 077) != 0) return 6;
  if (os::NamedObject::FilePath(os::NamedKind::kMutex, "x").rfind(runtime + "/kqcp/", 0) != 0) {
    return 7;
  }
  return client.Exit() == 0 && service.Exit() == 0 ? 0 : 8;
}

TEST(ShareNamespace, AFolderAnotherUserTookFirstGivesWayToTheRuntimeFolder) {
  if (!kqcp_test::CanRunAsOtherUsers()) GTEST_SKIP() << "needs root to act as another user";
  kqcp_test::ChildProcess world("SquattedSharedMemory");
  const int code = world.Wait();
  if (code == 77) GTEST_SKIP() << "no mount namespace of its own can be made here";
  EXPECT_EQ(code, 0);
}

TEST(ShareNamespace, ProcessesThatExitNormallyLeaveNoFiles) {
  const std::string platform = kqcp_test::PlatformName();
  {
    SessionPeer service("EchoService", platform);
    ASSERT_EQ(service.Line(), "ready");
    std::vector<std::unique_ptr<SessionPeer>> clients;
    for (const char* name : {"one", "two", "three"}) {
      clients.push_back(std::make_unique<SessionPeer>("Client", platform, name));
      ASSERT_EQ(clients.back()->Line(), "ready");
      EXPECT_TRUE(clients.back()->RoundTrip());
    }
    EXPECT_FALSE(FilesOf(platform).empty());
    // Clients first and service first both leave nothing: the last holder removes each name.
    EXPECT_EQ(clients[0]->Exit(), 0);
    EXPECT_EQ(service.Exit(), 0);
    EXPECT_EQ(clients[1]->Exit(), 0);
    EXPECT_EQ(clients[2]->Exit(), 0);
  }
  EXPECT_EQ(FilesOf(platform), std::vector<std::string>{});
}

TEST(ShareNamespace, FilesOfKilledProcessesAreSweptByTheNextStartAndOnRequest) {
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready");
  {
    SessionPeer doomed("Client", platform, "doomed");
    ASSERT_EQ(doomed.Line(), "ready");
    doomed.Process().Kill();
  }
  auto doomedFiles = [&] {
    std::vector<std::string> files;
    for (auto& file : FilesOf(platform)) {
      if (file.find("doomed") != std::string::npos) files.push_back(file);
    }
    return files;
  };
  // (Other tests' processes sweep the same folder, so what the kill left is not counted here.)
  SessionPeer next("Client", platform, "next");
  ASSERT_EQ(next.Line(), "ready");
  EXPECT_EQ(doomedFiles(), std::vector<std::string>{});
  EXPECT_TRUE(next.RoundTrip()) << "the sweep left live objects alone";

  next.Process().Kill();
  service.Process().Kill();
  ASSERT_FALSE(FilesOf(platform).empty());
  com::ComPtr<IShareNamespace> names;
  ASSERT_EQ(
      ShareSessionManagerHolder::Instance()->QueryInterface(IID_IShareNamespace, names.PutVoid()),
      S_OK);
  std::int32_t removed = -1;
  EXPECT_EQ(names->SweepStale(&removed), S_OK);
  EXPECT_GE(removed, 0);
  EXPECT_EQ(FilesOf(platform), std::vector<std::string>{});
}

}  // namespace
}  // namespace Vantor::KQCP
