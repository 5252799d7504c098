// The platform proxy map: how the service learns which clients exist. Data area layout
// (little-endian 32-bit): 0 service process id, 4 entry count, 8.. entries, each a client
// process id, a name length L (0..65536) and L name bytes. The mapping's used size is 8 plus
// the entries. Callers hold the platform mutex, but any process of the user may write anything
// there at any time: every word is read once, from a copy, and what is written back is laid
// out from that copy within the mapping's real size.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "share/share_map_memory.h"
#include "share/wire/layout.h"

namespace Vantor::KQCP {

class PlatformProxyMap {
 public:
  static constexpr std::uint32_t kCapacity = wire::proxy_map::kCapacity;

  struct Entry {
    std::uint32_t processId;
    std::string name;
  };

  // Whether the client of an entry is gone, judged by its name (by whether its receive queue
  // is still held: a process id alone may belong to an unrelated process by now).
  using IsGone = std::function<bool(const std::string& name)>;

  static bool Initialize(ShareMapMemory& map, std::uint32_t serviceProcessId);
  // Registers {processId, name}. The caller holds the receive queue of that name, so whoever
  // registered the name before is gone: its entry is taken over. Otherwise the entry is
  // appended, after the entries of clients that are gone have been removed if there is no room.
  // False when out of room even then.
  static bool Register(ShareMapMemory& map, std::uint32_t processId, const std::string& name,
                       const IsGone& isGone);
  struct Cleaned {
    int removed = 0;
    // The header did not match the entries (a scribble, or a client killed while it
    // registered): the map was rewritten from the entries that parse.
    bool repaired = false;
  };
  // Removes every entry whose client is gone, and repairs a damaged map.
  static Cleaned RemoveGone(ShareMapMemory& map, const IsGone& isGone);
  // What a tool finds in the map, judged the way the service judges it: the entries, or why the
  // map is damaged (then no entries).
  struct Survey {
    std::uint32_t serviceProcessId = 0;
    std::vector<Entry> entries;
    std::string problem;  // empty when sound
  };
  static Survey Inspect(const ShareMapMemory& map);
  // Every entry that parses, in order; parsing stops at the first that does not.
  static std::vector<Entry> ReadAll(const ShareMapMemory& map);
};

}  // namespace Vantor::KQCP
