// Proxy map entries, parsed within the used part of the mapping whatever the header says.
#include "share/platform_proxy_map.h"

#include <algorithm>
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

// The size of an entry whose name length word is lengthWord, with room bytes from its start to
// the end of the used part; 0 when it does not fit.
std::uint32_t EntrySize(std::uint32_t lengthWord, std::uint32_t room) {
  const auto length = static_cast<std::int32_t>(lengthWord);
  if (room < kEntryFixed || length < 0 ||
      static_cast<std::uint32_t>(length) > PackageRecord::kMaxStringLength ||
      room - kEntryFixed < static_cast<std::uint32_t>(length)) {
    return 0;
  }
  return kEntryFixed + static_cast<std::uint32_t>(length);
}

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
    // Copied first: the words may change under the walk.
    std::uint8_t fixed[kEntryFixed];
    std::memcpy(fixed, data + at, kEntryFixed);
    const std::uint32_t size = EntrySize(Load32(fixed + 4), used - at);
    if (size == 0) break;
    found.push_back({at,
                     size,
                     {Load32(fixed), std::string(reinterpret_cast<const char*>(data + at + 8),
                                                 size - kEntryFixed)}});
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
  if (!room() && (RemoveGone(map, isGone).removed == 0 || !room())) return false;
  std::uint8_t fixed[kEntryFixed];
  Store32(fixed, processId);
  Store32(fixed + 4, length);
  map.Append(fixed, kEntryFixed);
  map.Append(name.data(), length);
  Store32(map.GetData() + 4, Load32(map.GetData() + 4) + 1);
  return true;
}

PlatformProxyMap::Cleaned PlatformProxyMap::RemoveGone(ShareMapMemory& map, const IsGone& isGone) {
  Cleaned cleaned;
  const std::uint32_t room = std::min(map.MappedCapacity(), kCapacity);
  if (!map.IsOpen() || room < kEntriesOffset) return cleaned;
  // One copy of the used part: the liveness checks below make system calls, during which a
  // peer may change any word of the mapping.
  const bool capacityKept = map.CapacityWord() == room;
  if (!capacityKept) map.RestoreCapacity(room);
  const std::uint32_t used = map.GetUsedSize();
  if (used < kEntriesOffset) {
    cleaned.repaired = true;
    Initialize(map, Load32(map.GetData()));
    return cleaned;
  }
  const std::vector<std::uint8_t> copy(map.GetData(), map.GetData() + used);
  const std::uint32_t count = Load32(copy.data() + 4);
  std::vector<std::uint8_t> kept(copy.begin(), copy.begin() + kEntriesOffset);
  std::uint32_t at = kEntriesOffset, entries = 0, keptEntries = 0;
  for (; entries < count; ++entries) {
    if (used - at < kEntryFixed) break;
    const std::uint32_t size = EntrySize(Load32(copy.data() + at + 4), used - at);
    if (size == 0) break;
    const std::string name(reinterpret_cast<const char*>(copy.data() + at + kEntryFixed),
                           size - kEntryFixed);
    if (isGone(name)) {
      ++cleaned.removed;
    } else {
      kept.insert(kept.end(), copy.begin() + at, copy.begin() + at + size);
      ++keptEntries;
    }
    at += size;
  }
  cleaned.repaired = !capacityKept || entries != count || at != used;
  if (cleaned.removed == 0 && !cleaned.repaired) return cleaned;
  // Laid out from the copy, so it fits what was copied, whatever the words say now.
  Store32(kept.data() + 4, keptEntries);
  std::memcpy(map.GetData(), kept.data(), kept.size());
  map.RestoreCapacity(room);
  map.SetUsedSize(static_cast<std::uint32_t>(kept.size()));
  return cleaned;
}

std::vector<PlatformProxyMap::Entry> PlatformProxyMap::ReadAll(const ShareMapMemory& map) {
  std::vector<Entry> entries;
  for (Located& located : Walk(map)) entries.push_back(std::move(located.entry));
  return entries;
}

}  // namespace Vantor::KQCP
