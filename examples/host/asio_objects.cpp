// Operations and sockets of the example host. Every socket request keeps its operation alive
// until its completion handler has run.
#include "asio_objects.h"

namespace example {

namespace {

AsioOperation* Of(IAsynHostOperation* operation) { return static_cast<AsioOperation*>(operation); }

HRESULT ToResult(const asio::error_code& error) { return error ? E_FAIL : S_OK; }

}  // namespace

HRESULT AsioOperation::Op1(AsynValue address) {
  data_ = reinterpret_cast<void*>(address);
  return S_OK;
}

HRESULT AsioOperation::Op2(AsynValue length) {
  length_ = length;
  return S_OK;
}

HRESULT AsioOperation::Op4(AsynValue status, AsynValue bytes) {
  if (status) *reinterpret_cast<std::int32_t*>(status) = status_;
  if (bytes) *reinterpret_cast<std::uint32_t*>(bytes) = bytes_;
  return S_OK;
}

HRESULT AsioOperation::Op7(AsynValue tag) {
  tag_ = tag;
  return S_OK;
}

HRESULT AsioOperation::Op8(AsynValue address, AsynValue port) {
  if (address) *reinterpret_cast<std::uint32_t*>(address) = peerAddress_;
  if (port) *reinterpret_cast<std::uint16_t*>(port) = peerPort_;
  return S_OK;
}

void AsioOperation::Complete(const asio::error_code& error, std::size_t bytes) {
  status_ = ToResult(error);
  bytes_ = static_cast<std::uint32_t>(bytes);
  target_->OnOperationEvent(static_cast<IAsynHostOperation*>(this));
}

HRESULT AsioTcpSocket::TcpOp1(IAsynHostOperation* operation, std::int32_t hostLength,
                              const char* host, std::uint16_t port, AsynValue /*value*/) {
  if (!operation || !host || hostLength < 0) return E_POINTER;
  Ref<IAsynHostOperation> keep(operation);
  Ref<AsioTcpSocket> self(this);
  resolver_.async_resolve(
      asio::ip::tcp::v4(), std::string(host, static_cast<std::size_t>(hostLength)),
      std::to_string(port),
      [this, self, keep](const asio::error_code& error,
                         const asio::ip::tcp::resolver::results_type& results) {
        if (error) return Of(keep.Get())->Complete(error, 0);
        asio::async_connect(socket_, results,
                            [this, self, keep](const asio::error_code& connectError,
                                               const asio::ip::tcp::endpoint& peer) {
                              if (!connectError) {
                                Of(keep.Get())->SetPeer(peer.address().to_v4(), peer.port());
                              }
                              Of(keep.Get())->Complete(connectError, 0);
                            });
      });
  return S_OK;
}

HRESULT AsioTcpSocket::DeviceOp1(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  Ref<IAsynHostOperation> keep(operation);
  Ref<AsioTcpSocket> self(this);
  socket_.async_read_some(Of(operation)->Buffer(),
                          [self, keep](const asio::error_code& error, std::size_t bytes) {
                            Of(keep.Get())->Complete(error, bytes);
                          });
  return S_OK;
}

HRESULT AsioTcpSocket::DeviceOp2(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  Ref<IAsynHostOperation> keep(operation);
  Ref<AsioTcpSocket> self(this);
  asio::async_write(socket_, Of(operation)->Buffer(),
                    [self, keep](const asio::error_code& error, std::size_t bytes) {
                      Of(keep.Get())->Complete(error, bytes);
                    });
  return S_OK;
}

HRESULT AsioTcpSocket::DeviceOp3(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  asio::error_code error;
  auto peer = socket_.remote_endpoint(error);
  if (error) return E_FAIL;
  Of(operation)->SetPeer(peer.address().to_v4(), peer.port());
  return S_OK;
}

HRESULT AsioTcpSocket::DeviceOp4(IAsynHostOperation* /*operation*/) {
  asio::error_code error;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_send, error);
  return ToResult(error);
}

HRESULT AsioTcpSocket::DeviceOp5() {
  asio::error_code error;
  socket_.close(error);
  return S_OK;
}

HRESULT AsioTcpSocket::TcpOp4(void* pointer) {
  if (!pointer) return E_POINTER;
  asio::error_code error;
  socket_.set_option(asio::ip::tcp::no_delay(*static_cast<int*>(pointer) != 0), error);
  return ToResult(error);
}

bool AsioUdpSocket::EnsureOpen() {
  if (socket_.is_open()) return true;
  asio::error_code error;
  socket_.open(asio::ip::udp::v4(), error);
  return !error;
}

HRESULT AsioUdpSocket::DeviceOp3(IAsynHostOperation* operation) {
  if (!operation || !EnsureOpen()) return E_FAIL;
  asio::error_code error;
  socket_.bind({asio::ip::address_v4::loopback(), static_cast<std::uint16_t>(Of(operation)->Tag())},
               error);
  return ToResult(error);
}

HRESULT AsioUdpSocket::DeviceOp4(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  asio::error_code error;
  auto local = socket_.local_endpoint(error);
  if (error) return E_FAIL;
  Of(operation)->SetPeer(local.address().to_v4(), local.port());
  return S_OK;
}

HRESULT AsioUdpSocket::DeviceOp1(IAsynHostOperation* operation) {
  if (!operation || !EnsureOpen()) return E_FAIL;
  Ref<IAsynHostOperation> keep(operation);
  Ref<AsioUdpSocket> self(this);
  socket_.async_receive_from(Of(operation)->Buffer(), sender_,
                             [this, self, keep](const asio::error_code& error, std::size_t bytes) {
                               if (!error) {
                                 Of(keep.Get())->SetPeer(sender_.address().to_v4(), sender_.port());
                               }
                               Of(keep.Get())->Complete(error, bytes);
                             });
  return S_OK;
}

HRESULT AsioUdpSocket::UdpOp1(std::uint32_t address, std::uint16_t port,
                              IAsynHostOperation* operation) {
  if (!operation || !EnsureOpen()) return E_FAIL;
  Ref<IAsynHostOperation> keep(operation);
  Ref<AsioUdpSocket> self(this);
  socket_.async_send_to(Of(operation)->Buffer(), {asio::ip::address_v4(address), port},
                        [self, keep](const asio::error_code& error, std::size_t bytes) {
                          Of(keep.Get())->Complete(error, bytes);
                        });
  return S_OK;
}

HRESULT AsioUdpSocket::DeviceOp5() {
  asio::error_code error;
  socket_.close(error);
  return S_OK;
}

}  // namespace example
