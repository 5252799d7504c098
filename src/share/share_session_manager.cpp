// Starting, naming and session bookkeeping of the share-session manager.
#include "share/share_session_manager.h"

#include "os/named_object.h"
#include "os/process.h"
#include "share/client_share_session.h"
#include "share/name_copy.h"
#include "share/platform_proxy_map.h"
#include "share/service_share_session.h"
#include "share/share_session_operation.h"

namespace Vantor::KQCP {

using VEXO::System::Thread::ScopedLock;

namespace {

// Holds a named mutex for a scope; an abandoned mutex counts as acquired.
class NamedMutexGuard {
 public:
  explicit NamedMutexGuard(NamedMutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~NamedMutexGuard() { mutex_.Unlock(); }
  NamedMutexGuard(const NamedMutexGuard&) = delete;
  NamedMutexGuard& operator=(const NamedMutexGuard&) = delete;

 private:
  NamedMutex& mutex_;
};

}  // namespace

ShareSessionManager_::ShareSessionManager_() = default;

ShareSessionManager_::~ShareSessionManager_() = default;

HRESULT ShareSessionManager_::Start(const char* platformName, std::int32_t mode,
                                    const char* ownName) {
  ScopedLock names(namesLock_);
  if (initialised_.load()) return E_FAIL;
  // Start runs at most once per process, whatever its outcome; a mode outside client,
  // service and inactive is refused rather than taken as a client.
  initialised_.store(true);
  mode_ = mode;
  platformName_ = platformName ? platformName : "";
  if (mode != kShareModeClient && mode != kShareModeService && mode != kShareModeInactive) {
    mode_ = kShareModeInactive;
    return E_INVALIDARG;
  }
  if (mode == kShareModeInactive) return S_OK;
  return StartMember(mode, ownName);
}

HRESULT ShareSessionManager_::StartMember(std::int32_t mode, const char* ownName) {
  // Files that killed processes left behind would otherwise pile up for good.
  SweepStale(nullptr);
  const std::string mutexName = platformName_ + "_PLATFORM_MUTEX";
  if (mode == kShareModeClient) {
    ownName_ = ownName ? ownName : "";
    if (ownName_.size() < 2) return E_FAIL;
    if (OpenNamedMutex(platformMutex_, mutexName) != kKernelObjectOk) return E_FAIL;
  } else if (CreateNamedMutex(platformMutex_, mutexName) != kKernelObjectOk) {
    return E_FAIL;  // another service runs under this platform name
  }
  NamedMutexGuard platform(platformMutex_);
  const std::string queueName = mode == kShareModeService
                                    ? platformName_ + "_RECV_DATA_QUEUE"
                                    : platformName_ + "_" + ownName_ + "_RECV_DATA_QUEUE";
  if (!receiveQueue_.Create(queueName)) return E_FAIL;
  running_.store(true);
  thread_ = os::ThreadHandle::Start([this] { return Run(); }, false);
  if (!thread_) {
    running_.store(false);
    return E_FAIL;
  }
  const std::string mapName = platformName_ + "_PLATFORM_PROXY_MAP";
  if (mode == kShareModeService) {
    if (!proxyMap_.Create(mapName, PlatformProxyMap::kCapacity)) return E_FAIL;
    return PlatformProxyMap::Initialize(proxyMap_, os::CurrentProcessId()) ? S_OK : E_FAIL;
  }
  if (!proxyMap_.Open(mapName)) return E_FAIL;
  const bool registered = PlatformProxyMap::Register(proxyMap_, os::CurrentProcessId(), ownName_);
  proxyMap_.Close();
  return registered ? S_OK : E_FAIL;
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
  if (mode_ == kShareModeInactive && initialised_.load()) return S_OK;
  if (!running_.exchange(false)) return E_FAIL;
  operationSignal_.Release(1);  // wake the thread so that it sees the flag
  return S_OK;
}

HRESULT ShareSessionManager_::WaitForStop(std::uint32_t milliseconds) {
  if (mode_ == kShareModeInactive && initialised_.load()) return S_OK;
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

bool ShareSessionManager_::PostMessage(const ShareMessage& message) {
  if (!initialised_.load() || mode_ != kShareModeService) return false;
  {
    ScopedLock outbox(messageLock_);
    messages_.push_back(message);
  }
  messageSignal_.Release(1);
  return true;
}

bool ShareSessionManager_::PostOperation(ShareSessionOperation* operation) {
  if (!initialised_.load() || (mode_ != kShareModeClient && mode_ != kShareModeService)) {
    return false;
  }
  {
    ScopedLock outbox(operationLock_);
    operations_.emplace_back(operation);
  }
  operationSignal_.Release(1);
  return true;
}

std::int32_t ShareSessionManager_::NextOperationId() {
  ScopedLock guard(idLock_);
  return ++operationId_;
}

std::string ShareSessionManager_::QueueNameOf(const std::string& target) const {
  return target.empty() ? platformName_ + "_RECV_DATA_QUEUE"
                        : platformName_ + "_" + target + "_RECV_DATA_QUEUE";
}

}  // namespace Vantor::KQCP
