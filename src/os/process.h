// Process identity and liveness.
#pragma once

#include <cstdint>

namespace Vantor::KQCP::os {

std::uint32_t CurrentProcessId();
// False once the process has ended (a zombie counts as ended).
bool ProcessAlive(std::uint32_t pid);

}  // namespace Vantor::KQCP::os
