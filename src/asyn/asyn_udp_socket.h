// A host UDP socket wrapped for plug-ins, like the TCP wrapper; a posted UDP operation 1
// carries its own address and port, so several may be in flight at once.
#pragma once

#include <cstdint>

#include "asyn/asyn_device_socket.h"

namespace Vantor::KQCP {

class AsynUdpSocket : public AsynDeviceSocket<IKQCPAsynUdpSocket, IAsynHostUdpSocket> {
 public:
  enum Message : std::int32_t {
    kUdpOp1 = 0,
    kDeviceOp1 = 1,
    kDeviceOp2 = 2,
    kDeviceOp5 = 3,
    kDeviceOp3 = 4,
    kDeviceOp4 = 5,
  };

  AsynUdpSocket(IAsynIoHost* host, IAsynHostUdpSocket* hostSocket)
      : AsynDeviceSocket(host, hostSocket,
                         {kDeviceOp1, kDeviceOp2, kDeviceOp3, kDeviceOp4, kDeviceOp5}, kUdpOp1,
                         -1) {}

  HRESULT UdpOp1(std::uint32_t address, std::uint16_t port,
                 IKQCPAsynIoOperation* operation) override;
  HRESULT UdpOp2(AsynValue, AsynValue) override { return E_NOTIMPL; }

 protected:
  HRESULT RunOwnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) override;
  void DiscardPayload(std::int32_t type, std::uintptr_t value2) override;
};

}  // namespace Vantor::KQCP
