// Counter text for --stats and the last line a process writes.
#include "counters.h"

namespace kqcp_bridge {

std::string Counters::Text() const {
  const auto n = [](const std::atomic<std::uint64_t>& value) {
    return std::to_string(value.load(std::memory_order_relaxed));
  };
  const std::uint64_t refused = refusedBacklog + refusedOther;
  const std::uint64_t dropped =
      droppedWindow + droppedQueue + droppedNats + droppedStale + droppedRefused + droppedTooLarge;
  return "forwarded " + n(forwarded) + " answered " + n(answered) + " refused " +
         std::to_string(refused) + " (backlog " + n(refusedBacklog) + ", other " + n(refusedOther) +
         ") dropped " + std::to_string(dropped) + " (window " + n(droppedWindow) + ", queue " +
         n(droppedQueue) + ", nats " + n(droppedNats) + ", stale " + n(droppedStale) +
         ", refused client " + n(droppedRefused) + ", too large " + n(droppedTooLarge) + ")";
}

}  // namespace kqcp_bridge
