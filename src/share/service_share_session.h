// The service process's side of a share session: the session's shared data, operations with
// the clients, and messages to them.
#pragma once

#include <string>

#include "com/object.h"
#include "kqcp/share.h"
#include "share/kernel_objects.h"
#include "share/listener_list.h"
#include "share/share_map_memory.h"

namespace Vantor::KQCP {

class ShareSessionManager_;
class ShareSessionOperation;

class ServiceShareSession : public com::RefCounted<com::ComponentObject, IShareSessionService> {
 public:
  static constexpr std::uint32_t kInitialDataCapacity = 0x40000;

  HRESULT GetPlatformName(char* buffer, std::uint32_t length) override;
  HRESULT GetSessionName(char* buffer, std::uint32_t length) override;
  HRESULT SetSharedData(const void* data, std::int32_t length) override;
  HRESULT AddMessageListener(IShareSessionMessageEvents* listener) override;
  HRESULT RemoveMessageListener(IShareSessionMessageEvents* listener) override;
  HRESULT AddOperationListener(IShareSessionOperationEvents* listener) override;
  HRESULT RemoveOperationListener(IShareSessionOperationEvents* listener) override;
  HRESULT CreateOperation(IShareSessionOperation** operation) override;
  HRESULT CreateReply(IShareSessionOperation* request, IShareSessionOperation** reply) override;
  HRESULT PostOperation(IShareSessionOperation* operation) override;
  HRESULT PostMessage(const char* target, std::int32_t value1, std::int32_t value2,
                      std::int32_t value3) override;

  // Makes the session's data mutex and map; fails when the session exists under the platform.
  bool Initialize(ShareSessionManager_* manager, const std::string& sessionName);
  // Called on the manager's thread with an arriving operation.
  void NotifyOperation(IShareSessionOperation* operation);

  ~ServiceShareSession() override;

 private:
  NamedMutex dataMutex_;
  ShareMapMemory dataView_;
  ShareSessionManager_* manager_ = nullptr;
  std::string sessionName_;
  bool initialised_ = false;
  ListenerList<IShareSessionMessageEvents> messageListeners_;
  ListenerList<IShareSessionOperationEvents> operationListeners_;
};

// Capacity of a session data map that must hold length bytes: a multiple of 4096.
std::uint32_t SessionDataCapacity(std::uint32_t length);

}  // namespace Vantor::KQCP
