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

  // The live queue of that name; null when nobody holds the name.
  Route Resolve(const std::string& name);

 private:
  std::unordered_map<std::string, Route> queues_;
};

}  // namespace Vantor::KQCP
