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
};

}  // namespace Vantor::KQCP
