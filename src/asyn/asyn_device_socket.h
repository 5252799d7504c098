// What TCP and UDP socket wrappers share: the five device operations, each passed to the host
// socket at once on the message thread or posted to the wrapper from other threads, the
// requests that wait for the host's verdict, and the wrapper's registration for its messages.
#pragma once

#include <array>
#include <cstdint>

#include "asyn/asyn_frame.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn_host.h"
#include "os/one_shot_event.h"

namespace Vantor::KQCP {

// The host operation inside a caller's operation, or null.
inline IAsynHostOperation* HostOperationOf(IKQCPAsynIoOperation* operation) {
  IAsynHostOperation* host = nullptr;
  if (operation) operation->GetHostOperation(&host);
  return host;
}

// A posted request whose caller waits for this very message; a discarded message leaves the
// result a failure.
struct AsynSyncRequest {
  HRESULT result = E_FAIL;
  os::OneShotEvent done;
};

// Every posted request holds a reference on its wrapper and on its operation until the message
// thread has run or dropped it, so a caller that releases either right after a request never
// leaves the message thread a destroyed object; the counts are atomic for that reason.
//
// The wrapper keeps the host it was created under: it registers, posts and unregisters there
// even when the frame is attached to another host later.
template <class Interface, class HostSocket>
class AsynDeviceSocket
    : public com::RefCounted<com::AtomicPlainObject, Interface, IAsynMessageEvents> {
 public:
  // The message type of each device operation, first to fifth.
  using DeviceTypes = std::array<std::int32_t, 5>;

  HRESULT DeviceOp1(IKQCPAsynIoOperation* operation) override { return Device(0, operation); }
  HRESULT DeviceOp2(IKQCPAsynIoOperation* operation) override { return Device(1, operation); }
  HRESULT DeviceOp3(IKQCPAsynIoOperation* operation) override { return Device(2, operation); }
  HRESULT DeviceOp4(IKQCPAsynIoOperation* operation) override { return Device(3, operation); }
  HRESULT DeviceOp5() override { return Device(4, nullptr); }

  HRESULT OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) final {
    if (!Known(type)) return S_OK;
    return Settle(type, value1, value2, RunMessage(type, value1, value2));
  }

  HRESULT OnMessageDiscarded(std::int32_t type, std::uintptr_t value1,
                             std::uintptr_t value2) final {
    if (!Known(type)) return S_OK;
    DiscardPayload(type, value2);
    Settle(type, value1, value2, E_FAIL);
    return S_OK;
  }

 protected:
  // On the message thread, by the frame. ownType is the class's own request with a payload;
  // pointerType (-1: none) the one whose first value is the caller's pointer, not an
  // operation, and whose caller waits for it.
  AsynDeviceSocket(IAsynIoHost* host, HostSocket* hostSocket, const DeviceTypes& types,
                   std::int32_t ownType, std::int32_t pointerType)
      : host_(host),
        hostSocket_(hostSocket),
        types_(types),
        ownType_(ownType),
        pointerType_(pointerType) {
    host_->RegisterEvents(Events());
  }
  ~AsynDeviceSocket() override { host_->UnregisterEvents(Events()); }

  IAsynMessageEvents* Events() { return static_cast<IAsynMessageEvents*>(this); }
  bool OnMessageThread() { return host_->IsMessageThread() == 0; }

  // Posts a request holding this wrapper and held (may be null) until it has run or dropped.
  HRESULT Post(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2,
               IKQCPAsynIoOperation* held) {
    this->AddRef();
    if (held) held->AddRef();
    const HRESULT posted = host_->PostAsynMessage(Events(), type, value1, value2);
    if (Failed(posted)) Let(held);
    return posted;
  }

  // Posts a request and waits for the host's verdict; E_FAIL when it never ran.
  HRESULT PostAndWait(std::int32_t type, std::uintptr_t value1, IKQCPAsynIoOperation* held) {
    AsynSyncRequest request;
    if (Failed(Post(type, value1, reinterpret_cast<std::uintptr_t>(&request), held))) {
      return E_FAIL;
    }
    request.done.Wait();
    return request.result;
  }

  // A posted request of the class's own type (the first) or of its pointer type.
  virtual HRESULT RunOwnMessage(std::int32_t type, std::uintptr_t value1,
                                std::uintptr_t value2) = 0;
  // Frees the payload of a dropped request of the class's own type.
  virtual void DiscardPayload(std::int32_t type, std::uintptr_t value2) = 0;

  com::ComPtr<IAsynIoHost> host_;
  com::ComPtr<HostSocket> hostSocket_;

 private:
  // Device operations 3 and 4 report at once and have no event, so from another thread they
  // wait for the host's verdict rather than lose it.
  static bool WaitsForVerdict(int index) { return index == 2 || index == 3; }

  HRESULT Device(int index, IKQCPAsynIoOperation* operation) {
    if (!operation && index != 4) return E_POINTER;
    if (OnMessageThread()) return RunDevice(index, operation);
    const auto value1 = reinterpret_cast<std::uintptr_t>(operation);
    if (WaitsForVerdict(index)) return PostAndWait(types_[index], value1, operation);
    return Post(types_[index], value1, 0, operation);
  }

  int DeviceIndex(std::int32_t type) const {
    for (int index = 0; index < 5; ++index) {
      if (types_[index] == type) return index;
    }
    return -1;
  }

  bool IsPointerType(std::int32_t type) const { return pointerType_ >= 0 && type == pointerType_; }

  bool Known(std::int32_t type) const {
    return type == ownType_ || IsPointerType(type) || DeviceIndex(type) >= 0;
  }

  HRESULT RunMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
    const int index = DeviceIndex(type);
    if (index < 0) return RunOwnMessage(type, value1, value2);
    return RunDevice(index, reinterpret_cast<IKQCPAsynIoOperation*>(value1));
  }

  // Hands the verdict to a waiting caller, then lets go of what the request held.
  HRESULT Settle(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2, HRESULT result) {
    const int index = DeviceIndex(type);
    if (IsPointerType(type) || (index >= 0 && WaitsForVerdict(index))) {
      if (auto* request = reinterpret_cast<AsynSyncRequest*>(value2)) {
        request->result = result;
        request->done.Set();
      }
    }
    Let(IsPointerType(type) ? nullptr : reinterpret_cast<IKQCPAsynIoOperation*>(value1));
    return result;
  }

  // Ends a request's hold; the wrapper may be gone afterwards.
  void Let(IKQCPAsynIoOperation* held) {
    if (held) held->Release();
    this->Release();
  }

  HRESULT RunDevice(int index, IKQCPAsynIoOperation* operation) {
    IAsynHostOperation* host = HostOperationOf(operation);
    switch (index) {
      case 0:
        return hostSocket_->DeviceOp1(host);
      case 1:
        return hostSocket_->DeviceOp2(host);
      case 2:
        return hostSocket_->DeviceOp3(host);
      case 3:
        return hostSocket_->DeviceOp4(host);
      default:
        return hostSocket_->DeviceOp5();
    }
  }

  DeviceTypes types_;
  std::int32_t ownType_;
  std::int32_t pointerType_;
};

}  // namespace Vantor::KQCP
