// The process's share-session manager: starts the process as service, client or inactive
// member of a platform, owns its receive queue and the background thread that sends messages
// and operations and dispatches what arrives, and keeps this process's sessions.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "base/critical_section.h"
#include "base/semaphore.h"
#include "base/singleton_holder.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/share.h"
#include "os/thread.h"
#include "share/kernel_objects.h"
#include "share/package_record.h"
#include "share/record_sender.h"
#include "share/share_map_memory.h"
#include "share/share_message.h"
#include "share/share_package_data_queue.h"

namespace Vantor::KQCP {

class ServiceShareSession;
class ClientShareSession;
class ShareSessionOperation;

class ShareSessionManager_ : public com::SingletonObject<IShareSessionManager, IShareNamespace> {
 public:
  static constexpr std::uint32_t kWaitTimeoutMs = 1000;
  // Records taken from the receive queue per wake-up before outgoing items get a turn.
  static constexpr int kReceiveBatch = 256;

  HRESULT Start(const char* platformName, std::int32_t mode, const char* ownName) override;
  HRESULT GetMode(std::int32_t* mode) override;
  HRESULT GetOwnName(char* buffer, std::uint32_t length) override;
  HRESULT GetPlatformName(char* buffer, std::uint32_t length) override;
  HRESULT Stop() override;
  HRESULT WaitForStop(std::uint32_t milliseconds) override;
  HRESULT CreateServiceSession(const char* sessionName, std::uint32_t unused) override;
  HRESULT GetServiceSession(const char* sessionName, std::uint32_t unused,
                            IShareSessionService** session) override;
  HRESULT GetProxySession(const char* sessionName, std::uint32_t unused,
                          IShareSessionProxy** session) override;
  HRESULT SweepStale(std::int32_t* removed) override;

  // Used by the sessions. Both refuse (false) unless the manager runs in a mode that sends.
  bool PostMessage(const ShareMessage& message);
  bool PostOperation(ShareSessionOperation* operation);
  std::int32_t NextOperationId();

  // Set once by Start and unchanged afterwards.
  std::int32_t Mode() const { return mode_; }
  bool IsInitialised() const { return initialised_.load(); }
  const std::string& OwnName() const { return ownName_; }
  const std::string& PlatformName() const { return platformName_; }

 protected:
  ShareSessionManager_();
  // Never runs in practice (the manager lives until the process ends); defined where the
  // session types are complete.
  ~ShareSessionManager_() override;

 private:
  HRESULT StartMember(std::int32_t mode, const char* ownName);
  bool RegisterClient();
  std::string QueueNameOf(const std::string& target) const;

  // Background thread.
  std::uint32_t Run();
  // Move what the outboxes hold to the record sender.
  void TakeMessages();
  void TakeOperations();
  void QueueMessage(const ShareMessage& message);
  void QueueOperation(const com::ComPtr<ShareSessionOperation>& operation);
  // True when records remain after a batch.
  bool ReceiveBatch();
  void Dispatch(const PackageRecord& record);
  void DispatchMessage(const PackageRecord& record);
  void DispatchOperation(const PackageRecord& record, const std::string& name);
  // The session of that name in a table, with a reference, or null; taken under the sessions
  // lock, so that listeners are then called without it.
  template <class Session>
  com::ComPtr<Session> FindSession(const std::map<std::string, com::ComPtr<Session>>& table,
                                   const std::string& name) {
    VEXO::System::Thread::ScopedLock sessions(sessionsLock_);
    auto it = table.find(name);
    return it == table.end() ? com::ComPtr<Session>() : it->second;
  }

  std::atomic<bool> running_{false};
  std::shared_ptr<os::ThreadHandle> thread_;
  VEXO::System::Thread::CriticalSection namesLock_;
  VEXO::System::Thread::CriticalSection idLock_;
  std::int32_t operationId_ = 0;
  std::string ownName_;
  std::string platformName_;
  NamedMutex platformMutex_;
  ShareMapMemory proxyMap_;
  SharePackageDataQueue receiveQueue_;
  VEXO::System::Thread::CriticalSection messageLock_;
  VEXO::System::Thread::Semaphore messageSignal_;
  std::deque<ShareMessage> messages_;
  VEXO::System::Thread::CriticalSection operationLock_;
  VEXO::System::Thread::Semaphore operationSignal_;
  std::deque<com::ComPtr<ShareSessionOperation>> operations_;
  std::int32_t mode_ = kShareModeInactive;
  std::atomic<bool> initialised_{false};
  VEXO::System::Thread::CriticalSection sessionsLock_;
  std::map<std::string, com::ComPtr<ServiceShareSession>> serviceSessions_;
  std::map<std::string, com::ComPtr<ClientShareSession>> proxySessions_;
  // Used by the background thread only.
  RecordSender sender_;
};

using ShareSessionManagerHolder = VEXO::Pattern::SingletonHolder<ShareSessionManager_>;

}  // namespace Vantor::KQCP
