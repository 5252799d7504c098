// Futex calls. futex_waitv (Linux 5.16) lets one thread sleep on several semaphores, including
// ones in shared memory, without polling.
#include "os/futex.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>

#ifndef SYS_futex_waitv
#define SYS_futex_waitv 449
#endif
#ifndef FUTEX2_SIZE_U32
#define FUTEX2_SIZE_U32 0x02
#endif
#ifndef FUTEX2_PRIVATE
#define FUTEX2_PRIVATE 128
#endif

namespace Vantor::KQCP::os {
namespace {

struct WaitvEntry {  // struct futex_waitv
  std::uint64_t val;
  std::uint64_t uaddr;
  std::uint32_t flags;
  std::uint32_t reserved;
};

std::uint32_t* Address(std::atomic<std::uint32_t>* word) {
  static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
  return reinterpret_cast<std::uint32_t*>(word);
}

FutexResult FromErrno(long rc) {
  if (rc >= 0) return FutexResult::kWoken;
  if (errno == ETIMEDOUT) return FutexResult::kTimedOut;
  if (errno == EAGAIN) return FutexResult::kValueChanged;
  return FutexResult::kWoken;  // EINTR and the like: the caller re-checks its condition
}

}  // namespace

Deadline Deadline::After(std::uint32_t milliseconds) {
  Deadline d;
  if (milliseconds == kInfinite) return d;
  d.infinite = false;
  clock_gettime(CLOCK_MONOTONIC, &d.at);
  d.at.tv_sec += milliseconds / 1000;
  d.at.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (d.at.tv_nsec >= 1000000000L) {
    d.at.tv_sec += 1;
    d.at.tv_nsec -= 1000000000L;
  }
  return d;
}

std::int64_t MonotonicNowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::uint32_t Deadline::LeftMs() const {
  if (infinite) return kInfinite;
  const std::int64_t left =
      static_cast<std::int64_t>(at.tv_sec) * 1000000000 + at.tv_nsec - MonotonicNowNs();
  if (left <= 0) return 0;
  return static_cast<std::uint32_t>(
      std::min<std::int64_t>((left + 999999) / 1000000, kInfinite - 1));
}

bool Deadline::Passed() const {
  if (infinite) return false;
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec > at.tv_sec || (now.tv_sec == at.tv_sec && now.tv_nsec >= at.tv_nsec);
}

FutexResult FutexWait(std::atomic<std::uint32_t>* word, std::uint32_t expected, bool shared,
                      const Deadline& deadline) {
  int op = FUTEX_WAIT_BITSET | (shared ? 0 : FUTEX_PRIVATE_FLAG);
  const timespec* timeout = deadline.infinite ? nullptr : &deadline.at;
  long rc =
      syscall(SYS_futex, Address(word), op, expected, timeout, nullptr, FUTEX_BITSET_MATCH_ANY);
  return FromErrno(rc);
}

void FutexWakeAll(std::atomic<std::uint32_t>* word, bool shared) {
  int op = FUTEX_WAKE | (shared ? 0 : FUTEX_PRIVATE_FLAG);
  syscall(SYS_futex, Address(word), op, INT_MAX, nullptr, nullptr, 0);
}

FutexResult FutexWaitAny(std::span<const FutexWaiter> waiters, const Deadline& deadline) {
  if (waiters.size() == 1) {
    return FutexWait(waiters[0].word, waiters[0].expected, waiters[0].shared, deadline);
  }
  // On the stack: a thread that waits often must not allocate for it.
  WaitvEntry entries[kMaxFutexWaiters];
  if (waiters.size() > kMaxFutexWaiters) return FutexResult::kTimedOut;
  for (std::size_t i = 0; i < waiters.size(); ++i) {
    entries[i].val = waiters[i].expected;
    entries[i].uaddr = reinterpret_cast<std::uintptr_t>(Address(waiters[i].word));
    entries[i].flags = FUTEX2_SIZE_U32 | (waiters[i].shared ? 0 : FUTEX2_PRIVATE);
    entries[i].reserved = 0;
  }
  const timespec* timeout = deadline.infinite ? nullptr : &deadline.at;
  long rc = syscall(SYS_futex_waitv, entries, waiters.size(), 0, timeout, CLOCK_MONOTONIC);
  if (rc < 0 && errno == ENOSYS) {
    // Kernels before 5.16 lack futex_waitv: nap briefly and let the caller re-check.
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return deadline.Passed() ? FutexResult::kTimedOut : FutexResult::kWoken;
  }
  return FromErrno(rc);
}

}  // namespace Vantor::KQCP::os
