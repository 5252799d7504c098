// A single-use wake-up for one waiter, safe to destroy as soon as Wait returns: the signalling
// side touches the object with one atomic exchange and then only passes its address to the
// kernel. (A semaphore's release reads its state after the count has changed, which a waiter
// that returns at once and frees the semaphore would race with.)
#pragma once

#include <atomic>
#include <cstdint>

namespace Vantor::KQCP::os {

class OneShotEvent {
 public:
  void Set();
  void Wait();
  bool IsSet() const { return state_.load() == kSet; }

 private:
  static constexpr std::uint32_t kClear = 0, kSet = 1, kSleeping = 2;
  std::atomic<std::uint32_t> state_{kClear};
};

}  // namespace Vantor::KQCP::os
