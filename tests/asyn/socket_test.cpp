// Socket wrappers against the test host: direct calls on the message thread, posted requests
// from other threads, the synchronous TCP operation 4, and discarded messages.
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>

#include "asyn/asyn_frame.h"
#include "asyn/asyn_operation.h"
#include "asyn/asyn_tcp_socket.h"
#include "test_host.h"

namespace kqcp_test {
namespace {

class NullEvents : public com::RefCounted<com::ComponentObject, IAsynIoOperationEvents> {
 public:
  HRESULT OnOperationEvent(IUnknown*) override { return S_OK; }
};

class SocketTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = com::ComPtr<TestHost>::Adopt(com::MakeObject<TestHost>());
    frame_ = AsynFrameHolder::Instance();
    ASSERT_EQ(frame_->Attach(host_.Get()), S_OK);
    ASSERT_EQ(frame_->CreateTcpSocket(tcp_.Put(), nullptr), S_OK);
    ASSERT_EQ(frame_->CreateUdpSocket(udp_.Put(), nullptr), S_OK);
    events_ = com::ComPtr<NullEvents>::Adopt(com::MakeObject<NullEvents>());
    ASSERT_EQ(frame_->CreateOperation(events_.Get(), operation_.Put()), S_OK);
    operation_->GetHostOperation(&hostOperation_);
  }
  // Blocks the message thread until the returned promise is set.
  std::promise<void> BlockMessageThread() {
    std::promise<void> release;
    auto released = release.get_future().share();
    std::promise<void> blocked;
    host_->Enqueue([&blocked, released] {
      blocked.set_value();
      released.wait();
    });
    blocked.get_future().wait();
    return release;
  }
  // Waits until the message thread has run everything queued so far.
  void Drain() {
    host_->RunOnMessageThread([] {});
  }
  std::uintptr_t HostOp() const { return reinterpret_cast<std::uintptr_t>(hostOperation_); }

  com::ComPtr<TestHost> host_;
  KQCPAsynFrame_* frame_ = nullptr;
  com::ComPtr<IKQCPAsynTcpSocket> tcp_;
  com::ComPtr<IKQCPAsynUdpSocket> udp_;
  com::ComPtr<NullEvents> events_;
  com::ComPtr<IKQCPAsynIoOperation> operation_;
  IAsynHostOperation* hostOperation_ = nullptr;
};

TEST_F(SocketTest, DeviceRequestsFromAnotherThreadArePostedWithTheirMessageTypes) {
  struct Case {
    HRESULT (IKQCPAsynIoDevice::*call)(IKQCPAsynIoOperation*);
    std::uintptr_t tcpType, udpType;
    const char* tcpHost;
    const char* udpHost;
  } cases[] = {
      {&IKQCPAsynIoDevice::DeviceOp1, 1, 1, "device1", "udp-device1"},
      {&IKQCPAsynIoDevice::DeviceOp2, 2, 2, "device2", "udp-device2"},
      {&IKQCPAsynIoDevice::DeviceOp3, 5, 4, "device3", "udp-device3"},
      {&IKQCPAsynIoDevice::DeviceOp4, 4, 5, "device4", "udp-device4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tcpHost);
    const auto postsBefore = host_->journal.Calls("Post").size();
    EXPECT_EQ((tcp_.Get()->*c.call)(operation_.Get()), S_OK);
    EXPECT_EQ((udp_.Get()->*c.call)(operation_.Get()), S_OK);
    Drain();
    auto posts = host_->journal.Calls("Post");
    ASSERT_EQ(posts.size(), postsBefore + 2);
    EXPECT_EQ(posts[postsBefore].values[1], c.tcpType);
    EXPECT_EQ(posts[postsBefore + 1].values[1], c.udpType);
    auto tcpCalls = host_->journal.Calls(c.tcpHost);
    ASSERT_EQ(tcpCalls.size(), 1u);
    EXPECT_EQ(tcpCalls[0].values[0], HostOp());
    EXPECT_TRUE(tcpCalls[0].onMessageThread);
    EXPECT_EQ(host_->journal.Count(c.udpHost), 1u);
  }
}

TEST_F(SocketTest, PostedRequestReturnsBeforeTheHostSocketIsCalled) {
  auto release = BlockMessageThread();
  EXPECT_EQ(tcp_->DeviceOp5(), S_OK);
  EXPECT_EQ(host_->journal.Count("device5"), 0u);
  release.set_value();
  Drain();
  EXPECT_EQ(host_->journal.Count("device5"), 1u);
  host_->refusePosts = true;
  EXPECT_EQ(tcp_->DeviceOp5(), E_FAIL);
}

TEST_F(SocketTest, WrapperReleasedRightAfterAPostedRequestLivesUntilItRan) {
  auto release = BlockMessageThread();
  EXPECT_EQ(tcp_->DeviceOp5(), S_OK);
  tcp_.Reset();  // the caller lets go while its request is still queued
  EXPECT_EQ(host_->journal.Count("UnregisterEvents"), 0u);
  release.set_value();
  Drain();
  EXPECT_EQ(host_->journal.Count("device5"), 1u);
  EXPECT_EQ(host_->journal.Count("UnregisterEvents"), 1u);
}

TEST_F(SocketTest, TcpOp1CarriesTheHostTextByLength) {
  HRESULT direct = E_FAIL;
  host_->RunOnMessageThread([&] { direct = tcp_->TcpOp1(operation_.Get(), "abc", 80, 5); });
  EXPECT_EQ(direct, S_OK);
  EXPECT_EQ(tcp_->TcpOp1(operation_.Get(), "example", 443, 6), S_OK);
  Drain();
  auto calls = host_->journal.Calls("tcp1");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].values[1], 3u);
  EXPECT_EQ(calls[0].text, "abc");
  EXPECT_EQ(calls[0].values[2], 80u);
  EXPECT_EQ(calls[1].text, "example");
  EXPECT_EQ(calls[1].values[3], 6u);
  EXPECT_TRUE(calls[1].onMessageThread);
}

