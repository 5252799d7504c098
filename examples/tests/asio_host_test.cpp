// The example host's Asio service under the platform's frame, on 127.0.0.1 and ::1: TCP echo
// from a worker thread, UDP, statuses told apart, close and release with requests pending,
// timers, and shutdown with marshalled calls in flight. And a Lua chunk.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "asio_status.h"
#include "asyn/asyn_frame.h"
#include "example_host.h"
#include "frame_client.h"
#include "lua_engine.h"

namespace example {
namespace {

using namespace std::chrono_literals;

bool HasIpv6Loopback() {
  asio::io_context context;
  asio::ip::tcp::acceptor acceptor(context);
  asio::error_code error;
  acceptor.open(asio::ip::tcp::v6(), error);
  if (!error) acceptor.bind({asio::ip::address_v6::loopback(), 0}, error);
  return !error;
}

// Records operation events and timer ticks; a thread waits for the next event.
class Recorder : public Implements<IAsynIoOperationEvents, IAsynTimerEvents> {
 public:
  HRESULT OnOperationEvent(IUnknown*) override {
    std::lock_guard<std::mutex> guard(mutex_);
    ++events_;
    changed_.notify_all();
    return S_OK;
  }
  HRESULT OnTimer(std::uint32_t id) override {
    std::lock_guard<std::mutex> guard(mutex_);
    ticks_.push_back(id);
    changed_.notify_all();
    if (rearm > 0) {
      --rearm;
      return AsynFrameHolder::Instance()->SetTimer(this, 10, id, 0);
    }
    return S_OK;
  }
  bool NextEvent(std::chrono::milliseconds within = 10s) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, within, [&] { return events_ > taken_; })) return false;
    ++taken_;
    return true;
  }
  int Ticks(std::uint32_t id) {
    std::lock_guard<std::mutex> guard(mutex_);
    int n = 0;
    for (auto tick : ticks_) n += tick == id ? 1 : 0;
    return n;
  }
  bool WaitForTicks(std::uint32_t id, int atLeast) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] {
      int n = 0;
      for (auto tick : ticks_) n += tick == id ? 1 : 0;
      return n >= atLeast;
    });
  }
  // The reference count, read by adding and dropping one.
  ULONG References() {
    AddRef();
    return Release();
  }
  std::atomic<int> rearm{0};

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int events_ = 0, taken_ = 0;
  std::vector<std::uint32_t> ticks_;
};

HRESULT StatusOf(IKQCPAsynIoOperation* op, std::uint32_t* bytes = nullptr) {
  std::int32_t status = E_UNEXPECTED;
  std::uint32_t moved = 0;
  op->Op4(reinterpret_cast<AsynValue>(&status), reinterpret_cast<AsynValue>(&moved));
  if (bytes) *bytes = moved;
  return status;
}

class AsioHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = Ref<ExampleHost>(new ExampleHost(), false);
    ASSERT_EQ(host_->QueryHostInterface(IID_IAsynIoHost, io_.PutVoid()), S_OK);
    frame_ = AsynFrameHolder::Instance();
    ASSERT_EQ(frame_->Attach(io_.Get()), S_OK);
    recorder_ = Ref<Recorder>(new Recorder(), false);
  }
  // The frame lets the host go, so that its message thread ends with the test.
  void TearDown() override { frame_->Attach(nullptr); }
  Ref<IKQCPAsynIoOperation> Operation() {
    Ref<IKQCPAsynIoOperation> op;
    EXPECT_EQ(frame_->CreateOperation(recorder_.Get(), op.Put()), S_OK);
    return op;
  }
  Ref<IKQCPAsynTcpSocket> Tcp() {
    Ref<IKQCPAsynTcpSocket> socket;
    EXPECT_EQ(frame_->CreateTcpSocket(socket.Put(), nullptr), S_OK);
    return socket;
  }
  Ref<IKQCPAsynUdpSocket> Udp() {
    Ref<IKQCPAsynUdpSocket> socket;
    EXPECT_EQ(frame_->CreateUdpSocket(socket.Put(), nullptr), S_OK);
    return socket;
  }
  // Binds a UDP socket to a loopback port (0: any) and returns the port it got.
  std::uint16_t Bind(IKQCPAsynUdpSocket* socket, std::uint16_t port, HRESULT* bound = nullptr) {
    auto op = Operation();
    op->Op7(port);
    const HRESULT result = socket->DeviceOp3(op.Get());
    if (bound) *bound = result;
    std::uint16_t local = 0;
    if (Succeeded(result) && Succeeded(socket->DeviceOp4(op.Get()))) {
      op->Op8(0, reinterpret_cast<AsynValue>(&local));
    }
    return local;
  }

  Ref<ExampleHost> host_;
  Ref<IAsynIoHost> io_;
  KQCPAsynFrame_* frame_ = nullptr;
  Ref<Recorder> recorder_;
};

