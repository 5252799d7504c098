// What the service and client sides of a session do alike.
#pragma once

#include <string>

#include "kqcp/share.h"
#include "share/listener_list.h"

namespace Vantor::KQCP {

class ShareSessionManager_;

// Calls OnRequest (kind 0) or OnResponse (kind 1) of every listener; other kinds reach none.
void NotifyOperationListeners(ListenerList<IShareSessionOperationEvents>& listeners,
                              IShareSessionOperation* operation);

// A new operation with the caller's one reference; null when out of memory.
IShareSessionOperation* NewOperation(std::int32_t kind, std::int32_t id, const std::string& session,
                                     const std::string& target, const std::string& sender);

// Hands an operation made by a session of this library to the manager's outbox.
HRESULT PostToManager(ShareSessionManager_* manager, IShareSessionOperation* operation);

// How long the session data lock is waited for: another process holding it longer is hung.
inline constexpr std::uint32_t kSessionDataLockBoundMs = 5000;

// Platform or session name into a caller's buffer: E_OUTOFMEMORY when it does not fit.
HRESULT CopySessionName(const std::string& name, char* buffer, std::uint32_t length);

}  // namespace Vantor::KQCP
