// Object names of the shared-memory contract.
#include "share/wire/object_names.h"

namespace Vantor::KQCP::wire {
namespace {

constexpr std::string_view kProxyMapSuffix = "_PLATFORM_PROXY_MAP";
constexpr std::string_view kReceiveQueueSuffix = "_RECV_DATA_QUEUE";
constexpr std::string_view kQueueMutexSuffix = "_DQ_MUTEX";
constexpr std::string_view kQueueSemaphoreSuffix = "_DQ_SEMAPHONE";
constexpr std::string_view kQueueMapSuffix = "_DQ_MAPMEMORY";
constexpr std::string_view kStatisticsSuffix = "_STATISTICS";
constexpr std::string_view kSessionDataMutexSuffix = "_SESSION_DATA_MUTEX";

// The parts joined, in one allocation.
std::string Join(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view part : parts) size += part.size();
  std::string name;
  name.reserve(size);
  for (std::string_view part : parts) name += part;
  return name;
}

}  // namespace

std::string PlatformMutexName(std::string_view platform) {
  return Join({platform, kPlatformMutexSuffix});
}

std::string ProxyMapName(std::string_view platform) { return Join({platform, kProxyMapSuffix}); }

std::string ReceiveQueueName(std::string_view platform, std::string_view client) {
  if (client.empty()) return Join({platform, kReceiveQueueSuffix});
  return Join({platform, "_", client, kReceiveQueueSuffix});
}

std::string QueueMutexName(std::string_view queue) { return Join({queue, kQueueMutexSuffix}); }

std::string QueueSemaphoreName(std::string_view queue) {
  return Join({queue, kQueueSemaphoreSuffix});
}

std::string QueueMapName(std::string_view queue) { return Join({queue, kQueueMapSuffix}); }

std::string StatisticsName(std::string_view queue) { return Join({queue, kStatisticsSuffix}); }

std::string SessionDataMutexName(std::string_view platform, std::string_view session) {
  return Join({platform, session, kSessionDataMutexSuffix});
}

std::string SessionDataMapName(std::string_view platform, std::string_view session) {
  return Join({platform, session, kSessionDataMapSuffix});
}

}  // namespace Vantor::KQCP::wire
