// The counters every share-session manager keeps and publishes, listed once, in the order of
// the public ShareStatistics and of the published block. X(name) for each.
#pragma once

#include <iterator>

#define KQCP_SHARE_COUNTERS(X) \
  X(posted)                    \
  X(refusedBacklog)            \
  X(refusedOther)              \
  X(delivered)                 \
  X(droppedFull)               \
  X(droppedGone)               \
  X(droppedBacklog)            \
  X(received)                  \
  X(droppedOnReceipt)          \
  X(queueResets)               \
  X(recordsLostInResets)

namespace Vantor::KQCP::wire {

#define KQCP_COUNTER_NAME(name) #name,
inline constexpr const char* kCounterNames[] = {KQCP_SHARE_COUNTERS(KQCP_COUNTER_NAME)};
#undef KQCP_COUNTER_NAME
inline constexpr int kCounterCount = static_cast<int>(std::size(kCounterNames));

}  // namespace Vantor::KQCP::wire
