// Operations and sockets of the example host. Every socket request holds its operation and the
// caller's events target until its completion handler has run.
#include "asio_objects.h"

#include <cstring>
#include <string>

namespace example {

namespace {

AsioOperation* Of(IAsynHostOperation* operation) { return static_cast<AsioOperation*>(operation); }

}  // namespace

PendingRequest::PendingRequest(AsioOperation* operation)
    : operation_(operation), target_(operation->target_) {}

void PendingRequest::Complete(const asio::error_code& error, std::size_t bytes) const {
  operation_->Finish(StatusOf(error), bytes);
  target_->OnOperationEvent(static_cast<IAsynHostOperation*>(operation_.Get()));
}

PendingRequest AsioOperation::Begin() {
  status_ = kAsioPending;
  bytes_ = 0;
  peerAddress_ = asio::ip::address();
  peerPort_ = 0;
  return PendingRequest(this);
}

void AsioOperation::Finish(HRESULT status, std::size_t bytes) {
  status_ = status;
  bytes_ = static_cast<std::uint32_t>(bytes);
}

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
  if (address) {
    *reinterpret_cast<std::uint32_t*>(address) =
        peerAddress_.is_v4() ? peerAddress_.to_v4().to_uint() : 0;
  }
  if (port) *reinterpret_cast<std::uint16_t*>(port) = peerPort_;
  return S_OK;
}

HRESULT AsioOperation::Op10(AsynValue text, AsynValue capacity) {
  if (!text) return E_POINTER;
  return Guarded([&] {
    const std::string address = peerAddress_.to_string();
    if (address.size() >= capacity) return E_INVALIDARG;
    std::memcpy(reinterpret_cast<char*>(text), address.c_str(), address.size() + 1);
    return S_OK;
  });
}

// One connect request: its caller's operation, the close count it started under, and the
// deadline that ends it as timed out.
struct AsioTcpSocket::Connect {
  Connect(asio::io_context& context, PendingRequest request, std::uint64_t closes)
      : request(std::move(request)), closes(closes), deadline(context) {}
  PendingRequest request;
  std::uint64_t closes;
  asio::steady_timer deadline;
  bool timedOut = false;
  bool finished = false;
};

HRESULT AsioTcpSocket::TcpOp1(IAsynHostOperation* operation, std::int32_t hostLength,
                              const char* host, std::uint16_t port, AsynValue timeout) {
  if (!operation || !host || hostLength < 0) return E_POINTER;
  return Guarded([&] {
    auto connect = std::make_shared<Connect>(context_, Of(operation)->Begin(), closes_);
    Ref<AsioTcpSocket> self(this);
    if (timeout) {
      connect->deadline.expires_after(std::chrono::milliseconds(timeout));
      connect->deadline.async_wait([this, self, connect](const asio::error_code& error) {
        if (error || connect->finished) return;
        // Ends resolution or connection in progress; their handlers report the timeout.
        connect->timedOut = true;
        resolver_.cancel();
        asio::error_code ignored;
        socket_.close(ignored);
      });
    }
    // Either address family: the text may be an IPv4 or IPv6 address or a name.
    resolver_.async_resolve(
        std::string(host, static_cast<std::size_t>(hostLength)), std::to_string(port),
        [this, self, connect](const asio::error_code& error,
                              const asio::ip::tcp::resolver::results_type& peers) {
          if (error || connect->closes != closes_) return Finish(connect, error);
          ConnectTo(connect, peers);
        });
    return S_OK;
  });
}

void AsioTcpSocket::ConnectTo(const std::shared_ptr<Connect>& connect,
                              const asio::ip::tcp::resolver::results_type& peers) {
  Ref<AsioTcpSocket> self(this);
  try {
    asio::async_connect(
        socket_, peers,
        [this, self, connect](const asio::error_code& error, const asio::ip::tcp::endpoint& peer) {
          if (!error) connect->request.Operation().SetPeer(peer.address(), peer.port());
          Finish(connect, error);
        });
  } catch (const std::bad_alloc&) {
    Finish(connect, asio::error::no_memory);
  }
}

void AsioTcpSocket::Finish(const std::shared_ptr<Connect>& connect, asio::error_code error) {
  if (connect->finished) return;
  connect->finished = true;
  connect->deadline.cancel();
  if (connect->timedOut) {
    error = asio::error::timed_out;
  } else if (connect->closes != closes_) {
    error = asio::error::operation_aborted;  // closed meanwhile
  }
  connect->request.Complete(error, 0);
}

