// Named semaphores: the futex semaphore state lives in a named object, so a semaphore released
// in one process wakes a waiter in another, also inside WaitAny with local semaphores.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "os/counting_semaphore.h"
#include "os/named_object.h"

namespace Vantor::KQCP::os {

std::unique_ptr<CountingSemaphore> CreateNamedSemaphore(const std::string& name,
                                                        std::uint32_t initial,
                                                        std::uint32_t maximum, NamedResult* result,
                                                        std::uint32_t boundMs = kTransitionBoundMs);
std::unique_ptr<CountingSemaphore> OpenNamedSemaphore(const std::string& name, NamedResult* result,
                                                      bool holdName = true,
                                                      std::uint32_t boundMs = kTransitionBoundMs);

}  // namespace Vantor::KQCP::os
