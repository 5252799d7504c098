// TCP socket wrapper.
#include "asyn/asyn_tcp_socket.h"

#include <memory>

#include "asyn/asyn_frame.h"
#include "asyn/asyn_socket_common.h"
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

AsynTcpSocket::AsynTcpSocket(IAsynHostTcpSocket* hostSocket) : hostSocket_(hostSocket) {
  AsynFrameHolder::Instance()->RegisterEvents(static_cast<IAsynMessageEvents*>(this));
}

AsynTcpSocket::~AsynTcpSocket() {
  AsynFrameHolder::Instance()->UnregisterEvents(static_cast<IAsynMessageEvents*>(this));
}

HRESULT AsynTcpSocket::Post(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
  return AsynFrameHolder::Instance()->PostAsynMessage(static_cast<IAsynMessageEvents*>(this), type,
                                                      value1, value2);
}

HRESULT AsynTcpSocket::RunDevice(std::int32_t type, IKQCPAsynIoOperation* operation) {
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

HRESULT AsynTcpSocket::Device(std::int32_t type, IKQCPAsynIoOperation* operation) {
  if (!operation && type != kDeviceOp5) return E_POINTER;
  if (AsynFrameHolder::Instance()->OnMessageThread()) return RunDevice(type, operation);
  return Post(type, reinterpret_cast<std::uintptr_t>(operation), 0);
}

HRESULT AsynTcpSocket::DeviceOp1(IKQCPAsynIoOperation* operation) {
  return Device(kDeviceOp1, operation);
}
HRESULT AsynTcpSocket::DeviceOp2(IKQCPAsynIoOperation* operation) {
  return Device(kDeviceOp2, operation);
}
HRESULT AsynTcpSocket::DeviceOp3(IKQCPAsynIoOperation* operation) {
  return Device(kDeviceOp3, operation);
}
HRESULT AsynTcpSocket::DeviceOp4(IKQCPAsynIoOperation* operation) {
  return Device(kDeviceOp4, operation);
}
HRESULT AsynTcpSocket::DeviceOp5() { return Device(kDeviceOp5, nullptr); }

HRESULT AsynTcpSocket::TcpOp1(IKQCPAsynIoOperation* operation, const char* host, std::uint16_t port,
                              AsynValue value) {
  if (!operation || !host) return E_POINTER;
  if (AsynFrameHolder::Instance()->OnMessageThread()) {
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
  if (AsynFrameHolder::Instance()->OnMessageThread()) return hostSocket_->TcpOp4(pointer);
  SyncRequest request;
  if (Failed(Post(kTcpOp4, reinterpret_cast<std::uintptr_t>(pointer),
                  reinterpret_cast<std::uintptr_t>(&request)))) {
    return E_FAIL;
  }
  request.done.Wait();
  return request.succeeded ? S_OK : E_FAIL;
}

HRESULT AsynTcpSocket::OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
  auto* operation = reinterpret_cast<IKQCPAsynIoOperation*>(value1);
  switch (type) {
    case kTcpOp1: {
      std::unique_ptr<ConnectRequest> request(reinterpret_cast<ConnectRequest*>(value2));
      return hostSocket_->TcpOp1(HostOperationOf(operation),
                                 static_cast<std::int32_t>(request->host.size()),
                                 request->host.data(), request->port, request->value);
    }
    case kTcpOp4: {
      auto* request = reinterpret_cast<SyncRequest*>(value2);
      request->succeeded = Succeeded(hostSocket_->TcpOp4(reinterpret_cast<void*>(value1)));
      request->done.Set();
      return S_OK;
    }
    default:
      return RunDevice(type, operation);
  }
}

HRESULT AsynTcpSocket::OnMessageDiscarded(std::int32_t type, std::uintptr_t /*value1*/,
                                          std::uintptr_t value2) {
  if (type == kTcpOp1) {
    delete reinterpret_cast<ConnectRequest*>(value2);
  } else if (type == kTcpOp4) {
    // Its caller learns that the request never ran.
    auto* request = reinterpret_cast<SyncRequest*>(value2);
    request->succeeded = false;
    request->done.Set();
  }
  return S_OK;
}

}  // namespace Vantor::KQCP