TEST_F(AsioHostTest, EchoesOverTcpFromAWorkerThreadOnBothLoopbacks) {
  struct Case {
    const char* host;
    asio::ip::address address;
    std::size_t size;
  } cases[] = {
      {"127.0.0.1", asio::ip::address_v4::loopback(), 1 << 20},
      {"::1", asio::ip::address_v6::loopback(), 256 * 1024},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    if (c.address.is_v6() && !HasIpv6Loopback()) {
      GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
    }
    EchoServer echo(host_->Io().Context(), c.address);
    std::vector<char> data(c.size);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
    std::string report;
    bool ok = false;
    std::thread worker([&] { ok = EchoThroughFrame(frame_, c.host, echo.Port(), data, report); });
    worker.join();
    EXPECT_TRUE(ok) << report;
  }
}

TEST_F(AsioHostTest, UdpSendAndReceiveEachWithItsOwnSenderAndABusyPortFails) {
  auto receiver = Udp();
  const std::uint16_t port = Bind(receiver.Get(), 0);
  ASSERT_NE(port, 0);  // read right after the bind, from this (worker) thread

  HRESULT bound = S_OK;
  auto rival = Udp();
  Bind(rival.Get(), port, &bound);
  EXPECT_EQ(bound, kAsioAddressInUse);

  // Two receives in flight at once, two senders.
  auto recorderA = Ref<Recorder>(new Recorder(), false);
  auto recorderB = Ref<Recorder>(new Recorder(), false);
  Ref<IKQCPAsynIoOperation> receiveA, receiveB;
  ASSERT_EQ(frame_->CreateOperation(recorderA.Get(), receiveA.Put()), S_OK);
  ASSERT_EQ(frame_->CreateOperation(recorderB.Get(), receiveB.Put()), S_OK);
  char bufferA[64] = {}, bufferB[64] = {};
  receiveA->Op1(reinterpret_cast<AsynValue>(bufferA));
  receiveA->Op2(sizeof bufferA);
  receiveB->Op1(reinterpret_cast<AsynValue>(bufferB));
  receiveB->Op2(sizeof bufferB);
  ASSERT_EQ(receiver->DeviceOp1(receiveA.Get()), S_OK);
  ASSERT_EQ(receiver->DeviceOp1(receiveB.Get()), S_OK);

  std::vector<std::uint16_t> senderPorts;
  for (const char* text : {"first", "second"}) {
    auto sender = Udp();
    senderPorts.push_back(Bind(sender.Get(), 0));
    auto send = Operation();
    send->Op1(reinterpret_cast<AsynValue>(text));
    send->Op2(std::strlen(text));
    ASSERT_EQ(sender->UdpOp1(0x7F000001, port, send.Get()), S_OK);
    ASSERT_TRUE(recorder_->NextEvent());
    std::uint32_t sent = 0;
    EXPECT_EQ(StatusOf(send.Get(), &sent), S_OK);
    EXPECT_EQ(sent, std::strlen(text));
  }
  ASSERT_TRUE(recorderA->NextEvent());
  ASSERT_TRUE(recorderB->NextEvent());
  std::uint16_t fromA = 0, fromB = 0;
  receiveA->Op8(0, reinterpret_cast<AsynValue>(&fromA));
  receiveB->Op8(0, reinterpret_cast<AsynValue>(&fromB));
  EXPECT_EQ(std::string(bufferA), "first");
  EXPECT_EQ(std::string(bufferB), "second");
  EXPECT_EQ(fromA, senderPorts[0]);
  EXPECT_EQ(fromB, senderPorts[1]);
}

// A listener that never accepts, with its one-place queue taken: a connect to it hangs.
class HangingListener {
 public:
  HangingListener() : listener_(context_), filler_(context_) {
    listener_.open(asio::ip::tcp::v4());
    listener_.bind({asio::ip::address_v4::loopback(), 0});
    listener_.listen(0);
    filler_.connect(listener_.local_endpoint());
  }
  std::uint16_t Port() const { return listener_.local_endpoint().port(); }

 private:
  asio::io_context context_;
  asio::ip::tcp::acceptor listener_;
  asio::ip::tcp::socket filler_;
};

