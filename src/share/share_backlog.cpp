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
  return true;
}

void ShareBacklog::Release(const std::string& queue, std::uint32_t bytes) {
  ScopedLock guard(lock_);
  auto it = held_.find(queue);
  if (it == held_.end()) return;
  it->second.records -= 1;
  it->second.bytes -= std::min<std::uint64_t>(bytes, it->second.bytes);
  if (it->second.records == 0) held_.erase(it);
}

}  // namespace Vantor::KQCP