HRESULT AsioTcpSocket::DeviceOp1(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  return Guarded([&] {
    Ref<AsioTcpSocket> self(this);
    socket_.async_read_some(
        Of(operation)->Buffer(),
        [self, request = Of(operation)->Begin()](const asio::error_code& error, std::size_t bytes) {
          request.Complete(error, bytes);
        });
    return S_OK;
  });
}

HRESULT AsioTcpSocket::DeviceOp2(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  return Guarded([&] {
    Ref<AsioTcpSocket> self(this);
    asio::async_write(
        socket_, Of(operation)->Buffer(),
        [self, request = Of(operation)->Begin()](const asio::error_code& error, std::size_t bytes) {
          request.Complete(error, bytes);
        });
    return S_OK;
  });
}

HRESULT AsioTcpSocket::DeviceOp3(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  Of(operation)->Begin();
  asio::error_code error;
  auto peer = socket_.remote_endpoint(error);
  if (error) return StatusOf(error);
  Of(operation)->SetPeer(peer.address(), peer.port());
  return S_OK;
}

HRESULT AsioTcpSocket::DeviceOp4(IAsynHostOperation* /*operation*/) {
  asio::error_code error;
  socket_.shutdown(asio::ip::tcp::socket::shutdown_send, error);
  return StatusOf(error);
}

HRESULT AsioTcpSocket::DeviceOp5() {
  // Resolution, connection and every pending request end as cancelled.
  ++closes_;
  resolver_.cancel();
  asio::error_code error;
  socket_.close(error);
  return S_OK;
}

HRESULT AsioTcpSocket::TcpOp4(void* pointer) {
  if (!pointer) return E_POINTER;
  asio::error_code error;
  socket_.set_option(asio::ip::tcp::no_delay(*static_cast<int*>(pointer) != 0), error);
  return StatusOf(error);
}

bool AsioUdpSocket::EnsureOpen() {
  if (socket_.is_open()) return true;
  asio::error_code error;
  socket_.open(asio::ip::udp::v4(), error);
  return !error;
}

HRESULT AsioUdpSocket::DeviceOp3(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  if (!EnsureOpen()) return E_FAIL;
  asio::error_code error;
  socket_.bind({asio::ip::address_v4::loopback(), static_cast<std::uint16_t>(Of(operation)->Tag())},
               error);
  return StatusOf(error);
}

HRESULT AsioUdpSocket::DeviceOp4(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  Of(operation)->Begin();
  asio::error_code error;
  auto local = socket_.local_endpoint(error);
  if (error) return StatusOf(error);
  Of(operation)->SetPeer(local.address(), local.port());
  return S_OK;
}

HRESULT AsioUdpSocket::DeviceOp1(IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  if (!EnsureOpen()) return E_FAIL;
  return Guarded([&] {
    Ref<AsioUdpSocket> self(this);
    // Each receive has its own sender, so receives in flight at once do not share one.
    auto sender = std::make_shared<asio::ip::udp::endpoint>();
    socket_.async_receive_from(Of(operation)->Buffer(), *sender,
                               [self, sender, request = Of(operation)->Begin()](
                                   const asio::error_code& error, std::size_t bytes) {
                                 if (!error)
                                   request.Operation().SetPeer(sender->address(), sender->port());
                                 request.Complete(error, bytes);
                               });
    return S_OK;
  });
}

HRESULT AsioUdpSocket::UdpOp1(std::uint32_t address, std::uint16_t port,
                              IAsynHostOperation* operation) {
  if (!operation) return E_POINTER;
  if (!EnsureOpen()) return E_FAIL;
  return Guarded([&] {
    Ref<AsioUdpSocket> self(this);
    socket_.async_send_to(
        Of(operation)->Buffer(), {asio::ip::address_v4(address), port},
        [self, request = Of(operation)->Begin()](const asio::error_code& error, std::size_t bytes) {
          request.Complete(error, bytes);
        });
    return S_OK;
  });
}

HRESULT AsioUdpSocket::DeviceOp5() {
  asio::error_code error;
  socket_.close(error);
  return S_OK;
}

}  // namespace example
