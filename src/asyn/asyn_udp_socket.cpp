// UDP socket wrapper: UDP operation 1; the device operations come from the shared base.
#include "asyn/asyn_udp_socket.h"

#include <memory>

namespace Vantor::KQCP {

namespace {

// Payload of a posted UDP operation 1.
struct SendToRequest {
  std::uint32_t address;
  std::uint16_t port;
};

}  // namespace

HRESULT AsynUdpSocket::UdpOp1(std::uint32_t address, std::uint16_t port,
                              IKQCPAsynIoOperation* operation) {
  if (!operation) return E_POINTER;
  if (OnMessageThread()) return hostSocket_->UdpOp1(address, port, HostOperationOf(operation));
  // The message owns the request once posted; OnMessage or OnMessageDiscarded frees it.
  auto* request = new SendToRequest{address, port};
  const HRESULT posted = Post(kUdpOp1, reinterpret_cast<std::uintptr_t>(operation),
                              reinterpret_cast<std::uintptr_t>(request));
  if (Failed(posted)) delete request;
  return posted;
}

HRESULT AsynUdpSocket::OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
  if (type == kUdpOp1) {
    std::unique_ptr<SendToRequest> request(reinterpret_cast<SendToRequest*>(value2));
    return Done(
        hostSocket_->UdpOp1(request->address, request->port,
                            HostOperationOf(reinterpret_cast<IKQCPAsynIoOperation*>(value1))));
  }
  return Done(RunDeviceMessage(type, value1));
}

HRESULT AsynUdpSocket::OnMessageDiscarded(std::int32_t type, std::uintptr_t /*value1*/,
                                          std::uintptr_t value2) {
  if (type == kUdpOp1) delete reinterpret_cast<SendToRequest*>(value2);
  return Done(S_OK);
}

}  // namespace Vantor::KQCP
