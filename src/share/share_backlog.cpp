// Per-receiver backlog accounting.
#include "share/share_backlog.h"

#include <algorithm>

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

bool ShareBacklog::Reserve(const std::string& queue, std::uint32_t bytes) {
  ScopedLock guard(lock_);
  Held& held = held_[queue];
  if (held.records >= maxRecords_ || held.bytes + bytes > maxBytes_) {
    if (held.records == 0) held_.erase(queue);
    return false;
  }
  held.records += 1;
  held.bytes += bytes;
  if (held.records == congestedRecords_) congested_.fetch_add(1);
  return true;
}

void ShareBacklog::Release(const std::string& queue, std::uint32_t bytes) {
  ScopedLock guard(lock_);
  auto it = held_.find(queue);
  if (it == held_.end()) return;
  if (it->second.records == congestedRecords_) congested_.fetch_sub(1);
  it->second.records -= 1;
  it->second.bytes -= std::min<std::uint64_t>(bytes, it->second.bytes);
  if (it->second.records == 0) held_.erase(it);
}

std::uint32_t ShareBacklog::Records(const std::string& queue) {
  ScopedLock guard(lock_);
  auto it = held_.find(queue);
  return it == held_.end() ? 0 : it->second.records;
}

}  // namespace Vantor::KQCP
