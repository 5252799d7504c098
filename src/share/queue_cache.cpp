// The cache of receiver queues.
#include "share/queue_cache.h"

namespace Vantor::KQCP {

QueueCache::Route QueueCache::Resolve(const std::string& name, bool* busy) {
  if (busy) *busy = false;
  auto it = queues_.find(name);
  if (it != queues_.end()) {
    if (it->second.checkedInRound == round_) return it->second.queue;
    if (it->second.queue->IsAliveRecently()) {
      it->second.checkedInRound = round_;
      return it->second.queue;
    }
    queues_.erase(it);  // its owner is gone, or made the name afresh
  }
  auto queue = std::make_shared<SharePackageDataQueue>();
  os::NamedResult result{};
  if (!queue->Open(name, false, openLockMs_, &result)) {
    // A held mutex is no reason to wait here: Open then takes the queue as it is.
    if (busy) *busy = result == os::NamedResult::kBusy;
    return nullptr;
  }
  // Whoever still holds an evicted queue (a waiting record, a request) keeps it mapped.
  if (queues_.size() >= kMaxCachedQueues) queues_.erase(queues_.begin());
  return queues_.emplace(name, Cached{std::move(queue), round_}).first->second.queue;
}

}  // namespace Vantor::KQCP
