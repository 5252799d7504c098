// What this process holds for each receiver queue: records posted and not yet written into the
// queue, or dropped. Posting reserves room here and is refused past the bounds; the manager's
// thread gives the room back once a record has been delivered or dropped.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "base/critical_section.h"

namespace Vantor::KQCP {

class ShareBacklog {
 public:
  ShareBacklog(std::uint32_t maxRecords, std::uint32_t maxBytes)
      : maxRecords_(maxRecords), maxBytes_(maxBytes) {}

  // False (and nothing reserved) when one more record of bytes would pass a bound.
  bool Reserve(const std::string& queue, std::uint32_t bytes);
  void Release(const std::string& queue, std::uint32_t bytes);

 private:
  struct Held {
    std::uint32_t records = 0;
    std::uint64_t bytes = 0;
  };
  const std::uint32_t maxRecords_;
  const std::uint64_t maxBytes_;
  VEXO::System::Thread::CriticalSection lock_;
  std::unordered_map<std::string, Held> held_;
};

}  // namespace Vantor::KQCP