TEST_F(SocketTest, DiscardedTcpOp1IsFreed) {
  host_->discardPosts = true;
  EXPECT_EQ(tcp_->TcpOp1(operation_.Get(), "lost-host", 1, 2), S_OK);
  Drain();  // the sanitizer build reports the request if it leaked
  EXPECT_EQ(host_->journal.Count("tcp1"), 0u);
}

TEST_F(SocketTest, TcpOp4FromAnotherThreadWaitsForTheHostsAnswer) {
  int marker = 0;
  EXPECT_EQ(tcp_->TcpOp4(&marker), S_OK);
  ASSERT_EQ(host_->journal.Count("tcp4"), 1u);
  EXPECT_EQ(host_->journal.Calls("tcp4")[0].values[0], reinterpret_cast<std::uintptr_t>(&marker));
  host_->tcpOp4Answer = E_FAIL;
  EXPECT_EQ(tcp_->TcpOp4(&marker), E_FAIL);
  HRESULT direct = S_OK;
  host_->RunOnMessageThread([&] { direct = tcp_->TcpOp4(&marker); });
  EXPECT_EQ(direct, E_FAIL);  // the host's own answer on its thread
  host_->tcpOp4Answer = S_OK;
  host_->discardPosts = true;
  EXPECT_EQ(tcp_->TcpOp4(&marker), E_FAIL);  // woken instead of waiting for good
  host_->discardPosts = false;
  host_->refusePosts = true;
  EXPECT_EQ(tcp_->TcpOp4(&marker), E_FAIL);
}

TEST_F(SocketTest, PostedUdpRequestsEachCarryTheirOwnAddress) {
  auto release = BlockMessageThread();
  for (std::uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(udp_->UdpOp1(0x7F000001 + i, static_cast<std::uint16_t>(1000 + i), operation_.Get()),
              S_OK);
  }
  release.set_value();
  Drain();
  auto calls = host_->journal.Calls("udp1");
  ASSERT_EQ(calls.size(), 5u);
  for (std::uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(calls[i].values[0], 0x7F000001u + i);
    EXPECT_EQ(calls[i].values[1], 1000u + i);
    EXPECT_EQ(calls[i].values[2], HostOp());
  }
  EXPECT_EQ(udp_->UdpOp2(1, 2), E_NOTIMPL);
}

