// Host object and echo server of the example host.
#include "example_host.h"

namespace example {

ExampleHost::ExampleHost() : io_(new AsioIoHost(), false) {}

HRESULT ExampleHost::QueryHostInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IAsynIoHost) {
    io_->AddRef();
    *out = static_cast<IAsynIoHost*>(io_.Get());
    return S_OK;
  }
  if (iid == IID_IPlatformHostObject) {
    AddRef();
    *out = static_cast<IUnknown*>(this);
    return S_OK;
  }
  return E_NOINTERFACE;
}

PlatformStop::~PlatformStop() {
  // Bounded waits: a worker stuck in a command must not keep the process from ending.
  constexpr std::uint32_t kPatienceMs = 10000;
  Ref<IWorkshop> workshop;
  if (platform_->GetWorkshop(workshop.Put()) == S_OK && workshop->Stop() == S_OK) {
    workshop->Wait(kPatienceMs);
  }
  Ref<IShareSessionManager> sessions;
  if (platform_->GetShareSessionManager(sessions.Put()) == S_OK && sessions->Stop() == S_OK) {
    sessions->WaitForStop(kPatienceMs);
  }
  host_.Io().Shutdown();
}

EchoServer::EchoServer(asio::io_context& context, const asio::ip::address& address)
    : acceptor_(context, {address, 0}) {
  port_ = acceptor_.local_endpoint().port();
  Accept();
}

namespace {

struct EchoSession : std::enable_shared_from_this<EchoSession> {
  explicit EchoSession(asio::ip::tcp::socket s) : socket(std::move(s)) {}
  void Read() {
    auto self = shared_from_this();
    socket.async_read_some(
        asio::buffer(data), [self](const asio::error_code& error, std::size_t n) {
          if (error) return;
          asio::async_write(self->socket, asio::buffer(self->data, n),
                            [self](const asio::error_code& writeError, std::size_t) {
                              if (!writeError) self->Read();
                            });
        });
  }
  asio::ip::tcp::socket socket;
  char data[16384];
};

}  // namespace

void EchoServer::Accept() {
  acceptor_.async_accept([this](const asio::error_code& error, asio::ip::tcp::socket socket) {
    if (error) return;
    std::make_shared<EchoSession>(std::move(socket))->Read();
    Accept();
  });
}

}  // namespace example
