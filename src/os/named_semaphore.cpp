// Named semaphores over named objects.
#include "os/named_semaphore.h"

namespace Vantor::KQCP::os {

std::unique_ptr<CountingSemaphore> CreateNamedSemaphore(const std::string& name,
                                                        std::uint32_t initial,
                                                        std::uint32_t maximum, NamedResult* result,
                                                        std::uint32_t boundMs) {
  if (initial > maximum) {
    *result = NamedResult::kFailed;
    return nullptr;
  }
  auto object = NamedObject::Create(
      NamedKind::kSemaphore, name, sizeof(SemaphoreState),
      [&](void* data, std::size_t) {
        CountingSemaphore::InitState(static_cast<SemaphoreState*>(data), initial, maximum);
        return true;
      },
      result, boundMs);
  if (!object) return nullptr;
  auto* state = static_cast<SemaphoreState*>(object->Data());
  return std::make_unique<CountingSemaphore>(state, true, std::move(object));
}

std::unique_ptr<CountingSemaphore> OpenNamedSemaphore(const std::string& name, NamedResult* result,
                                                      bool holdName, std::uint32_t boundMs) {
  auto object = NamedObject::Open(NamedKind::kSemaphore, name, result, holdName, boundMs);
  if (!object) return nullptr;
  if (object->Size() < sizeof(SemaphoreState)) {
    *result = NamedResult::kFailed;
    return nullptr;
  }
  auto* state = static_cast<SemaphoreState*>(object->Data());
  return std::make_unique<CountingSemaphore>(state, true, std::move(object));
}

}  // namespace Vantor::KQCP::os
