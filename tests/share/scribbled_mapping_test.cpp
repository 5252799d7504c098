// A live service and its clients while another process of the user scribbles on their queues:
// a wild capacity or offset never drives a write outside a mapping, the owner repairs its queue
// so that traffic flows again, and a scribbled signal count does not make the service spin.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "session_fixture.h"
#include "share/kernel_objects.h"
#include "share/share_map_memory.h"
#include "share/wire/object_names.h"

namespace Vantor::KQCP {
namespace {

using kqcp_test::SessionPeer;

// Writes words into a queue's mapping as a hostile process would: without its mutex.
void Scribble(const std::string& queue,
              std::initializer_list<std::pair<int, std::uint32_t>> words) {
  ShareMapMemory map;
  ASSERT_TRUE(map.Open(wire::QueueMapName(queue), false));
  auto* view = reinterpret_cast<std::uint32_t*>(map.GetData() - ShareMapMemory::kHeaderSize);
  for (auto [index, value] : words) view[index] = value;
}

// Processor time a process has used, in clock ticks.
long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), {});
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state .. cmajflt
  long user = 0, system = 0;
  fields >> user >> system;
  return user + system;
}

bool Alive(kqcp_test::ChildProcess& process) { return kill(process.Pid(), 0) == 0; }

TEST(ScribbledMapping, WildCapacityAndOffsetsNeitherCrashNorStallTheService) {
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready");
  SessionPeer alpha("Client", platform, "alpha"), beta("Client", platform, "beta");
  ASSERT_EQ(alpha.Line(), "ready");
  ASSERT_EQ(beta.Line(), "ready");

  // Capacity below the queue's own header and a write offset far past the mapping.
  Scribble(wire::ReceiveQueueName(platform, ""), {{0, 8}, {4, 0x7FFFFFF0u}});
  EXPECT_TRUE(alpha.RoundTrip()) << "the service repairs its queue and answers";
  // A client shrinks its own queue and points the write offset where it likes.
  Scribble(wire::ReceiveQueueName(platform, "alpha"), {{0, 4}, {4, 0x3FFF0u}, {2, 0xFFFFFFFFu}});
  EXPECT_TRUE(alpha.RoundTrip()) << "the client repairs its own queue and gets its reply";
  EXPECT_TRUE(beta.RoundTrip());
  EXPECT_TRUE(Alive(service.Process()));
  EXPECT_EQ(alpha.Exit(), 0);
  EXPECT_EQ(beta.Exit(), 0);
  EXPECT_EQ(service.Exit(), 0);
}

TEST(ScribbledMapping, AScribbledSignalCountDoesNotMakeTheServiceSpin) {
  const std::string platform = kqcp_test::PlatformName();
  SessionPeer service("EchoService", platform);
  ASSERT_EQ(service.Line(), "ready");
  VEXO::System::Thread::Semaphore signal(0, 2048, false);
  ASSERT_EQ(OpenNamedSemaphore(
                signal, wire::QueueSemaphoreName(wire::ReceiveQueueName(platform, "")), false),
            kKernelObjectOk);
  signal.Handle()->Reset(0xFFFFFFF0u, 0xFFFFFFFFu);
  const long before = CpuTicks(service.Process().Pid());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  const long used = CpuTicks(service.Process().Pid()) - before;
  // Spinning would take the whole two seconds of a processor.
  EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 2) << "ticks used while idle";
  EXPECT_EQ(signal.Handle()->Count(), 0u);
  SessionPeer client("Client", platform, "client");
  ASSERT_EQ(client.Line(), "ready");
  EXPECT_TRUE(client.RoundTrip());
  EXPECT_EQ(client.Exit(), 0);
  EXPECT_EQ(service.Exit(), 0);
}

}  // namespace
}  // namespace Vantor::KQCP
