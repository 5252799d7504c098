// A counting semaphore on a futex word, with a maximum count. Its state can live in this
// process or in shared memory, and a thread can wait on several semaphores at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "os/futex.h"

namespace Vantor::KQCP::os {

// Layout of a semaphore's state; fixed so that it can be placed in a shared mapping.
struct SemaphoreState {
  std::atomic<std::uint32_t> count;
  std::atomic<std::uint32_t> maximum;  // written by the creator; Reset may repair it
  std::atomic<std::uint32_t> waiters;
  std::uint32_t reserved;
};
static_assert(sizeof(SemaphoreState) == 16);

class CountingSemaphore {
 public:
  // A semaphore private to this process.
  CountingSemaphore(std::uint32_t initial, std::uint32_t maximum);
  // A view of state that lives elsewhere (shared memory); keepAlive holds what backs it.
  CountingSemaphore(SemaphoreState* state, bool shared, std::shared_ptr<void> keepAlive);
  CountingSemaphore(const CountingSemaphore&) = delete;
  CountingSemaphore& operator=(const CountingSemaphore&) = delete;

  static void InitState(SemaphoreState* state, std::uint32_t initial, std::uint32_t maximum);

  // Adds count; fails (and leaves the count) when the maximum would be passed. It reads the
  // state after the count has changed, so a semaphore must outlive its releasers (use
  // OneShotEvent to wake the owner of a short-lived object).
  bool Release(std::uint32_t count, std::uint32_t* previous = nullptr);
  bool TryAcquire();
  // True when acquired, false on timeout.
  bool Wait(std::uint32_t milliseconds);
  std::uint32_t Count() const { return state_->count.load(); }
  // Sets count and maximum outright: the owner of a shared semaphore uses it to undo what
  // another process scribbled there.
  void Reset(std::uint32_t count, std::uint32_t maximum);

 private:
  friend int WaitAny(std::span<CountingSemaphore* const>, std::uint32_t);

  SemaphoreState own_{};
  SemaphoreState* state_;
  bool shared_;
  std::shared_ptr<void> keepAlive_;
};

// Waits until one of the semaphores (at most kMaxFutexWaiters) can be acquired and acquires it.
// Returns its index, or -1 when the time ran out. Earlier semaphores are served first when several
// are signalled. A waiter spins for a while before it sleeps, but only while spinning pays: each
// thread keeps a spin budget that grows while its waits end soon after they begin and shrinks while
// they last long, and nobody spins while the machine's runnable threads fill its processors.
int WaitAny(std::span<CountingSemaphore* const> semaphores, std::uint32_t milliseconds);

}  // namespace Vantor::KQCP::os
