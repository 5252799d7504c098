// The manager's background thread: sends messages and operations, receives and dispatches
// records. It alone touches the receive queue's records and the record sender.
#include <cstring>

#include "os/com_runtime.h"
#include "os/process.h"
#include "share/client_share_session.h"
#include "share/platform_proxy_map.h"
#include "share/service_share_session.h"
#include "share/share_session_manager.h"
#include "share/share_session_operation.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

namespace {

constexpr const char* kMessageLabel = "Message.";
constexpr const char* kOperationLabel = "Operation.";
// Larger operation payloads are dropped on receipt.
constexpr std::int32_t kMaxReceivedPayload = 0x10000;

}  // namespace

std::uint32_t ShareSessionManager_::Run() {
  os::CoInitialize(nullptr);
  os::CountingSemaphore* handles[] = {messageSignal_.Handle(), receiveQueue_.GetSignal(),
                                      operationSignal_.Handle()};
  bool moreToReceive = false;
  while (running_.load()) {
    // Short waits only while records remain or a full receiver is being retried.
    const std::uint32_t timeout =
        moreToReceive          ? 0
        : sender_.HasPending() ? static_cast<std::uint32_t>(RecordSender::kRetryInterval.count())
                               : kWaitTimeoutMs;
    const int signalled = os::WaitAny(handles, timeout);
    if (signalled == 0) TakeMessages();
    if (signalled == 2) TakeOperations();
    // A timeout also looks at the queue: a scribbled header or signal count is repaired there.
    if (signalled == 1 || signalled < 0 || moreToReceive) moreToReceive = ReceiveBatch();
    if (running_.load()) sender_.Flush();
  }
  sender_.DropAll();
  os::CoUninitialize();
  return 0;
}

void ShareSessionManager_::TakeMessages() {
  // Everything in the outbox: past 2048 posted items the signal no longer counts them all.
  std::deque<ShareMessage> taken;
  {
    ScopedLock outbox(messageLock_);
    taken.swap(messages_);
  }
  for (ShareMessage& message : taken) QueueMessage(message);
}

void ShareSessionManager_::QueueMessage(const ShareMessage& message) {
  std::vector<std::string> targets;
  if (!message.target.empty()) {
    targets.push_back(message.target);
  } else {
    // Broadcast to every live client; entries of clients that are gone are removed.
    platformMutex_.Lock();
    std::vector<std::uint32_t> gone;
    for (auto& entry : PlatformProxyMap::ReadAll(proxyMap_)) {
      if (os::ProcessAlive(entry.processId)) {
        targets.push_back(std::move(entry.name));
      } else {
        gone.push_back(entry.processId);
      }
    }
    for (std::uint32_t pid : gone) PlatformProxyMap::Remove(proxyMap_, pid);
    platformMutex_.Unlock();
  }
  std::uint8_t payload[12];
  std::memcpy(payload, message.values, sizeof payload);
  for (const std::string& target : targets) {
    PackageRecord record;
    record.target = target;
    record.sender = ownName_;
    record.session = message.session;
    record.label = kMessageLabel;
    sender_.Add(QueueNameOf(target), [record, payload](SharePackageDataQueue& queue) mutable {
      record.payloadLength = sizeof payload;
      record.payload = payload;
      return RecordSender::PushRecord(queue, record);
    });
  }
}

void ShareSessionManager_::TakeOperations() {
  std::deque<com::ComPtr<ShareSessionOperation>> taken;
  {
    ScopedLock outbox(operationLock_);
    taken.swap(operations_);
  }
  for (const auto& operation : taken) QueueOperation(operation);
}

void ShareSessionManager_::QueueOperation(const com::ComPtr<ShareSessionOperation>& operation) {
  const std::string target = operation->Target();
  sender_.Add(QueueNameOf(target), [this, operation, target](SharePackageDataQueue& queue) {
    PackageRecord record;
    record.target = target;
    record.sender = ownName_;
    record.session = operation->Session();
    record.label = kOperationLabel + operation->Name();
    // Written straight from the operation's allocation, under its lock.
    return operation->WithPayload([&](const std::uint8_t* payload, std::int32_t length) {
      record.payload = payload;
      record.payloadLength = length;
      return RecordSender::PushRecord(queue, record);
    });
  });
}

bool ShareSessionManager_::ReceiveBatch() {
  for (int i = 0; i < kReceiveBatch; ++i) {
    if (receiveQueue_.Lock() != 0) return false;
    // A damaged header or an unreadable head would block every later record for good.
    if (receiveQueue_.IsDamaged()) receiveQueue_.Reset();
    if (receiveQueue_.GetCount() == 0) {
      receiveQueue_.SettleSignal();
      receiveQueue_.Unlock();
      return false;
    }
    PackageRecord record;
    if (receiveQueue_.Pop(record)) {
      // Listeners run here, with the queue's mutex held.
      Dispatch(record);
    } else {
      receiveQueue_.Reset();
    }
    receiveQueue_.Unlock();
  }
  return true;
}

void ShareSessionManager_::Dispatch(const PackageRecord& record) {
  const auto dot = record.label.find('.');
  if (dot == std::string::npos || dot == 0) return;
  const std::string kind = record.label.substr(0, dot);
  if (kind == "Message") {
    DispatchMessage(record);
  } else if (kind == "Operation") {
    DispatchOperation(record, record.label.substr(dot + 1));
  }
}

void ShareSessionManager_::DispatchMessage(const PackageRecord& record) {
  if (mode_ != kShareModeClient) return;  // the service never receives messages
  std::int32_t values[3] = {0, 0, 0};
  std::memcpy(values, record.payload,
              std::min<std::size_t>(sizeof values, static_cast<std::size_t>(record.payloadLength)));
  if (auto proxy = FindSession(proxySessions_, record.session)) proxy->NotifyMessage(values);
}

void ShareSessionManager_::DispatchOperation(const PackageRecord& record, const std::string& name) {
  if (record.payloadLength > kMaxReceivedPayload) return;
  auto operation =
      com::ComPtr<ShareSessionOperation>::Adopt(com::MakeObject<ShareSessionOperation>());
  if (!operation) return;
  operation->SetTarget(record.target.c_str());
  operation->SetSession(record.session.c_str());
  operation->SetSender(record.sender.c_str());
  operation->SetName(name.c_str());
  if (!operation->LoadPayload(record.payload, record.payloadLength)) return;
  if (mode_ == kShareModeService) {
    if (auto session = FindSession(serviceSessions_, record.session)) {
      session->NotifyOperation(operation.Get());
    }
  } else if (auto proxy = FindSession(proxySessions_, record.session)) {
    proxy->NotifyOperation(operation.Get());
  }
}

}  // namespace Vantor::KQCP
