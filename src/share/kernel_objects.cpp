// Kernel-object functions over the operating-system layer's named objects.
#include "share/kernel_objects.h"

#include "os/named_semaphore.h"

namespace Vantor::KQCP {
namespace {

int ResultOf(bool filled, os::NamedResult result) {
  if (filled) return kKernelObjectOk;
  return result == os::NamedResult::kBusy ? kKernelObjectBusy : kKernelObjectFailed;
}

}  // namespace

int CreateNamedMutex(NamedMutex& holder, const std::string& name, std::uint32_t boundMs) {
  if (holder.handle) return kKernelObjectHeld;
  os::NamedResult result{};
  holder.handle = os::NamedMutexHandle::Create(name, &result, boundMs);
  return ResultOf(holder.handle != nullptr, result);
}

int OpenNamedMutex(NamedMutex& holder, const std::string& name, bool holdName,
                   std::uint32_t boundMs) {
  if (holder.handle) return kKernelObjectHeld;
  os::NamedResult result{};
  holder.handle = os::NamedMutexHandle::Open(name, &result, holdName, boundMs);
  return ResultOf(holder.handle != nullptr, result);
}

int CreateNamedSemaphore(VEXO::System::Thread::Semaphore& holder, const std::string& name,
                         std::uint32_t initial, std::uint32_t maximum, std::uint32_t boundMs) {
  if (holder.Handle()) return kKernelObjectHeld;
  os::NamedResult result{};
  auto semaphore = os::CreateNamedSemaphore(name, initial, maximum, &result, boundMs);
  if (!semaphore) return ResultOf(false, result);
  holder.Attach(std::move(semaphore));
  return kKernelObjectOk;
}

int OpenNamedSemaphore(VEXO::System::Thread::Semaphore& holder, const std::string& name,
                       bool holdName, std::uint32_t boundMs) {
  if (holder.Handle()) return kKernelObjectHeld;
  os::NamedResult result{};
  auto semaphore = os::OpenNamedSemaphore(name, &result, holdName, boundMs);
  if (!semaphore) return ResultOf(false, result);
  holder.Attach(std::move(semaphore));
  return kKernelObjectOk;
}

}  // namespace Vantor::KQCP
