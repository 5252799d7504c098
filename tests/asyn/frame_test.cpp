// The frame against the test host: marshalling from other threads, proxy records, operations,
// timers, and many callers at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "asyn/asyn_frame.h"
#include "asyn/asyn_operation.h"
#include "core/platform.h"
#include "core/singletons.h"
#include "test_host.h"

namespace kqcp_test {
namespace {

class CountingSink
    : public com::RefCounted<com::ComponentObject, IAsynIoOperationEvents, IAsynTimerEvents> {
 public:
  HRESULT OnOperationEvent(IUnknown* operation) override {
    lastOperation = operation;
    ++events;
    return S_OK;
  }
  HRESULT OnTimer(std::uint32_t value) override {
    lastTimerValue = value;
    ++timers;
    return S_OK;
  }
  std::atomic<IUnknown*> lastOperation{nullptr};
  std::atomic<int> events{0};
  std::atomic<int> timers{0};
  std::atomic<std::uint32_t> lastTimerValue{0};
};

class FrameTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = com::ComPtr<TestHost>::Adopt(com::MakeObject<TestHost>());
    frame_ = AsynFrameHolder::Instance();
    ASSERT_EQ(frame_->Attach(host_.Get()), S_OK);
    sink_ = com::ComPtr<CountingSink>::Adopt(com::MakeObject<CountingSink>());
  }
  IAsynTimerEvents* TimerSink() { return static_cast<IAsynTimerEvents*>(sink_.Get()); }
  IAsynIoOperationEvents* EventSink() { return static_cast<IAsynIoOperationEvents*>(sink_.Get()); }

  com::ComPtr<TestHost> host_;
  KQCPAsynFrame_* frame_ = nullptr;
  com::ComPtr<CountingSink> sink_;
};

AsynProxyInfo Proxy(std::int32_t kind, const char* server, std::int32_t serverLength) {
  AsynProxyInfo proxy{};
  proxy.kind = kind;
  std::strcpy(proxy.server, server);
  proxy.serverLength = serverLength;
  proxy.port = 8080;
  std::strcpy(proxy.user, "user");
  proxy.userLength = 4;
  std::strcpy(proxy.password, "pw");
  proxy.passwordLength = 2;
  return proxy;
}

