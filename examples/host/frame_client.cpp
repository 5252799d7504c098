// Timer and TCP round trip through the frame.
#include "frame_client.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "common/object.h"

namespace example {

namespace {

constexpr AsynValue kConnectTimeoutMs = 5000;

// Counts events of operations and timers, and lets a thread wait for the next one.
class Waiter : public Implements<IAsynIoOperationEvents, IAsynTimerEvents> {
 public:
  HRESULT OnOperationEvent(IUnknown*) override { return Signal(0); }
  HRESULT OnTimer(std::uint32_t value) override { return Signal(value); }
  bool Next(std::uint32_t* value = nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return seen_ > taken_; })) {
      return false;
    }
    ++taken_;
    if (value) *value = last_;
    return true;
  }

 private:
  HRESULT Signal(std::uint32_t value) {
    std::lock_guard<std::mutex> guard(mutex_);
    ++seen_;
    last_ = value;
    arrived_.notify_all();
    return S_OK;
  }
  std::mutex mutex_;
  std::condition_variable arrived_;
  int seen_ = 0, taken_ = 0;
  std::uint32_t last_ = 0;
};

// Runs one request on op and waits for its event; the bytes moved, or -1.
long Await(IKQCPAsynIoOperation* op, Waiter& waiter, HRESULT started) {
  if (Failed(started) || !waiter.Next()) return -1;
  std::int32_t status = E_FAIL;
  std::uint32_t bytes = 0;
  op->Op4(reinterpret_cast<AsynValue>(&status), reinterpret_cast<AsynValue>(&bytes));
  return Succeeded(status) ? static_cast<long>(bytes) : -1;
}

}  // namespace

bool WaitForTimer(IAsynIOFrame* frame, std::uint32_t milliseconds, std::string& report) {
  Ref<Waiter> waiter(new Waiter(), false);
  const auto start = std::chrono::steady_clock::now();
  if (Failed(frame->SetTimer(waiter.Get(), milliseconds, 42, 0))) {
    report = "SetTimer failed";
    return false;
  }
  std::uint32_t value = 0;
  if (!waiter->Next(&value)) {
    report = "timer never fired";
    return false;
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  // A one-shot timer ends when it has fired: there is nothing to kill.
  report =
      "timer " + std::to_string(value) + " fired after " + std::to_string(elapsed.count()) + " ms";
  return value == 42;
}

bool EchoThroughFrame(IAsynIOFrame* frame, const char* host, std::uint16_t port,
                      const std::vector<char>& data, std::string& report) {
  Ref<Waiter> waiter(new Waiter(), false);
  Ref<IKQCPAsynTcpSocket> socket;
  Ref<IKQCPAsynIoOperation> op;
  if (Failed(frame->CreateTcpSocket(socket.Put(), nullptr)) ||
      Failed(frame->CreateOperation(waiter.Get(), op.Put()))) {
    report = "cannot create a socket";
    return false;
  }
  // Closed on every way out, so a request still pending (after a timeout, say) ends at once.
  struct Closer {
    IKQCPAsynTcpSocket* socket;
    ~Closer() { socket->DeviceOp5(); }
  } closer{socket.Get()};
  const std::string peer = std::string(host) + " port " + std::to_string(port);
  if (Await(op.Get(), *waiter, socket->TcpOp1(op.Get(), host, port, kConnectTimeoutMs)) < 0) {
    report = "cannot connect to " + peer;
    return false;
  }
  op->Op1(reinterpret_cast<AsynValue>(data.data()));
  op->Op2(data.size());
  if (Await(op.Get(), *waiter, socket->DeviceOp2(op.Get())) != static_cast<long>(data.size())) {
    report = "send failed";
    return false;
  }
  std::vector<char> back(data.size());
  std::size_t got = 0;
  while (got < back.size()) {
    op->Op1(reinterpret_cast<AsynValue>(back.data() + got));
    op->Op2(back.size() - got);
    const long n = Await(op.Get(), *waiter, socket->DeviceOp1(op.Get()));
    if (n <= 0) break;  // failed, or the peer ended the stream
    got += static_cast<std::size_t>(n);
  }
  if (got != data.size() || back != data) {
    report = "echo came back with " + std::to_string(got) + " of " + std::to_string(data.size()) +
             " bytes";
    return false;
  }
  report = "echoed " + std::to_string(data.size()) + " bytes over " + peer;
  return true;
}

}  // namespace example
