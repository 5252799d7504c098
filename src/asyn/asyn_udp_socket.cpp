// UDP socket wrapper: UDP operation 1; the device operations come from the shared base.
#include "asyn/asyn_udp_socket.h"

#include <memory>
#include <new>

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
  auto* request = new (std::nothrow) SendToRequest{address, port};
  if (!request) return E_OUTOFMEMORY;
  const HRESULT posted = Post(kUdpOp1, reinterpret_cast<std::uintptr_t>(operation),
                              reinterpret_cast<std::uintptr_t>(request), operation);
  if (Failed(posted)) delete request;
  return posted;
}

HRESULT AsynUdpSocket::RunOwnMessage(std::int32_t /*type*/, std::uintptr_t value1,
                                     std::uintptr_t value2) {
  std::unique_ptr<SendToRequest> request(reinterpret_cast<SendToRequest*>(value2));
  if (!request) return E_POINTER;
  return hostSocket_->UdpOp1(request->address, request->port,
                             HostOperationOf(reinterpret_cast<IKQCPAsynIoOperation*>(value1)));
}

void AsynUdpSocket::DiscardPayload(std::int32_t type, std::uintptr_t value2) {
  if (type == kUdpOp1) delete reinterpret_cast<SendToRequest*>(value2);
}

}  // namespace Vantor::KQCP
