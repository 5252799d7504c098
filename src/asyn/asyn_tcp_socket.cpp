// TCP socket wrapper: TCP operations 1 and 4; the device operations come from the shared base.
#include "asyn/asyn_tcp_socket.h"

#include <memory>
#include <string>

#include "os/one_shot_event.h"

namespace Vantor::KQCP {

namespace {

// Payload of a posted TCP operation 1.
struct ConnectRequest {
  std::string host;
  std::uint16_t port;
  AsynValue value;
};

// A posted TCP operation 4: its caller waits for this very message.
struct SyncRequest {
  bool succeeded = false;
  os::OneShotEvent done;
};

}  // namespace

HRESULT AsynTcpSocket::TcpOp1(IKQCPAsynIoOperation* operation, const char* host, std::uint16_t port,
                              AsynValue value) {
  if (!operation || !host) return E_POINTER;
  if (OnMessageThread()) {
    const std::string text(host);
    return hostSocket_->TcpOp1(HostOperationOf(operation), static_cast<std::int32_t>(text.size()),
                               text.data(), port, value);
  }
  // The message owns the request once posted; OnMessage or OnMessageDiscarded frees it.
  auto* request = new ConnectRequest{host, port, value};
  const HRESULT posted = Post(kTcpOp1, reinterpret_cast<std::uintptr_t>(operation),
                              reinterpret_cast<std::uintptr_t>(request));
  if (Failed(posted)) delete request;
  return posted;
}

HRESULT AsynTcpSocket::TcpOp4(void* pointer) {
  if (OnMessageThread()) return hostSocket_->TcpOp4(pointer);
  SyncRequest request;
  if (Failed(Post(kTcpOp4, reinterpret_cast<std::uintptr_t>(pointer),
                  reinterpret_cast<std::uintptr_t>(&request)))) {
    return E_FAIL;
  }
  request.done.Wait();
  return request.succeeded ? S_OK : E_FAIL;
}

HRESULT AsynTcpSocket::OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
  if (type == kTcpOp1) {
    std::unique_ptr<ConnectRequest> request(reinterpret_cast<ConnectRequest*>(value2));
    return Done(
        hostSocket_->TcpOp1(HostOperationOf(reinterpret_cast<IKQCPAsynIoOperation*>(value1)),
                            static_cast<std::int32_t>(request->host.size()), request->host.data(),
                            request->port, request->value));
  }
  if (type == kTcpOp4) {
    auto* request = reinterpret_cast<SyncRequest*>(value2);
    request->succeeded = Succeeded(hostSocket_->TcpOp4(reinterpret_cast<void*>(value1)));
    request->done.Set();
    return Done(S_OK);
  }
  return Done(RunDeviceMessage(type, value1));
}

HRESULT AsynTcpSocket::OnMessageDiscarded(std::int32_t type, std::uintptr_t /*value1*/,
                                          std::uintptr_t value2) {
  if (type == kTcpOp1) {
    delete reinterpret_cast<ConnectRequest*>(value2);
  } else if (type == kTcpOp4) {
    // Its caller learns that the request never ran.
    reinterpret_cast<SyncRequest*>(value2)->done.Set();
  }
  return Done(S_OK);
}

}  // namespace Vantor::KQCP
