// Peers that stop, fork and scribble while a platform runs, with real processes: a peer that
// keeps a name's transition lock (as one stopped inside its own create or close would), a
// service whose forked helper outlives it, and a proxy map whose used word keeps flipping.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "os/named_object.h"
#include "session_fixture.h"
#include "share/share_map_memory.h"
#include "share/wire/object_names.h"
#include "support/child_process.h"
#include "support/time_scale.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::ChildProcess;
using kqcp_test::kTimeScale;
using kqcp_test::SessionPeer;
using kqcp_test::Signal;
using Clock = std::chrono::steady_clock;

// Takes the transition lock of an object file the way a process inside its create, open or
// close of the name holds it, and keeps it. args: the file, report fd.
KQCP_CHILD(HoldTransitionLock) {
  const int fd = open(args[0].c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 1;
  lock.l_len = 1;
  if (fd < 0 || fcntl(fd, F_OFD_SETLK, &lock) != 0) return 1;
  Signal::Send(args[1], "held");
  for (;;) pause();
}

// Keeps the transition lock of a named mutex for as long as it lives.
class TransitionHolder {
 public:
  explicit TransitionHolder(const std::string& mutexName)
      : child_("HoldTransitionLock",
               {os::NamedObject::FilePath(os::NamedKind::kMutex, mutexName), held_.WriteFdArg()}) {}
  bool Holding() { return held_.ReadLine() == "held"; }
  void Release() { child_.Kill(); }

 private:
  Signal held_;
  ChildProcess child_;
};

std::int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(StoppedPeers, APlatformMutexKeptBusyBoundsANewClientsStart) {
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready");
  SessionPeer alpha("Client", platform, "alpha");
  ASSERT_EQ(alpha.Line(), "ready");
  TransitionHolder holder(wire::PlatformMutexName(platform));
  ASSERT_TRUE(holder.Holding());

  const auto start = Clock::now();
  SessionPeer late("Client", platform, "late");
  EXPECT_EQ(late.Line(), "start-failed");
  // Start's own bound is 5 s; the process start is on top of it.
  EXPECT_LT(MsSince(start), 7000 * kTimeScale);
  EXPECT_TRUE(alpha.RoundTrip());

  holder.Release();
  SessionPeer again("Client", platform, "again");
  ASSERT_EQ(again.Line(), "ready");
  EXPECT_TRUE(again.RoundTrip());
  EXPECT_EQ(alpha.Exit(), 0);
}

TEST(StoppedPeers, AClientQueueKeptBusyHoldsUpNoOtherClient) {
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready");
  SessionPeer held("Client", platform, "held"), other("Client", platform, "other");
  ASSERT_EQ(held.Line(), "ready");
  ASSERT_EQ(other.Line(), "ready");
  TransitionHolder holder(wire::QueueMutexName(wire::ReceiveQueueName(platform, "held")));
  ASSERT_TRUE(holder.Holding());

  // The service must open held's queue for the reply, and cannot yet.
  held.Command("request first 4");
  const std::string posted = held.LineStartingWith("posted ");
  ASSERT_FALSE(posted.empty());
  for (int i = 0; i < 5; ++i) {
    const auto start = Clock::now();
    EXPECT_TRUE(other.RoundTrip(4, 2000 * kTimeScale)) << i;
    EXPECT_LT(MsSince(start), 1000 * kTimeScale) << i;
  }
  // Once the name is free again the waiting reply goes out, within its retry limit.
  holder.Release();
  EXPECT_FALSE(held.LineStartingWith("response " + posted.substr(7) + " ", 8000).empty());
  EXPECT_EQ(held.Exit(), 0);
  EXPECT_EQ(other.Exit(), 0);
}

TEST(StoppedPeers, TheServicesQueueKeptBusyNeverStallsAPost) {
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready");
  SessionPeer alpha("Client", platform, "alpha");
  ASSERT_EQ(alpha.Line(), "ready");
  ASSERT_TRUE(alpha.RoundTrip());  // alpha keeps the service's queue open from now on
  TransitionHolder holder(wire::QueueMutexName(wire::ReceiveQueueName(platform, "")));
  ASSERT_TRUE(holder.Holding());

  SessionPeer late("Client", platform, "late");
  ASSERT_EQ(late.Line(), "ready");
  late.Command("timedrequest first 4");
  const std::string took = late.LineStartingWith("post-took ");
  ASSERT_FALSE(took.empty());
  EXPECT_LT(std::stoll(took.substr(10)), 100 * kTimeScale) << took;
  EXPECT_TRUE(took.ends_with(" 00000000")) << took;
  EXPECT_TRUE(alpha.RoundTrip(4, 2000 * kTimeScale));

  holder.Release();
  EXPECT_EQ(service.LineStartingWith("request late ", 8000), "request late first");
  EXPECT_FALSE(late.LineStartingWith("response ", 8000).empty());
  EXPECT_EQ(alpha.Exit(), 0);
  EXPECT_EQ(late.Exit(), 0);
}

TEST(StoppedPeers, AForkedHelperDoesNotKeepAKilledServicesNames) {
  const std::string platform = kqcp_test::PlatformName();
  auto service = std::make_unique<SessionPeer>("EchoService", platform);
  ASSERT_EQ(service->Line(), "ready");
  SessionPeer alpha("Client", platform, "alpha");
  ASSERT_EQ(alpha.Line(), "ready");
  service->Command("fork");
  const std::string forked = service->LineStartingWith("forked ");
  ASSERT_FALSE(forked.empty());
  const pid_t helper = std::stoi(forked.substr(7));
  service->Process().Kill();
  service.reset();

  const auto restarted = Clock::now();
  SessionPeer successor("EchoService", platform);
  EXPECT_EQ(successor.Line(), "ready");
  EXPECT_LT(MsSince(restarted), 2000 * kTimeScale);
  EXPECT_TRUE(alpha.RoundTrip());
  EXPECT_EQ(kill(helper, 0), 0) << "the helper must still live for the test to mean anything";
  kill(helper, SIGKILL);
  // A child of a started client gets no share sessions of its parent's: posts are refused.
  alpha.Command("forkpost");
  EXPECT_EQ(alpha.LineStartingWith("forkpost "), "forkpost 0");
  EXPECT_TRUE(alpha.RoundTrip()) << "the parent goes on";
  EXPECT_EQ(alpha.Exit(), 0);
  EXPECT_EQ(successor.Exit(), 0);
}

TEST(StoppedPeers, AFlippingProxyMapWordNeitherCrashesNorSilencesTheService) {
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready");
  SessionPeer alpha("Client", platform, "alpha");
  ASSERT_EQ(alpha.Line(), "ready");
  ShareMapMemory map;
  ASSERT_TRUE(map.Open(wire::ProxyMapName(platform), false));

  // The used word takes values below, inside and far past the entries, as fast as it can.
  std::atomic<bool> flipping{true};
  std::thread flipper([&] {
    const std::uint32_t values[] = {0, 3, 8, 13, 18, 40960, 0xFFFFFFF0u, 0x7FFFFFFFu};
    for (std::uint32_t i = 0; flipping.load(std::memory_order_relaxed); ++i) {
      std::uint32_t value = values[i % std::size(values)];
      std::memcpy(map.GetData() - 4, &value, sizeof value);
    }
  });
  const auto start = Clock::now();
  int round = 0;
  while (MsSince(start) < 10000) {
    service.Command("broadcast 1 2 3");
    EXPECT_FALSE(service.LineStartingWith("broadcast ", 5000 * kTimeScale).empty()) << round;
    ChildProcess joiner("JoinAndLeave", {platform, "joiner" + std::to_string(round % 4)});
    joiner.Wait();
    ++round;
  }
  flipping = false;
  flipper.join();
  EXPECT_TRUE(alpha.RoundTrip());
  service.Command("resets");
  const std::string resets = service.LineStartingWith("resets ");
  ASSERT_FALSE(resets.empty());
  EXPECT_GT(std::stoll(resets.substr(7)), 0) << "each repair is counted";
  EXPECT_EQ(alpha.Exit(), 0);
  EXPECT_EQ(service.Exit(), 0);
}

}  // namespace
}  // namespace Vantor::KQCP