TEST_F(AsioHostTest, StatusesTellEndOfStreamRefusedTimedOutAndClosedApart) {
  EchoServer echo(host_->Io().Context());
  HangingListener hanging;
  std::uint16_t closedPort = 0;
  {
    asio::io_context context;
    asio::ip::tcp::acceptor probe(context, {asio::ip::address_v4::loopback(), 0});
    closedPort = probe.local_endpoint().port();
  }
  char buffer[16];
  struct Case {
    const char* name;
    std::uint16_t port;
    AsynValue timeout;
    // After the connect: what is asked of the socket before the event that is checked.
    std::function<void(IKQCPAsynTcpSocket*, IKQCPAsynIoOperation*)> then;
    HRESULT expected;
  } cases[] = {
      {"end of stream", echo.Port(), 0,
       [&](IKQCPAsynTcpSocket* socket, IKQCPAsynIoOperation* op) {
         ASSERT_TRUE(recorder_->NextEvent());
         ASSERT_EQ(StatusOf(op), S_OK);
         EXPECT_EQ(socket->DeviceOp4(op), S_OK);  // our side ends; the echo server ends too
         op->Op1(reinterpret_cast<AsynValue>(buffer));
         op->Op2(sizeof buffer);
         EXPECT_EQ(StatusOf(op), S_OK);  // not yet reset: no request has started
         ASSERT_EQ(socket->DeviceOp1(op), S_OK);
       },
       kAsioEndOfStream},
      {"refused", closedPort, 0, nullptr, kAsioRefused},
      {"timed out", hanging.Port(), 200, nullptr, kAsioTimedOut},
      {"closed while connecting", hanging.Port(), 0,
       [&](IKQCPAsynTcpSocket* socket, IKQCPAsynIoOperation*) {
         std::this_thread::sleep_for(100ms);
         EXPECT_EQ(socket->DeviceOp5(), S_OK);
       },
       kAsioAborted},
      {"closed with a receive pending", echo.Port(), 0,
       [&](IKQCPAsynTcpSocket* socket, IKQCPAsynIoOperation* op) {
         ASSERT_TRUE(recorder_->NextEvent());
         op->Op1(reinterpret_cast<AsynValue>(buffer));
         op->Op2(sizeof buffer);
         ASSERT_EQ(socket->DeviceOp1(op), S_OK);
         EXPECT_EQ(socket->DeviceOp5(), S_OK);
       },
       kAsioAborted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto socket = Tcp();
    auto op = Operation();
    ASSERT_EQ(socket->TcpOp1(op.Get(), "127.0.0.1", c.port, c.timeout), S_OK);
    if (c.then) c.then(socket.Get(), op.Get());
    ASSERT_TRUE(recorder_->NextEvent());
    EXPECT_EQ(StatusOf(op.Get()), c.expected);
    std::uint32_t bytes = 1;
    StatusOf(op.Get(), &bytes);
    EXPECT_EQ(bytes, 0u);
  }
}

TEST_F(AsioHostTest, ClosedAndReleasedWithRequestsPendingNothingIsLeftBehind) {
  EchoServer echo(host_->Io().Context());
  HangingListener hanging;
  char buffer[16];
  struct Case {
    const char* name;
    std::uint16_t port;
    bool receive;  // connects first and leaves a receive pending
  } cases[] = {
      {"connect still pending", hanging.Port(), false},
      {"receive pending", echo.Port(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    {
      auto socket = Tcp();
      auto op = Operation();
      ASSERT_EQ(socket->TcpOp1(op.Get(), "127.0.0.1", c.port, 0), S_OK);
      if (c.receive) {
        ASSERT_TRUE(recorder_->NextEvent());
        op->Op1(reinterpret_cast<AsynValue>(buffer));
        op->Op2(sizeof buffer);
        ASSERT_EQ(socket->DeviceOp1(op.Get()), S_OK);
      }
      EXPECT_EQ(socket->DeviceOp5(), S_OK);
    }  // both released at once; the sanitizer build reports a use after free
    ASSERT_TRUE(recorder_->NextEvent());
  }
  // Every wrapper is gone once its last request ended: only the test holds the recorder.
  std::promise<void> drained;
  asio::post(host_->Io().Context(), [&] { drained.set_value(); });
  drained.get_future().wait();
  EXPECT_EQ(recorder_->References(), 1u);
}

TEST_F(AsioHostTest, TimersAreKilledOneByOneAndReplacedById) {
  // This thread is a worker: every call is marshalled onto the message thread.
  ASSERT_EQ(frame_->SetTimer(recorder_.Get(), 10, 1, 1), S_OK);
  ASSERT_EQ(frame_->SetTimer(recorder_.Get(), 10, 1, 1), S_OK);  // replaces the first
  ASSERT_EQ(frame_->SetTimer(recorder_.Get(), 10, 2, 1), S_OK);
  ASSERT_TRUE(recorder_->WaitForTicks(1, 2));
  ASSERT_TRUE(recorder_->WaitForTicks(2, 2));

  EXPECT_EQ(frame_->KillTimer(recorder_.Get(), 1), S_OK);
  const int afterKill = recorder_->Ticks(1);
  EXPECT_EQ(frame_->KillTimer(recorder_.Get(), 1), E_FAIL);  // there was only one
  const int twoBefore = recorder_->Ticks(2);
  ASSERT_TRUE(recorder_->WaitForTicks(2, twoBefore + 3));
  EXPECT_LE(recorder_->Ticks(1), afterKill + 1);

  EXPECT_EQ(frame_->KillTimers(recorder_.Get()), S_OK);
  EXPECT_EQ(recorder_->References(), 1u);  // no live timer holds the sink
  const int twoAfter = recorder_->Ticks(2);
  std::this_thread::sleep_for(100ms);
  EXPECT_LE(recorder_->Ticks(2), twoAfter + 1);
  EXPECT_EQ(frame_->KillTimers(recorder_.Get()), E_FAIL);

  // A one-shot re-armed from its own tick stays killable.
  recorder_->rearm = 1000;
  ASSERT_EQ(frame_->SetTimer(recorder_.Get(), 10, 3, 0), S_OK);
  ASSERT_TRUE(recorder_->WaitForTicks(3, 3));
  EXPECT_EQ(frame_->KillTimer(recorder_.Get(), 3), S_OK);
  const int threeAfter = recorder_->Ticks(3);
  std::this_thread::sleep_for(100ms);
  EXPECT_LE(recorder_->Ticks(3), threeAfter + 1);
  EXPECT_EQ(recorder_->References(), 1u);
}

TEST_F(AsioHostTest, ShutdownWakesEveryMarshalledCallerWithFailureWithinOneSecond) {
  auto socket = Udp();
  auto bindOp = Operation();
  std::promise<void> go;
  auto started = go.get_future().share();
  // Holds the message thread while the callers queue up, then shuts the host down from it.
  asio::post(host_->Io().Context(), [&, started] {
    started.wait();
    host_->Io().Shutdown();
  });
  std::vector<std::function<HRESULT()>> calls = {
      [&] { return frame_->SetTimer(recorder_.Get(), 1000, 9, 0); },
      [&] {
        Ref<IKQCPAsynIoOperation> op;
        return frame_->CreateOperation(recorder_.Get(), op.Put());
      },
      [&] {
        Ref<IKQCPAsynTcpSocket> tcp;
        return frame_->CreateTcpSocket(tcp.Put(), nullptr);
      },
      [&] { return frame_->KillTimers(recorder_.Get()); },
      [&] { return socket->DeviceOp3(bindOp.Get()); },  // waits for the host's verdict
  };
  std::vector<std::thread> callers;
  std::vector<HRESULT> results(calls.size(), S_OK);
  std::vector<std::chrono::steady_clock::time_point> returned(calls.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    callers.emplace_back([&, i] {
      results[i] = calls[i]();
      returned[i] = std::chrono::steady_clock::now();
    });
  }
  std::this_thread::sleep_for(200ms);  // let them post and wait
  const auto shutdown = std::chrono::steady_clock::now();
  go.set_value();
  for (auto& caller : callers) caller.join();
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(results[i], E_FAIL);
    EXPECT_LT(returned[i] - shutdown, 1s);
  }
  // Posts after shutdown are refused at once.
  Ref<IKQCPAsynIoOperation> late;
  EXPECT_EQ(frame_->CreateOperation(recorder_.Get(), late.Put()), E_FAIL);
  EXPECT_FALSE(late);
}

TEST(LuaEngine, RunsChunksAndReportsErrors) {
  Ref<LuaEngine> engine(new LuaEngine([](const std::string& name) { return name + "!"; }), false);
  const char* good = "x = kqcp_lookup('hi'); assert(x == 'hi!')";
  EXPECT_EQ(engine->Op1(reinterpret_cast<LuaValue>(good)), S_OK);
  const char* bad = "error('boom')";
  EXPECT_EQ(engine->Op1(reinterpret_cast<LuaValue>(bad)), E_FAIL);
  EXPECT_NE(engine->LastError().find("boom"), std::string::npos);
  EXPECT_EQ(engine->Op1(0), E_POINTER);
}

}  // namespace
}  // namespace example
