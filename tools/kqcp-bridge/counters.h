// What one bridge process did, counted; every figure only grows.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace kqcp_bridge {

struct Counters {
  std::atomic<std::uint64_t> forwarded{0};        // operations and messages sent over NATS
  std::atomic<std::uint64_t> answered{0};         // posted to a local process
  std::atomic<std::uint64_t> refusedBacklog{0};   // local posts refused, receiver's backlog full
  std::atomic<std::uint64_t> refusedOther{0};     // local posts refused otherwise (too large ...)
  std::atomic<std::uint64_t> droppedWindow{0};    // a client's requests past its window
  std::atomic<std::uint64_t> droppedQueue{0};     // the bridge's own queue was full
  std::atomic<std::uint64_t> droppedNats{0};      // NATS dropped what a subscriber could not take
  std::atomic<std::uint64_t> droppedStale{0};     // replies for nothing in flight, bad frames
  std::atomic<std::uint64_t> droppedRefused{0};   // clients the export side refused
  std::atomic<std::uint64_t> droppedTooLarge{0};  // data or operations too large for NATS

  // "forwarded N answered N refused N (backlog N, other N) dropped N (window N, ...)".
  std::string Text() const;
};

}  // namespace kqcp_bridge
