// Thin wrappers over the futex system calls: wait with an absolute monotonic deadline, wake, and
// wait on several words at once (futex_waitv).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <span>

namespace Vantor::KQCP::os {

inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

// An absolute CLOCK_MONOTONIC deadline; kInfinite milliseconds gives "never".
struct Deadline {
  bool infinite = true;
  timespec at{};

  static Deadline After(std::uint32_t milliseconds);
  bool Passed() const;
  // Milliseconds left, rounded up (0 once passed); kInfinite for "never".
  std::uint32_t LeftMs() const;
};

// CLOCK_MONOTONIC (the steady clock) in nanoseconds.
std::int64_t MonotonicNowNs();

enum class FutexResult { kWoken, kValueChanged, kTimedOut };

// shared: the word lives in memory mapped by several processes.
FutexResult FutexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, bool shared,
                      const Deadline& deadline);
void FutexWakeAll(std::atomic<std::uint32_t>* word, bool shared);

struct FutexWaiter {
  std::atomic<std::uint32_t>* word;
  std::uint32_t expected;
  bool shared;
};

// The most words one wait can watch (the kernel's own limit).
inline constexpr std::size_t kMaxFutexWaiters = 128;

// Returns when any word may have changed, or kTimedOut. At most kMaxFutexWaiters words.
FutexResult FutexWaitAny(std::span<const FutexWaiter> waiters, const Deadline& deadline);

}  // namespace Vantor::KQCP::os
