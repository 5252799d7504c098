// The manager's background thread: sends messages and operations, receives and dispatches
// records. It alone touches the receive queue's records and the record sender. It never waits
// without a bound on anything another process holds, and it runs listeners only after the
// records have been copied out of the queue and the queue's mutex released.
#include <chrono>
#include <cstring>
#include <string_view>

#include "os/com_runtime.h"
#include "os/process.h"
#include "share/client_share_session.h"
#include "share/platform_proxy_map.h"
#include "share/service_share_session.h"
#include "share/share_session_manager.h"
#include "share/share_session_operation.h"
#include "share/wire/object_names.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

namespace {

// Larger operation payloads are dropped on receipt.
constexpr std::int32_t kMaxReceivedPayload = 0x10000;

}  // namespace

std::uint32_t ShareSessionManager_::Run() {
  threadId_.store(std::this_thread::get_id());
  os::CoInitialize(nullptr);
  os::CountingSemaphore* handles[] = {messageSignal_.Handle(), receiveQueue_.GetSignal(),
                                      operationSignal_.Handle()};
  Received received = Received::kDrained;
  while (running_.load()) {
    const bool moreToReceive = received == Received::kMore;
    // Short waits only while records remain, a receiver is being retried or the service is
    // being looked for.
    std::uint32_t timeout = kWaitTimeoutMs;
    if (moreToReceive) {
      timeout = 0;
    } else if (sender_.HasPending() || received == Received::kThrottled) {
      timeout = static_cast<std::uint32_t>(RecordSender::kRetryInterval.count());
    } else if (serviceLost_) {
      timeout = kRejoinIntervalMs;
    }
    const int signalled = os::WaitAny(handles, timeout);
    sender_.NextRound();
    ++turn_;
    // Both outboxes on every turn: while records keep arriving the receive signal wins every
    // wait, and outgoing items must not starve behind it.
    TakeMessages();
    TakeOperations();
    // A timeout also looks at the queue: a scribbled header or signal count is repaired there.
    if (signalled == 1 || signalled < 0 || received != Received::kDrained) {
      received = ReceiveBatch();
    }
    if (mode_ == kShareModeClient) WatchService();
    if (running_.load()) sender_.Flush();
    EndDeliveredRun();
  }
  sender_.DropAll();
  EndDeliveredRun();
  os::CoUninitialize();
  return 0;
}

void ShareSessionManager_::TakeMessages() {
  // Everything in the outbox: past 2048 posted items the signal no longer counts them all.
  std::deque<OutgoingMessage> taken;
  {
    // The signal is cleared before the outbox is taken: a post in between only wakes the
    // thread once more.
    messageSignal_.Handle()->Reset(0, VEXO::System::Thread::Semaphore::kDefaultMaximum);
    ScopedLock outbox(messageLock_);
    taken.swap(messages_);
  }
  for (OutgoingMessage& message : taken) QueueMessage(message);
}

void ShareSessionManager_::QueueMessage(OutgoingMessage& outgoing) {
  if (!outgoing.message.target.empty()) {
    sender_.Add(nullptr, std::move(outgoing.ticket), std::move(outgoing.record));
    return;
  }
  // The broadcast's own reservation ends here; each copy reserves room at its receiver.
  backlog_.Release(outgoing.ticket);
  for (const std::string& target : BroadcastTargets()) {
    RecordSender::Encoded record = EncodeMessage(outgoing.message, target);
    if (record.empty()) {
      counters_->droppedGone.fetch_add(1);
      continue;
    }
    const std::string queue = QueueNameOf(target);
    ShareBacklog::Ticket ticket =
        backlog_.Reserve(queue, static_cast<std::uint32_t>(record.size()));
    if (!ticket) {
      counters_->droppedBacklog.fetch_add(1);
      continue;
    }
    sender_.Add(nullptr, std::move(ticket), std::move(record));
  }
}

std::vector<std::string> ShareSessionManager_::BroadcastTargets() {
  // Every live client; entries of clients that are gone are removed. A platform mutex that
  // another process keeps held for long leaves the entries as last read.
  const NamedLock platform(platformMutex_, kBroadcastLockMs);
  if (!platform.Held()) return lastBroadcastTargets_;
  auto isGone = [this](const std::string& name) { return IsGone(name); };
  if (PlatformProxyMap::RemoveGone(proxyMap_, isGone).repaired) {
    counters_->queueResets.fetch_add(1);
  }
  lastBroadcastTargets_.clear();
  for (auto& entry : PlatformProxyMap::ReadAll(proxyMap_)) {
    lastBroadcastTargets_.push_back(std::move(entry.name));
  }
  return lastBroadcastTargets_;
}

void ShareSessionManager_::TakeOperations() {
  {
    operationSignal_.Handle()->Reset(0, VEXO::System::Thread::Semaphore::kDefaultMaximum);
    ScopedLock outbox(operationLock_);
    takenOperations_.swap(operations_);
    takenOperationBytes_.swap(operationBytes_);
  }
  for (OutgoingOperation& outgoing : takenOperations_) {
    // A reply goes to the very process whose request it answers.
    const std::uint8_t* bytes = takenOperationBytes_.data() + outgoing.offset;
    sender_.Add(std::move(outgoing.route), std::move(outgoing.ticket),
                RecordSender::Encoded(bytes, bytes + outgoing.length));
  }
  takenOperations_.clear();
  takenOperationBytes_.clear();
}

