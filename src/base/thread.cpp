// Thread base: Start creates the operating-system thread, ThreadProc runs the body and turns
// its result into the thread's exit code.
#include "base/thread.h"

namespace VEXO::System::Thread {

Thread::Thread() : name_("noname") {}

Thread::~Thread() = default;

std::uint32_t Thread::Start(bool runNow) {
  startFlag_ = runNow;
  // Created suspended and resumed only after the flags are set, so a short Run cannot end
  // before Start marks the thread running and leave the flag set for good.
  auto handle = Vantor::KQCP::os::ThreadHandle::Start([this] { return ThreadProc(this); }, true);
  if (!handle) return kStartFailed;
  threadId_ = handle->Id();
  handle_ = std::move(handle);
  created_ = true;
  if (runNow) {
    running_ = true;
    handle_->Resume();
  }
  return 0;
}

std::uint32_t Thread::ThreadProc(Thread* self) {
  self->running_ = true;
  std::uint32_t code = self->Run();
  self->running_ = false;
  return code;
}

}  // namespace VEXO::System::Thread
