// Shared session helpers.
#include "share/session_common.h"

#include "com/object.h"
#include "share/name_copy.h"
#include "share/share_session_manager.h"
#include "share/share_session_operation.h"

namespace Vantor::KQCP {

void NotifyOperationListeners(ListenerList<IShareSessionOperationEvents>& listeners,
                              IShareSessionOperation* operation) {
  listeners.Notify([&](IShareSessionOperationEvents* listener) {
    std::int32_t kind = -1;
    operation->GetKind(&kind);
    if (kind == kShareOperationRequest) {
      listener->OnRequest(operation);
    } else if (kind == kShareOperationReply) {
      listener->OnResponse(operation);
    }
  });
}

IShareSessionOperation* NewOperation(std::int32_t kind, std::int32_t id, const std::string& session,
                                     const std::string& target, const std::string& sender) {
  auto* operation = com::MakeObject<ShareSessionOperation>();
  if (!operation) return nullptr;
  operation->Address(kind, id, session, target, sender);
  return operation;
}

HRESULT PostToManager(ShareSessionManager_* manager, IShareSessionOperation* operation) {
  if (!operation) return E_POINTER;
  // Only operations made by a session can be sent: their buffers keep room for the header.
  auto* ours = dynamic_cast<ShareSessionOperation*>(operation);
  if (!ours) return E_INVALIDARG;
  return manager->PostOperation(ours);
}

HRESULT CopySessionName(const std::string& name, char* buffer, std::uint32_t length) {
  return CopyName(name, buffer, length) ? S_OK : E_OUTOFMEMORY;
}

}  // namespace Vantor::KQCP
