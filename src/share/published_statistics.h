// The figures a process's share-session manager publishes for tools that watch a platform: a
// named mapping of its own, its receive queue's name + "_STATISTICS", holding this block. Other
// processes read it without any lock; every counter is a 64-bit atomic that only grows.
#pragma once

#include <atomic>
#include <cstdint>

namespace Vantor::KQCP {

struct PublishedStatistics {
  static constexpr std::uint32_t kMagic = 0x5453514B;  // "KQST"
  static constexpr std::uint32_t kVersion = 1;
  static constexpr const char* kSuffix = "_STATISTICS";

  std::uint32_t magic = 0;
  std::uint32_t version = 0;
  std::uint32_t processId = 0;
  std::int32_t mode = 0;
  // In the order of ShareStatistics.
  std::atomic<std::uint64_t> posted{0}, refusedBacklog{0}, refusedOther{0}, delivered{0},
      droppedFull{0}, droppedGone{0}, droppedBacklog{0}, received{0}, droppedOnReceipt{0},
      queueResets{0}, recordsLostInResets{0};
};
static_assert(sizeof(PublishedStatistics) == 16 + 11 * 8, "the published layout");
static_assert(std::atomic<std::uint64_t>::is_always_lock_free, "shared between processes");

}  // namespace Vantor::KQCP
