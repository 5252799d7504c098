// Starting, naming and session bookkeeping of the share-session manager.
#include "share/share_session_manager.h"

#include <chrono>
#include <cstring>
#include <new>
#include <random>
#include <string_view>

#include "os/futex.h"
#include "os/named_object.h"
#include "os/object_descriptors.h"
#include "os/process.h"
#include "share/client_share_session.h"
#include "share/name_copy.h"
#include "share/platform_proxy_map.h"
#include "share/service_share_session.h"
#include "share/share_session_operation.h"
#include "share/wire/object_names.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

ShareSessionManager_::ShareSessionManager_() = default;

ShareSessionManager_::~ShareSessionManager_() = default;

HRESULT ShareSessionManager_::Start(const char* platformName, std::int32_t mode,
                                    const char* ownName) {
  ScopedLock names(namesLock_);
  // Start runs at most once per process, whatever its outcome; a mode outside client,
  // service and inactive is refused rather than taken as a client.
  if (startCalled_) return E_FAIL;
  startCalled_ = true;
  mode_ = mode;
  platformName_ = platformName ? platformName : "";
  HRESULT result = S_OK;
  if (mode != kShareModeClient && mode != kShareModeService && mode != kShareModeInactive) {
    mode_ = kShareModeInactive;
    result = E_INVALIDARG;
  } else if (mode != kShareModeInactive) {
    result = StartMember(mode, ownName);
  }
  // Other threads read the mode and names once they see the flag.
  initialised_.store(true, std::memory_order_release);
  return result;
}

HRESULT ShareSessionManager_::StartMember(std::int32_t mode, const char* ownName) {
  // Files that killed processes left behind would otherwise pile up for good.
  SweepStale(nullptr);
  {
    // Ids of this process start where those of an earlier process of the same name cannot.
    std::random_device entropy;
    const auto now =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint32_t base =
        (entropy() ^ static_cast<std::uint32_t>(now) ^ os::CurrentProcessId()) & 0x3FFFFFFF;
    idBase_.store(base);
    operationId_.store(base);
  }
  serviceQueueName_ = QueueNameOf({});
  forkGeneration_ = os::ForkGeneration();
  // Everything Start waits for that other processes hold shares one bound: a peer that keeps
  // a name or the platform mutex (stopped, or hostile) makes Start fail, never hang.
  const os::Deadline deadline = os::Deadline::After(kPlatformLockMs);
  const std::string mutexName = wire::PlatformMutexName(platformName_);
  if (mode == kShareModeClient) {
    ownName_ = ownName ? ownName : "";
    if (ownName_.size() < 2) return E_FAIL;
    // Clients do not hold the service's names: a new service must be able to make them again
    // once the old one is gone.
    if (OpenNamedMutex(platformMutex_, mutexName, false, deadline.LeftMs()) != kKernelObjectOk) {
      return E_FAIL;
    }
  } else if (CreateNamedMutex(platformMutex_, mutexName, deadline.LeftMs()) != kKernelObjectOk) {
    return E_FAIL;  // another service runs under this platform name
  }
  bool ok = JoinUnderPlatformLock(mode, deadline);
  if (ok) {
    running_.store(true);
    thread_ = os::ThreadHandle::Start([this] { return Run(); }, false);
    ok = thread_ != nullptr;
  }
  if (!ok) {
    ReleaseMember();
    return E_FAIL;
  }
  return S_OK;
}

bool ShareSessionManager_::JoinUnderPlatformLock(std::int32_t mode, const os::Deadline& deadline) {
  const NamedLock platform(platformMutex_, deadline.LeftMs());
  if (!platform.Held()) return false;
  const std::string queueName = QueueNameOf(ownName_);
  // A live process that holds this own name holds its receive queue: Create fails then.
  if (!receiveQueue_.Create(queueName, deadline.LeftMs())) return false;
  Publish(wire::StatisticsName(queueName), mode, deadline.LeftMs());
  if (mode == kShareModeService) {
    return proxyMap_.Create(wire::ProxyMapName(platformName_), PlatformProxyMap::kCapacity,
                            deadline.LeftMs()) &&
           PlatformProxyMap::Initialize(proxyMap_, os::CurrentProcessId());
  }
  return Register(deadline.LeftMs());
}

