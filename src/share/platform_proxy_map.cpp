// Proxy map entries, parsed within the used part of the mapping whatever the header says.
#include "share/platform_proxy_map.h"

#include <cstring>

#include "share/package_record.h"

namespace Vantor::KQCP {
namespace {

constexpr std::uint32_t kEntriesOffset = 8;
constexpr std::uint32_t kEntryFixed = 8;

std::uint32_t Load32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

void Store32(std::uint8_t* at, std::uint32_t value) { std::memcpy(at, &value, sizeof value); }

struct Located {
  std::uint32_t offset;
  std::uint32_t size;
  PlatformProxyMap::Entry entry;
};

// Walks the entries up to the count, each bounded by the used part of the data area.
std::vector<Located> Walk(const ShareMapMemory& map) {
  std::vector<Located> found;
  const std::uint32_t used = map.GetUsedSize();
  if (!map.IsOpen() || used < kEntriesOffset) return found;
  const std::uint8_t* data = map.GetData();
  const std::uint32_t count = Load32(data + 4);
  std::uint32_t at = kEntriesOffset;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (used - at < kEntryFixed) break;
    const std::uint32_t pid = Load32(data + at);
    const auto length = static_cast<std::int32_t>(Load32(data + at + 4));
    if (length < 0 || static_cast<std::uint32_t>(length) > PackageRecord::kMaxStringLength ||
        used - at - kEntryFixed < static_cast<std::uint32_t>(length)) {
      break;
    }
    const std::uint32_t size = kEntryFixed + static_cast<std::uint32_t>(length);
    found.push_back(
        {at, size, {pid, std::string(reinterpret_cast<const char*>(data + at + 8), length)}});
    at += size;
  }
  return found;
}

}  // namespace

bool PlatformProxyMap::Initialize(ShareMapMemory& map, std::uint32_t serviceProcessId) {
  if (!map.IsOpen() || map.GetCapacity() < kEntriesOffset) return false;
  Store32(map.GetData(), serviceProcessId);
  Store32(map.GetData() + 4, 0);
  return map.SetUsedSize(kEntriesOffset);
}

bool PlatformProxyMap::Register(ShareMapMemory& map, std::uint32_t processId,
                                const std::string& name, const IsGone& isGone) {
  if (!map.IsOpen() || map.GetUsedSize() < kEntriesOffset) return false;
  for (const Located& located : Walk(map)) {
    if (located.entry.name != name) continue;
    Store32(map.GetData() + located.offset, processId);
    return true;
  }
  if (name.size() > PackageRecord::kMaxStringLength) return false;
  const auto length = static_cast<std::uint32_t>(name.size());
  auto room = [&] { return map.GetCapacity() - map.GetUsedSize() >= kEntryFixed + length; };
  if (!room() && (RemoveGone(map, isGone) == 0 || !room())) return false;
  std::uint8_t fixed[kEntryFixed];
  Store32(fixed, processId);
  Store32(fixed + 4, length);
  map.Append(fixed, kEntryFixed);
  map.Append(name.data(), length);
  Store32(map.GetData() + 4, Load32(map.GetData() + 4) + 1);
  return true;
}

int PlatformProxyMap::RemoveGone(ShareMapMemory& map, const IsGone& isGone) {
  int removed = 0;
  // Backwards, so that the offsets of the entries still to look at stay valid.
  const std::vector<Located> entries = Walk(map);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    if (!isGone(it->entry.name)) continue;
    std::uint8_t* data = map.GetData();
    const std::uint32_t used = map.GetUsedSize();
    const std::uint32_t end = it->offset + it->size;
    std::memmove(data + it->offset, data + end, used - end);
    map.SetUsedSize(used - it->size);
    Store32(data + 4, Load32(data + 4) - 1);
    ++removed;
  }
  return removed;
}

std::vector<PlatformProxyMap::Entry> PlatformProxyMap::ReadAll(const ShareMapMemory& map) {
  std::vector<Entry> entries;
  for (Located& located : Walk(map)) entries.push_back(std::move(located.entry));
  return entries;
}

}  // namespace Vantor::KQCP
