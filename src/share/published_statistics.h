// The figures a process's share-session manager publishes for tools that watch a platform: a
// named mapping of its own (wire::StatisticsName of its receive queue) holding this block.
// Other processes read it without any lock; every counter is a 64-bit atomic that only grows.
#pragma once

#include <atomic>
#include <cstdint>

#include "kqcp/share.h"
#include "share/wire/counters.h"

namespace Vantor::KQCP {

struct PublishedStatistics {
  static constexpr std::uint32_t kMagic = 0x5453514B;  // "KQST"
  static constexpr std::uint32_t kVersion = 1;

  std::uint32_t magic = 0;
  std::uint32_t version = 0;
  std::uint32_t processId = 0;
  std::int32_t mode = 0;
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument is a member's name
#define KQCP_PUBLISHED_COUNTER(name) std::atomic<std::uint64_t> name{0};
  KQCP_SHARE_COUNTERS(KQCP_PUBLISHED_COUNTER)
#undef KQCP_PUBLISHED_COUNTER

  // What ShareStatistics callers see.
  ShareStatistics Snapshot() const {
    ShareStatistics statistics{};
// NOLINTNEXTLINE(bugprone-macro-parentheses): the argument is a member's name
#define KQCP_SNAPSHOT_COUNTER(name) statistics.name = name.load(std::memory_order_relaxed);
    KQCP_SHARE_COUNTERS(KQCP_SNAPSHOT_COUNTER)
#undef KQCP_SNAPSHOT_COUNTER
    return statistics;
  }
};
// The counters in the order of wire::kCounterNames.
#define KQCP_PUBLISHED_MEMBER(name) &PublishedStatistics::name,
inline constexpr std::atomic<std::uint64_t> PublishedStatistics::*kPublishedCounters[] = {
    KQCP_SHARE_COUNTERS(KQCP_PUBLISHED_MEMBER)};
#undef KQCP_PUBLISHED_MEMBER

static_assert(sizeof(PublishedStatistics) == 16 + wire::kCounterCount * 8, "the published layout");
static_assert(sizeof(ShareStatistics) == wire::kCounterCount * 8, "one counter each");
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "shared between processes");

}  // namespace Vantor::KQCP
