// Words of the shared layouts: 32-bit little-endian, at any alignment. Read once into a local
// and checked there: any process of the user may change the mapping between two reads.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace Vantor::KQCP::wire {

static_assert(std::endian::native == std::endian::little, "the shared layouts are little-endian");

inline std::uint32_t Load32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

inline void Store32(std::uint8_t* at, std::uint32_t value) {
  std::memcpy(at, &value, sizeof value);
}

}  // namespace Vantor::KQCP::wire