TEST(FrameWithoutHost, EverythingFailsAtOnceAndOnlyOwnIdentifiersAnswer) {
  KQCPAsynFrame_* frame = AsynFrameHolder::Instance();
  EXPECT_EQ(frame->IsMessageThread(), E_FAIL);
  IKQCPAsynTcpSocket* socket = nullptr;
  EXPECT_EQ(frame->CreateTcpSocket(&socket, nullptr), E_FAIL);
  CountingSink sink;
  EXPECT_EQ(frame->SetTimer(&sink, 1, 2, 3), E_FAIL);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(frame->QueryInterface(IID_IUnknown, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(frame->QueryInterface(IID_IAsynMessageEvents, &out), S_OK);
  EXPECT_EQ(out, static_cast<IAsynMessageEvents*>(frame));
  for (int i = 0; i < 3; ++i) EXPECT_EQ(frame->Release(), 1u);
  EXPECT_EQ(frame->Reserved1(), S_OK);
}

TEST_F(FrameTest, PlatformInitHandsTheHostToTheFrame) {
  class Host : public com::RefCounted<com::ComponentObject, IPlatformHost> {
   public:
    explicit Host(IAsynIoHost* io) : io_(io) {}
    HRESULT QueryHostInterface(REFIID iid, void** out) override {
      *out = nullptr;
      if (iid != IID_IAsynIoHost) return E_NOINTERFACE;
      io_->AddRef();
      *out = io_;
      return S_OK;
    }
    IAsynIoHost* io_;
  };
  auto other = com::ComPtr<TestHost>::Adopt(com::MakeObject<TestHost>());
  auto host = com::ComPtr<Host>::Adopt(com::MakeObject<Host>(other.Get()));
  IKQCommunityPlatform* platform = nullptr;
  ASSERT_EQ(GetKQCommunityPlatform(&platform), S_OK);
  ASSERT_EQ(platform->Init(host.Get()), S_OK);
  com::ComPtr<IAsynIOFrame> frame;
  ASSERT_EQ(platform->GetAsynIOFrame(frame.Put()), S_OK);
  HRESULT onThread = E_FAIL;
  other->RunOnMessageThread([&] { onThread = frame->IsMessageThread(); });
  EXPECT_EQ(onThread, S_OK);
  EXPECT_EQ(frame->IsMessageThread(), E_FAIL);
  EXPECT_EQ(other->journal.Count("RegisterEvents"), 1u);
}

TEST_F(FrameTest, ProxyOfAnotherKindIsRefusedOnAnyThreadAndNothingIsPosted) {
  const AsynProxyInfo proxy = Proxy(2, "server", 6);
  IKQCPAsynTcpSocket* socket = nullptr;
  EXPECT_EQ(frame_->CreateTcpSocket(&socket, &proxy), E_UNEXPECTED);
  host_->RunOnMessageThread(
      [&] { EXPECT_EQ(frame_->CreateTcpSocket(&socket, &proxy), E_UNEXPECTED); });
  AsynProxyInfo tooLong = Proxy(1, "server", 6);
  tooLong.userLength = 300;
  EXPECT_EQ(frame_->CreateTcpSocket(&socket, &tooLong), E_INVALIDARG);
  EXPECT_EQ(host_->journal.Count("Post"), 0u);
  EXPECT_EQ(host_->journal.Count("CreateTcpSocket"), 0u);
}

TEST_F(FrameTest, ProxyTextsReachTheHostWithExactlyTheirLengths) {
  const AsynProxyInfo proxy = Proxy(1, "hostname-with-more", 5);
  com::ComPtr<IKQCPAsynTcpSocket> tcp;
  ASSERT_EQ(frame_->CreateTcpSocket(tcp.Put(), &proxy), S_OK);
  ASSERT_TRUE(tcp);
  auto calls = host_->journal.Calls("CreateProxyTcpSocket");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].text, "hostn|user|pw");
  EXPECT_EQ(calls[0].values[0], 1u);     // kind
  EXPECT_EQ(calls[0].values[2], 8080u);  // port
  EXPECT_TRUE(calls[0].onMessageThread);

  com::ComPtr<IKQCPAsynUdpSocket> udp;
  ASSERT_EQ(frame_->CreateUdpSocket(udp.Put(), &proxy), S_OK);
  EXPECT_EQ(host_->journal.Calls("CreateProxyUdpSocket")[0].text, "hostn|user|pw");
}

TEST_F(FrameTest, CreationFromAnotherThreadGivesASocketOrFailureWithNull) {
  com::ComPtr<IKQCPAsynTcpSocket> socket;
  EXPECT_EQ(frame_->CreateTcpSocket(socket.Put(), nullptr), S_OK);
  EXPECT_TRUE(socket);
  EXPECT_TRUE(host_->journal.Calls("CreateTcpSocket")[0].onMessageThread);
  host_->refuseCreation = true;
  IKQCPAsynTcpSocket* refused = reinterpret_cast<IKQCPAsynTcpSocket*>(1);
  EXPECT_EQ(frame_->CreateTcpSocket(&refused, nullptr), E_FAIL);
  EXPECT_EQ(refused, nullptr);
  IKQCPAsynIoOperation* operation = reinterpret_cast<IKQCPAsynIoOperation*>(1);
  EXPECT_EQ(frame_->CreateOperation(EventSink(), &operation), E_FAIL);
  EXPECT_EQ(operation, nullptr);
}

