// A named mutex shared between processes: recursive for the owning thread and robust, so a
// mutex whose owner died is acquired by the next waiter, which learns it was abandoned.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "os/named_object.h"

namespace Vantor::KQCP::os {

enum class LockResult { kAcquired, kAbandoned, kTimedOut, kFailed };

class NamedMutexHandle {
 public:
  static std::unique_ptr<NamedMutexHandle> Create(const std::string& name, NamedResult* result,
                                                  std::uint32_t boundMs = kTransitionBoundMs);
  static std::unique_ptr<NamedMutexHandle> Open(const std::string& name, NamedResult* result,
                                                bool holdName = true,
                                                std::uint32_t boundMs = kTransitionBoundMs);

  // Waits at most the time given, and gives up with kTimedOut: a peer that holds the mutex for
  // long (hung, or stopped) must not stall the caller. kAbandoned: the previous owner died
  // holding it; the caller now owns it, and the data it guards may be half-written.
  LockResult LockFor(std::uint32_t milliseconds);
  bool Unlock();
  // True while another handle holds the name of this very mutex.
  bool IsAlive() const { return object_->IsAlive(); }

 private:
  LockResult Outcome(int rc);
  explicit NamedMutexHandle(std::shared_ptr<NamedObject> object) : object_(std::move(object)) {}

  std::shared_ptr<NamedObject> object_;
};

}  // namespace Vantor::KQCP::os
