// The byte layouts of the shared mappings, as named offsets and sizes, each limit derived from
// the ones it depends on. Every mapping starts with the 8-byte mapping header: capacity (bytes
// in the data area, written once by the creator) and used; offsets below are from the start
// of the data area that follows it.
#pragma once

#include <cstdint>

namespace Vantor::KQCP::wire {

// The mapping header, before every data area.
inline constexpr std::uint32_t kMappingHeaderSize = 8;
inline constexpr std::uint32_t kCapacityWordOffset = 0;  // from the start of the mapping
inline constexpr std::uint32_t kUsedWordOffset = 4;

// A receive queue's data area: four header words, then the record area.
namespace queue {
inline constexpr std::uint32_t kCapacity = 0x40000;
enum Word : int { kCountWord = 0, kReadWord = 1, kWriteWord = 2, kEndWord = 3 };
inline constexpr std::uint32_t kHeaderSize = 4 * 4;
inline constexpr std::uint32_t kAreaSize = kCapacity - kHeaderSize;
// At most this many records pending (the signal's maximum count).
inline constexpr std::uint32_t kMaxPending = 2048;
}  // namespace queue

// A record: a 16-bit type, four strings each as a 32-bit length and its bytes, a 32-bit payload
// length and the payload.
namespace record {
inline constexpr std::uint16_t kType = 10;
inline constexpr std::uint32_t kFixedBytes = 2 + 4 * 4 + 4;
inline constexpr std::uint32_t kMaxStringLength = 65536;
// The largest record a queue can take: the whole area.
inline constexpr std::uint32_t kLargest = queue::kAreaSize;
static_assert(kFixedBytes == 22);
static_assert(kLargest == 262128, "share.h names this figure");
}  // namespace record

// The service's proxy map: service process id, entry count, then the entries, each a client
// process id, a name length L and L name bytes.
namespace proxy_map {
inline constexpr std::uint32_t kCapacity = 40960;
inline constexpr std::uint32_t kServiceProcessOffset = 0;
inline constexpr std::uint32_t kCountOffset = 4;
inline constexpr std::uint32_t kEntriesOffset = 8;
inline constexpr std::uint32_t kEntryFixed = 8;
inline constexpr std::uint32_t kEntryNameLengthOffset = 4;
inline constexpr std::uint32_t kMaxNameLength = record::kMaxStringLength;
}  // namespace proxy_map

}  // namespace Vantor::KQCP::wire
