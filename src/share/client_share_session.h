// A client's proxy of a session that the service owns: reads the shared data under the
// session's data lock, sends requests and receives replies and messages.
#pragma once

#include <string>

#include "com/object.h"
#include "kqcp/share.h"
#include "share/kernel_objects.h"
#include "share/listener_list.h"
#include "share/share_map_memory.h"

namespace Vantor::KQCP {

class ShareSessionManager_;

class ClientShareSession : public com::RefCounted<com::ComponentObject, IShareSessionProxy> {
 public:
  HRESULT GetPlatformName(char* buffer, std::uint32_t length) override;
  HRESULT GetSessionName(char* buffer, std::uint32_t length) override;
  HRESULT LockData() override;
  HRESULT GetSharedData(std::uint8_t** data, std::uint32_t* length) override;
  HRESULT UnlockData() override;
  HRESULT AddMessageListener(IShareSessionMessageEvents* listener) override;
  HRESULT RemoveMessageListener(IShareSessionMessageEvents* listener) override;
  HRESULT AddOperationListener(IShareSessionOperationEvents* listener) override;
  HRESULT RemoveOperationListener(IShareSessionOperationEvents* listener) override;
  HRESULT CreateOperation(IShareSessionOperation** operation) override;
  HRESULT PostOperation(IShareSessionOperation* operation) override;

  // Opens the session's data mutex; fails when the service has not created the session.
  bool Initialize(ShareSessionManager_* manager, const std::string& sessionName);
  // Called on the manager's thread.
  void NotifyMessage(const std::int32_t (&values)[3]);
  void NotifyOperation(IShareSessionOperation* operation);

  ~ClientShareSession() override;

 private:
  ListenerList<IShareSessionMessageEvents> messageListeners_;
  ListenerList<IShareSessionOperationEvents> operationListeners_;
  NamedMutex dataMutex_;
  ShareMapMemory dataView_;
  ShareSessionManager_* manager_ = nullptr;
  std::string sessionName_;
  bool initialised_ = false;
};

}  // namespace Vantor::KQCP
