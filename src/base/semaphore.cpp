// Semaphore wrapper over the operating-system layer's futex semaphore.
#include "base/semaphore.h"

#include <new>

namespace VEXO::System::Thread {

Semaphore::Semaphore(std::uint32_t initial, std::uint32_t maximum, bool create) {
  if (create && initial <= maximum) {
    handle_.reset(new (std::nothrow) Vantor::KQCP::os::CountingSemaphore(initial, maximum));
  }
}

bool Semaphore::Release(std::uint32_t count) { return handle_ && handle_->Release(count); }

bool Semaphore::Wait(std::uint32_t milliseconds) { return handle_ && handle_->Wait(milliseconds); }

void Semaphore::Attach(std::unique_ptr<Vantor::KQCP::os::CountingSemaphore> handle) {
  handle_ = std::move(handle);
}

}  // namespace VEXO::System::Thread
