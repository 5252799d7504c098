// The example host's asynchronous I/O service on standalone Asio: one message thread running
// an io_context, posted messages, timers, and TCP (IPv4 and IPv6) and UDP (IPv4) sockets.
//
// What the numbered operations mean in this host (values are AsynValue unless noted):
//
// Operation object (IKQCPAsynIoOperation / IAsynHostOperation), one request at a time:
//   Op1(address)       the request's buffer: where data is sent from or received into
//   Op2(length)        the buffer's length in bytes
//   Op4(status*, n*)   writes the last request's status (below) to the std::int32_t at status*
//                      and the bytes it moved to the std::uint32_t at n*; a new request starts
//                      again from kAsioPending and 0
//   Op7(tag)           a number the caller keeps with the request; a UDP bind uses it as port
//   Op8(address*, port*)  the peer of the last request: IPv4 address (host order; 0 for an
//                      IPv6 peer) to the std::uint32_t at address*, port to the std::uint16_t
//                      at port*
//   Op10(text*, capacity)  the peer's address as text ("127.0.0.1", "::1"), NUL-terminated;
//                      E_INVALIDARG when it does not fit
//   every other number E_NOTIMPL.
//   The event (OnOperationEvent) arrives on the message thread when a request has finished.
//   The caller may release its operation at any time: a pending request holds what it needs.
//
// Statuses (asio_status.h): S_OK; kAsioEndOfStream (S_FALSE: the peer closed, 0 bytes);
// kAsioAborted (the socket was closed); kAsioRefused; kAsioReset; kAsioTimedOut;
// kAsioAddressInUse; kAsioHostNotFound; kAsioUnreachable; E_OUTOFMEMORY; E_FAIL otherwise.
// Calls that answer at once return the same statuses.
//
// TCP socket (IKQCPAsynTcpSocket):
//   TcpOp1(op, host, port, timeout)  connect to host (IPv4 or IPv6 text, or a name) and port;
//                  timeout in milliseconds, 0 for none (kAsioTimedOut); event
//   DeviceOp1(op)  receive: reads what has arrived, up to the buffer's length; event
//   DeviceOp2(op)  send: writes the whole buffer; event
//   DeviceOp3(op)  peer address into the operation at once (Op8, Op10 read it); no event
//   DeviceOp4(op)  shuts the sending side down; no event
//   DeviceOp5()    closes the socket: resolution, connection and pending requests end with
//                  kAsioAborted
//   TcpOp4(int*)   sets TCP_NODELAY to *int (synchronous)
//
// UDP socket (IKQCPAsynUdpSocket), IPv4 (the frame's UDP address is 32 bits):
//   DeviceOp3(op)  binds to 127.0.0.1 and the port in the operation's tag (0: any); no event
//   UdpOp1(address, port, op)  sends the buffer as one datagram to address:port; event
//   DeviceOp1(op)  receives one datagram into the buffer; Op8 then names its sender; event
//   DeviceOp4(op)  the local port into the operation (Op8); no event
//   DeviceOp5()    closes the socket
//
// Timers: SetTimer(sink, milliseconds, id, repeat) fires sink->OnTimer(id) after the interval,
// again and again while repeat is not 0; setting a live id of the same sink again replaces it.
// KillTimer(sink, id) and KillTimers(sink) stop them; no tick arrives after a kill. The service
// holds the sink while it has a live timer for it.
//
// Shutdown refuses new posts, hands every queued message to OnMessageDiscarded (so callers
// waiting on them wake), ends every timer and stops the message thread.
#pragma once

#include <asio.hpp>
#include <memory>
#include <thread>

#include "asio_service.h"
#include "common/object.h"
#include "kqcp/asyn_host.h"

namespace example {

class AsioIoHost : public Implements<IAsynIoHost, IAsynUdpHost> {
 public:
  AsioIoHost();
  ~AsioIoHost() override;

  HRESULT SetTimer(IAsynTimerEvents* sink, std::uint32_t milliseconds, std::uint32_t id,
                   std::uint32_t repeat) override;
  HRESULT KillTimer(IAsynTimerEvents* sink, std::uint32_t id) override;
  HRESULT KillTimers(IAsynTimerEvents* sink) override;
  HRESULT RegisterEvents(IAsynMessageEvents* target) override;
  HRESULT UnregisterEvents(IAsynMessageEvents* target) override;
  HRESULT PostAsynMessage(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
                          std::uintptr_t value2) override;
  HRESULT Op7(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
              std::uintptr_t value2) override;
  HRESULT IsMessageThread() override;
  HRESULT CreateOperation(IAsynIoOperationEvents* target, IAsynHostOperation** operation) override;
  HRESULT CreateTcpSocket(IAsynHostTcpSocket** socket) override;
  HRESULT CreateProxyTcpSocket(IAsynHostTcpSocket* socket, std::int32_t kind,
                               std::int32_t serverLength, const char* server, std::uint16_t port,
                               std::int32_t userLength, const char* user,
                               std::int32_t passwordLength, const char* password,
                               IAsynHostTcpSocket** proxySocket) override;
  HRESULT CreateUdpSocket(IAsynHostUdpSocket** socket) override;
  HRESULT CreateProxyUdpSocket(std::int32_t serverLength, const char* server, std::uint16_t port,
                               std::int32_t userLength, const char* user,
                               std::int32_t passwordLength, const char* password,
                               IAsynHostUdpSocket** socket) override;

  asio::io_context& Context() { return service_->Context(); }
  // Refuses new posts, discards what is queued and stops the message thread; waits for it
  // unless called on it.
  void Shutdown();

 private:
  std::shared_ptr<AsioService> service_;
  std::thread thread_;
};

}  // namespace example
