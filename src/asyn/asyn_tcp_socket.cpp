// TCP socket wrapper: TCP operations 1 and 4; the device operations come from the shared base.
#include "asyn/asyn_tcp_socket.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace Vantor::KQCP {

namespace {

// Payload of a posted TCP operation 1.
struct ConnectRequest {
  std::string host;
  std::uint16_t port;
  AsynValue value;
};

}  // namespace

HRESULT AsynTcpSocket::TcpOp1(IKQCPAsynIoOperation* operation, const char* host, std::uint16_t port,
                              AsynValue value) {
  if (!operation || !host) return E_POINTER;
  if (OnMessageThread()) {
    return hostSocket_->TcpOp1(HostOperationOf(operation),
                               static_cast<std::int32_t>(std::strlen(host)), host, port, value);
  }
  // The message owns the request once posted; OnMessage or OnMessageDiscarded frees it.
  ConnectRequest* request = nullptr;
  try {
    request = new ConnectRequest{host, port, value};
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const HRESULT posted = Post(kTcpOp1, reinterpret_cast<std::uintptr_t>(operation),
                              reinterpret_cast<std::uintptr_t>(request), operation);
  if (Failed(posted)) delete request;
  return posted;
}

HRESULT AsynTcpSocket::TcpOp4(void* pointer) {
  if (OnMessageThread()) return hostSocket_->TcpOp4(pointer);
  return Succeeded(PostAndWait(kTcpOp4, reinterpret_cast<std::uintptr_t>(pointer), nullptr))
             ? S_OK
             : E_FAIL;
}

HRESULT AsynTcpSocket::RunOwnMessage(std::int32_t type, std::uintptr_t value1,
                                     std::uintptr_t value2) {
  if (type == kTcpOp4) return hostSocket_->TcpOp4(reinterpret_cast<void*>(value1));
  std::unique_ptr<ConnectRequest> request(reinterpret_cast<ConnectRequest*>(value2));
  if (!request) return E_POINTER;
  return hostSocket_->TcpOp1(HostOperationOf(reinterpret_cast<IKQCPAsynIoOperation*>(value1)),
                             static_cast<std::int32_t>(request->host.size()), request->host.data(),
                             request->port, request->value);
}

void AsynTcpSocket::DiscardPayload(std::int32_t type, std::uintptr_t value2) {
  if (type == kTcpOp1) delete reinterpret_cast<ConnectRequest*>(value2);
}

}  // namespace Vantor::KQCP
