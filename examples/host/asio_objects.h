// The example host's operation and socket objects (their operations are described in
// asio_io_host.h).
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <memory>

#include "asio_status.h"
#include "common/object.h"
#include "kqcp/asyn_host.h"

namespace example {

class AsioOperation;

// What a request in progress holds until its event has been delivered: the host operation and
// the caller's events target, which may be the only references left once the caller has let
// its operation go.
class PendingRequest {
 public:
  explicit PendingRequest(AsioOperation* operation);
  // Records the outcome and tells the caller, on the message thread.
  void Complete(const asio::error_code& error, std::size_t bytes) const;
  AsioOperation& Operation() const { return *operation_.Get(); }

 private:
  Ref<AsioOperation> operation_;
  Ref<IAsynIoOperationEvents> target_;
};

class AsioOperation : public Implements<IAsynHostOperation> {
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
  HRESULT Op10(AsynValue text, AsynValue capacity) override;
  HRESULT Op11(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op12(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op13(AsynValue) override { return E_NOTIMPL; }
  HRESULT Op14(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op15(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT Op16() override { return E_NOTIMPL; }

  // Starts a request: the last one's status, byte count and peer are forgotten.
  PendingRequest Begin();
  asio::mutable_buffer Buffer() const { return asio::buffer(data_, length_); }
  std::uintptr_t Tag() const { return tag_; }
  void SetPeer(const asio::ip::address& address, std::uint16_t port) {
    peerAddress_ = address;
    peerPort_ = port;
  }

 private:
  friend class PendingRequest;
  void Finish(HRESULT status, std::size_t bytes);

  // Not a reference: the caller's operation holds this object. A pending request holds the
  // target instead.
  IAsynIoOperationEvents* target_;
  void* data_ = nullptr;
  std::size_t length_ = 0;
  std::uintptr_t tag_ = 0;
  HRESULT status_ = kAsioPending;
  std::uint32_t bytes_ = 0;
  asio::ip::address peerAddress_;
  std::uint16_t peerPort_ = 0;
};

class AsioTcpSocket : public Implements<IAsynHostTcpSocket> {
 public:
  explicit AsioTcpSocket(asio::io_context& context)
      : context_(context), socket_(context), resolver_(context) {}

  HRESULT DeviceOp1(IAsynHostOperation* operation) override;
  HRESULT DeviceOp2(IAsynHostOperation* operation) override;
  HRESULT DeviceOp3(IAsynHostOperation* operation) override;
  HRESULT DeviceOp4(IAsynHostOperation* operation) override;
  HRESULT DeviceOp5() override;
  HRESULT TcpOp1(IAsynHostOperation* operation, std::int32_t hostLength, const char* host,
                 std::uint16_t port, AsynValue timeout) override;
  HRESULT TcpOp2(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT TcpOp3(AsynValue, AsynValue) override { return E_NOTIMPL; }
  HRESULT TcpOp4(void* pointer) override;
  HRESULT TcpOp5(AsynValue) override { return E_NOTIMPL; }

 private:
  struct Connect;
  void ConnectTo(const std::shared_ptr<Connect>& connect,
                 const asio::ip::tcp::resolver::results_type& peers);
  void Finish(const std::shared_ptr<Connect>& connect, asio::error_code error);

  asio::io_context& context_;
  asio::ip::tcp::socket socket_;
  asio::ip::tcp::resolver resolver_;
  // Counts closes, so that a connect step started before a close ends as cancelled.
  std::uint64_t closes_ = 0;
};

class AsioUdpSocket : public Implements<IAsynHostUdpSocket> {
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
};

}  // namespace example
