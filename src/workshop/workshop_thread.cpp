// The worker loop. A command's state is read before each step, so one that finishes inside
// Execute or Continue goes back into the queue and is dropped on its next visit.
#include "workshop/workshop_thread.h"

#include <string>
#include <thread>

#include "com/com_ptr.h"
#include "os/com_runtime.h"

namespace Vantor::KQCP {
namespace {

using CmdPtr = com::ComPtr<ICmd>;

// Static TLS even though hosts dlopen the library: a few bytes, no __tls_get_addr, and
// LeakSanitizer (GCC 12) crashes scanning the dynamic TLS of threads alive at exit.
__attribute__((tls_model("initial-exec"))) thread_local CmdQueue* t_currentQueue = nullptr;

std::int32_t ReadState(ICmd* command) {
  // A command that cannot say its state is put back without calls.
  std::int32_t state = -1;
  command->GetState(&state);
  return state;
}

bool IsFinished(std::int32_t state) {
  return state >= kCmdStateFinishedFirst && state <= kCmdStateFinishedLast;
}

void Tell(ICmd* command, std::int32_t code) {
  std::uint32_t ignored = 0;
  command->Notify(code, &ignored);
}

// Runs the step the state asks for; false when the command has finished.
bool Step(ICmd* command) {
  const std::int32_t state = ReadState(command);
  if (IsFinished(state)) return false;
  if (state == kCmdStateExecute) {
    Tell(command, kCmdNotifyExecute);
    command->Execute();
  } else if (state == kCmdStateContinue) {
    Tell(command, kCmdNotifyContinue);
    command->Continue();
  }
  return true;
}

}  // namespace

WorkshopThread::WorkshopThread(CmdQueue* queue) : queue_(queue) {}

bool WorkshopThread::RequestStop() {
  keepRunning_.store(false);
  return true;
}

CmdQueue* WorkshopThread::CurrentQueue() { return t_currentQueue; }

std::uint32_t WorkshopThread::Run() {
  if (!queue_) return kNoQueue;
  os::CoInitialize(nullptr);
  t_currentQueue = queue_;
  while (keepRunning_.load()) {
    std::this_thread::sleep_for(kPollInterval);
    queue_->Tick();
    StepUnkeyed();
    StepKeyed();
  }
  Drain();
  t_currentQueue = nullptr;
  os::CoUninitialize();
  return 0;
}

void WorkshopThread::StepUnkeyed() {
  CmdPtr command = CmdPtr::Adopt(queue_->PopUnkeyed());
  if (!command || !Step(command.Get())) return;
  // Back to the tail (or to its key's list, should it now report a key). A command that cannot
  // be put back is told the workshop gives up on it.
  if (Failed(queue_->Push(command.Get()))) Tell(command.Get(), kCmdNotifyStopOrWait);
}

void WorkshopThread::StepKeyed() {
  // The key comes from the queue itself, so the key's busy flag is always cleared again, even
  // for a command that stops answering GetKey.
  std::u16string key;
  CmdPtr command = CmdPtr::Adopt(queue_->PopKeyed(&key));
  if (!command) return;
  if (!Step(command.Get())) {
    queue_->SetKeyBusy(key, false);
    return;
  }
  // Back to the head of its key, so the next command of that key waits until it finishes.
  if (Failed(queue_->RequeueFront(command.Get(), key))) {
    Tell(command.Get(), kCmdNotifyStopOrWait);
    queue_->SetKeyBusy(key, false);
  }
}

void WorkshopThread::Drain() {
  while (CmdPtr command = CmdPtr::Adopt(queue_->PopUnkeyed())) {
    Tell(command.Get(), kCmdNotifyStopOrWait);
  }
  std::u16string key;
  while (CmdPtr command = CmdPtr::Adopt(queue_->PopKeyed(&key))) {
    Tell(command.Get(), kCmdNotifyStopOrWait);
    // Free the key again, or the rest of its list would never be reached.
    queue_->SetKeyBusy(key, false);
  }
}

}  // namespace Vantor::KQCP
