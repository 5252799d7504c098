// Proxy map entries, parsed within the used part of the mapping whatever the header says.
#include "share/platform_proxy_map.h"

#include <algorithm>
#include <cstring>

#include "share/wire/bytes.h"

namespace Vantor::KQCP {
namespace {

using wire::Load32;
using wire::Store32;
using wire::proxy_map::kCountOffset;
using wire::proxy_map::kEntriesOffset;
using wire::proxy_map::kEntryFixed;
using wire::proxy_map::kEntryNameLengthOffset;
using wire::proxy_map::kServiceProcessOffset;

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
      static_cast<std::uint32_t>(length) > wire::proxy_map::kMaxNameLength ||
      room - kEntryFixed < static_cast<std::uint32_t>(length)) {
    return 0;
  }
  return kEntryFixed + static_cast<std::uint32_t>(length);
}

// The entries of a data area whose first used bytes are in use, up to its count word, each
// word read once; end is where the last that parses ends.
struct Parsed {
  std::uint32_t announced = 0;
  std::uint32_t end = kEntriesOffset;
  std::vector<Located> entries;
};

Parsed Parse(const std::uint8_t* data, std::uint32_t used) {
  Parsed parsed;
  if (used < kEntriesOffset) return parsed;
  parsed.announced = Load32(data + kCountOffset);
  std::uint32_t& at = parsed.end;
  for (std::uint32_t i = 0; i < parsed.announced; ++i) {
    if (used - at < kEntryFixed) break;
    const std::uint32_t processId = Load32(data + at);
    const std::uint32_t size = EntrySize(Load32(data + at + kEntryNameLengthOffset), used - at);
    if (size == 0) break;
    parsed.entries.push_back(
        {at,
         size,
         {processId, std::string(reinterpret_cast<const char*>(data + at + kEntryFixed),
                                 size - kEntryFixed)}});
    at += size;
  }
  return parsed;
}

std::vector<Located> Walk(const ShareMapMemory& map) {
  if (!map.IsOpen()) return {};
  return Parse(map.GetData(), map.GetUsedSize()).entries;
}

}  // namespace

bool PlatformProxyMap::Initialize(ShareMapMemory& map, std::uint32_t serviceProcessId) {
  if (!map.IsOpen() || map.GetCapacity() < kEntriesOffset) return false;
  Store32(map.GetData() + kServiceProcessOffset, serviceProcessId);
  Store32(map.GetData() + kCountOffset, 0);
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
  if (name.size() > wire::proxy_map::kMaxNameLength) return false;
  const auto length = static_cast<std::uint32_t>(name.size());
  auto room = [&] { return map.GetCapacity() - map.GetUsedSize() >= kEntryFixed + length; };
  if (!room() && (RemoveGone(map, isGone).removed == 0 || !room())) return false;
  std::uint8_t fixed[kEntryFixed];
  Store32(fixed, processId);
  Store32(fixed + kEntryNameLengthOffset, length);
  map.Append(fixed, kEntryFixed);
  map.Append(name.data(), length);
  Store32(map.GetData() + kCountOffset, Load32(map.GetData() + kCountOffset) + 1);
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
    Initialize(map, Load32(map.GetData() + kServiceProcessOffset));
    return cleaned;
  }
  const std::vector<std::uint8_t> copy(map.GetData(), map.GetData() + used);
  const Parsed parsed = Parse(copy.data(), used);
  std::vector<std::uint8_t> kept(copy.begin(), copy.begin() + kEntriesOffset);
  std::uint32_t keptEntries = 0;
  for (const Located& located : parsed.entries) {
    if (isGone(located.entry.name)) {
      ++cleaned.removed;
      continue;
    }
    kept.insert(kept.end(), copy.begin() + located.offset,
                copy.begin() + located.offset + located.size);
    ++keptEntries;
  }
  cleaned.repaired =
      !capacityKept || parsed.entries.size() != parsed.announced || parsed.end != used;
  if (cleaned.removed == 0 && !cleaned.repaired) return cleaned;
  // Laid out from the copy, so it fits what was copied, whatever the words say now.
  Store32(kept.data() + kCountOffset, keptEntries);
  std::memcpy(map.GetData(), kept.data(), kept.size());
  map.RestoreCapacity(room);
  map.SetUsedSize(static_cast<std::uint32_t>(kept.size()));
  return cleaned;
}

PlatformProxyMap::Survey PlatformProxyMap::Inspect(const ShareMapMemory& map) {
  Survey survey;
  if (!map.IsOpen()) return survey;
  const std::uint32_t capacity = map.CapacityWord(), mapped = map.MappedCapacity();
  if (capacity > mapped) {
    survey.problem = "capacity word " + std::to_string(capacity) + " exceeds the " +
                     std::to_string(mapped) + " bytes mapped";
    return survey;
  }
  const std::uint32_t used =
      Load32(map.GetData() - ShareMapMemory::kHeaderSize + wire::kUsedWordOffset);
  // The service's word is read only once the header vouches for it being mapped.
  if (used < kEntriesOffset || used > capacity) {
    survey.problem = "used size " + std::to_string(used) + " of " + std::to_string(capacity);
    return survey;
  }
  survey.serviceProcessId = Load32(map.GetData() + kServiceProcessOffset);
  if (survey.serviceProcessId == 0) {
    survey.problem = "no service process";
    return survey;
  }
  Parsed parsed = Parse(map.GetData(), used);
  if (parsed.entries.size() != parsed.announced || parsed.end != used) {
    survey.problem = std::to_string(parsed.announced) + " entries announced, " +
                     std::to_string(parsed.entries.size()) + " parse in " + std::to_string(used) +
                     " bytes";
    return survey;
  }
  for (Located& located : parsed.entries) survey.entries.push_back(std::move(located.entry));
  return survey;
}

std::vector<PlatformProxyMap::Entry> PlatformProxyMap::ReadAll(const ShareMapMemory& map) {
  std::vector<Entry> entries;
  for (Located& located : Walk(map)) entries.push_back(std::move(located.entry));
  return entries;
}

}  // namespace Vantor::KQCP
