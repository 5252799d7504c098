// Per-receiver backlog accounting.
#include "share/share_backlog.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

ShareBacklog::Ticket ShareBacklog::Reserve(const std::string& queue, std::uint32_t bytes) {
  ScopedLock guard(lock_);
  auto& slot = accounts_[queue];
  if (!slot) {
    if (accounts_.size() > kKeptAccounts) DropIdleAccounts();
    slot = std::make_shared<Account>(queue);
  }
  std::shared_ptr<Account> account = slot;
  const std::uint32_t records = account->records.load();
  if (records >= maxRecords_ || account->bytes.load() + bytes > maxBytes_) return {};
  account->bytes.fetch_add(bytes);
  if (account->records.fetch_add(1) + 1 == congestedRecords_) congested_.fetch_add(1);
  return Ticket{std::move(account), bytes};
}

void ShareBacklog::Release(Ticket& ticket) {
  if (!ticket.account) return;
  Release(*ticket.account, 1, ticket.bytes);
  ticket.account.reset();
}

void ShareBacklog::Release(Account& account, std::uint32_t records, std::uint64_t bytes) {
  if (records == 0) return;
  account.bytes.fetch_sub(bytes);
  const std::uint32_t before = account.records.fetch_sub(records);
  if (before >= congestedRecords_ && before - records < congestedRecords_) {
    congested_.fetch_sub(1);
  }
}

bool ShareBacklog::IsCongested(const std::string& queue) {
  ScopedLock guard(lock_);
  auto it = accounts_.find(queue);
  return it != accounts_.end() && it->second->records.load() >= congestedRecords_;
}

void ShareBacklog::DropIdleAccounts() {
  // Only the table refers to an idle account: no ticket can release into it any more, and a
  // new one is made should that receiver come back.
  std::erase_if(accounts_, [](const auto& entry) {
    return entry.second && entry.second.use_count() == 1 && entry.second->records.load() == 0;
  });
}

}  // namespace Vantor::KQCP
