// Kernel-object functions over the operating-system layer's named objects.
#include "share/kernel_objects.h"

#include "os/named_semaphore.h"

namespace Vantor::KQCP {

int CreateNamedMutex(NamedMutex& holder, const std::string& name) {
  if (holder.handle) return kKernelObjectHeld;
  os::NamedResult result{};
  holder.handle = os::NamedMutexHandle::Create(name, &result);
  return holder.handle ? kKernelObjectOk : kKernelObjectFailed;
}

int OpenNamedMutex(NamedMutex& holder, const std::string& name, bool holdName) {
  if (holder.handle) return kKernelObjectHeld;
  os::NamedResult result{};
  holder.handle = os::NamedMutexHandle::Open(name, &result, holdName);
  return holder.handle ? kKernelObjectOk : kKernelObjectFailed;
}

int CreateNamedSemaphore(VEXO::System::Thread::Semaphore& holder, const std::string& name,
                         std::uint32_t initial, std::uint32_t maximum) {
  if (holder.Handle()) return kKernelObjectHeld;
  os::NamedResult result{};
  auto semaphore = os::CreateNamedSemaphore(name, initial, maximum, &result);
  if (!semaphore) return kKernelObjectFailed;
  holder.Attach(std::move(semaphore));
  return kKernelObjectOk;
}

int OpenNamedSemaphore(VEXO::System::Thread::Semaphore& holder, const std::string& name,
                       bool holdName) {
  if (holder.Handle()) return kKernelObjectHeld;
  os::NamedResult result{};
  auto semaphore = os::OpenNamedSemaphore(name, &result, holdName);
  if (!semaphore) return kKernelObjectFailed;
  holder.Attach(std::move(semaphore));
  return kKernelObjectOk;
}

}  // namespace Vantor::KQCP
