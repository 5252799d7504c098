// Record delivery bound to receiver processes, with bounded waits and bounded retries.
#include "share/record_sender.h"

#include <unordered_set>

namespace Vantor::KQCP {

RecordSender::Route RecordSender::Resolve(const std::string& name) {
  auto it = queues_.find(name);
  if (it != queues_.end()) {
    if (it->second->IsAlive()) return it->second;
    queues_.erase(it);  // its owner is gone, or made the name afresh
  }
  auto queue = std::make_shared<SharePackageDataQueue>();
  if (!queue->Open(name, false)) return nullptr;
  // Records still bound to an evicted queue keep it alive through their routes.
  if (queues_.size() >= kMaxCachedQueues) queues_.erase(queues_.begin());
  return queues_.emplace(name, std::move(queue)).first->second;
}

RecordSender::Outcome RecordSender::PushRecord(SharePackageDataQueue& queue,
                                               const PackageRecord& record) {
  const std::uint32_t length = record.StoredLength();
  if (length == 0 || length > queue.AreaSize()) return Outcome::kUnstorable;
  return queue.Push(record) > 0 ? Outcome::kDelivered : Outcome::kFull;
}

void RecordSender::Add(std::string queueName, Route route, std::uint32_t bytes, Push push) {
  if (!route) route = Resolve(queueName);
  if (!route) {
    settled_(queueName, bytes, Outcome::kGone);
    return;
  }
  pending_.push_back(
      {std::move(queueName), std::move(route), bytes, std::move(push), Clock::now() + kRetryLimit});
}

RecordSender::Outcome RecordSender::Deliver(Pending& pending, bool* stalled) {
  *stalled = false;
  // The queue the record was addressed to must still be held by its owner: a later process of
  // the same name makes a queue of its own.
  if (!pending.route->IsAlive()) return Outcome::kGone;
  const int locked = pending.route->LockFor(kLockBoundMs);
  if (locked != 0) {
    *stalled = locked > 0;
    return locked > 0 ? Outcome::kFull : Outcome::kGone;
  }
  const Outcome outcome = pending.push(*pending.route);
  pending.route->Unlock();
  return outcome;
}

void RecordSender::Flush() {
  std::unordered_set<std::string> blocked;
  const auto now = Clock::now();
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (blocked.count(it->queueName)) {
      ++it;
      continue;
    }
    auto stalled = stalledUntil_.find(it->queueName);
    if (stalled != stalledUntil_.end()) {
      if (now < stalled->second && now < it->giveUpAt) {
        blocked.insert(it->queueName);
        ++it;
        continue;
      }
      stalledUntil_.erase(stalled);
    }
    bool timedOut = false;
    const Outcome outcome = Deliver(*it, &timedOut);
    if (timedOut) stalledUntil_[it->queueName] = now + kStalledPause;
    if (outcome == Outcome::kFull && now < it->giveUpAt) {
      blocked.insert(it->queueName);  // later records to it wait behind this one
      ++it;
      continue;
    }
    settled_(it->queueName, it->bytes, outcome);
    it = pending_.erase(it);
  }
}

void RecordSender::DropAll() {
  for (const Pending& pending : pending_) {
    settled_(pending.queueName, pending.bytes, Outcome::kGone);
  }
  pending_.clear();
}

}  // namespace Vantor::KQCP