void ShareSessionManager_::Publish(const std::string& name, std::int32_t mode,
                                   std::uint32_t boundMs) {
  // Tools see this process's figures; without the mapping they are only counted here.
  os::NamedResult result{};
  published_ = os::SharedMemory::Create(name, sizeof(PublishedStatistics), &result, boundMs);
  if (!published_) return;
  auto* block = new (published_->Data()) PublishedStatistics();
  block->processId = os::CurrentProcessId();
  block->mode = mode;
  block->version = PublishedStatistics::kVersion;
  std::atomic_thread_fence(std::memory_order_release);
  block->magic = PublishedStatistics::kMagic;
  counters_ = block;
}

void ShareSessionManager_::ReleaseMember() {
  running_.store(false);
  counters_ = &localCounters_;
  published_.reset();
  receiveQueue_.Discard();
  proxyMap_.Close();
  platformMutex_.Close();
}

bool ShareSessionManager_::Register(std::uint32_t boundMs) {
  ShareMapMemory map;
  if (!map.Open(wire::ProxyMapName(platformName_), false, boundMs)) return false;
  return PlatformProxyMap::Register(map, os::CurrentProcessId(), ownName_,
                                    [this](const std::string& name) { return IsGone(name); });
}

bool ShareSessionManager_::IsGone(const std::string& clientName) const {
  return !os::NamedObject::IsHeld(os::NamedKind::kMutex,
                                  wire::QueueMutexName(QueueNameOf(clientName)));
}

HRESULT ShareSessionManager_::GetStatistics(ShareStatistics* statistics) {
  if (!statistics) return E_POINTER;
  *statistics = counters_->Snapshot();
  return S_OK;
}

HRESULT ShareSessionManager_::SweepStale(std::int32_t* removed) {
  const int count = os::NamedObject::RemoveStale();
  if (removed) *removed = count < 0 ? 0 : count;
  return count < 0 ? E_FAIL : S_OK;
}

HRESULT ShareSessionManager_::GetMode(std::int32_t* mode) {
  if (!mode) return E_POINTER;
  if (!initialised_.load()) return E_FAIL;
  *mode = mode_;
  return S_OK;
}

HRESULT ShareSessionManager_::GetOwnName(char* buffer, std::uint32_t length) {
  ScopedLock names(namesLock_);
  if (!initialised_.load()) return E_FAIL;
  return CopyName(ownName_, buffer, length) ? S_OK : E_OUTOFMEMORY;
}

HRESULT ShareSessionManager_::GetPlatformName(char* buffer, std::uint32_t length) {
  ScopedLock names(namesLock_);
  if (!initialised_.load()) return E_FAIL;
  return CopyName(platformName_, buffer, length) ? S_OK : E_OUTOFMEMORY;
}

HRESULT ShareSessionManager_::Stop() {
  if (initialised_.load() && mode_ == kShareModeInactive) return S_OK;
  if (!running_.exchange(false)) return E_FAIL;
  operationSignal_.Release(1);  // wake the thread so that it sees the flag
  return S_OK;
}

HRESULT ShareSessionManager_::WaitForStop(std::uint32_t milliseconds) {
  if (initialised_.load() && mode_ == kShareModeInactive) return S_OK;
  if (!thread_) return E_FAIL;
  // S_FALSE tells a caller that the thread was still running when the time ran out.
  return thread_->Wait(milliseconds) ? S_OK : S_FALSE;
}

HRESULT ShareSessionManager_::CreateServiceSession(const char* sessionName,
                                                   std::uint32_t /*unused*/) {
  if (!sessionName) return E_POINTER;
  if (!initialised_.load() || mode_ != kShareModeService) return E_FAIL;
  ScopedLock sessions(sessionsLock_);
  auto session = com::ComPtr<ServiceShareSession>::Adopt(com::MakeObject<ServiceShareSession>());
  if (!session || !session->Initialize(this, sessionName)) return E_FAIL;
  serviceSessions_.emplace(sessionName, std::move(session));
  return S_OK;
}

HRESULT ShareSessionManager_::GetServiceSession(const char* sessionName, std::uint32_t /*unused*/,
                                                IShareSessionService** session) {
  if (!sessionName || !session) return E_POINTER;
  if (!initialised_.load() || mode_ != kShareModeService) return E_FAIL;
  ScopedLock sessions(sessionsLock_);
  auto it = serviceSessions_.find(sessionName);
  if (it == serviceSessions_.end()) return E_FAIL;
  it->second->AddRef();
  *session = it->second.Get();
  return S_OK;
}

