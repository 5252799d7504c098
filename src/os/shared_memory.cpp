// Named shared memory over named objects.
#include "os/shared_memory.h"

namespace Vantor::KQCP::os {

std::unique_ptr<SharedMemory> SharedMemory::Create(const std::string& name, std::size_t size,
                                                   NamedResult* result, std::uint32_t boundMs) {
  auto object = NamedObject::Create(NamedKind::kSharedMemory, name, size, nullptr, result, boundMs);
  if (!object) return nullptr;
  return std::unique_ptr<SharedMemory>(new SharedMemory(std::move(object)));
}

std::unique_ptr<SharedMemory> SharedMemory::Open(const std::string& name, NamedResult* result,
                                                 bool holdName, std::uint32_t boundMs) {
  auto object = NamedObject::Open(NamedKind::kSharedMemory, name, result, holdName, boundMs);
  if (!object) return nullptr;
  return std::unique_ptr<SharedMemory>(new SharedMemory(std::move(object)));
}

}  // namespace Vantor::KQCP::os
