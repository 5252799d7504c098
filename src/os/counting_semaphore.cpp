// Futex-based counting semaphore. A releaser wakes every sleeper: with waits on several
// semaphores at once, waking only one could pick a thread that then takes another semaphore.
#include "os/counting_semaphore.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace Vantor::KQCP::os {

CountingSemaphore::CountingSemaphore(std::uint32_t initial, std::uint32_t maximum)
    : state_(&own_), shared_(false) {
  InitState(&own_, initial, maximum);
}

CountingSemaphore::CountingSemaphore(SemaphoreState* state, bool shared,
                                     std::shared_ptr<void> keepAlive)
    : state_(state), shared_(shared), keepAlive_(std::move(keepAlive)) {}

void CountingSemaphore::InitState(SemaphoreState* state, std::uint32_t initial,
                                  std::uint32_t maximum) {
  state->count.store(initial);
  state->maximum.store(maximum, std::memory_order_relaxed);
  state->waiters.store(0);
  state->reserved = 0;
}

bool CountingSemaphore::Release(std::uint32_t count, std::uint32_t* previous) {
  std::uint32_t current = state_->count.load();
  const std::uint32_t maximum = state_->maximum.load(std::memory_order_relaxed);
  do {
    if (count == 0 || count > maximum || current > maximum - count) return false;
  } while (!state_->count.compare_exchange_weak(current, current + count));
  if (previous) *previous = current;
  // Waiters sleep only while the count is 0, so only the release that lifts it from 0 can find
  // one asleep; later ones would only pay for a system call while the woken thread is on its
  // way.
  if (current == 0 && state_->waiters.load() != 0) FutexWakeAll(&state_->count, shared_);
  return true;
}

void CountingSemaphore::Reset(std::uint32_t count, std::uint32_t maximum) {
  state_->maximum.store(maximum, std::memory_order_relaxed);
  state_->count.store(std::min(count, maximum));
}

bool CountingSemaphore::TryAcquire() {
  std::uint32_t current = state_->count.load();
  while (current != 0) {
    if (state_->count.compare_exchange_weak(current, current - 1)) return true;
  }
  return false;
}

bool CountingSemaphore::Wait(std::uint32_t milliseconds) {
  CountingSemaphore* self = this;
  return WaitAny(std::span<CountingSemaphore* const>(&self, 1), milliseconds) == 0;
}

namespace {

// Tries each semaphore in order; the index acquired or -1.
int TryAcquireAny(std::span<CountingSemaphore* const> semaphores) {
  for (std::size_t i = 0; i < semaphores.size(); ++i) {
    if (semaphores[i]->TryAcquire()) return static_cast<int>(i);
  }
  return -1;
}

// Spins briefly before sleeping, but only while fewer threads spin than there are other
// processors: spinners beyond that take the processor from the thread they wait for.
int SpinForAny(std::span<CountingSemaphore* const> semaphores, int rounds) {
  static std::atomic<int> spinners{0};
  static const int maxSpinners =
      std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);
  if (spinners.fetch_add(1) >= maxSpinners) rounds = 0;
  int index = -1;
  for (int spin = 0; spin < rounds && index < 0; ++spin) {
    index = TryAcquireAny(semaphores);
    __builtin_ia32_pause();
  }
  spinners.fetch_sub(1);
  return index;
}

}  // namespace

int WaitAny(std::span<CountingSemaphore* const> semaphores, std::uint32_t milliseconds) {
  if (int index = TryAcquireAny(semaphores); index >= 0 || milliseconds == 0) return index;
  // A hand-off between two running threads usually completes within a few hundred cycles;
  // spinning that long first saves a sleep and a wake-up.
  int rounds = 0;
  for (auto* s : semaphores) rounds = std::max(rounds, s->spinLimit_);
  if (int index = SpinForAny(semaphores, rounds); index >= 0) return index;
  const Deadline deadline = Deadline::After(milliseconds);
  std::vector<FutexWaiter> waiters(semaphores.size());
  for (;;) {
    if (int index = TryAcquireAny(semaphores); index >= 0) return index;
    if (deadline.Passed()) return -1;
    for (auto* s : semaphores) s->state_->waiters.fetch_add(1);
    for (std::size_t i = 0; i < semaphores.size(); ++i) {
      // Sleep only while every count is still 0; a release in between changes the word and the
      // kernel returns at once.
      waiters[i] = {&semaphores[i]->state_->count, 0, semaphores[i]->shared_};
    }
    FutexResult result = FutexWaitAny(waiters, deadline);
    for (auto* s : semaphores) s->state_->waiters.fetch_sub(1);
    if (result == FutexResult::kTimedOut) return TryAcquireAny(semaphores);
  }
}

}  // namespace Vantor::KQCP::os
