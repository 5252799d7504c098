// Record delivery bound to receiver processes, with bounded waits and bounded retries.
#include "share/record_sender.h"

#include <iterator>

namespace Vantor::KQCP {

RecordSender::Outcome RecordSender::PushEncoded(SharePackageDataQueue& queue,
                                                const Encoded& record) {
  if (record.empty() || record.size() > queue.AreaSize()) return Outcome::kUnstorable;
  return queue.PushEncoded(record.data(), static_cast<std::uint32_t>(record.size())) > 0
             ? Outcome::kDelivered
             : Outcome::kFull;
}

RecordSender::Outcome RecordSender::DeliverNow(SharePackageDataQueue& queue,
                                               const Encoded& record) {
  const int locked = queue.LockFor(0);
  if (locked != 0) return locked > 0 ? Outcome::kFull : Outcome::kGone;
  const Outcome outcome = PushEncoded(queue, record);
  queue.Unlock();
  return outcome;
}

void RecordSender::Add(Route route, ShareBacklog::Ticket ticket, Encoded record) {
  if (last_.account != ticket.account.get()) {
    const std::string& queueName = ticket.account->queue;
    bool busy = false;
    Route live = Resolve(queueName, &busy);
    last_ = {ticket.account.get(), &lanes_[queueName], std::move(live), busy};
  }
  if (!route) route = last_.queue;
  if (!route && !last_.busy) {
    settled_(ticket, Outcome::kGone);
    return;
  }
  if (giveUpAtRound_ == Clock::time_point{}) giveUpAtRound_ = Clock::now() + kRetryLimit;
  last_.lane->records.push_back(
      {std::move(route), std::move(ticket), std::move(record), giveUpAtRound_});
  ++pending_;
}

void RecordSender::Settle(Lane& lane, Outcome outcome) {
  settled_(lane.records.front().ticket, outcome);
  lane.records.pop_front();
  --pending_;
}

void RecordSender::Stall(Lane& lane, Clock::time_point now) {
  lane.pausedUntil = now + kStalledPause;
  while (!lane.records.empty() && now >= lane.records.front().giveUpAt) {
    Settle(lane, Outcome::kFull);
  }
}

void RecordSender::FlushLane(Lane& lane, Clock::time_point now) {
  SharePackageDataQueue* locked = nullptr;
  const SharePackageDataQueue* alive = nullptr;
  int pushedUnderLock = 0;
  while (!lane.records.empty()) {
    Pending& front = lane.records.front();
    if (!front.route) {
      bool busy = false;
      front.route = Resolve(front.ticket.account->queue, &busy);
      if (!front.route) {
        if (!busy) {
          Settle(lane, Outcome::kGone);
          continue;
        }
        Stall(lane, now);
        break;
      }
    }
    // The queue a record was addressed to must still be held by its owner: a later process of
    // the same name makes a queue of its own. Asked once per queue and flush.
    if (alive != front.route.get()) {
      if (!front.route->IsAliveRecently()) {
        Settle(lane, Outcome::kGone);
        continue;
      }
      alive = front.route.get();
    }
    // The receiver takes records out under the same mutex: let it in now and then, so that
    // filling and emptying the queue overlap.
    if (locked && ++pushedUnderLock > kPushesPerLock) {
      locked->Unlock();
      locked = nullptr;
    }
    if (locked != front.route.get()) {
      if (locked) locked->Unlock();
      locked = nullptr;
      pushedUnderLock = 0;
      const int result = front.route->LockFor(kLockBoundMs);
      if (result > 0) {
        Stall(lane, now);  // held for long by someone: full for now
        break;
      }
      if (result < 0) {
        Settle(lane, Outcome::kGone);
        continue;
      }
      locked = front.route.get();
    }
    const Outcome outcome = PushEncoded(*locked, front.record);
    if (outcome == Outcome::kFull && now < front.giveUpAt) break;  // later ones wait behind
    Settle(lane, outcome);
  }
  if (locked) locked->Unlock();
}

void RecordSender::Flush() {
  // Lanes may go below; the next record looks its lane up again.
  last_ = {};
  giveUpAtRound_ = {};
  const auto now = Clock::now();
  for (auto it = lanes_.begin(); it != lanes_.end();) {
    Lane& lane = it->second;
    if (now >= lane.pausedUntil) FlushLane(lane, now);
    it = lane.records.empty() ? lanes_.erase(it) : std::next(it);
  }
}

void RecordSender::DropAll() {
  for (auto& [name, lane] : lanes_) {
    while (!lane.records.empty()) Settle(lane, Outcome::kGone);
  }
  lanes_.clear();
  last_ = {};
}

}  // namespace Vantor::KQCP
