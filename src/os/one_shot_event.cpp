// One-shot event on a futex word.
#include "os/one_shot_event.h"

#include "os/cpu_pause.h"
#include "os/futex.h"

namespace Vantor::KQCP::os {

void OneShotEvent::Set() {
  if (state_.exchange(kSet) == kSleeping) FutexWakeAll(&state_, false);
}

void OneShotEvent::Wait() {
  for (int spin = 0; spin < 100; ++spin) {
    if (state_.load() == kSet) return;
    CpuPause();
  }
  std::uint32_t expected = kClear;
  if (!state_.compare_exchange_strong(expected, kSleeping) && expected == kSet) return;
  while (state_.load() != kSet) FutexWait(&state_, kSleeping, false, Deadline{});
}

}  // namespace Vantor::KQCP::os
