// What this process holds for each receiver queue: records posted and not yet written into the
// queue, or dropped. Posting reserves room here and is refused past the bounds; whoever ends a
// record (delivered or dropped) gives its room back through the ticket, without a lookup or a
// lock, so that the manager's thread and posting threads do not contend.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/critical_section.h"

namespace Vantor::KQCP {

class ShareBacklog {
 public:
  // The figures of one receiver queue.
  struct Account {
    explicit Account(std::string name) : queue(std::move(name)) {}
    const std::string queue;
    std::atomic<std::uint32_t> records{0};
    std::atomic<std::uint64_t> bytes{0};
    // When a post to this receiver was last made (see the manager; os::MonotonicNowNs).
    std::atomic<std::int64_t> lastPostNs{0};
  };
  // The room one record holds until it is released; empty when nothing is held.
  struct Ticket {
    std::shared_ptr<Account> account;
    std::uint32_t bytes = 0;
    explicit operator bool() const { return account != nullptr; }
  };

  // A receiver holding congestedRecords or more counts as congested.
  ShareBacklog(std::uint32_t maxRecords, std::uint32_t maxBytes, std::uint32_t congestedRecords)
      : maxRecords_(maxRecords), maxBytes_(maxBytes), congestedRecords_(congestedRecords) {}

  // An empty ticket (and nothing reserved) when one more record of bytes would pass a bound.
  Ticket Reserve(const std::string& queue, std::uint32_t bytes);
  // Gives the ticket's room back; the ticket is empty afterwards.
  void Release(Ticket& ticket);
  // Gives back the room of several records of one account at once.
  void Release(Account& account, std::uint32_t records, std::uint64_t bytes);
  bool IsCongested(const std::string& queue);
  // Whether any receiver is congested: one load, for the hot path.
  bool AnyCongested() const { return congested_.load(std::memory_order_relaxed) > 0; }

 private:
  // Accounts no ticket refers to are dropped once there are more than this many.
  static constexpr std::size_t kKeptAccounts = 64;
  void DropIdleAccounts();

  const std::uint32_t maxRecords_;
  const std::uint64_t maxBytes_;
  const std::uint32_t congestedRecords_;
  std::atomic<int> congested_{0};
  // Reservations are made under it, so that two posts cannot both take the last room; releases
  // only ever lower the figures and need no lock.
  VEXO::System::Thread::CriticalSection lock_;
  std::unordered_map<std::string, std::shared_ptr<Account>> accounts_;
};

}  // namespace Vantor::KQCP
