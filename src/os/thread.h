// Operating-system threads with an exit code that any number of threads can wait for, alone or
// several at once, with a timeout. A handle stays valid after the thread has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "os/futex.h"

namespace Vantor::KQCP::os {

class ThreadHandle {
 public:
  using Body = std::function<std::uint32_t()>;

  // Starts body on a new thread with the default stack size. A suspended thread waits for
  // Resume before running body. Returns null when the thread cannot be created.
  static std::shared_ptr<ThreadHandle> Start(Body body, bool suspended);

  void Resume();
  // True once the thread has ended (within the time given).
  bool Wait(std::uint32_t milliseconds) const;
  bool Ended() const { return ended_.load() != 0; }
  // Valid once ended.
  std::uint32_t ExitCode() const { return exitCode_; }
  std::uint32_t Id() const { return id_; }
  // True when called on this handle's own thread.
  bool IsCurrent() const;

  ThreadHandle(const ThreadHandle&) = delete;
  ThreadHandle& operator=(const ThreadHandle&) = delete;
  ThreadHandle() = default;

 private:
  friend bool WaitAll(std::span<const ThreadHandle* const>, std::uint32_t);
  static void* Entry(void* arg);

  Body body_;
  std::uint32_t id_ = 0;
  std::uint32_t exitCode_ = 0;
  mutable std::atomic<std::uint32_t> resumed_{0};
  mutable std::atomic<std::uint32_t> ended_{0};
  std::atomic<std::uint64_t> nativeId_{0};
};

// True when every thread ended within the time given; false on timeout or with no threads.
bool WaitAll(std::span<const ThreadHandle* const> threads, std::uint32_t milliseconds);

}  // namespace Vantor::KQCP::os
