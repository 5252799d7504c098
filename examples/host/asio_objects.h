// The example host's operation and socket objects (their operations are described in
// asio_io_host.h).
#pragma once

#include <asio.hpp>

#include "common/object.h"
#include "kqcp/asyn_host.h"

namespace example {

class AsioOperation : public HostObject<IAsynHostOperation> {
 public:
  explicit AsioOperation(IAsynIoOperationEvents* target) : target_(target) {}

  HRESULT Op1(AsynValue address) override;
  HRESULT Op2(AsynValue length) override;
  HRESULT Op3(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op4(AsynValue status, AsynValue bytes) override;
  HRESULT Op5(AsynValue) override { return E_NOTIMPL; }
  HRESULT Op6(AsynValue) override { return E_NOTIMPL; }
  HRESULT Op7(AsynValue tag) override;
  HRESULT Op8(AsynValue address, AsynValue port) override;
  HRESULT Op9() override { return E_NOTIMPL; }
  HRESULT Op10(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op11(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op12(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op13(AsynValue) override { return E_NOTIMPL; }
  HRESULT Op14(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op15(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op16() override { return E_NOTIMPL; }

  asio::mutable_buffer Buffer() const { return asio::buffer(data_, length_); }
  std::uintptr_t Tag() const { return tag_; }
  void SetPeer(const asio::ip::address_v4& address, std::uint16_t port) {
    peerAddress_ = address.to_uint();
    peerPort_ = port;
  }
  // Records the outcome and tells the caller, on the message thread.
  void Complete(const asio::error_code& error, std::size_t bytes);

 private:
  // Not a reference: the caller's operation holds this object.
  IAsynIoOperationEvents* target_;
  void* data_ = nullptr;
  std::size_t length_ = 0;
  std::uintptr_t tag_ = 0;
  HRESULT status_ = S_FALSE;
  std::uint32_t bytes_ = 0;
  std::uint32_t peerAddress_ = 0;
  std::uint16_t peerPort_ = 0;
};

class AsioTcpSocket : public HostObject<IAsynHostTcpSocket> {
 public:
  explicit AsioTcpSocket(asio::io_context& context) : socket_(context), resolver_(context) {}

  HRESULT DeviceOp1(IAsynHostOperation* operation) override;
  HRESULT DeviceOp2(IAsynHostOperation* operation) override;
  HRESULT DeviceOp3(IAsynHostOperation* operation) override;
  HRESULT DeviceOp4(IAsynHostOperation* operation) override;
  HRESULT DeviceOp5() override;
  HRESULT TcpOp1(IAsynHostOperation* operation, std::int32_t hostLength, const char* host,
                 std::uint16_t port, AsynValue value) override;
  HRESULT TcpOp2(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT TcpOp3(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT TcpOp4(void* pointer) override;
  HRESULT TcpOp5(AsynValue) override { return E_NOTIMPL; }

 private:
  asio::ip::tcp::socket socket_;
  asio::ip::tcp::resolver resolver_;
};

class AsioUdpSocket : public HostObject<IAsynHostUdpSocket> {
 public:
  explicit AsioUdpSocket(asio::io_context& context) : socket_(context) {}

  HRESULT DeviceOp1(IAsynHostOperation* operation) override;
  HRESULT DeviceOp2(IAsynHostOperation*) override { return E_NOTIMPL; }
  HRESULT DeviceOp3(IAsynHostOperation* operation) override;
  HRESULT DeviceOp4(IAsynHostOperation* operation) override;
  HRESULT DeviceOp5() override;
  HRESULT UdpOp1(std::uint32_t address, std::uint16_t port, IAsynHostOperation* operation) override;
  HRESULT UdpOp2(AsynValue, AsynValue) override { return E_NOTIMPL; }

 private:
  bool EnsureOpen();
  asio::ip::udp::socket socket_;
  asio::ip::udp::endpoint sender_;
};

}  // namespace example
