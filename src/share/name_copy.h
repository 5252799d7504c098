// Copying a name into a caller's buffer with its terminator, or refusing a buffer too small.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace Vantor::KQCP {

// False (and nothing copied) unless the buffer holds the name and its NUL.
inline bool CopyName(const std::string& name, char* buffer, std::uint32_t length) {
  if (!buffer || length < name.size() + 1) return false;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  return true;
}

}  // namespace Vantor::KQCP
