// The named mutex holder and the four functions that fill a holder with a named mutex or
// semaphore. Results: 0 success, -1 the holder already holds a handle, 2 failure (for Create
// also: the name exists already; for Open: nobody holds the name), 3 another process's
// creation, opening or closing of the name did not end within boundMs. Opening with holdName
// false uses the object without keeping its name alive.
#pragma once

#include <memory>
#include <string>

#include "base/semaphore.h"
#include "os/named_mutex.h"

namespace Vantor::KQCP {

inline constexpr int kKernelObjectOk = 0;
inline constexpr int kKernelObjectHeld = -1;
inline constexpr int kKernelObjectFailed = 2;
inline constexpr int kKernelObjectBusy = 3;

struct NamedMutex {
  std::unique_ptr<os::NamedMutexHandle> handle;

  // Waits at most the time given; kFailed without a handle.
  os::LockResult LockFor(std::uint32_t milliseconds) {
    return handle ? handle->LockFor(milliseconds) : os::LockResult::kFailed;
  }
  // True while another handle holds this very mutex's name.
  bool IsAlive() const { return handle && handle->IsAlive(); }
  void Unlock() {
    if (handle) handle->Unlock();
  }
  void Close() { handle.reset(); }
};

// Holds a named mutex for a scope, waiting for it at most a bound. A mutex whose owner died is
// held too (the robust mutex is made consistent as it is taken); Abandoned() tells the caller
// that what it guards may be half-written.
class NamedLock {
 public:
  NamedLock(NamedMutex& mutex, std::uint32_t boundMs)
      : mutex_(mutex), result_(mutex.LockFor(boundMs)) {}
  ~NamedLock() {
    if (Held()) mutex_.Unlock();
  }
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  bool Held() const {
    return result_ == os::LockResult::kAcquired || result_ == os::LockResult::kAbandoned;
  }
  bool Abandoned() const { return result_ == os::LockResult::kAbandoned; }

 private:
  NamedMutex& mutex_;
  os::LockResult result_;
};

int CreateNamedMutex(NamedMutex& holder, const std::string& name,
                     std::uint32_t boundMs = os::kTransitionBoundMs);
int OpenNamedMutex(NamedMutex& holder, const std::string& name, bool holdName = true,
                   std::uint32_t boundMs = os::kTransitionBoundMs);
int CreateNamedSemaphore(VEXO::System::Thread::Semaphore& holder, const std::string& name,
                         std::uint32_t initial, std::uint32_t maximum,
                         std::uint32_t boundMs = os::kTransitionBoundMs);
int OpenNamedSemaphore(VEXO::System::Thread::Semaphore& holder, const std::string& name,
                       bool holdName = true, std::uint32_t boundMs = os::kTransitionBoundMs);

}  // namespace Vantor::KQCP