TEST_F(FrameTest, FailedCreationsClearTheOutPointer) {
  const AsynProxyInfo otherKind = Proxy(2, "server", 6);
  struct Case {
    const char* name;
    std::function<void(TestHost&)> arrange;
    std::function<HRESULT(IUnknown**)> create;
    HRESULT expected;
  } cases[] = {
      {"operation without events", [](TestHost&) {},
       [&](IUnknown** out) {
         return frame_->CreateOperation(nullptr, reinterpret_cast<IKQCPAsynIoOperation**>(out));
       },
       E_POINTER},
      {"proxy of another kind", [](TestHost&) {},
       [&](IUnknown** out) {
         return frame_->CreateTcpSocket(reinterpret_cast<IKQCPAsynTcpSocket**>(out), &otherKind);
       },
       E_UNEXPECTED},
      {"post refused", [](TestHost& host) { host.refusePosts = true; },
       [&](IUnknown** out) {
         return frame_->CreateUdpSocket(reinterpret_cast<IKQCPAsynUdpSocket**>(out), nullptr);
       },
       E_FAIL},
      {"message discarded", [](TestHost& host) { host.discardPosts = true; },
       [&](IUnknown** out) {
         return frame_->CreateOperation(EventSink(), reinterpret_cast<IKQCPAsynIoOperation**>(out));
       },
       E_FAIL},
      {"host refuses", [](TestHost& host) { host.refuseCreation = true; },
       [&](IUnknown** out) {
         return frame_->CreateTcpSocket(reinterpret_cast<IKQCPAsynTcpSocket**>(out), nullptr);
       },
       E_FAIL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto host = com::ComPtr<TestHost>::Adopt(com::MakeObject<TestHost>());
    ASSERT_EQ(frame_->Attach(host.Get()), S_OK);
    c.arrange(*host.Get());
    IUnknown* out = TimerSink();  // anything but null
    EXPECT_EQ(c.create(&out), c.expected);
    EXPECT_EQ(out, nullptr);
  }
  ASSERT_EQ(frame_->Attach(nullptr), E_FAIL);
  IUnknown* out = TimerSink();
  EXPECT_EQ(frame_->CreateOperation(EventSink(), reinterpret_cast<IKQCPAsynIoOperation**>(&out)),
            E_FAIL);
  EXPECT_EQ(out, nullptr);
}

// A sink that records the ids it was called with; it can re-arm its own one-shot from OnTimer.
class TimerLog : public com::RefCounted<com::ComponentObject, IAsynTimerEvents> {
 public:
  HRESULT OnTimer(std::uint32_t id) override {
    std::lock_guard<std::mutex> guard(mutex_);
    ids_.push_back(id);
    if (rearm > 0) {
      --rearm;
      return AsynFrameHolder::Instance()->SetTimer(this, 10, id, 0);
    }
    return S_OK;
  }
  std::vector<std::uint32_t> Take() {
    std::lock_guard<std::mutex> guard(mutex_);
    return std::exchange(ids_, {});
  }
  int rearm = 0;  // message thread only

 private:
  std::mutex mutex_;
  std::vector<std::uint32_t> ids_;
};

TEST_F(FrameTest, TwoRepeatingTimersOnOneSinkAreKilledOneByOneThenTogether) {
  auto log = com::ComPtr<TimerLog>::Adopt(com::MakeObject<TimerLog>());
  const auto unheld = log->ReferenceCount();
  // This test's thread is not the message thread: every call is marshalled.
  ASSERT_EQ(frame_->SetTimer(log.Get(), 10, 1, 1), S_OK);
  ASSERT_EQ(frame_->SetTimer(log.Get(), 10, 2, 1), S_OK);
  auto sets = host_->journal.Calls("SetTimer");
  ASSERT_EQ(sets.size(), 2u);
  EXPECT_EQ(sets[0].values[0], sets[1].values[0]);  // one wrapper names the sink to the host
  EXPECT_EQ(host_->Tick(), 2);
  EXPECT_EQ(log->Take(), (std::vector<std::uint32_t>{1, 2}));

  EXPECT_EQ(frame_->KillTimer(log.Get(), 2), S_OK);
  host_->Tick();
  EXPECT_EQ(log->Take(), (std::vector<std::uint32_t>{1}));
  EXPECT_EQ(frame_->KillTimer(log.Get(), 2), E_FAIL);  // the host no longer has it

  EXPECT_EQ(frame_->KillTimer(log.Get(), 1), S_OK);
  EXPECT_EQ(host_->Tick(), 0);
  EXPECT_EQ(log->ReferenceCount(), unheld);  // no live timer, no reference
  const auto killsSeen = host_->journal.Count("KillTimer");
  EXPECT_EQ(frame_->KillTimer(log.Get(), 1), E_FAIL);
  EXPECT_EQ(host_->journal.Count("KillTimer"), killsSeen);  // not asked: the sink has no entry

  ASSERT_EQ(frame_->SetTimer(log.Get(), 10, 3, 1), S_OK);
  ASSERT_EQ(frame_->SetTimer(log.Get(), 10, 4, 1), S_OK);
  EXPECT_EQ(frame_->KillTimers(log.Get()), S_OK);
  EXPECT_EQ(host_->Tick(), 0);
  EXPECT_TRUE(log->Take().empty());
  EXPECT_EQ(log->ReferenceCount(), unheld);
  EXPECT_EQ(frame_->KillTimers(log.Get()), E_FAIL);
}

TEST_F(FrameTest, OneShotReArmedFromItsOwnTickCanBeKilledAndAFiredOneLetsTheSinkGo) {
  auto log = com::ComPtr<TimerLog>::Adopt(com::MakeObject<TimerLog>());
  const auto unheld = log->ReferenceCount();
  ASSERT_EQ(frame_->SetTimer(log.Get(), 10, 5, 0), S_OK);
  host_->RunOnMessageThread([&] { log->rearm = 3; });
  EXPECT_EQ(host_->Tick(), 1);
  EXPECT_EQ(host_->Tick(), 1);
  EXPECT_EQ(host_->LiveTimers(), 1u);  // re-armed inside OnTimer
  EXPECT_EQ(frame_->KillTimer(log.Get(), 5), S_OK);
  EXPECT_EQ(host_->Tick(), 0);
  EXPECT_EQ(log->Take(), (std::vector<std::uint32_t>{5, 5}));
  EXPECT_EQ(log->ReferenceCount(), unheld);

  // A one-shot that has fired holds nothing, and there is nothing left to kill.
  host_->RunOnMessageThread([&] { log->rearm = 0; });
  ASSERT_EQ(frame_->SetTimer(log.Get(), 10, 6, 0), S_OK);
  EXPECT_EQ(host_->Tick(), 1);
  EXPECT_EQ(log->ReferenceCount(), unheld);
  EXPECT_EQ(frame_->KillTimers(log.Get()), E_FAIL);
}

TEST_F(FrameTest, RefusedTimerCallsFailOnEveryThread) {
  // Each call is made from this thread (marshalled) and from the message thread (direct).
  auto both = [&](const std::function<HRESULT()>& call) {
    HRESULT direct = S_OK;
    host_->RunOnMessageThread([&] { direct = call(); });
    return std::pair{call(), direct};
  };
  host_->refuseTimers = true;
  EXPECT_EQ(both([&] { return frame_->SetTimer(TimerSink(), 100, 1, 0); }),
            std::pair(E_FAIL, E_FAIL));
  // A refused timer left no entry behind.
  EXPECT_EQ(both([&] { return frame_->KillTimer(TimerSink(), 1); }), std::pair(E_FAIL, E_FAIL));
  EXPECT_EQ(host_->journal.Count("KillTimer"), 0u);

  host_->refuseTimers = false;
  ASSERT_EQ(frame_->SetTimer(TimerSink(), 100, 1, 1), S_OK);
  host_->refuseTimers = true;
  EXPECT_EQ(both([&] { return frame_->KillTimer(TimerSink(), 1); }), std::pair(E_FAIL, E_FAIL));
  EXPECT_EQ(both([&] { return frame_->KillTimers(TimerSink()); }), std::pair(E_FAIL, E_FAIL));
  EXPECT_EQ(host_->journal.Count("KillTimers"), 2u);
  host_->refuseTimers = false;
  EXPECT_EQ(frame_->KillTimers(TimerSink()), S_OK);
}

TEST_F(FrameTest, KillNamesTheWrapperGivenAtSetAndFiringReachesTheSink) {
  ASSERT_EQ(frame_->SetTimer(TimerSink(), 50, 7, 1), S_OK);
  auto set = host_->journal.Calls("SetTimer");
  ASSERT_EQ(set.size(), 1u);
  EXPECT_NE(set[0].values[0], reinterpret_cast<std::uintptr_t>(TimerSink()));
  EXPECT_EQ(set[0].values[1], 50u);
  host_->Tick();
  EXPECT_EQ(sink_->timers, 1);
  EXPECT_EQ(sink_->lastTimerValue, 7u);

  HRESULT killed = E_FAIL, again = S_OK;
  host_->RunOnMessageThread([&] {
    killed = frame_->KillTimer(TimerSink(), 7);
    again = frame_->KillTimer(TimerSink(), 7);
  });
  EXPECT_EQ(killed, S_OK);
  EXPECT_EQ(again, E_FAIL);
  auto kills = host_->journal.Calls("KillTimer");
  ASSERT_EQ(kills.size(), 1u);
  EXPECT_EQ(kills[0].values[0], set[0].values[0]);
  EXPECT_EQ(kills[0].values[1], 7u);
  // A new set makes the sink killable again, with all its timers at once.
  ASSERT_EQ(frame_->SetTimer(TimerSink(), 50, 8, 1), S_OK);
  EXPECT_EQ(frame_->KillTimers(TimerSink()), S_OK);
  EXPECT_EQ(host_->journal.Calls("KillTimers")[0].values[0],
            host_->journal.Calls("SetTimer")[1].values[0]);
}

TEST_F(FrameTest, OperationEventsNameTheWrapperAndReleaseFreesBothSides) {
  IKQCPAsynIoOperation* operation = nullptr;
  ASSERT_EQ(frame_->CreateOperation(EventSink(), &operation), S_OK);
  ASSERT_NE(operation, nullptr);
  IAsynHostOperation* hostOperation = nullptr;
  ASSERT_EQ(operation->GetHostOperation(&hostOperation), S_OK);
  auto* ours = static_cast<HostOperation*>(hostOperation);
  EXPECT_EQ(ours->FireEvent(), S_OK);
  EXPECT_EQ(sink_->events, 1);
  EXPECT_EQ(sink_->lastOperation, static_cast<IUnknown*>(operation));

  // An event naming another host operation is refused.
  void* eventsFace = nullptr;
  ASSERT_EQ(operation->QueryInterface(IID_IAsynIoOperationEvents, &eventsFace), S_OK);
  EXPECT_EQ(static_cast<IAsynIoOperationEvents*>(eventsFace)->OnOperationEvent(operation), E_FAIL);
  EXPECT_EQ(sink_->events, 1);
  // Both faces share one count, and the query added nothing.
  EXPECT_EQ(static_cast<IAsynIoOperationEvents*>(eventsFace)->AddRef(), 2u);
  EXPECT_EQ(operation->Release(), 1u);

  // Forwarded and refused operations.
  EXPECT_EQ(operation->Op8(3, 4), S_OK);
  EXPECT_EQ(host_->journal.Calls("op8")[0].values, (std::vector<std::uintptr_t>{3, 4}));
  EXPECT_EQ(operation->Op12(1, 2), E_NOTIMPL);
  EXPECT_EQ(host_->journal.Count("op12"), 0u);

  const auto hostCountBefore = ours->ReferenceCount();
  const auto sinkCountBefore = sink_->ReferenceCount();
  EXPECT_EQ(operation->Release(), 0u);
  EXPECT_EQ(ours->ReferenceCount(), hostCountBefore - 1);
  EXPECT_EQ(sink_->ReferenceCount(), sinkCountBefore - 1);
}

TEST_F(FrameTest, DiscardedMessageWakesItsCallerWithFailure) {
  host_->discardPosts = true;
  IKQCPAsynIoOperation* operation = reinterpret_cast<IKQCPAsynIoOperation*>(1);
  EXPECT_EQ(frame_->CreateOperation(EventSink(), &operation), E_FAIL);
  const AsynProxyInfo proxy = Proxy(1, "server", 6);
  IKQCPAsynTcpSocket* socket = nullptr;
  EXPECT_EQ(frame_->CreateTcpSocket(&socket, &proxy), E_FAIL);  // the proxy copy is freed too
  EXPECT_EQ(frame_->KillTimers(TimerSink()), E_FAIL);
  host_->discardPosts = false;
  host_->refusePosts = true;
  EXPECT_EQ(frame_->SetTimer(TimerSink(), 1, 2, 3), E_FAIL);
}

TEST_F(FrameTest, EightThreadsMarshallingAtOnceEachGetTheirOwnResult) {
  constexpr int kThreads = 8, kCalls = 1000;
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      auto sink = com::ComPtr<CountingSink>::Adopt(com::MakeObject<CountingSink>());
      auto* events = static_cast<IAsynIoOperationEvents*>(sink.Get());
      for (int i = 0; i < kCalls; ++i) {
        IKQCPAsynIoOperation* operation = nullptr;
        if (frame_->CreateOperation(events, &operation) != S_OK || !operation) {
          ++wrong;
          continue;
        }
        IAsynHostOperation* hostOperation = nullptr;
        operation->GetHostOperation(&hostOperation);
        // The host operation was made for this caller's wrapper.
        if (static_cast<HostOperation*>(hostOperation)->Target() !=
            static_cast<IAsynIoOperationEvents*>(static_cast<AsynOperation*>(operation))) {
          ++wrong;
        }
        operation->Release();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace kqcp_test
