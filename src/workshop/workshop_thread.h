// A worker of the workshop: every 50 milliseconds it ticks the command queue and steps one
// unkeyed and one keyed command; asked to stop, it drains the queue and ends.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>

#include "base/thread.h"
#include "workshop/cmd_queue.h"

namespace Vantor::KQCP {

class WorkshopThread : public VEXO::System::Thread::Thread {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{50};
  // Run's result when there is no queue to serve.
  static constexpr std::uint32_t kNoQueue = 0xFFFFFFFFu;

  // The queue is not owned; it must outlive the thread.
  explicit WorkshopThread(CmdQueue* queue);

  // Seen at the start of the next iteration. Always true.
  bool RequestStop();

  // The queue served by the worker running on the calling thread, or null on any other thread.
  // Lets the workshop recognise calls made by its own commands.
  static CmdQueue* CurrentQueue();

 protected:
  std::uint32_t Run() override;

 private:
  void StepUnkeyed();
  void StepKeyed();
  // Every command still queued is told the workshop stops (Notify 7) and released.
  void Drain();

  std::atomic<bool> keepRunning_{true};
  CmdQueue* queue_;
};

}  // namespace Vantor::KQCP
