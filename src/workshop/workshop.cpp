// The workshop: starting, stopping and waiting for its workers, posting commands, and relaying
// command events to listeners.
#include "workshop/workshop.h"

#include <pthread.h>

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "com/module.h"
#include "os/futex.h"
#include "os/thread.h"
#include "workshop/workshop_factory.h"

namespace Vantor::KQCP {
namespace {

using VEXO::System::Thread::ScopedLock;

// Waits until every worker that has a thread has ended, then destroys them all. Without a time
// limit, one handle after the other is the same as all at once, and needs no allocation.
template <class Workers>
void JoinAndDestroy(Workers& workers) {
  for (const auto& worker : workers) {
    if (worker->Handle()) worker->Handle()->Wait(os::kInfinite);
  }
  workers.clear();
}

// Counts the forks this process descends from: a child's handler adds one, so a workshop that
// recorded an older count knows it was inherited. Cheaper than asking for the process id.
std::atomic<std::uint64_t> g_forkGeneration{0};

void CountFork() { g_forkGeneration.fetch_add(1, std::memory_order_relaxed); }

std::uint64_t ForkGeneration() {
  static const bool counting = pthread_atfork(nullptr, nullptr, &CountFork) == 0;
  static_cast<void>(counting);
  return g_forkGeneration.load(std::memory_order_acquire);
}

// Taken by the first call of a forked child while it adopts a workshop; any other thread of
// the child that calls the workshop meanwhile waits here.
VEXO::System::Thread::CriticalSection g_adoptLock;

// A lock as new; for one a thread of the parent held at the fork, which will never leave it.
void Renew(VEXO::System::Thread::CriticalSection& lock) {
  std::destroy_at(&lock);
  std::construct_at(&lock);
}

}  // namespace

HRESULT CreateWorkshop(IWorkshop** out) {
  if (!out) return E_POINTER;
  Workshop* workshop = com::MakeObject<Workshop>();
  if (!workshop) return E_OUTOFMEMORY;
  *out = workshop;
  return S_OK;
}

Workshop::Workshop() : queue_(std::make_unique<CmdQueue>()), generation_(ForkGeneration()) {}

Workshop::~Workshop() {
  AdoptAfterFork();
  // What the parent left stays untouched: releasing its commands would run their code here.
  for (auto& queue : parentQueues_) static_cast<void>(queue.release());
  if (QueueInherited()) static_cast<void>(queue_.release());
  Workers workers = TakeWorkers();
  for (const auto& worker : workers) worker->RequestStop();
  if (!OnOwnWorker()) {
    JoinAndDestroy(workers);
    return;  // the members release the listeners and whatever is still queued
  }
  // The last reference went with a command released on one of our own workers, which cannot
  // wait for itself. A helper thread waits for every worker and then frees them and the queue
  // they drain; the library stays locked while that code still runs.
  struct Leftovers {
    Workers workers;
    std::unique_ptr<CmdQueue> queue;
  };
  com::TheModule().Lock();
  std::shared_ptr<Leftovers> leftovers;
  try {
    leftovers = std::make_shared<Leftovers>();
    leftovers->workers = std::move(workers);
    leftovers->queue = std::move(queue_);
    auto reaper = os::ThreadHandle::Start(
        [leftovers]() -> std::uint32_t {
          JoinAndDestroy(leftovers->workers);
          leftovers->queue.reset();
          com::TheModule().Unlock();
          return 0;
        },
        false);
    if (reaper) return;
  } catch (const std::bad_alloc&) {
  }
  // No helper thread: whatever a running worker still uses stays valid, and the library locked,
  // for the rest of the process.
  if (leftovers) {
    workers = std::move(leftovers->workers);
    queue_ = std::move(leftovers->queue);
  }
  // NOLINTNEXTLINE(bugprone-use-after-move): moved back above whenever it was moved away
  for (auto& worker : workers) static_cast<void>(worker.release());
  static_cast<void>(queue_.release());
}

HRESULT Workshop::Start(std::int32_t workerCount) {
  AdoptAfterFork();
  // Restarting joins the earlier workers, which a worker cannot do for itself.
  if (OnOwnWorker()) return E_UNEXPECTED;
  ScopedLock startGuard(startLock_);
  {
    // A Stop from here on stops what this Start makes as well.
    ScopedLock guard(workerLock_);
    state_.store(kStarting);
    stopRequested_ = false;
  }
  if (workerCount < 1 || workerCount > kMaxWorkers) {
    // Workers still present keep the workshop started, so that Stop can still reach them.
    ScopedLock guard(workerLock_);
    state_.store(workers_.empty() ? kNotStarted : kStarted);
    return E_INVALIDARG;
  }
  // Earlier workers are stopped and joined before they are destroyed; they drain the queue.
  {
    Workers earlier = TakeWorkers();
    for (const auto& worker : earlier) worker->RequestStop();
    JoinAndDestroy(earlier);
  }
  // A forked child's first Start gives it a queue of its own; the parent's stays put.
  if (QueueInherited()) {
    try {
      auto fresh = std::make_unique<CmdQueue>();
      parentQueues_.push_back(std::move(queue_));
      queue_ = std::move(fresh);
    } catch (const std::bad_alloc&) {
      ScopedLock guard(workerLock_);
      state_.store(kNotStarted);
      return E_OUTOFMEMORY;
    }
    queueInherited_.store(false, std::memory_order_release);
  }
  HRESULT result = S_OK;
  for (std::int32_t i = 0; i < workerCount; ++i) {
    try {
      auto worker = std::make_unique<WorkshopThread>(queue_.get());
      ScopedLock guard(workerLock_);
      if (stopRequested_) worker->RequestStop();
      workers_.push_back(std::move(worker));
      // A worker whose thread cannot be created stays in the list and never runs.
      workers_.back()->Start(true);
    } catch (const std::bad_alloc&) {
      result = E_OUTOFMEMORY;
      break;
    }
  }
  {
    ScopedLock guard(workerLock_);
    state_.store(kStarted);
  }
  return result;
}

HRESULT Workshop::Stop() {
  AdoptAfterFork();
  // Under the worker lock, so that a Start under way either has not begun (nothing to stop) or
  // sees the request for every worker it still makes. Stop never waits for Start itself, which
  // may be joining workers whose command is the one calling Stop.
  ScopedLock guard(workerLock_);
  const std::int32_t state = state_.load();
  if (state == kNotStarted) return S_FALSE;
  if (state == kStarting) stopRequested_ = true;
  for (const auto& worker : workers_) worker->RequestStop();
  return S_OK;
}

HRESULT Workshop::Wait(std::uint32_t milliseconds) {
  AdoptAfterFork();
  // A worker waiting for all workers would wait for itself: refused.
  if (OnOwnWorker()) return S_FALSE;
  // Shared handles stay valid should a restart replace the workers meanwhile.
  std::vector<std::shared_ptr<os::ThreadHandle>> handles;
  std::vector<const os::ThreadHandle*> waited;
  try {
    ScopedLock guard(workerLock_);
    for (const auto& worker : workers_) {
      if (!worker->Handle()) continue;  // never ran: nothing to wait for
      handles.push_back(worker->Handle());
      waited.push_back(worker->Handle().get());
    }
  } catch (const std::bad_alloc&) {
    return S_FALSE;
  }
  // All handles at once, however many workers there are.
  return os::WaitAll(waited, milliseconds) ? S_OK : S_FALSE;
}

HRESULT Workshop::Reserved() { return E_FAIL; }

HRESULT Workshop::PostCmd(ICmd* command) {
  if (!command) return E_POINTER;
  AdoptAfterFork();
  // A forked child has no workers until it starts the workshop: accepting the command would
  // leave it waiting for good.
  if (QueueInherited()) return E_UNEXPECTED;
  ICmdEvent* sink = nullptr;
  QueryInterface(IID_ICmdEvent, reinterpret_cast<void**>(&sink));
  command->SetEventSink(sink);  // the command owns that reference
  return queue_->Push(command);
}

HRESULT Workshop::AddListener(ICmdEvent* listener) {
  if (!listener) return E_POINTER;
  AdoptAfterFork();
  ScopedLock guard(listenerLock_);
  // Registered once only, so it never receives an event twice.
  if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) {
    return S_FALSE;
  }
  try {
    listeners_.emplace_back(listener);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

HRESULT Workshop::RemoveListener(ICmdEvent* listener) {
  if (!listener) return E_POINTER;
  AdoptAfterFork();
  ScopedLock guard(listenerLock_);
  auto it = std::find(listeners_.begin(), listeners_.end(), listener);
  if (it == listeners_.end()) return E_FAIL;
  listeners_.erase(it);
  return S_OK;
}

HRESULT Workshop::GetState(std::int32_t* state) {
  if (!state) return E_POINTER;
  AdoptAfterFork();
  *state = state_.load();
  return S_OK;
}

HRESULT Workshop::OnCmdEvent(std::int32_t value1, std::int32_t value2, std::int32_t value3) {
  // The lock is held throughout, so events reach the listeners one at a time and a listener
  // removed on another thread gets none once RemoveListener has returned. The calls go over a
  // copy, so a listener that adds or removes listeners from inside its call breaks nothing.
  AdoptAfterFork();
  ScopedLock guard(listenerLock_);
  std::vector<com::ComPtr<ICmdEvent>> listeners;
  try {
    listeners = listeners_;
  } catch (const std::bad_alloc&) {
    return S_OK;
  }
  for (const auto& listener : listeners) listener->OnCmdEvent(value1, value2, value3);
  return S_OK;
}

bool Workshop::OnOwnWorker() const {
  // Threads that serve no queue never look at the queue pointer, which a forked child's first
  // Start may be changing.
  const CmdQueue* served = WorkshopThread::CurrentQueue();
  return served && served == queue_.get();
}

void Workshop::AdoptAfterFork() {
  const std::uint64_t now = ForkGeneration();
  if (generation_.load(std::memory_order_acquire) == now) return;
  ScopedLock adopting(g_adoptLock);
  if (generation_.load(std::memory_order_acquire) == now) return;
  // Every other thread of the child that calls the workshop waits above, so nothing holds or
  // waits for these locks now.
  Renew(listenerLock_);
  Renew(startLock_);
  Renew(workerLock_);
  // Objects of threads that exist only in the parent: dropped without a join, which would never
  // end. Their destructors wait for nothing.
  workers_.clear();
  stopRequested_ = false;
  state_.store(kNotStarted);
  queueInherited_.store(true, std::memory_order_release);
  generation_.store(now, std::memory_order_release);
}

Workshop::Workers Workshop::TakeWorkers() {
  ScopedLock guard(workerLock_);
  return std::exchange(workers_, {});
}

}  // namespace Vantor::KQCP
