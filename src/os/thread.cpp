// Threads are detached; their end is published through a futex word so that waiting never
// needs a join and a handle can be waited on by several threads.
#include "os/thread.h"

#include <pthread.h>

#include "os/futex.h"

namespace Vantor::KQCP::os {
namespace {

std::atomic<std::uint32_t> g_nextThreadId{1};

struct StartBlock {
  std::shared_ptr<ThreadHandle> handle;
};

}  // namespace

std::shared_ptr<ThreadHandle> ThreadHandle::Start(Body body, bool suspended) {
  auto handle = std::make_shared<ThreadHandle>();
  handle->body_ = std::move(body);
  handle->id_ = g_nextThreadId.fetch_add(1);
  handle->resumed_.store(suspended ? 0 : 1);
  auto* block = new StartBlock{handle};
  pthread_t native{};
  // Null attributes: the process's default stack size.
  if (pthread_create(&native, nullptr, &ThreadHandle::Entry, block) != 0) {
    delete block;
    return nullptr;
  }
  pthread_detach(native);
  return handle;
}

void* ThreadHandle::Entry(void* arg) {
  std::shared_ptr<ThreadHandle> self = std::move(static_cast<StartBlock*>(arg)->handle);
  delete static_cast<StartBlock*>(arg);
  self->nativeId_.store(static_cast<std::uint64_t>(pthread_self()));
  while (self->resumed_.load() == 0) {
    FutexWait(&self->resumed_, 0, false, Deadline{});
  }
  std::uint32_t code = self->body_ ? self->body_() : 0;
  self->body_ = nullptr;
  self->exitCode_ = code;
  self->ended_.store(1);
  FutexWakeAll(&self->ended_, false);
  return nullptr;
}

void ThreadHandle::Resume() {
  if (resumed_.exchange(1) == 0) FutexWakeAll(&resumed_, false);
}

bool ThreadHandle::Wait(std::uint32_t milliseconds) const {
  const ThreadHandle* self = this;
  return WaitAll(std::span<const ThreadHandle* const>(&self, 1), milliseconds);
}

bool ThreadHandle::IsCurrent() const {
  return nativeId_.load() == static_cast<std::uint64_t>(pthread_self());
}

bool WaitAll(std::span<const ThreadHandle* const> threads, std::uint32_t milliseconds) {
  if (threads.empty()) return false;
  const Deadline deadline = Deadline::After(milliseconds);
  for (const ThreadHandle* thread : threads) {
    while (thread->ended_.load() == 0) {
      if (milliseconds == 0 ||
          FutexWait(&thread->ended_, 0, false, deadline) == FutexResult::kTimedOut) {
        if (thread->ended_.load() == 0) return false;
      }
    }
  }
  return true;
}

}  // namespace Vantor::KQCP::os
