// A host TCP socket wrapped for plug-ins. Requests made on the host's message thread go to the
// host socket at once; from any other thread they are posted to the wrapper as messages, and
// the call returns the post's result. TCP operation 4 and device operations 3 and 4 wait for
// their own message to run and return the host's verdict.
#pragma once

#include <cstdint>

#include "asyn/asyn_device_socket.h"

namespace Vantor::KQCP {

class AsynTcpSocket : public AsynDeviceSocket<IKQCPAsynTcpSocket, IAsynHostTcpSocket> {
 public:
  // Message types of the posted requests.
  enum Message : std::int32_t {
    kTcpOp1 = 0,
    kDeviceOp1 = 1,
    kDeviceOp2 = 2,
    kDeviceOp5 = 3,
    kDeviceOp4 = 4,
    kDeviceOp3 = 5,
    kTcpOp4 = 12,
  };

  AsynTcpSocket(IAsynIoHost* host, IAsynHostTcpSocket* hostSocket)
      : AsynDeviceSocket(host, hostSocket,
                         {kDeviceOp1, kDeviceOp2, kDeviceOp3, kDeviceOp4, kDeviceOp5}, kTcpOp1,
                         kTcpOp4) {}

  HRESULT TcpOp1(IKQCPAsynIoOperation* operation, const char* host, std::uint16_t port,
                 AsynValue value) override;
  HRESULT TcpOp2(AsynValue, AsynValue) override { return S_OK; }
  HRESULT TcpOp3(AsynValue, AsynValue) override { return S_OK; }
  HRESULT TcpOp4(void* pointer) override;
  HRESULT TcpOp5(AsynValue) override { return S_OK; }

 protected:
  HRESULT RunOwnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) override;
  void DiscardPayload(std::int32_t type, std::uintptr_t value2) override;
};

}  // namespace Vantor::KQCP
