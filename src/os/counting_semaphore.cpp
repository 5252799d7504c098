// Futex-based counting semaphore. A releaser wakes every sleeper: with waits on several
// semaphores at once, waking only one could pick a thread that then takes another semaphore.
#include "os/counting_semaphore.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>

#include "os/cpu_pause.h"

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

// The longest spin, the budget a thread starts with, and when a spinner starts to give its
// processor to others between tries.
constexpr std::int64_t kMaxSpinNs = 50000;
constexpr std::int64_t kFirstSpinNs = 4000;
constexpr std::int64_t kPoliteAfterNs = 2000;

// Plain data, so that a thread that outlives an unloaded library has nothing to destroy.
thread_local std::int64_t spinBudgetNs = kFirstSpinNs;

int Processors() {
  static const int processors = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  return processors;
}

// Whether the machine's runnable threads (this one among them) leave a processor for a
// spinner, as /proc/loadavg tells; looked at no more than every 10 ms.
bool ProcessorToSpare() {
  static std::atomic<std::int64_t> checkedAt{0};
  static std::atomic<bool> spare{true};
  const std::int64_t now = MonotonicNowNs();
  std::int64_t last = checkedAt.load(std::memory_order_relaxed);
  if (now - last < 10000000 ||
      !checkedAt.compare_exchange_strong(last, now, std::memory_order_relaxed)) {
    return spare.load(std::memory_order_relaxed);
  }
  char text[128] = {};
  const int fd = open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return spare.load(std::memory_order_relaxed);
  const ssize_t length = read(fd, text, sizeof text - 1);
  close(fd);
  // "0.10 0.20 0.30 RUNNING/TOTAL LASTPID"
  int running = 0;
  if (length > 0 && std::sscanf(text, "%*s %*s %*s %d/", &running) == 1) {
    spare.store(running <= Processors(), std::memory_order_relaxed);
  }
  return spare.load(std::memory_order_relaxed);
}

// Spins for up to budgetNs: pauses at first, then yields between tries so that a thread that
// shares this processor (perhaps the one being waited for) gets to run. Only while fewer
// threads of this process spin than there are other processors.
int SpinForAny(std::span<CountingSemaphore* const> semaphores, std::int64_t start,
               std::int64_t budgetNs) {
  static std::atomic<int> spinners{0};
  if (spinners.fetch_add(1) >= Processors() - 1) budgetNs = 0;
  int index = -1;
  for (unsigned round = 1; budgetNs > 0 && index < 0; ++round) {
    CpuPause();
    index = TryAcquireAny(semaphores);
    if (index >= 0 || round % 16 != 0) continue;
    const std::int64_t spent = MonotonicNowNs() - start;
    if (spent >= budgetNs) break;
    if (spent >= kPoliteAfterNs) sched_yield();
  }
  spinners.fetch_sub(1);
  return index;
}

// A wait that a spin of the longest length would have caught makes the next spin longer;
// one that lasted longer halves it, down to none.
void LearnFromWait(std::int64_t waitedNs) {
  if (waitedNs < kMaxSpinNs) {
    spinBudgetNs = std::min(kMaxSpinNs, std::max(kFirstSpinNs, spinBudgetNs * 2));
  } else {
    spinBudgetNs = spinBudgetNs < kFirstSpinNs / 2 ? 0 : spinBudgetNs / 2;
  }
}

}  // namespace

int WaitAny(std::span<CountingSemaphore* const> semaphores, std::uint32_t milliseconds) {
  if (semaphores.size() > kMaxFutexWaiters) return -1;
  if (int index = TryAcquireAny(semaphores); index >= 0 || milliseconds == 0) return index;
  const std::int64_t start = MonotonicNowNs();
  if (spinBudgetNs > 0 && ProcessorToSpare()) {
    if (int index = SpinForAny(semaphores, start, spinBudgetNs); index >= 0) return index;
  }
  const Deadline deadline = Deadline::After(milliseconds);
  FutexWaiter waiters[kMaxFutexWaiters];
  for (;;) {
    if (int index = TryAcquireAny(semaphores); index >= 0) {
      LearnFromWait(MonotonicNowNs() - start);
      return index;
    }
    if (deadline.Passed()) break;
    for (auto* s : semaphores) s->state_->waiters.fetch_add(1);
    for (std::size_t i = 0; i < semaphores.size(); ++i) {
      // Sleep only while every count is still 0; a release in between changes the word and the
      // kernel returns at once.
      waiters[i] = {&semaphores[i]->state_->count, 0, semaphores[i]->shared_};
    }
    FutexResult result =
        FutexWaitAny(std::span<const FutexWaiter>(waiters, semaphores.size()), deadline);
    for (auto* s : semaphores) s->state_->waiters.fetch_sub(1);
    if (result == FutexResult::kTimedOut) break;
  }
  const int index = TryAcquireAny(semaphores);
  LearnFromWait(MonotonicNowNs() - start);
  return index;
}

}  // namespace Vantor::KQCP::os
