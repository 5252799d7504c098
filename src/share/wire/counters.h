// The counters every share-session manager keeps and publishes, listed once, in the order of
// the public ShareStatistics and of the published block. X(name) for each.
#pragma once

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

#define KQCP_COUNT_ONE(name) +1
inline constexpr int kCounterCount = 0 KQCP_SHARE_COUNTERS(KQCP_COUNT_ONE);
#undef KQCP_COUNT_ONE

#define KQCP_COUNTER_NAME(name) #name,
inline constexpr const char* kCounterNames[kCounterCount] = {
    KQCP_SHARE_COUNTERS(KQCP_COUNTER_NAME)};
#undef KQCP_COUNTER_NAME

}  // namespace Vantor::KQCP::wire
