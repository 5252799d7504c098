// What TCP and UDP socket wrappers share: the five device operations, each passed to the host
// socket at once on the message thread or posted to the wrapper from other threads, and the
// wrapper's registration for its messages through the frame.
#pragma once

#include <array>
#include <cstdint>

#include "asyn/asyn_frame.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn_host.h"

namespace Vantor::KQCP {

// The host operation inside a caller's operation, or null.
inline IAsynHostOperation* HostOperationOf(IKQCPAsynIoOperation* operation) {
  IAsynHostOperation* host = nullptr;
  if (operation) operation->GetHostOperation(&host);
  return host;
}

// Every posted request holds a reference on its wrapper until the message thread has run or
// dropped it, so a caller that releases the wrapper right after a request (closing it, say)
// never leaves the message thread a destroyed object; the count is atomic for that reason.
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

 protected:
  // On the message thread, by the frame.
  AsynDeviceSocket(HostSocket* hostSocket, const DeviceTypes& types)
      : hostSocket_(hostSocket), types_(types) {
    AsynFrameHolder::Instance()->RegisterEvents(Events());
  }
  ~AsynDeviceSocket() override { AsynFrameHolder::Instance()->UnregisterEvents(Events()); }

  IAsynMessageEvents* Events() { return static_cast<IAsynMessageEvents*>(this); }
  static bool OnMessageThread() { return AsynFrameHolder::Instance()->OnMessageThread(); }

  HRESULT Post(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
    this->AddRef();
    const HRESULT posted =
        AsynFrameHolder::Instance()->PostAsynMessage(Events(), type, value1, value2);
    if (Failed(posted)) this->Release();
    return posted;
  }

  // Ends a posted request's hold on the wrapper; the last thing a message handler does.
  HRESULT Done(HRESULT result) {
    this->Release();
    return result;
  }

  // Runs a posted device request; any other type does nothing.
  HRESULT RunDeviceMessage(std::int32_t type, std::uintptr_t value1) {
    for (int index = 0; index < 5; ++index) {
      if (types_[index] == type) {
        return RunDevice(index, reinterpret_cast<IKQCPAsynIoOperation*>(value1));
      }
    }
    return S_OK;
  }

  com::ComPtr<HostSocket> hostSocket_;

 private:
  HRESULT Device(int index, IKQCPAsynIoOperation* operation) {
    if (!operation && index != 4) return E_POINTER;
    if (OnMessageThread()) return RunDevice(index, operation);
    return Post(types_[index], reinterpret_cast<std::uintptr_t>(operation), 0);
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
};

}  // namespace Vantor::KQCP
