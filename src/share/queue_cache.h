// Receiver queues kept mapped between deliveries, without holding their names: a sender never
// keeps another process's queue alive. A cached queue whose owner is gone, or whose name was
// made afresh by a later process, is dropped and the live one opened instead.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

#include "share/share_package_data_queue.h"

namespace Vantor::KQCP {

class QueueCache {
 public:
  static constexpr std::size_t kMaxCachedQueues = 64;
  using Route = std::shared_ptr<SharePackageDataQueue>;
  // Opening a queue waits at most openLockMs for its mutex, and as long for a name that
  // another process is creating or closing.
  explicit QueueCache(std::uint32_t openLockMs) : openLockMs_(openLockMs) {}

  // The live queue of that name; null when nobody holds the name, or (with *busy set) when it
  // could not be opened within the bound and may be asked for again later. A queue found alive
  // since the last NextRound is not asked again (one system call saved per record of a batch).
  Route Resolve(const std::string& name, bool* busy = nullptr);
  void NextRound() { ++round_; }

 private:
  struct Cached {
    Route queue;
    unsigned checkedInRound;
  };
  const std::uint32_t openLockMs_;
  std::unordered_map<std::string, Cached> queues_;
  unsigned round_ = 1;
};

}  // namespace Vantor::KQCP
