// Record delivery with a cache of target queues and bounded retries for full queues.
#include "share/record_sender.h"

#include <unordered_set>

namespace Vantor::KQCP {

SharePackageDataQueue* RecordSender::Queue(const std::string& name) {
  auto it = queues_.find(name);
  if (it != queues_.end()) {
    if (it->second->IsAlive()) return it->second.get();
    queues_.erase(it);  // its owner is gone, or made the name afresh
  }
  auto queue = std::make_unique<SharePackageDataQueue>();
  if (!queue->Open(name, false)) return nullptr;
  if (queues_.size() >= kMaxCachedQueues) queues_.erase(queues_.begin());
  return queues_.emplace(name, std::move(queue)).first->second.get();
}

RecordSender::Outcome RecordSender::DeliverNow(const std::string& queueName, const Push& push) {
  SharePackageDataQueue* queue = Queue(queueName);
  if (!queue) return Outcome::kGone;
  queue->Lock();
  const Outcome outcome = push(*queue);
  queue->Unlock();
  return outcome;
}

RecordSender::Outcome RecordSender::PushRecord(SharePackageDataQueue& queue,
                                               const PackageRecord& record) {
  const std::uint32_t length = record.StoredLength();
  if (length == 0 || length > queue.AreaSize()) return Outcome::kUnstorable;
  return queue.Push(record) > 0 ? Outcome::kDelivered : Outcome::kFull;
}

void RecordSender::Add(std::string queueName, Push push) {
  pending_.push_back(
      {std::move(queueName), std::move(push), std::chrono::steady_clock::now() + kRetryLimit});
}

void RecordSender::Flush() {
  std::unordered_set<std::string> blocked;
  const auto now = std::chrono::steady_clock::now();
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (blocked.count(it->queueName)) {
      ++it;
      continue;
    }
    const Outcome outcome = DeliverNow(it->queueName, it->push);
    if (outcome == Outcome::kFull && now < it->giveUpAt) {
      blocked.insert(it->queueName);  // later records to it wait behind this one
      ++it;
    } else {
      it = pending_.erase(it);
    }
  }
}

}  // namespace Vantor::KQCP
