// What this process holds for each receiver queue: records posted and not yet written into the
// queue, or dropped. Posting reserves room here and is refused past the bounds; the manager's
// thread gives the room back once a record has been delivered or dropped.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <unordered_map>

#include "base/critical_section.h"

namespace Vantor::KQCP {

class ShareBacklog {
 public:
  // A receiver holding congestedRecords or more counts as congested.
  ShareBacklog(std::uint32_t maxRecords, std::uint32_t maxBytes, std::uint32_t congestedRecords)
      : maxRecords_(maxRecords), maxBytes_(maxBytes), congestedRecords_(congestedRecords) {}

  // False (and nothing reserved) when one more record of bytes would pass a bound.
  bool Reserve(const std::string& queue, std::uint32_t bytes);
  void Release(const std::string& queue, std::uint32_t bytes);
  // Records held for the queue now.
  std::uint32_t Records(const std::string& queue);
  bool IsCongested(const std::string& queue) { return Records(queue) >= congestedRecords_; }
  // Whether any receiver is congested: one load, for the hot path.
  bool AnyCongested() const { return congested_.load(std::memory_order_relaxed) > 0; }

 private:
  struct Held {
    std::uint32_t records = 0;
    std::uint64_t bytes = 0;
  };
  const std::uint32_t maxRecords_;
  const std::uint64_t maxBytes_;
  const std::uint32_t congestedRecords_;
  std::atomic<int> congested_{0};
  VEXO::System::Thread::CriticalSection lock_;
  std::unordered_map<std::string, Held> held_;
};

}  // namespace Vantor::KQCP
