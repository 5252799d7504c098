// Counting-semaphore wrapper of the VEXO base library. Every user creates it with initial count 0
// and maximum 2048. The handle is a futex semaphore, so it can be waited on together with named
// semaphores of other processes.
#pragma once

#include <cstdint>
#include <memory>

#include "os/counting_semaphore.h"

namespace VEXO::System::Thread {

class Semaphore {
 public:
  static constexpr std::uint32_t kDefaultMaximum = 2048;

  // create: make an unnamed semaphore with these counts; otherwise the object starts empty and
  // gets its handle through Attach.
  Semaphore(std::uint32_t initial = 0, std::uint32_t maximum = kDefaultMaximum, bool create = true);
  Semaphore(const Semaphore&) = delete;
  Semaphore& operator=(const Semaphore&) = delete;

  // False when there is no handle or the count would pass the maximum (the count stays).
  bool Release(std::uint32_t count = 1);
  // True when acquired within the time (os::kInfinite waits without limit).
  bool Wait(std::uint32_t milliseconds);

  void Attach(std::unique_ptr<Vantor::KQCP::os::CountingSemaphore> handle);
  void Close() { handle_.reset(); }
  Vantor::KQCP::os::CountingSemaphore* Handle() const { return handle_.get(); }

 private:
  std::unique_ptr<Vantor::KQCP::os::CountingSemaphore> handle_;
};

}  // namespace VEXO::System::Thread
