// Service side of a session.
#include "share/service_share_session.h"

#include <cstring>
#include <memory>

#include "com/com_ptr.h"
#include "share/session_common.h"
#include "share/share_session_manager.h"
#include "share/share_session_operation.h"
#include "share/wire/object_names.h"

namespace Vantor::KQCP {

std::uint32_t SessionDataCapacity(std::uint32_t length) {
  return ((length + 32) / 4096 + 1) * 4096;
}

ServiceShareSession::~ServiceShareSession() {
  messageListeners_.Clear();
  operationListeners_.Clear();
}

bool ServiceShareSession::Initialize(ShareSessionManager_* manager,
                                     const std::string& sessionName) {
  if (initialised_) return false;
  sessionName_ = sessionName;
  const std::string& platform = manager->PlatformName();
  if (CreateNamedMutex(dataMutex_, wire::SessionDataMutexName(platform, sessionName)) !=
      kKernelObjectOk) {
    return false;
  }
  // Made just now, but any process of the user may already have opened and taken it.
  const NamedLock data(dataMutex_, kSessionDataLockBoundMs);
  if (!data.Held()) return false;
  if (dataView_.Create(wire::SessionDataMapName(platform, sessionName), kInitialDataCapacity,
                       kSessionDataLockBoundMs)) {
    manager_ = manager;
    initialised_ = true;
  }
  return initialised_;
}

HRESULT ServiceShareSession::GetPlatformName(char* buffer, std::uint32_t length) {
  if (!manager_) return E_FAIL;
  return CopySessionName(manager_->PlatformName(), buffer, length);
}

HRESULT ServiceShareSession::GetSessionName(char* buffer, std::uint32_t length) {
  if (!initialised_) return E_FAIL;
  return CopySessionName(sessionName_, buffer, length);
}

HRESULT ServiceShareSession::SetSharedData(const void* data, std::int32_t length) {
  if (!initialised_) return E_FAIL;
  if (length < 0 || (length > 0 && !data)) return E_INVALIDARG;
  const auto size = static_cast<std::uint32_t>(length);
  const NamedLock held(dataMutex_, kSessionDataLockBoundMs);
  if (!held.Held()) return E_FAIL;
  if (!dataView_.IsOpen() || dataView_.GetCapacity() < size) {
    dataView_.Close();
    if (!dataView_.Create(wire::SessionDataMapName(manager_->PlatformName(), sessionName_),
                          SessionDataCapacity(size))) {
      return E_FAIL;
    }
  }
  if (size) std::memcpy(dataView_.GetData(), data, size);
  dataView_.SetUsedSize(size);
  return S_OK;
}

HRESULT ServiceShareSession::AddMessageListener(IShareSessionMessageEvents* listener) {
  return messageListeners_.Add(listener);
}

HRESULT ServiceShareSession::RemoveMessageListener(IShareSessionMessageEvents* listener) {
  return messageListeners_.Remove(listener);
}

HRESULT ServiceShareSession::AddOperationListener(IShareSessionOperationEvents* listener) {
  return operationListeners_.Add(listener);
}

HRESULT ServiceShareSession::RemoveOperationListener(IShareSessionOperationEvents* listener) {
  return operationListeners_.Remove(listener);
}

HRESULT ServiceShareSession::CreateOperation(IShareSessionOperation** operation) {
  if (!operation) return E_POINTER;
  if (!initialised_) return E_FAIL;
  IShareSessionOperation* created =
      NewOperation(kShareOperationRequest, manager_->NextOperationId(), sessionName_, "", "");
  if (!created) return E_OUTOFMEMORY;
  *operation = created;
  return S_OK;
}

HRESULT ServiceShareSession::CreateReply(IShareSessionOperation* request,
                                         IShareSessionOperation** reply) {
  if (!request || !reply) return E_POINTER;
  if (!initialised_) return E_FAIL;
  std::int32_t id = 0;
  request->GetId(&id);
  std::string sender;
  std::shared_ptr<SharePackageDataQueue> route;
  if (auto* ours = dynamic_cast<ShareSessionOperation*>(request)) {
    sender = ours->Sender();
    route = ours->Route();
  } else {
    // Someone else's operation: ask it, in a buffer that fits any name, left uncleared.
    auto buffer = std::make_unique_for_overwrite<char[]>(PackageRecord::kMaxStringLength + 1);
    if (Succeeded(request->GetSender(buffer.get(), PackageRecord::kMaxStringLength + 1))) {
      sender = buffer.get();
    }
  }
  IShareSessionOperation* created =
      NewOperation(kShareOperationReply, id, sessionName_, sender, "");
  if (!created) return E_OUTOFMEMORY;
  static_cast<ShareSessionOperation*>(created)->SetRoute(std::move(route));
  *reply = created;
  return S_OK;
}

HRESULT ServiceShareSession::PostOperation(IShareSessionOperation* operation) {
  if (!initialised_) return E_FAIL;
  return PostToManager(manager_, operation);
}

HRESULT ServiceShareSession::PostMessage(const char* target, std::int32_t value1,
                                         std::int32_t value2, std::int32_t value3) {
  if (!initialised_) return E_FAIL;
  ShareMessage message{target ? target : "", sessionName_, {value1, value2, value3}};
  // The caller learns when the message will not be sent.
  return manager_->PostMessage(message);
}

void ServiceShareSession::NotifyOperation(IShareSessionOperation* operation) {
  NotifyOperationListeners(operationListeners_, operation);
}

}  // namespace Vantor::KQCP
