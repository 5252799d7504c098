// UDP socket wrapper.
#include "asyn/asyn_udp_socket.h"

#include <memory>

#include "asyn/asyn_frame.h"
#include "asyn/asyn_socket_common.h"

namespace Vantor::KQCP {

namespace {

// Payload of a posted UDP operation 1.
struct SendToRequest {
  std::uint32_t address;
  std::uint16_t port;
};

}  // namespace

AsynUdpSocket::AsynUdpSocket(IAsynHostUdpSocket* hostSocket) : hostSocket_(hostSocket) {
  AsynFrameHolder::Instance()->RegisterEvents(static_cast<IAsynMessageEvents*>(this));
}

AsynUdpSocket::~AsynUdpSocket() {
  AsynFrameHolder::Instance()->UnregisterEvents(static_cast<IAsynMessageEvents*>(this));
}

HRESULT AsynUdpSocket::Post(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
  return AsynFrameHolder::Instance()->PostAsynMessage(static_cast<IAsynMessageEvents*>(this), type,
                                                      value1, value2);
}

HRESULT AsynUdpSocket::RunDevice(std::int32_t type, IKQCPAsynIoOperation* operation) {
  IAsynHostOperation* host = HostOperationOf(operation);
  switch (type) {
    case kDeviceOp1:
      return hostSocket_->DeviceOp1(host);
    case kDeviceOp2:
      return hostSocket_->DeviceOp2(host);
    case kDeviceOp3:
      return hostSocket_->DeviceOp3(host);
    case kDeviceOp4:
      return hostSocket_->DeviceOp4(host);
    case kDeviceOp5:
      return hostSocket_->DeviceOp5();
    default:
      return S_OK;
  }
}

HRESULT AsynUdpSocket::Device(std::int32_t type, IKQCPAsynIoOperation* operation) {
  if (!operation && type != kDeviceOp5) return E_POINTER;
  if (AsynFrameHolder::Instance()->OnMessageThread()) return RunDevice(type, operation);
  return Post(type, reinterpret_cast<std::uintptr_t>(operation), 0);
}

HRESULT AsynUdpSocket::DeviceOp1(IKQCPAsynIoOperation* operation) {
  return Device(kDeviceOp1, operation);
}
HRESULT AsynUdpSocket::DeviceOp2(IKQCPAsynIoOperation* operation) {
  return Device(kDeviceOp2, operation);
}
HRESULT AsynUdpSocket::DeviceOp3(IKQCPAsynIoOperation* operation) {
  return Device(kDeviceOp3, operation);
}
HRESULT AsynUdpSocket::DeviceOp4(IKQCPAsynIoOperation* operation) {
  return Device(kDeviceOp4, operation);
}
HRESULT AsynUdpSocket::DeviceOp5() { return Device(kDeviceOp5, nullptr); }

HRESULT AsynUdpSocket::UdpOp1(std::uint32_t address, std::uint16_t port,
                              IKQCPAsynIoOperation* operation) {
  if (!operation) return E_POINTER;
  if (AsynFrameHolder::Instance()->OnMessageThread()) {
    return hostSocket_->UdpOp1(address, port, HostOperationOf(operation));
  }
  // The message owns the request once posted; OnMessage or OnMessageDiscarded frees it.
  auto* request = new SendToRequest{address, port};
  const HRESULT posted = Post(kUdpOp1, reinterpret_cast<std::uintptr_t>(operation),
                              reinterpret_cast<std::uintptr_t>(request));
  if (Failed(posted)) delete request;
  return posted;
}

HRESULT AsynUdpSocket::OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
  auto* operation = reinterpret_cast<IKQCPAsynIoOperation*>(value1);
  if (type == kUdpOp1) {
    std::unique_ptr<SendToRequest> request(reinterpret_cast<SendToRequest*>(value2));
    return hostSocket_->UdpOp1(request->address, request->port, HostOperationOf(operation));
  }
  return RunDevice(type, operation);
}

HRESULT AsynUdpSocket::OnMessageDiscarded(std::int32_t type, std::uintptr_t /*value1*/,
                                          std::uintptr_t value2) {
  if (type == kUdpOp1) delete reinterpret_cast<SendToRequest*>(value2);
  return S_OK;
}

}  // namespace Vantor::KQCP
