// The process's share-session manager: starts the process as service, client or inactive
// member of a platform, owns its receive queue and the background thread that sends messages
// and operations and dispatches what arrives, and keeps this process's sessions.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/critical_section.h"
#include "base/semaphore.h"
#include "base/singleton_holder.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/share.h"
#include "os/shared_memory.h"
#include "os/thread.h"
#include "share/kernel_objects.h"
#include "share/package_record.h"
#include "share/published_statistics.h"
#include "share/queue_cache.h"
#include "share/record_sender.h"
#include "share/share_backlog.h"
#include "share/share_map_memory.h"
#include "share/share_message.h"
#include "share/share_package_data_queue.h"

namespace Vantor::KQCP {

class ServiceShareSession;
class ClientShareSession;
class ShareSessionOperation;

class ShareSessionManager_
    : public com::SingletonObject<IShareSessionManager, IShareNamespace, IShareStatistics> {
 public:
  static constexpr std::uint32_t kWaitTimeoutMs = 1000;
  // A client whose service is gone looks for a new one this often.
  static constexpr std::uint32_t kRejoinIntervalMs = 100;
  // How often a client checks that its service still lives.
  static constexpr std::uint32_t kServiceWatchMs = 250;
  // Records (and bytes) copied out of the receive queue per wake-up before outgoing items get a
  // turn; the queue's mutex is held only while copying.
  static constexpr int kReceiveBatch = 256;
  static constexpr std::size_t kReceiveBatchBytes = 1u << 20;
  // Bounds on waits for mutexes that other processes hold: the own receive queue, and the
  // platform mutex in Start (registration) and for broadcasts.
  static constexpr std::uint32_t kOwnQueueLockMs = 50;
  static constexpr std::uint32_t kPlatformLockMs = 5000;
  static constexpr std::uint32_t kBroadcastLockMs = 100;
  // The largest record a receive queue can take.
  static constexpr std::uint32_t kLargestRecord =
      SharePackageDataQueue::kCapacity - SharePackageDataQueue::kQueueHeaderSize;

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
  HRESULT GetStatistics(ShareStatistics* statistics) override;

  // Used by the sessions: S_OK, or the refusal the caller reports (see share.h).
  HRESULT PostMessage(const ShareMessage& message);
  HRESULT PostOperation(ShareSessionOperation* operation);
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
  // Posted items, laid out as records when posted: what the caller changes afterwards does not
  // change what is sent.
  struct OutgoingMessage {
    ShareMessage message;  // an empty target: a broadcast, made per receiver later
    ShareBacklog::Ticket ticket;
    RecordSender::Encoded record;
  };
  // The records themselves lie in one buffer per outbox, so that nothing allocated by a
  // posting thread is freed by the manager's (where the allocator would make them contend).
  struct OutgoingOperation {
    RecordSender::Route route;  // a reply's: the process whose request it answers
    ShareBacklog::Ticket ticket;
    std::size_t offset;
    std::uint32_t length;
  };
  // A record copied out of the receive queue, ready for its listeners.
  struct Arrival {
    std::string session;
    std::int32_t values[3] = {0, 0, 0};
    com::ComPtr<ShareSessionOperation> operation;  // null for a message
  };

  HRESULT StartMember(std::int32_t mode, const char* ownName);
  // Makes the receive queue and joins the platform (the service makes the proxy map, a client
  // registers in it), all under the platform mutex.
  bool JoinUnderPlatformLock(std::int32_t mode, const os::Deadline& deadline);
  // Releases whatever a failed Start made.
  void ReleaseMember();
  // Makes the mapping through which tools read this process's figures.
  void Publish(const std::string& name, std::int32_t mode, std::uint32_t boundMs);
  // Registers this client in the service's proxy map, under the platform mutex; the map's name
  // is waited for at most boundMs.
  bool Register(std::uint32_t boundMs);
  // True in a child forked after Start: the manager's thread and names stayed in the parent.
  bool ForkedAway() const;
  std::string QueueNameOf(const std::string& target) const;
  bool IsGone(const std::string& clientName) const;
  // A reply whose id this process never issued is meant for an earlier process of its name.
  bool IssuedHere(std::int32_t id) const;
  // Reserves the receiver's room for a post, or says why not.
  HRESULT Admit(const std::string& queue, std::uint32_t bytes, ShareBacklog::Ticket* ticket);
  void Settle(ShareBacklog::Ticket& ticket, RecordSender::Outcome outcome);
  // Gives back what the run of delivered records of one receiver held.
  void EndDeliveredRun();
  // Delivers from the posting thread straight into the receiver's queue, saving the hand-off
  // to the manager's thread (or, on that thread, a turn of its loop); false when the record
  // must go the thread's way.
  bool DeliverDirectly(const std::string& queue, ShareBacklog::Ticket& ticket,
                       RecordSender::Route route, const RecordSender::Encoded& record);
  // A message's record for one receiver; empty when it cannot be stored.
  RecordSender::Encoded EncodeMessage(const ShareMessage& message, const std::string& target) const;

  // Background thread.
  std::uint32_t Run();
  // Move what the outboxes hold to the record sender.
  void TakeMessages();
  void TakeOperations();
  void QueueMessage(OutgoingMessage& outgoing);
  // Names of the live clients for a broadcast.
  std::vector<std::string> BroadcastTargets();
  // What a batch left: nothing, more records, or records whose senders must first take their
  // replies (a service takes requests only as fast as their senders take the replies).
  enum class Received { kDrained, kMore, kThrottled };
  Received ReceiveBatch();
  // Turns a popped record into an arrival; false for one that nobody can use.
  bool Accept(const PackageRecord& record, Arrival* arrival);
  void Dispatch(const Arrival& arrival);
  // Client: notices a service that is gone and joins its successor.
  void WatchService();
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
  std::atomic<std::thread::id> threadId_{};
  VEXO::System::Thread::CriticalSection namesLock_;
  bool startCalled_ = false;
  std::uint32_t forkGeneration_ = 0;  // as Start found it
  // Ids run from a start of this process's own; see IssuedHere.
  std::atomic<std::uint32_t> idBase_{0};
  std::atomic<std::uint32_t> operationId_{0};
  std::string ownName_;
  std::string platformName_;
  std::string serviceQueueName_;  // the service's receive queue, named once by Start
  NamedMutex platformMutex_;
  ShareMapMemory proxyMap_;
  SharePackageDataQueue receiveQueue_;
  VEXO::System::Thread::CriticalSection messageLock_;
  VEXO::System::Thread::Semaphore messageSignal_;
  std::deque<OutgoingMessage> messages_;
  VEXO::System::Thread::CriticalSection operationLock_;
  VEXO::System::Thread::Semaphore operationSignal_;
  std::vector<OutgoingOperation> operations_;
  RecordSender::Encoded operationBytes_;
  // The outbox as the manager's thread took it; swapped back empty, keeping the room.
  std::vector<OutgoingOperation> takenOperations_;
  RecordSender::Encoded takenOperationBytes_;
  std::int32_t mode_ = kShareModeInactive;
  std::atomic<bool> initialised_{false};
  VEXO::System::Thread::CriticalSection sessionsLock_;
  std::map<std::string, com::ComPtr<ServiceShareSession>> serviceSessions_;
  std::map<std::string, com::ComPtr<ClientShareSession>> proxySessions_;
  // Receiver queues for deliveries from callers' threads, one delivery at a time.
  VEXO::System::Thread::CriticalSection directLock_;
  QueueCache directQueues_{0};
  // Posts to one receiver closer than this form a stream.
  static constexpr std::int64_t kStreamGapNs = 20000;
  ShareBacklog backlog_{kShareBacklogRecords, kShareBacklogBytes, kShareBacklogRecords / 2};
  // The counters live in the published mapping once Start made it, here before.
  PublishedStatistics localCounters_;
  PublishedStatistics* counters_ = &localCounters_;
  std::unique_ptr<os::SharedMemory> published_;
  // Used by the background thread only.
  RecordSender sender_{[this](ShareBacklog::Ticket& ticket, RecordSender::Outcome outcome) {
    Settle(ticket, outcome);
  }};
  bool serviceLost_ = false;
  struct DeliveredRun {
    std::shared_ptr<ShareBacklog::Account> account;
    std::uint32_t records = 0;
    std::uint64_t bytes = 0;
  } delivered_;
  std::vector<std::uint8_t> receiveBytes_;
  std::uint32_t queueResetsCounted_ = 0;  // of receiveQueue_.Resets()
  // Turns of the thread's loop, and the route of the last request's sender in this turn.
  std::uint64_t turn_ = 0;
  struct SenderRoute {
    std::uint64_t turn = 0;
    std::string sender;
    RecordSender::Route route;
  } senderRoute_;
  std::chrono::steady_clock::time_point nextServiceWatch_{};
  std::vector<std::string> lastBroadcastTargets_;
};

using ShareSessionManagerHolder = VEXO::Pattern::SingletonHolder<ShareSessionManager_>;

}  // namespace Vantor::KQCP
