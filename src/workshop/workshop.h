// The workshop: a pool of worker threads stepping the commands posted to it, and the relay of
// the commands' events to the registered listeners.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/critical_section.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/workshop.h"
#include "workshop/cmd_queue.h"
#include "workshop/workshop_thread.h"

namespace Vantor::KQCP {

class Workshop : public com::RefCounted<com::ComponentObject, IWorkshop, ICmdEvent> {
 public:
  static constexpr std::int32_t kMaxWorkers = 512;

  enum State : std::int32_t { kNotStarted = 0, kStarting = 1, kStarted = 2 };

  Workshop();
  // Stops and joins the remaining workers; listeners and queued commands are released.
  ~Workshop() override;

  // IWorkshop
  HRESULT Start(std::int32_t workerCount) override;
  HRESULT Stop() override;
  HRESULT Wait(std::uint32_t milliseconds) override;
  HRESULT Reserved() override;
  HRESULT PostCmd(ICmd* command) override;
  HRESULT AddListener(ICmdEvent* listener) override;
  HRESULT RemoveListener(ICmdEvent* listener) override;
  HRESULT GetState(std::int32_t* state) override;

  // ICmdEvent
  HRESULT OnCmdEvent(std::int32_t value1, std::int32_t value2, std::int32_t value3) override;

 private:
  using Workers = std::vector<std::unique_ptr<WorkshopThread>>;

  // True on one of this workshop's own worker threads, which must never wait for the workers.
  bool OnOwnWorker() const;
  Workers TakeWorkers();
  // Called first by every operation. In a child made by fork() the workers' threads exist only
  // in the parent, and a lock may be held by a thread the child does not have: the first call
  // in the child makes the workshop the child's own, with fresh locks, no workers and state 0.
  void AdoptAfterFork();
  // Whether the queue came from the parent and Start has not replaced it yet.
  bool QueueInherited() const { return queueInherited_.load(std::memory_order_acquire); }

  std::atomic<std::int32_t> state_{kNotStarted};
  VEXO::System::Thread::CriticalSection listenerLock_;
  std::vector<com::ComPtr<ICmdEvent>> listeners_;
  // Held by pointer so that, should the last reference be dropped on a worker, the queue can
  // outlive this object until that worker has ended.
  std::unique_ptr<CmdQueue> queue_;
  // Serialises Start, which may wait for earlier workers; the worker lock is held only briefly.
  VEXO::System::Thread::CriticalSection startLock_;
  VEXO::System::Thread::CriticalSection workerLock_;
  Workers workers_;
  // A Stop arrived while a Start was under way; guarded by the worker lock.
  bool stopRequested_ = false;
  // The fork generation (see AdoptAfterFork) whose process owns the workers and the queue.
  std::atomic<std::uint64_t> generation_;
  // Set in a child by AdoptAfterFork, cleared by Start once it replaced the queue; PostCmd
  // refuses while it is set. The queue pointer changes only while it is set.
  std::atomic<bool> queueInherited_{false};
  // Queues left behind by forks: they hold the parent's commands, which the child neither runs
  // nor releases, and their locks may be held by threads of the parent. Never destroyed.
  std::vector<std::unique_ptr<CmdQueue>> parentQueues_;
};

}  // namespace Vantor::KQCP