HRESULT ShareSessionManager_::GetProxySession(const char* sessionName, std::uint32_t /*unused*/,
                                              IShareSessionProxy** session) {
  if (!sessionName || !session) return E_POINTER;
  if (!initialised_.load() || mode_ != kShareModeClient) return E_FAIL;
  ScopedLock sessions(sessionsLock_);
  auto it = proxySessions_.find(sessionName);
  if (it == proxySessions_.end()) {
    auto proxy = com::ComPtr<ClientShareSession>::Adopt(com::MakeObject<ClientShareSession>());
    if (!proxy || !proxy->Initialize(this, sessionName)) return E_FAIL;
    it = proxySessions_.emplace(sessionName, std::move(proxy)).first;
  }
  it->second->AddRef();
  *session = it->second.Get();
  return S_OK;
}

HRESULT ShareSessionManager_::Admit(const std::string& queue, std::uint32_t bytes,
                                    ShareBacklog::Ticket* ticket) {
  *ticket = backlog_.Reserve(queue, bytes);
  if (!*ticket) {
    counters_->refusedBacklog.fetch_add(1);
    return KQCP_E_SHARE_BACKLOG_FULL;
  }
  counters_->posted.fetch_add(1);
  return S_OK;
}

RecordSender::Encoded ShareSessionManager_::EncodeMessage(const ShareMessage& message,
                                                          const std::string& target) const {
  const RecordParts record{target,
                           ownName_,
                           message.session,
                           kShareMessageLabel,
                           {},
                           sizeof message.values,
                           reinterpret_cast<const std::uint8_t*>(message.values)};
  RecordSender::Encoded encoded;
  SharePackageDataQueue::Encode(record, &encoded);
  return encoded;
}

bool ShareSessionManager_::ForkedAway() const { return os::ForkGeneration() != forkGeneration_; }

HRESULT ShareSessionManager_::PostMessage(const ShareMessage& message) {
  if (ForkedAway()) {
    counters_->refusedOther.fetch_add(1);
    return E_UNEXPECTED;
  }
  if (!running_.load() || mode_ != kShareModeService) {
    counters_->refusedOther.fetch_add(1);
    return E_FAIL;
  }
  // A broadcast waits under a name of its own, as large as its copy for an unnamed receiver;
  // its copies are made and counted per receiver later.
  const bool broadcast = message.target.empty();
  RecordSender::Encoded record = EncodeMessage(message, message.target);
  if (record.empty() || record.size() > kLargestRecord) {
    counters_->refusedOther.fetch_add(1);
    return KQCP_E_SHARE_TOO_LARGE;
  }
  const std::string queue = broadcast ? std::string() : QueueNameOf(message.target);
  ShareBacklog::Ticket ticket;
  if (const HRESULT admitted = Admit(queue, static_cast<std::uint32_t>(record.size()), &ticket);
      admitted != S_OK) {
    return admitted;
  }
  if (broadcast) record.clear();
  {
    ScopedLock outbox(messageLock_);
    messages_.push_back({message, std::move(ticket), std::move(record)});
  }
  messageSignal_.Release(1);
  return S_OK;
}

HRESULT ShareSessionManager_::PostOperation(ShareSessionOperation* operation) {
  if (ForkedAway()) {
    counters_->refusedOther.fetch_add(1);
    return E_UNEXPECTED;
  }
  if (!running_.load()) {
    counters_->refusedOther.fetch_add(1);
    return E_FAIL;
  }
  // Laid out now: the caller may change or reuse the operation as soon as this returns.
  ShareSessionOperation::Posting posting;
  if (!operation->Encode(ownName_, kLargestRecord, &posting)) {
    counters_->refusedOther.fetch_add(1);
    return KQCP_E_SHARE_TOO_LARGE;
  }
  const RecordSender::Encoded& record = posting.record;
  RecordSender::Route& route = posting.route;
  std::string named;
  const std::string& queue =
      posting.target.empty() ? serviceQueueName_ : (named = QueueNameOf(posting.target));
  ShareBacklog::Ticket ticket;
  if (const HRESULT admitted = Admit(queue, static_cast<std::uint32_t>(record.size()), &ticket);
      admitted != S_OK) {
    return admitted;
  }
  if (DeliverDirectly(queue, ticket, route, record)) return S_OK;
  {
    ScopedLock outbox(operationLock_);
    operations_.push_back({std::move(route), std::move(ticket), operationBytes_.size(),
                           static_cast<std::uint32_t>(record.size())});
    operationBytes_.insert(operationBytes_.end(), record.begin(), record.end());
  }
  // One count wakes the thread, which takes the whole outbox after clearing the count; a post
  // that finds it still set saves the write to a line the thread keeps reading.
  if (operationSignal_.Handle()->Count() == 0) operationSignal_.Release(1);
  return S_OK;
}