ShareSessionManager_::Received ShareSessionManager_::ReceiveBatch() {
  const int locked = receiveQueue_.LockFor(kOwnQueueLockMs);
  if (locked > 0) return Received::kMore;  // a writer holds it for long: try again soon
  if (locked < 0) return Received::kDrained;
  // A damaged header or an unreadable head would block every later record for good.
  if (receiveQueue_.IsDamaged()) receiveQueue_.Reset();
  // Under the mutex only a copy of the records' bytes, so that writers wait as little as
  // possible; they are parsed and dispatched after it is released.
  std::vector<std::uint32_t> ends;
  Received left = Received::kMore;
  for (int i = 0; i < kReceiveBatch && receiveBytes_.size() < kReceiveBatchBytes; ++i) {
    if (receiveQueue_.GetCount() == 0) {
      receiveQueue_.SettleSignal();
      left = Received::kDrained;
      break;
    }
    std::string sender;
    if (mode_ == kShareModeService && backlog_.AnyCongested() &&
        receiveQueue_.PeekSender(&sender) && backlog_.IsCongested(QueueNameOf(sender))) {
      left = Received::kThrottled;
      break;
    }
    if (!receiveQueue_.PopRaw(receiveBytes_)) {
      receiveQueue_.Reset();
      left = Received::kDrained;
      break;
    }
    ends.push_back(static_cast<std::uint32_t>(receiveBytes_.size()));
  }
  if (receiveQueue_.Resets() != queueResetsCounted_) {
    counters_->queueResets.fetch_add(receiveQueue_.Resets() - queueResetsCounted_);
    counters_->recordsLostInResets.store(receiveQueue_.RecordsLost());
    queueResetsCounted_ = receiveQueue_.Resets();
  }
  receiveQueue_.Unlock();
  std::uint32_t begin = 0;
  for (std::uint32_t end : ends) {
    counters_->received.fetch_add(1, std::memory_order_relaxed);
    PackageRecord record;
    Arrival arrival;
    if (SharePackageDataQueue::Parse(receiveBytes_.data() + begin, end - begin, &record) &&
        Accept(record, &arrival)) {
      Dispatch(arrival);
    } else {
      counters_->droppedOnReceipt.fetch_add(1, std::memory_order_relaxed);
    }
    begin = end;
  }
  receiveBytes_.clear();
  return left;
}

bool ShareSessionManager_::Accept(const PackageRecord& record, Arrival* arrival) {
  const auto dot = record.label.find('.');
  if (dot == std::string::npos || dot == 0) return false;
  const std::string_view kind(record.label.data(), dot);
  arrival->session = record.session;
  if (kind == "Message") {
    if (mode_ != kShareModeClient) return false;  // the service never receives messages
    std::memcpy(arrival->values, record.payload,
                std::min<std::size_t>(sizeof arrival->values,
                                      static_cast<std::size_t>(record.payloadLength)));
    return true;
  }
  if (kind != "Operation" || record.payloadLength > kMaxReceivedPayload) return false;
  auto operation =
      com::ComPtr<ShareSessionOperation>::Adopt(com::MakeObject<ShareSessionOperation>());
  if (!operation) return false;
  if (!operation->LoadRecord(record, dot + 1)) return false;
  std::int32_t kind32 = 0, id = 0;
  operation->GetKind(&kind32);
  operation->GetId(&id);
  if (mode_ == kShareModeClient && kind32 == kShareOperationReply && !IssuedHere(id)) {
    return false;  // meant for an earlier process of this client's name
  }
  if (mode_ == kShareModeService && kind32 == kShareOperationRequest) {
    // Bound to the process that sent it, while it is alive: its reply must reach it alone.
    // A batch mostly holds requests of few senders: each is looked up once per turn.
    if (senderRoute_.turn != turn_ || senderRoute_.sender != record.sender) {
      senderRoute_ = {turn_, record.sender, sender_.Resolve(QueueNameOf(record.sender))};
    }
    operation->SetRoute(senderRoute_.route);
  }
  arrival->operation = std::move(operation);
  return true;
}

void ShareSessionManager_::Dispatch(const Arrival& arrival) {
  if (!arrival.operation) {
    if (auto proxy = FindSession(proxySessions_, arrival.session)) {
      proxy->NotifyMessage(arrival.values);
    }
    return;
  }
  if (mode_ == kShareModeService) {
    if (auto session = FindSession(serviceSessions_, arrival.session)) {
      session->NotifyOperation(arrival.operation.Get());
    }
  } else if (auto proxy = FindSession(proxySessions_, arrival.session)) {
    proxy->NotifyOperation(arrival.operation.Get());
  }
}

void ShareSessionManager_::WatchService() {
  const auto now = std::chrono::steady_clock::now();
  if (now < nextServiceWatch_) return;
  nextServiceWatch_ = now + (serviceLost_ ? std::chrono::milliseconds(kRejoinIntervalMs)
                                          : std::chrono::milliseconds(kServiceWatchMs));
  // One system call tells whether the service that made the platform mutex still holds it.
  if (!serviceLost_ && !platformMutex_.IsAlive()) serviceLost_ = true;
  if (!serviceLost_) return;
  // Join a service that took the platform name over: register in its proxy map.
  // Names that another process is making or closing are left for the next look, as this thread
  // has records to deliver meanwhile.
  NamedMutex platform;
  if (OpenNamedMutex(platform, wire::PlatformMutexName(platformName_), false,
                     RecordSender::kLockBoundMs) != kKernelObjectOk) {
    return;
  }
  bool joined = false;
  {
    const NamedLock held(platform, kBroadcastLockMs);
    if (!held.Held()) return;
    joined = Register(RecordSender::kLockBoundMs);
  }
  if (!joined) return;
  platformMutex_.handle = std::move(platform.handle);
  serviceLost_ = false;
  nextServiceWatch_ = now + std::chrono::milliseconds(kServiceWatchMs);
}

}  // namespace Vantor::KQCP
