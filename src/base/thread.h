// The VEXO thread base: a thread whose body is the virtual Run, started once with Start.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "os/thread.h"

namespace VEXO::System::Thread {

class Thread {
 public:
  // Start's result when the thread cannot be created.
  static constexpr std::uint32_t kStartFailed = 2000;

  Thread();
  // Releases the name only: the owner ends the thread before destroying the object.
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // 0, or kStartFailed. A thread started with runNow false stays suspended.
  std::uint32_t Start(bool runNow);

  bool IsRunning() const { return running_; }
  bool IsCreated() const { return created_; }
  bool StartFlag() const { return startFlag_; }
  std::uint32_t ThreadId() const { return threadId_; }
  // The thread's handle, for waiting on its end; null before a successful Start.
  const std::shared_ptr<Vantor::KQCP::os::ThreadHandle>& Handle() const { return handle_; }

 protected:
  virtual std::uint32_t Run() = 0;

 private:
  static std::uint32_t ThreadProc(Thread* self);

  std::string name_;
  bool startFlag_ = false;
  std::atomic<bool> running_{false};  // informative only; nothing decides on it
  bool created_ = false;
  std::shared_ptr<Vantor::KQCP::os::ThreadHandle> handle_;
  std::uint32_t threadId_ = 0;
};

}  // namespace VEXO::System::Thread
