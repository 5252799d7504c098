// Holder of a process-wide service: created on first request under the holder's own lock,
// published only once constructed, never destroyed.
#pragma once

#include <atomic>
#include <new>

#include "base/critical_section.h"

namespace VEXO::Pattern {

template <class T, class Lock = System::Thread::CriticalSection>
class SingletonHolder final : public T {
 public:
  // The one T of the process, or null when it could not be allocated (a later call retries).
  // An exception from T's constructor passes to the caller and leaves the holder unset.
  static T* Instance() {
    if (SingletonHolder* existing = instance_.load(std::memory_order_acquire)) return existing;
    System::Thread::ScopedLock guard(lock_);
    SingletonHolder* created = instance_.load(std::memory_order_relaxed);
    if (!created) {
      created = new (std::nothrow) SingletonHolder();
      instance_.store(created, std::memory_order_release);
    }
    return created;
  }

 private:
  SingletonHolder() = default;
  ~SingletonHolder() = default;  // NOLINT(modernize-use-override): T's may not be virtual

  static inline std::atomic<SingletonHolder*> instance_{nullptr};
  static inline constinit Lock lock_{};
};

}  // namespace VEXO::Pattern
