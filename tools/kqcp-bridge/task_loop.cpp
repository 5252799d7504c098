// The worker loop and the stop signal.
#include "task_loop.h"

#include <sys/random.h>

#include <csignal>

#include "exit_codes.h"

namespace kqcp_bridge {

std::atomic<bool> stopRequested{false};

namespace {
void OnStopSignal(int) { stopRequested.store(true); }
}  // namespace

void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = &OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

std::uint64_t RandomEpoch() {
  std::uint64_t value = 0;
  while (value == 0) {
    if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
      value =
          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
  }
  return value;
}

bool TaskLoop::Post(std::function<void()> task, std::size_t bytes) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_ || tasks_.size() >= maxTasks_ || bytes_ + bytes > maxBytes_) return false;
    tasks_.push_back({std::move(task), bytes});
    bytes_ += bytes;
  }
  wake_.notify_one();
  return true;
}

void TaskLoop::Stop(int code, const std::string& why) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (stopping_) return;
    stopping_ = true;
    code_ = code;
    why_ = why;
  }
  wake_.notify_one();
}

std::string TaskLoop::Why() {
  std::lock_guard<std::mutex> guard(mutex_);
  return why_;
}

int TaskLoop::Run(const std::function<void()>& tick, int tickMs) {
  auto nextTick = Clock::now();
  for (;;) {
    Task task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait_until(lock, nextTick, [&] { return stopping_ || !tasks_.empty(); });
      if (stopping_) return code_;
      if (!tasks_.empty()) {
        task = std::move(tasks_.front());
        tasks_.pop_front();
        bytes_ -= task.bytes;
      }
    }
    if (task.run) task.run();
    if (stopRequested.load()) Stop(kRoleStopped, "stopped by a signal");
    if (Clock::now() >= nextTick) {
      tick();
      nextTick = Clock::now() + std::chrono::milliseconds(tickMs);
    }
  }
}

}  // namespace kqcp_bridge
