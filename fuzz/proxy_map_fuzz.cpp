// Writes arbitrary bytes over the platform's proxy map, header words included, and keeps
// writing more of them while the service asks whether clients are gone (as a peer may between
// the service's system calls). Registering and cleaning must neither crash nor reach outside
// the mapping, and once the service has cleaned it without being written over, the map must be
// sound: the capacity word restored, and the entry count and used size matching the entries
// that parse.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "os/process.h"
#include "share/platform_proxy_map.h"
#include "share/share_map_memory.h"

using Vantor::KQCP::PlatformProxyMap;
using Vantor::KQCP::ShareMapMemory;

namespace {

struct Target {
  ShareMapMemory map;
  Target() {
    const std::string name =
        "kqcp_fuzz_proxy_" + std::to_string(Vantor::KQCP::os::CurrentProcessId());
    if (!map.Create(name, PlatformProxyMap::kCapacity) || !PlatformProxyMap::Initialize(map, 1)) {
      std::abort();
    }
  }
  std::uint8_t* View() const { return map.GetData() - ShareMapMemory::kHeaderSize; }
  std::size_t ViewSize() const { return map.MappedCapacity() + ShareMapMemory::kHeaderSize; }
};

void Require(bool condition) {
  if (!condition) std::abort();
}

std::uint32_t Load32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Target target;
  // The first half lands on the mapping now; the second is written a few bytes at a time, at
  // offsets it names itself, while the service is busy asking about clients.
  const std::size_t now = size / 2;
  std::memcpy(target.View(), data, std::min(now, target.ViewSize()));
  std::size_t later = now;
  auto isGone = [&](const std::string& name) {
    if (later + 6 <= size) {
      const std::uint16_t offset = static_cast<std::uint16_t>(data[later] | data[later + 1] << 8);
      if (offset + 4u <= target.ViewSize())
        std::memcpy(target.View() + offset, data + later + 2, 4);
      later += 6;
    }
    return name.empty() || (static_cast<unsigned char>(name[0]) & 1) != 0;
  };

  // A client registering on whatever it finds.
  PlatformProxyMap::Register(target.map, 7, "client", isGone);
  PlatformProxyMap::ReadAll(target.map);

  // The service's clean-up, written over while it runs, and its next one, which must leave a
  // sound map whatever the first found.
  PlatformProxyMap::RemoveGone(target.map, isGone);
  PlatformProxyMap::RemoveGone(target.map, [](const std::string& name) {
    return name.empty() || (static_cast<unsigned char>(name[0]) & 1) != 0;
  });
  Require(Load32(target.View()) == PlatformProxyMap::kCapacity);
  const std::uint32_t used = Load32(target.View() + 4);
  Require(used >= 8 && used <= PlatformProxyMap::kCapacity);
  std::uint32_t parsed = 8;
  const auto entries = PlatformProxyMap::ReadAll(target.map);
  for (const auto& entry : entries) parsed += 8 + static_cast<std::uint32_t>(entry.name.size());
  Require(parsed == used);
  Require(Load32(target.map.GetData() + 4) == entries.size());
  // A second clean-up finds nothing to repair.
  Require(
      !PlatformProxyMap::RemoveGone(target.map, [](const std::string&) { return false; }).repaired);
  return 0;
}
