// Delivery of records to other processes' receive queues, for the manager's thread.
// Target queues stay mapped between deliveries without holding their names, and each delivery
// first checks, with one system call, that the queue is still the live one of its name.
// A record for a receiver whose queue is full is kept and retried, in order per receiver,
// until it fits or kRetryLimit passes; a record for a receiver that is gone is dropped.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "share/package_record.h"
#include "share/share_package_data_queue.h"

namespace Vantor::KQCP {

class RecordSender {
 public:
  static constexpr std::chrono::milliseconds kRetryLimit{10000};
  static constexpr std::chrono::milliseconds kRetryInterval{2};
  static constexpr std::size_t kMaxCachedQueues = 64;

  enum class Outcome { kDelivered, kGone, kFull, kUnstorable };

  // Builds the record and pushes it into the queue it is given, which the sender has locked;
  // PushRecord does the usual work.
  using Push = std::function<Outcome(SharePackageDataQueue& queue)>;
  static Outcome PushRecord(SharePackageDataQueue& queue, const PackageRecord& record);

  // Queues a delivery behind earlier ones to the same queue.
  void Add(std::string queueName, Push push);
  // Tries every waiting delivery once, oldest first, keeping the order per queue.
  void Flush();
  bool HasPending() const { return !pending_.empty(); }
  // Delivers at once; the outcome tells whether it went.
  Outcome DeliverNow(const std::string& queueName, const Push& push);
  void DropAll() { pending_.clear(); }

 private:
  struct Pending {
    std::string queueName;
    Push push;
    std::chrono::steady_clock::time_point giveUpAt;
  };
  SharePackageDataQueue* Queue(const std::string& name);

  std::deque<Pending> pending_;
  std::unordered_map<std::string, std::unique_ptr<SharePackageDataQueue>> queues_;
};

}  // namespace Vantor::KQCP
