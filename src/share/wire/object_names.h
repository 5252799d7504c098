// The names of a platform's shared objects, as every process of the platform forms them: the
// one place where they are spelled. P is the platform name, N a client's own name, S a session
// name, Q a receive queue's name; "+" joins with nothing in between.
#pragma once

#include <string>
#include <string_view>

namespace Vantor::KQCP::wire {

// P + "_PLATFORM_MUTEX": made by the service, opened by clients.
std::string PlatformMutexName(std::string_view platform);
// P + "_PLATFORM_PROXY_MAP": the service's list of its clients.
std::string ProxyMapName(std::string_view platform);
// P + "_RECV_DATA_QUEUE" for the service (an empty client), P + "_" + N + "_RECV_DATA_QUEUE"
// for client N.
std::string ReceiveQueueName(std::string_view platform, std::string_view client);
// The three objects of queue Q: Q + "_DQ_MUTEX", Q + "_DQ_SEMAPHONE", Q + "_DQ_MAPMEMORY".
std::string QueueMutexName(std::string_view queue);
std::string QueueSemaphoreName(std::string_view queue);
std::string QueueMapName(std::string_view queue);
// Q + "_STATISTICS": the figures the owner of queue Q publishes for tools.
std::string StatisticsName(std::string_view queue);
// P + S + "_SESSION_DATA_MUTEX" and P + S + "_SESSION_DATA_MAP" (nothing between P and S).
std::string SessionDataMutexName(std::string_view platform, std::string_view session);
std::string SessionDataMapName(std::string_view platform, std::string_view session);

// For tools that find platforms and sessions by what their object names end with.
inline constexpr std::string_view kPlatformMutexSuffix = "_PLATFORM_MUTEX";
inline constexpr std::string_view kSessionDataMapSuffix = "_SESSION_DATA_MAP";

}  // namespace Vantor::KQCP::wire
