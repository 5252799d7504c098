// The stats command: asks every bridge process of the platform on NATS for its counters.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "counters.h"
#include "exit_codes.h"
#include "log.h"
#include "nats_link.h"
#include "roles.h"
#include "subjects.h"
#include "task_loop.h"

namespace kqcp_bridge {

int RunStats(const Options& options) {
  SetLogPrefix("stats " + options.platform);
  Counters counters;
  NatsLink link(&counters, nullptr);
  std::string error;
  const ConnectOutcome outcome = link.Connect(options, "kqcp-bridge stats", &error);
  if (outcome != ConnectOutcome::kConnected) {
    LogLine(error);
    return outcome == ConnectOutcome::kRefused ? kExitRefused : kExitNothing;
  }
  const Subjects subjects(options.subjectPrefix, options.platform);
  const std::string inbox = subjects.Stats() + ".reply." + Hex64(RandomEpoch());
  std::mutex mutex;
  std::vector<std::string> lines;
  link.Subscribe(inbox,
                 [&](const std::string&, const std::string&, const std::uint8_t* data, int size) {
                   std::lock_guard<std::mutex> guard(mutex);
                   if (lines.size() < 4096)
                     lines.emplace_back(reinterpret_cast<const char*>(data), size);
                 });
  link.Flush(1000);
  link.Publish(subjects.Stats(), "stats", inbox);
  link.Flush(1000);
  // Answers come within a round trip; half a second covers a slow server.
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  std::lock_guard<std::mutex> guard(mutex);
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  return lines.empty() ? kExitNothing : kExitOk;
}

}  // namespace kqcp_bridge