bool ShareSessionManager_::DeliverDirectly(const std::string& queue, ShareBacklog::Ticket& ticket,
                                           RecordSender::Route route,
                                           const RecordSender::Encoded& record) {
  // Straight into the receiver's queue saves the hand-off to the manager's thread (or, on that
  // thread, a turn of its loop), but only with nothing of this process waiting for the
  // receiver before it, so that the order per receiver holds.
  if (ticket.account->records.load() != 1) return false;
  if (std::this_thread::get_id() != threadId_.load(std::memory_order_relaxed)) {
    // A stream of posts is cheaper on two threads: the poster goes on while the manager's
    // thread delivers what it took in batches. Posts to this receiver that follow each other
    // closely are a stream.
    const std::int64_t now = os::MonotonicNowNs();
    const std::int64_t last = ticket.account->lastPostNs.exchange(now, std::memory_order_relaxed);
    if (now - last < kStreamGapNs) return false;
  }
  ScopedLock direct(directLock_);
  if (ticket.account->records.load() != 1) return false;
  if (!route) {
    // Each delivery is a round of its own: a cached queue whose owner is gone, or whose name
    // was made afresh, is replaced by the live one rather than left to fail every time.
    directQueues_.NextRound();
    route = directQueues_.Resolve(queue);
  }
  if (!route || !route->IsAliveRecently()) return false;  // the thread drops it and counts it
  // A poster never waits for another process: a held mutex or a full queue is the thread's
  // to wait for.
  if (RecordSender::DeliverNow(*route, record) != RecordSender::Outcome::kDelivered) {
    return false;
  }
  backlog_.Release(ticket);
  counters_->delivered.fetch_add(1);
  return true;
}

void ShareSessionManager_::Settle(ShareBacklog::Ticket& ticket, RecordSender::Outcome outcome) {
  if (outcome == RecordSender::Outcome::kDelivered) {
    // Given back per run of one receiver's records: the posting threads write the same
    // figures, and each write moves them between processors.
    if (delivered_.account != ticket.account) EndDeliveredRun();
    delivered_.account = std::move(ticket.account);
    delivered_.records += 1;
    delivered_.bytes += ticket.bytes;
    return;
  }
  // A client learns here that its service went away.
  if (outcome == RecordSender::Outcome::kGone && mode_ == kShareModeClient &&
      ticket.account->queue == serviceQueueName_) {
    serviceLost_ = true;
  }
  backlog_.Release(ticket);
  if (outcome == RecordSender::Outcome::kFull) {
    counters_->droppedFull.fetch_add(1);
  } else {
    counters_->droppedGone.fetch_add(1);
  }
}

void ShareSessionManager_::EndDeliveredRun() {
  if (!delivered_.account) return;
  backlog_.Release(*delivered_.account, delivered_.records, delivered_.bytes);
  counters_->delivered.fetch_add(delivered_.records);
  delivered_ = {};
}

bool ShareSessionManager_::IssuedHere(std::int32_t id) const {
  const std::uint32_t base = idBase_.load();
  const std::uint32_t issued = operationId_.load() - base;
  const std::uint32_t offset = static_cast<std::uint32_t>(id) - base;
  return offset >= 1 && offset <= issued;
}

std::int32_t ShareSessionManager_::NextOperationId() {
  return static_cast<std::int32_t>(operationId_.fetch_add(1) + 1);
}

std::string ShareSessionManager_::QueueNameOf(const std::string& target) const {
  return wire::ReceiveQueueName(platformName_, target);
}

}  // namespace Vantor::KQCP
