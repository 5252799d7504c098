// Client side of a session.
#include "share/client_share_session.h"

#include "share/session_common.h"
#include "share/share_session_manager.h"
#include "share/wire/object_names.h"

namespace Vantor::KQCP {

ClientShareSession::~ClientShareSession() {
  messageListeners_.Clear();
  operationListeners_.Clear();
  dataView_.Close();
}

bool ClientShareSession::Initialize(ShareSessionManager_* manager, const std::string& sessionName) {
  if (initialised_) return false;
  sessionName_ = sessionName;
  // Without holding the name: a proxy must not keep a dead service's objects alive, or a new
  // service could not make them again.
  if (OpenNamedMutex(dataMutex_, wire::SessionDataMutexName(manager->PlatformName(), sessionName),
                     false) != kKernelObjectOk) {
    return false;
  }
  manager_ = manager;
  initialised_ = true;
  return true;
}

HRESULT ClientShareSession::GetPlatformName(char* buffer, std::uint32_t length) {
  if (!manager_) return E_FAIL;
  return CopySessionName(manager_->PlatformName(), buffer, length);
}

HRESULT ClientShareSession::GetSessionName(char* buffer, std::uint32_t length) {
  if (!initialised_) return E_FAIL;
  return CopySessionName(sessionName_, buffer, length);
}

HRESULT ClientShareSession::LockData() {
  if (!initialised_) return E_FAIL;
  const std::string& platform = manager_->PlatformName();
  if (!dataMutex_.IsAlive()) {
    // The service that made the session is gone; a new one may have made it again.
    NamedMutex fresh;
    if (OpenNamedMutex(fresh, wire::SessionDataMutexName(platform, sessionName_), false) !=
        kKernelObjectOk) {
      return E_FAIL;
    }
    dataMutex_.handle = std::move(fresh.handle);
  }
  const os::LockResult locked = dataMutex_.LockFor(kSessionDataLockBoundMs);
  if (locked == os::LockResult::kTimedOut || locked == os::LockResult::kFailed) return E_FAIL;
  if (!dataView_.IsOpen() &&
      !dataView_.Open(wire::SessionDataMapName(platform, sessionName_), false)) {
    dataMutex_.Unlock();
    return E_FAIL;
  }
  return S_OK;
}

HRESULT ClientShareSession::GetSharedData(std::uint8_t** data, std::uint32_t* length) {
  if (!initialised_) return E_FAIL;
  if (data) *data = dataView_.GetData();
  if (length) *length = dataView_.GetUsedSize();
  return S_OK;
}

HRESULT ClientShareSession::UnlockData() {
  dataView_.Close();
  dataMutex_.Unlock();
  return S_OK;
}

HRESULT ClientShareSession::AddMessageListener(IShareSessionMessageEvents* listener) {
  if (!initialised_) return E_FAIL;
  return messageListeners_.Add(listener);
}

HRESULT ClientShareSession::RemoveMessageListener(IShareSessionMessageEvents* listener) {
  if (!initialised_) return E_FAIL;
  return messageListeners_.Remove(listener);
}

HRESULT ClientShareSession::AddOperationListener(IShareSessionOperationEvents* listener) {
  if (!initialised_) return E_FAIL;
  return operationListeners_.Add(listener);
}

HRESULT ClientShareSession::RemoveOperationListener(IShareSessionOperationEvents* listener) {
  if (!initialised_) return E_FAIL;
  return operationListeners_.Remove(listener);
}

HRESULT ClientShareSession::CreateOperation(IShareSessionOperation** operation) {
  if (!operation) return E_POINTER;
  if (!initialised_) return E_FAIL;
  IShareSessionOperation* created = NewOperation(
      kShareOperationRequest, manager_->NextOperationId(), sessionName_, "", manager_->OwnName());
  if (!created) return E_OUTOFMEMORY;
  *operation = created;
  return S_OK;
}

HRESULT ClientShareSession::PostOperation(IShareSessionOperation* operation) {
  if (!initialised_) return E_FAIL;
  return PostToManager(manager_, operation);
}

void ClientShareSession::NotifyMessage(const std::int32_t (&values)[3]) {
  messageListeners_.Notify([&](IShareSessionMessageEvents* listener) {
    listener->OnShareMessage(0, values[0], values[1], values[2]);
  });
}

void ClientShareSession::NotifyOperation(IShareSessionOperation* operation) {
  NotifyOperationListeners(operationListeners_, operation);
}

}  // namespace Vantor::KQCP
