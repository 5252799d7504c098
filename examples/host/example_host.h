// The example host application's side of the platform: its host object (IPlatformHost), which
// hands the platform the Asio I/O service, and a TCP echo server on loopback for the demo.
#pragma once

#include <memory>

#include "asio_io_host.h"
#include "common/object.h"
#include "kqcp/platform.h"

namespace example {

class ExampleHost : public Implements<IPlatformHost> {
 public:
  ExampleHost();
  HRESULT QueryHostInterface(REFIID iid, void** out) override;
  AsioIoHost& Io() { return *io_.Get(); }

 private:
  Ref<AsioIoHost> io_;
};

// Stops what the host's platform started, so that the process can end with a normal exit: the
// workshop's workers (Stop, Wait), the share-session thread (Stop, WaitForStop) and the host's
// message thread. Runs when it goes out of scope, on every way out.
class PlatformStop {
 public:
  PlatformStop(IKQCommunityPlatform* platform, ExampleHost& host)
      : platform_(platform), host_(host) {}
  ~PlatformStop();
  PlatformStop(const PlatformStop&) = delete;
  PlatformStop& operator=(const PlatformStop&) = delete;

 private:
  IKQCommunityPlatform* platform_;
  ExampleHost& host_;
};

// Echoes every byte it receives on a loopback address (127.0.0.1 unless given), on the I/O
// service's message thread.
class EchoServer {
 public:
  explicit EchoServer(asio::io_context& context,
                      const asio::ip::address& address = asio::ip::address_v4::loopback());
  std::uint16_t Port() const { return port_; }

 private:
  void Accept();
  asio::ip::tcp::acceptor acceptor_;
  std::uint16_t port_ = 0;
};

}  // namespace example
