// Delivery of records to other processes' receive queues, for the manager's thread.
// Target queues stay mapped between deliveries without holding their names. Each record is
// bound to the receiver process it was addressed to (the queue object that was live when it was
// queued): if that queue's owner is gone, or a later process has made the name afresh, the
// record is dropped rather than handed to someone else. A record for a receiver whose queue is
// full, or whose mutex stays held past a short bound, is kept and retried, in order per
// receiver, until it fits or the retry limit passes. Every record ends in exactly one outcome,
// which the sender reports.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "share/queue_cache.h"
#include "share/share_backlog.h"
#include "share/share_package_data_queue.h"

namespace Vantor::KQCP {

class RecordSender {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kRetryLimit{10000};
  static constexpr std::chrono::milliseconds kRetryInterval{2};
  // How long a delivery waits for a receiver's queue mutex before it counts the queue as full,
  // and how long a receiver that held it that long is left alone before the next attempt.
  static constexpr std::uint32_t kLockBoundMs = 5;
  static constexpr std::chrono::milliseconds kStalledPause{50};
  // Records pushed under one hold of a receiver's mutex.
  static constexpr int kPushesPerLock = 16;

  enum class Outcome { kDelivered, kGone, kFull, kUnstorable };
  using Route = QueueCache::Route;
  // A record as the queue stores it (see SharePackageDataQueue::Encode).
  using Encoded = std::vector<std::uint8_t>;

  // Told once about every record: the backlog room it holds (which names its queue) and how it
  // ended (never kFull: a full receiver ends as kFull only once the retry limit has passed).
  using Settled = std::function<void(ShareBacklog::Ticket& ticket, Outcome outcome)>;
  explicit RecordSender(Settled settled) : settled_(std::move(settled)) {}

  // The live queue of that name, opened when needed; null when nobody holds the name, or when
  // it stayed busy past a short bound (*busy; see QueueCache).
  Route Resolve(const std::string& queueName, bool* busy = nullptr) {
    return queues_.Resolve(queueName, busy);
  }
  // Liveness found in this round is trusted until the next (the manager calls it per turn).
  void NextRound() {
    queues_.NextRound();
    last_ = {};
  }
  // Pushes into a queue the caller has locked.
  static Outcome PushEncoded(SharePackageDataQueue& queue, const Encoded& record);
  // Pushes if the queue's mutex can be had without waiting: kFull also when it is held.
  static Outcome DeliverNow(SharePackageDataQueue& queue, const Encoded& record);
  // Queues a delivery behind earlier ones to the ticket's queue, bound to route (or, when null,
  // to the queue live now; when that cannot be opened yet, to the one live when it can).
  void Add(Route route, ShareBacklog::Ticket ticket, Encoded record);
  // Tries every waiting delivery once, oldest first, keeping the order per queue.
  void Flush();
  bool HasPending() const { return pending_ != 0; }
  // Drops everything still waiting (reported as gone).
  void DropAll();

 private:
  struct Pending {
    Route route;  // null: not yet opened (busy so far)
    ShareBacklog::Ticket ticket;
    Encoded record;
    Clock::time_point giveUpAt;
  };
  // The records waiting for one receiver queue, in order.
  struct Lane {
    std::deque<Pending> records;
    Clock::time_point pausedUntil{};
  };
  // Delivers what it can of one lane; the lane's records stay in order.
  void FlushLane(Lane& lane, Clock::time_point now);
  // A receiver that cannot be had now: the lane rests a while, and records past their limit
  // end as full.
  void Stall(Lane& lane, Clock::time_point now);
  void Settle(Lane& lane, Outcome outcome);

  Settled settled_;
  std::unordered_map<std::string, Lane> lanes_;
  // The lane and live queue of the last record added in this round: records mostly come in
  // runs for one receiver.
  struct Last {
    const ShareBacklog::Account* account = nullptr;
    Lane* lane = nullptr;
    Route queue;
    bool busy = false;  // queue is null as it could not be opened yet
  } last_;
  // When records added since the last flush give up: one clock reading for all of them.
  Clock::time_point giveUpAtRound_{};
  std::size_t pending_ = 0;
  QueueCache queues_{kLockBoundMs};
};

}  // namespace Vantor::KQCP
