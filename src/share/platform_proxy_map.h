// The platform proxy map: how the service learns which clients exist. Data area layout
// (little-endian 32-bit): 0 service process id, 4 entry count, 8.. entries, each a client
// process id, a name length L (0..65536) and L name bytes. The mapping's used size is 8 plus
// the entries. Callers hold the platform mutex.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "share/share_map_memory.h"

namespace Vantor::KQCP {

class PlatformProxyMap {
 public:
  static constexpr std::uint32_t kCapacity = 40960;

  struct Entry {
    std::uint32_t processId;
    std::string name;
  };

  static bool Initialize(ShareMapMemory& map, std::uint32_t serviceProcessId);
  // Registers {processId, name}: takes over the entry of a process that is gone, refuses a
  // name that a live process holds, else appends. False when refused or out of room.
  static bool Register(ShareMapMemory& map, std::uint32_t processId, const std::string& name);
  // Removes the first entry of the process.
  static void Remove(ShareMapMemory& map, std::uint32_t processId);
  // Every entry that parses, in order; parsing stops at the first that does not.
  static std::vector<Entry> ReadAll(const ShareMapMemory& map);
};

}  // namespace Vantor::KQCP
