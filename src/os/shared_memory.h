// Named shared memory with the lifetime rules of named objects.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "os/named_object.h"

namespace Vantor::KQCP::os {

class SharedMemory {
 public:
  // size zeroed bytes under a new name.
  static std::unique_ptr<SharedMemory> Create(const std::string& name, std::size_t size,
                                              NamedResult* result,
                                              std::uint32_t boundMs = kTransitionBoundMs);
  // The whole object as its creator made it; see NamedObject::Open for holdName.
  static std::unique_ptr<SharedMemory> Open(const std::string& name, NamedResult* result,
                                            bool holdName = true,
                                            std::uint32_t boundMs = kTransitionBoundMs);
  bool IsAlive() const { return object_->IsAlive(); }

  void* Data() const { return object_->Data(); }
  std::size_t Size() const { return object_->Size(); }

 private:
  explicit SharedMemory(std::shared_ptr<NamedObject> object) : object_(std::move(object)) {}
  std::shared_ptr<NamedObject> object_;
};

}  // namespace Vantor::KQCP::os
