// Reads a platform's proxy map, receive queues, published counters and session maps.
#include "platform_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "namespace_files.h"
#include "os/named_mutex.h"
#include "os/shared_memory.h"
#include "share/platform_proxy_map.h"
#include "share/published_statistics.h"
#include "share/share_map_memory.h"
#include "share/share_package_data_queue.h"
#include "share/wire/bytes.h"
#include "share/wire/object_names.h"
#include "share/wire/queue_header.h"

namespace kqcp_tool {

using Vantor::KQCP::PackageRecord;
using Vantor::KQCP::PlatformProxyMap;
using Vantor::KQCP::PublishedStatistics;
using Vantor::KQCP::ShareMapMemory;
using Vantor::KQCP::SharePackageDataQueue;
namespace os = Vantor::KQCP::os;
namespace wire = Vantor::KQCP::wire;
using Vantor::KQCP::kPublishedCounters;

namespace {

// Long enough for a healthy peer's short critical sections, short enough not to stall a tool.
constexpr std::uint32_t kPlatformLockMs = 200;

// The line for a name that another process kept busy (stopped inside its own creation or
// close of it, say) past the tool's bound: it is skipped rather than waited for.
std::string GaveUp(const std::string& name) {
  return "gave up on " + name + " after " + std::to_string(kPlatformLockMs) +
         " ms: another process keeps it busy";
}

// Opens a mapping without holding its name; false when it is not there or stayed busy, which
// adds a line to errors.
bool OpenMapping(ShareMapMemory& map, const std::string& name, std::vector<std::string>* errors) {
  os::NamedResult result{};
  if (map.Open(name, false, kPlatformLockMs, &result)) return true;
  if (result == os::NamedResult::kBusy) errors->push_back(GaveUp(name));
  return false;
}

bool EndsWith(const std::string& text, std::string_view suffix) {
  return text.size() > suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The mapping header's capacity word, or an error when it claims more than is mapped.
bool MapCapacity(const ShareMapMemory& map, std::uint32_t* capacity, std::string* error) {
  *capacity = map.CapacityWord();
  if (*capacity > map.MappedCapacity()) {
    *error = "capacity word " + std::to_string(*capacity) + " exceeds the " +
             std::to_string(map.MappedCapacity()) + " bytes mapped";
    return false;
  }
  return true;
}

// Count, bytes and area of a receive queue; true without figures when the queue is not there
// (or stayed busy, which adds a line to errors).
bool ReadQueue(const std::string& name, QueueFigures* figures, std::string* error,
               std::vector<std::string>* errors) {
  ShareMapMemory map;
  if (!OpenMapping(map, wire::QueueMapName(name), errors)) return true;
  std::uint32_t capacity = 0;
  if (!MapCapacity(map, &capacity, error)) return false;
  if (capacity < SharePackageDataQueue::kQueueHeaderSize + PackageRecord::kFixedBytes) {
    *error = "capacity word " + std::to_string(capacity) + " is too small for a queue";
    return false;
  }
  const std::uint32_t area = capacity - SharePackageDataQueue::kQueueHeaderSize;
  const wire::QueueHeader header = wire::QueueHeader::Read(map.GetData());
  const auto words = [&] {
    return "R " + std::to_string(header.read) + ", W " + std::to_string(header.write) + ", E " +
           std::to_string(header.end);
  };
  switch (header.Check(area)) {
    case wire::QueueHeader::Problem::kBeyondArea:
      *error = "offsets " + words() + " lie beyond the " + std::to_string(area) + "-byte area";
      return false;
    case wire::QueueHeader::Problem::kInconsistent:
      *error = "count " + std::to_string(header.count) + " with " + words() + " make no sense";
      return false;
    case wire::QueueHeader::Problem::kNone:
      break;
  }
  figures->present = true;
  figures->records = header.count;
  figures->capacity = area;
  figures->bytes = header.BytesUsed();
  return true;
}

// The counters a member publishes beside its receive queue; an empty error when absent.
// A process id of 0 (unknown so far) is taken from the block.
bool ReadCounters(const std::string& queueName, std::uint32_t* processId, Counters* counters,
                  std::string* error, std::vector<std::string>* errors) {
  os::NamedResult result{};
  const std::string name = wire::StatisticsName(queueName);
  auto mapping = os::SharedMemory::Open(name, &result, false, kPlatformLockMs);
  if (!mapping) {
    if (result == os::NamedResult::kBusy) errors->push_back(GaveUp(name));
    return true;
  }
  if (mapping->Size() < sizeof(PublishedStatistics)) {
    *error = "published counters hold " + std::to_string(mapping->Size()) + " bytes, not " +
             std::to_string(sizeof(PublishedStatistics));
    return false;
  }
  const auto* block = static_cast<const PublishedStatistics*>(mapping->Data());
  if (block->magic != PublishedStatistics::kMagic ||
      block->version != PublishedStatistics::kVersion) {
    *error = "published counters have a wrong magic or version";
    return false;
  }
  if (*processId != 0 && block->processId != *processId) {
    *error = "published counters name process " + std::to_string(block->processId) +
             ", the proxy map " + std::to_string(*processId);
    return false;
  }
  if (*processId == 0) *processId = block->processId;
  for (int i = 0; i < wire::kCounterCount; ++i) {
    counters->values[i] = (block->*kPublishedCounters[i]).load(std::memory_order_relaxed);
  }
  counters->present = true;
  return true;
}

void ReadMember(Platform* platform, Member* member) {
  const std::string queue = wire::ReceiveQueueName(platform->name, member->name);
  const std::string who = member->name.empty() ? "the service" : "client " + member->name;
  member->alive = os::NamedObject::IsHeld(os::NamedKind::kMutex, wire::QueueMutexName(queue));
  std::string error;
  if (!ReadQueue(queue, &member->queue, &error, &platform->errors)) {
    platform->errors.push_back(who + "'s receive queue is corrupt: " + error);
  }
  error.clear();
  if (!ReadCounters(queue, &member->processId, &member->counters, &error, &platform->errors)) {
    platform->errors.push_back(who + "'s " + error);
  }
}

// Service process id and clients from the proxy map, judged as the service judges it.
void ReadProxyMap(const ShareMapMemory& map, Platform* platform) {
  PlatformProxyMap::Survey survey = PlatformProxyMap::Inspect(map);
  if (!survey.problem.empty()) {
    platform->errors.push_back("proxy map is corrupt: " + survey.problem);
    return;
  }
  platform->mapRead = true;
  platform->service.processId = survey.serviceProcessId;
  for (auto& entry : survey.entries) {
    Member client;
    client.name = std::move(entry.name);
    client.processId = entry.processId;
    platform->clients.push_back(std::move(client));
  }
}

void ReadSessions(const std::vector<std::string>& platformNames, Platform* platform) {
  std::vector<ObjectFile> files;
  ListObjectFiles(&files);
  for (const ObjectFile& file : files) {
    if (file.kind != os::NamedKind::kSharedMemory ||
        !EndsWith(file.name, wire::kSessionDataMapSuffix)) {
      continue;
    }
    const std::string joined =
        file.name.substr(0, file.name.size() - wire::kSessionDataMapSuffix.size());
    // The platform name and the session name are joined with nothing between them.
    std::string owner;
    for (const std::string& candidate : platformNames) {
      if (joined.size() > candidate.size() && joined.compare(0, candidate.size(), candidate) == 0 &&
          candidate.size() > owner.size()) {
        owner = candidate;
      }
    }
    if (owner != platform->name) continue;
    ShareMapMemory map;
    // Gone: a sweep's business.
    if (!OpenMapping(map, file.name, &platform->errors)) continue;
    Session session;
    session.name = joined.substr(owner.size());
    std::string error;
    if (!MapCapacity(map, &session.capacity, &error)) {
      platform->errors.push_back("session " + session.name + "'s data map is corrupt: " + error);
      continue;
    }
    session.bytes =
        wire::Load32(map.GetData() - ShareMapMemory::kHeaderSize + wire::kUsedWordOffset);
    if (session.bytes > session.capacity) {
      platform->errors.push_back("session " + session.name + "'s data map is corrupt: used " +
                                 std::to_string(session.bytes) + " of " +
                                 std::to_string(session.capacity) + " bytes");
      continue;
    }
    platform->sessions.push_back(std::move(session));
  }
}

}  // namespace

std::vector<std::string> PlatformNames() {
  std::vector<ObjectFile> files;
  std::vector<std::string> names;
  if (!ListObjectFiles(&files)) return names;
  for (const ObjectFile& file : files) {
    if (file.kind != os::NamedKind::kMutex || !EndsWith(file.name, wire::kPlatformMutexSuffix)) {
      continue;
    }
    std::string name = file.name.substr(0, file.name.size() - wire::kPlatformMutexSuffix.size());
    if (IsValidPlatformName(name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

Platform ReadPlatform(const std::string& name, const std::vector<std::string>& platformNames) {
  Platform platform;
  platform.name = name;
  ShareMapMemory map;
  if (OpenMapping(map, wire::ProxyMapName(name), &platform.errors)) {
    os::NamedResult result{};
    const std::string mutexName = wire::PlatformMutexName(name);
    auto mutex = os::NamedMutexHandle::Open(mutexName, &result, false, kPlatformLockMs);
    if (result == os::NamedResult::kBusy) platform.errors.push_back(GaveUp(mutexName));
    const os::LockResult locked = mutex ? mutex->LockFor(kPlatformLockMs) : os::LockResult::kFailed;
    platform.mapLocked =
        locked == os::LockResult::kAcquired || locked == os::LockResult::kAbandoned;
    ReadProxyMap(map, &platform);
    if (platform.mapLocked) mutex->Unlock();
  }
  ReadMember(&platform, &platform.service);
  for (Member& client : platform.clients) ReadMember(&platform, &client);
  ReadSessions(platformNames, &platform);
  return platform;
}

}  // namespace kqcp_tool
