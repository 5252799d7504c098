// A role's worker thread: callbacks of NATS and of the library hand it tasks (bounded in count
// and bytes, so a flood is refused rather than held), and it runs a tick between them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

namespace kqcp_bridge {

// Set by SIGTERM, SIGINT and SIGHUP in a role process.
extern std::atomic<bool> stopRequested;
void InstallStopHandlers();

std::uint64_t RandomEpoch();

class TaskLoop {
 public:
  using Clock = std::chrono::steady_clock;
  TaskLoop(std::size_t maxTasks, std::size_t maxBytes) : maxTasks_(maxTasks), maxBytes_(maxBytes) {}
  // False (the task not taken) when the loop is full or stopping.
  bool Post(std::function<void()> task, std::size_t bytes);
  // Ends Run with code; the first call wins.
  void Stop(int code, const std::string& why);
  // Runs tasks as they come and tick at least every tickMs, until Stop or a stop signal.
  int Run(const std::function<void()>& tick, int tickMs);
  std::string Why();

 private:
  struct Task {
    std::function<void()> run;
    std::size_t bytes;
  };
  const std::size_t maxTasks_, maxBytes_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> tasks_;
  std::size_t bytes_ = 0;
  bool stopping_ = false;
  int code_ = 0;
  std::string why_;
};

}  // namespace kqcp_bridge
