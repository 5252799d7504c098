// A host UDP socket wrapped for plug-ins, like the TCP wrapper; a posted UDP operation 1
// carries its own address and port, so several may be in flight at once.
#pragma once

#include <cstdint>

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn_host.h"

namespace Vantor::KQCP {

class AsynUdpSocket
    : public com::RefCounted<com::PlainObject, IKQCPAsynUdpSocket, IAsynMessageEvents> {
 public:
  enum Message : std::int32_t {
    kUdpOp1 = 0,
    kDeviceOp1 = 1,
    kDeviceOp2 = 2,
    kDeviceOp5 = 3,
    kDeviceOp3 = 4,
    kDeviceOp4 = 5,
  };

  explicit AsynUdpSocket(IAsynHostUdpSocket* hostSocket);
  ~AsynUdpSocket() override;

  HRESULT DeviceOp1(IKQCPAsynIoOperation* operation) override;
  HRESULT DeviceOp2(IKQCPAsynIoOperation* operation) override;
  HRESULT DeviceOp3(IKQCPAsynIoOperation* operation) override;
  HRESULT DeviceOp4(IKQCPAsynIoOperation* operation) override;
  HRESULT DeviceOp5() override;
  HRESULT UdpOp1(std::uint32_t address, std::uint16_t port,
                 IKQCPAsynIoOperation* operation) override;
  HRESULT UdpOp2(AsynValue, AsynValue) override { return E_NOTIMPL; }

  HRESULT OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) override;
  HRESULT OnMessageDiscarded(std::int32_t type, std::uintptr_t value1,
                             std::uintptr_t value2) override;

 private:
  HRESULT Device(std::int32_t type, IKQCPAsynIoOperation* operation);
  HRESULT RunDevice(std::int32_t type, IKQCPAsynIoOperation* operation);
  HRESULT Post(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2);

  com::ComPtr<IAsynHostUdpSocket> hostSocket_;
};

}  // namespace Vantor::KQCP