TEST_F(SocketTest, OperationReleasedRightAfterEachKindOfRequestStaysUntilTheRequestRan) {
  struct Case {
    const char* name;
    const char* hostCall;
    std::function<HRESULT(IKQCPAsynIoOperation*)> request;
  } cases[] = {
      {"tcp device 1", "device1", [&](IKQCPAsynIoOperation* op) { return tcp_->DeviceOp1(op); }},
      {"tcp device 2", "device2", [&](IKQCPAsynIoOperation* op) { return tcp_->DeviceOp2(op); }},
      {"tcp connect", "tcp1",
       [&](IKQCPAsynIoOperation* op) { return tcp_->TcpOp1(op, "peer", 7, 0); }},
      {"udp device 1", "udp-device1",
       [&](IKQCPAsynIoOperation* op) { return udp_->DeviceOp1(op); }},
      {"udp send", "udp1", [&](IKQCPAsynIoOperation* op) { return udp_->UdpOp1(1, 2, op); }},
      {"receive, then close", "device5",
       [&](IKQCPAsynIoOperation* op) {
         const HRESULT received = tcp_->DeviceOp1(op);
         return Failed(received) ? received : tcp_->DeviceOp5();
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto events = com::ComPtr<NullEvents>::Adopt(com::MakeObject<NullEvents>());
    const auto unheld = events->ReferenceCount();
    IKQCPAsynIoOperation* operation = nullptr;
    ASSERT_EQ(frame_->CreateOperation(events.Get(), &operation), S_OK);
    auto release = BlockMessageThread();
    EXPECT_EQ(c.request(operation), S_OK);
    operation->Release();  // the caller lets go while its request is still queued
    EXPECT_GT(events->ReferenceCount(), unheld);
    release.set_value();
    Drain();  // the sanitizer build reports a request that reached a freed operation
    EXPECT_EQ(host_->journal.Count(c.hostCall), 1u);
    EXPECT_EQ(events->ReferenceCount(), unheld);  // and the operation is gone once it ran
    tcp_.Reset();
    ASSERT_EQ(frame_->CreateTcpSocket(tcp_.Put(), nullptr), S_OK);
    host_->journal.Clear();
  }
}

TEST_F(SocketTest, RequestsWithoutAnEventReturnTheHostsVerdictFromAnotherThread) {
  struct Case {
    const char* name;
    const char* hostCall;
    HRESULT (IKQCPAsynIoDevice::*call)(IKQCPAsynIoOperation*);
    bool udp;
  } cases[] = {
      {"tcp device 3", "device3", &IKQCPAsynIoDevice::DeviceOp3, false},
      {"tcp device 4", "device4", &IKQCPAsynIoDevice::DeviceOp4, false},
      {"udp device 3", "udp-device3", &IKQCPAsynIoDevice::DeviceOp3, true},
      {"udp device 4", "udp-device4", &IKQCPAsynIoDevice::DeviceOp4, true},
  };
  const HRESULT kInUse = static_cast<HRESULT>(0x80072740u);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    IKQCPAsynIoDevice* device = c.udp ? static_cast<IKQCPAsynIoDevice*>(udp_.Get()) : tcp_.Get();
    for (HRESULT answer : {S_OK, S_FALSE, kInUse}) {
      host_->deviceAnswer = answer;
      IKQCPAsynIoOperation* operation = nullptr;
      ASSERT_EQ(frame_->CreateOperation(events_.Get(), &operation), S_OK);
      const auto before = host_->journal.Count(c.hostCall);
      EXPECT_EQ((device->*c.call)(operation), answer);
      // The host has run it before the call returned, so releasing at once is safe.
      EXPECT_EQ(host_->journal.Count(c.hostCall), before + 1);
      operation->Release();
    }
    host_->discardPosts = true;
    EXPECT_EQ((device->*c.call)(operation_.Get()), E_FAIL);
    host_->discardPosts = false;
    host_->refusePosts = true;
    EXPECT_EQ((device->*c.call)(operation_.Get()), E_FAIL);
    host_->refusePosts = false;
  }
}

TEST_F(SocketTest, OperationReferencesFromTwoThreadsAtOnceBalance) {
  auto* operation = static_cast<AsynOperation*>(operation_.Get());
  constexpr int kRounds = 200000;
  auto churn = [&] {
    for (int i = 0; i < kRounds; ++i) {
      operation->AddRef();
      operation->Release();
    }
  };
  std::thread other(churn);
  churn();
  other.join();
  EXPECT_EQ(operation->ReferenceCount(), 1);
}

TEST_F(SocketTest, ASocketUnregistersWithTheHostItRegisteredWith) {
  auto second = com::ComPtr<TestHost>::Adopt(com::MakeObject<TestHost>());
  ASSERT_EQ(frame_->Attach(second.Get()), S_OK);
  const auto registered = host_->journal.Calls("RegisterEvents");
  ASSERT_FALSE(registered.empty());
  // Its requests still go to the host whose socket it wraps.
  EXPECT_EQ(tcp_->DeviceOp5(), S_OK);
  Drain();
  EXPECT_EQ(host_->journal.Count("device5"), 1u);
  EXPECT_EQ(second->journal.Count("Post"), 0u);
  const auto tcpEvents = reinterpret_cast<std::uintptr_t>(
      static_cast<IAsynMessageEvents*>(static_cast<AsynTcpSocket*>(tcp_.Get())));
  tcp_.Reset();
  auto unregistered = host_->journal.Calls("UnregisterEvents");
  ASSERT_EQ(unregistered.size(), 1u);
  EXPECT_EQ(unregistered[0].values[0], tcpEvents);
  EXPECT_EQ(second->journal.Count("UnregisterEvents"), 0u);
}

TEST_F(SocketTest, WrappersAnswerOnlyTheirOwnIdentifiersAndUnregisterWhenReleased) {
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(tcp_->QueryInterface(IID_IKQCPAsynUdpSocket, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(tcp_->QueryInterface(IID_IKQCPAsynIoDevice, &out), E_NOINTERFACE);
  EXPECT_EQ(tcp_->QueryInterface(IID_IAsynMessageEvents, &out), S_OK);
  EXPECT_EQ(tcp_->TcpOp2(1, 2), S_OK);
  const auto registered = host_->journal.Calls("RegisterEvents");
  tcp_.Reset();
  auto unregistered = host_->journal.Calls("UnregisterEvents");
  ASSERT_EQ(unregistered.size(), 1u);
  EXPECT_EQ(unregistered[0].values[0], reinterpret_cast<std::uintptr_t>(out));
}

}  // namespace
}  // namespace kqcp_test
