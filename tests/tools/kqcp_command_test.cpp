// The kqcp command against a live platform: a real echo service and two real clients, one of
// them killed; and against hand-scribbled mappings and bad arguments.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "os/named_mutex.h"
#include "os/named_object.h"
#include "os/process.h"
#include "os/shared_memory.h"
#include "share/platform_proxy_map.h"
#include "share/published_statistics.h"
#include "share/session_fixture.h"
#include "share/share_map_memory.h"
#include "share/share_package_data_queue.h"
#include "share/wire/object_names.h"
#include "support/temp_dir.h"

using namespace Vantor::KQCP;
using kqcp_test::SessionPeer;

namespace {

struct Outcome {
  int exitCode = -1;
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the command with the arguments (shell words) and collects both streams.
Outcome Kqcp(const std::string& arguments) {
  static kqcp_test::TempDir dir;
  const std::string out = dir.File("out"), err = dir.File("err");
  const std::string command =
      std::string(KQCP_TOOL) + " " + arguments + " >" + out + " 2>" + err + " </dev/null";
  const int status = std::system(command.c_str());
  Outcome outcome;
  outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = ReadAll(out);
  outcome.err = ReadAll(err);
  return outcome;
}

// What the jq filter makes of a JSON document, trimmed.
std::string Jq(const std::string& json, const std::string& filter) {
  static kqcp_test::TempDir dir;
  const std::string file = dir.File("doc.json");
  std::ofstream(file) << json;
  std::FILE* pipe = popen(("jq -r '" + filter + "' " + file).c_str(), "r");
  std::string text;
  char buffer[512];
  while (pipe && std::fgets(buffer, sizeof buffer, pipe)) text += buffer;
  if (pipe) pclose(pipe);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// list --json of one platform until the filter yields the wanted text (generous bound).
std::string ListUntil(const std::string& platform, const std::string& filter,
                      const std::string& wanted) {
  std::string json;
  for (int attempt = 0; attempt < 200; ++attempt) {
    json = Kqcp("list --json " + platform).out;
    if (Jq(json, filter) == wanted) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return json;
}

// Waits until every thread of the process has stopped (generous bound).
bool IsStopped(pid_t pid) {
  for (int attempt = 0; attempt < 500; ++attempt) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t close = text.rfind(')');
    if (close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'T')
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

std::string Pid(SessionPeer& peer) { return std::to_string(peer.Process().Pid()); }

TEST(KqcpCommand, ListsServiceAndClientsAndSweepsOnlyTheKilledClient) {
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready");
  SessionPeer alpha("Client", platform, "alpha"), beta("Client", platform, "beta");
  ASSERT_EQ(alpha.Line(), "ready");
  ASSERT_EQ(beta.Line(), "ready");
  ASSERT_TRUE(alpha.RoundTrip());
  ASSERT_TRUE(beta.RoundTrip());
  service.Command("setdata twelve-bytes");
  ASSERT_EQ(service.LineStartingWith("setdata "), "setdata 00000000");

  // Records wait in the service's queue while it is stopped.
  ASSERT_EQ(kill(service.Process().Pid(), SIGSTOP), 0);
  ASSERT_TRUE(IsStopped(service.Process().Pid()));
  for (int i = 0; i < 3; ++i) alpha.Command("request held 100");
  const std::string held = ListUntil(platform, ".platforms[0].service.queue.records", "3");
  SCOPED_TRACE(held);
  kill(service.Process().Pid(), SIGCONT);
  const std::string platformFilter = ".platforms[0]";
  const std::string alphaFilter = ".platforms[0].clients[]|select(.name==\"alpha\")";
  EXPECT_EQ(Jq(held, platformFilter + ".name"), platform);
  EXPECT_EQ(Jq(held, platformFilter + ".service.pid"), Pid(service));
  EXPECT_EQ(Jq(held, platformFilter + ".service.alive"), "true");
  EXPECT_EQ(Jq(held, platformFilter + ".service.queue.records"), "3");
  const long bytes = std::stol(Jq(held, platformFilter + ".service.queue.bytes"));
  EXPECT_GT(bytes, 300);
  EXPECT_EQ(bytes % 3, 0) << "three equal records";
  EXPECT_EQ(
      Jq(held, platformFilter + ".service.queue.capacity"),
      std::to_string(SharePackageDataQueue::kCapacity - SharePackageDataQueue::kQueueHeaderSize));
  EXPECT_EQ(
      Jq(held, platformFilter + "|[.clients[]|\"\\(.name) \\(.pid) \\(.alive)\"]|sort|join(\",\")"),
      "alpha " + Pid(alpha) + " true,beta " + Pid(beta) + " true");
  EXPECT_EQ(Jq(held, alphaFilter + ".queue.records"), "0");
  EXPECT_EQ(Jq(held, platformFilter + ".sessions[0]|\"\\(.name) \\(.bytes)\""), "S 12");
  EXPECT_EQ(Jq(held, platformFilter + ".errors|length"), "0");

  // Once resumed, the service answers all three; the counters say so.
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(alpha.LineStartingWith("response ").empty());
  // Counters grow just after the work they count: wait for them (generous bound).
  const std::string figures = "[(" + alphaFilter + "|.counters.posted, .counters.received), " +
                              platformFilter +
                              ".service.counters.received]|map(tostring)|join(\" \")";
  const std::string resumed = ListUntil(platform, figures, "4 4 5");
  EXPECT_EQ(Jq(resumed, figures), "4 4 5");
  EXPECT_EQ(Jq(resumed, platformFilter + ".service.queue.records"), "0");
  EXPECT_EQ(Jq(resumed, platformFilter + ".service.counters.droppedFull"), "0");

  const Outcome table = Kqcp("list " + platform);
  EXPECT_EQ(table.exitCode, 0) << table.err;
  EXPECT_NE(table.out.find("alpha"), std::string::npos) << table.out;
  const Outcome watched = Kqcp("watch " + platform + " --count 2");
  EXPECT_EQ(watched.exitCode, 0) << watched.err;
  EXPECT_NE(watched.out.find("post/s"), std::string::npos) << watched.out;
  // Without a count, an interrupt ends the watch, and that is a success.
  const int interrupted =
      std::system(("timeout --preserve-status -s INT 2 " + std::string(KQCP_TOOL) + " watch " +
                   platform + " >/dev/null")
                      .c_str());
  EXPECT_TRUE(WIFEXITED(interrupted) && WEXITSTATUS(interrupted) == 0) << interrupted;

  const std::string betaQueue = wire::ReceiveQueueName(platform, "beta");
  beta.Process().Kill();
  const Outcome swept = Kqcp("sweep --json");
  ASSERT_EQ(swept.exitCode, 0) << swept.err;
  const std::string removed = Jq(swept.out, "[.removed[]|select(.name|startswith(\"" + platform +
                                                "\"))|\"\\(.kind) \\(.name)\"]|sort|join(\",\")");
  // Every Start of a test running beside this one sweeps too, and may take some of them first:
  // the sweep removes nothing but beta's files, and afterwards none of them is left.
  const std::vector<std::pair<os::NamedKind, std::string>> betaFiles = {
      {os::NamedKind::kMutex, wire::QueueMutexName(betaQueue)},
      {os::NamedKind::kSemaphore, wire::QueueSemaphoreName(betaQueue)},
      {os::NamedKind::kSharedMemory, wire::QueueMapName(betaQueue)},
      {os::NamedKind::kSharedMemory, wire::StatisticsName(betaQueue)}};
  std::set<std::string> allowed;
  for (const auto& [kind, name] : betaFiles) {
    const char* label = kind == os::NamedKind::kMutex       ? "mutex "
                        : kind == os::NamedKind::kSemaphore ? "semaphore "
                                                            : "shm ";
    allowed.insert(label + name);
    EXPECT_NE(access(os::NamedObject::FilePath(kind, name).c_str(), F_OK), 0) << name;
  }
  std::istringstream removedNames(removed);
  for (std::string entry; std::getline(removedNames, entry, ',');) {
    EXPECT_TRUE(allowed.count(entry)) << entry;
  }

  // The live members are untouched and still talk.
  const std::string after = Kqcp("list --json " + platform).out;
  EXPECT_EQ(Jq(after, platformFilter + ".service.alive"), "true");
  EXPECT_EQ(Jq(after, platformFilter + "|[.clients[]|select(.alive)|.name]|join(\",\")"), "alpha");
  EXPECT_TRUE(alpha.RoundTrip());
  EXPECT_EQ(alpha.Exit(), 0);
}

// A platform of this process's own making, with one word of it scribbled per case.
class ScribbledPlatform : public ::testing::Test {
 protected:
  void SetUp() override {
    os::NamedResult result{};
    mutex_ = os::NamedMutexHandle::Create(wire::PlatformMutexName(name_), &result);
    ASSERT_TRUE(mutex_);
    ASSERT_TRUE(map_.Create(wire::ProxyMapName(name_), PlatformProxyMap::kCapacity));
    ASSERT_TRUE(PlatformProxyMap::Initialize(map_, os::CurrentProcessId()));
    ASSERT_TRUE(queue_.Create(wire::ReceiveQueueName(name_, "")));
    counters_ = os::SharedMemory::Create(wire::StatisticsName(wire::ReceiveQueueName(name_, "")),
                                         sizeof(PublishedStatistics), &result);
    ASSERT_TRUE(counters_);
    auto* block = new (counters_->Data()) PublishedStatistics();
    block->magic = PublishedStatistics::kMagic;
    block->version = PublishedStatistics::kVersion;
    block->processId = os::CurrentProcessId();
    ASSERT_TRUE(session_.Create(wire::SessionDataMapName(name_, "S"), 4096));
  }

  static void Store(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, 4); }

  const std::string name_ = kqcp_test::UniqueName("scribbled");
  std::unique_ptr<os::NamedMutexHandle> mutex_;
  ShareMapMemory map_;
  SharePackageDataQueue queue_;
  std::unique_ptr<os::SharedMemory> counters_;
  ShareMapMemory session_;
};

TEST_F(ScribbledPlatform, EachScribbleGetsOneLineAndExitCodeTwo) {
  ASSERT_EQ(Kqcp("list " + name_).exitCode, 0) << "sound before any scribble";
  struct Case {
    const char* what;
    std::function<void()> scribble;
    const char* message;
  };
  std::uint8_t* proxy = map_.GetData();
  std::uint8_t* queueHeader = queue_.Area() - SharePackageDataQueue::kQueueHeaderSize;
  auto* block = static_cast<std::uint8_t*>(counters_->Data());
  const Case cases[] = {
      {"entry count without entries", [&] { Store(proxy + 4, 5); }, "proxy map is corrupt"},
      {"used beyond capacity", [&] { Store(proxy - 4, 0xFFFFFFF0u); }, "proxy map is corrupt"},
      {"proxy capacity beyond mapping", [&] { Store(proxy - 8, 0x7FFFFFFFu); },
       "proxy map is corrupt"},
      {"queue read offset", [&] { Store(queueHeader + 4, 0xFFFFFFF0u); },
       "receive queue is corrupt"},
      {"queue count", [&] { Store(queueHeader, 0x10000000u); }, "receive queue is corrupt"},
      {"counters magic", [&] { Store(block, 0x12345678u); }, "wrong magic"},
      {"session used", [&] { Store(session_.GetData() - 4, 8192); }, "data map is corrupt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Each case starts from the sound words.
    std::vector<std::uint8_t> proxyCopy(proxy - 8, proxy + 16),
        queueCopy(queueHeader, queueHeader + 16), blockCopy(block, block + 16),
        sessionCopy(session_.GetData() - 8, session_.GetData());
    c.scribble();
    for (const char* arguments : {"list ", "list --json "}) {
      const Outcome outcome = Kqcp(arguments + name_);
      EXPECT_EQ(outcome.exitCode, 2);
      EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
      EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    }
    std::copy(proxyCopy.begin(), proxyCopy.end(), proxy - 8);
    std::copy(queueCopy.begin(), queueCopy.end(), queueHeader);
    std::copy(blockCopy.begin(), blockCopy.end(), block);
    std::copy(sessionCopy.begin(), sessionCopy.end(), session_.GetData() - 8);
  }
}

TEST_F(ScribbledPlatform, ANameKeptBusyIsGivenUpWithOneLine) {
  // As a process stopped inside its own creation or close of the proxy map keeps it.
  const std::string file =
      os::NamedObject::FilePath(os::NamedKind::kSharedMemory, wire::ProxyMapName(name_));
  const int fd = open(file.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 1;
  lock.l_len = 1;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
  const auto start = std::chrono::steady_clock::now();
  const Outcome outcome = Kqcp("list " + name_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(outcome.exitCode, 2);
  EXPECT_NE(outcome.err.find("gave up on " + wire::ProxyMapName(name_)), std::string::npos)
      << outcome.err;
  EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  close(fd);
  EXPECT_EQ(Kqcp("list " + name_).exitCode, 0);
}

TEST(KqcpCommand, ArgumentsOutsideTheRulesAreUsageErrors) {
  const struct {
    const char* arguments;
    int exitCode;
    const char* message;  // in the one line on stderr
  } cases[] = {
      {"", 2, "no command"},
      {"frob", 2, "unknown command"},
      {"list --bogus", 2, "unknown option"},
      {"list 'a/b'", 2, "may hold only"},
      {"list 'x y'", 2, "may hold only"},
      {"list '../../etc'", 2, "may hold only"},
      {"list no-such-platform.anywhere", 2, "no platform"},
      {"watch", 2, "one platform"},
      {"watch no-such-platform", 2, "no platform"},
      {"watch p --count 0", 2, "positive"},
      {"sweep extra", 2, "no operands"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Outcome outcome = Kqcp(c.arguments);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
  }
  const Outcome help = Kqcp("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("usage: kqcp list"), std::string::npos);
}

}  // namespace
