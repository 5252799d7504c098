// The test host's message thread, objects and journal.
#include "test_host.h"

#include <algorithm>
#include <future>
#include <iterator>

namespace kqcp_test {

void CallJournal::Add(HostCall call) {
  std::lock_guard<std::mutex> guard(mutex_);
  calls_.push_back(std::move(call));
}

void CallJournal::Clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  calls_.clear();
}

std::vector<HostCall> CallJournal::Calls(const std::string& what) {
  std::lock_guard<std::mutex> guard(mutex_);
  std::vector<HostCall> found;
  for (const auto& call : calls_) {
    if (call.what == what) found.push_back(call);
  }
  return found;
}

HostOperation::HostOperation(TestHost& host, IAsynIoOperationEvents* target)
    : host_(host), target_(target) {}

HRESULT HostOperation::FireEvent() {
  return target_->OnOperationEvent(static_cast<IAsynHostOperation*>(this));
}

HRESULT HostOperation::Record(const std::string& what, std::vector<std::uintptr_t> values) {
  host_.journal.Add({what, std::move(values), {}, host_.IsMessageThread() == 0});
  return S_OK;
}

HRESULT HostTcpSocket::Record(const std::string& what, IAsynHostOperation* op) {
  host_.journal.Add(
      {what, {reinterpret_cast<std::uintptr_t>(op)}, {}, host_.IsMessageThread() == 0});
  return S_OK;
}

HRESULT HostTcpSocket::Answer(const std::string& what, IAsynHostOperation* op) {
  Record(what, op);
  return host_.deviceAnswer.load();
}

HRESULT HostTcpSocket::TcpOp1(IAsynHostOperation* op, std::int32_t length, const char* text,
                              std::uint16_t port, AsynValue value) {
  host_.journal.Add(
      {"tcp1",
       {reinterpret_cast<std::uintptr_t>(op), static_cast<std::uintptr_t>(length), port, value},
       std::string(text, static_cast<std::size_t>(length)),
       host_.IsMessageThread() == 0});
  return S_OK;
}

HRESULT HostTcpSocket::TcpOp4(void* pointer) {
  host_.journal.Add(
      {"tcp4", {reinterpret_cast<std::uintptr_t>(pointer)}, {}, host_.IsMessageThread() == 0});
  return host_.tcpOp4Answer.load();
}

HRESULT HostUdpSocket::Record(const std::string& what, IAsynHostOperation* op) {
  host_.journal.Add(
      {what, {reinterpret_cast<std::uintptr_t>(op)}, {}, host_.IsMessageThread() == 0});
  return S_OK;
}

HRESULT HostUdpSocket::Answer(const std::string& what, IAsynHostOperation* op) {
  Record(what, op);
  return host_.deviceAnswer.load();
}

HRESULT HostUdpSocket::UdpOp1(std::uint32_t address, std::uint16_t port, IAsynHostOperation* op) {
  host_.journal.Add({"udp1",
                     {address, port, reinterpret_cast<std::uintptr_t>(op)},
                     {},
                     host_.IsMessageThread() == 0});
  return S_OK;
}

TestHost::TestHost() {
  thread_ = std::thread([this] { Loop(); });
  threadId_ = thread_.get_id();
}

TestHost::~TestHost() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (OnThread()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void TestHost::Loop() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      task = std::move(queue_.front());
      queue_.pop_front();
    }
    task();
  }
}

void TestHost::Enqueue(std::function<void()> fn) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    queue_.push_back(std::move(fn));
  }
  wake_.notify_one();
}

void TestHost::RunOnMessageThread(const std::function<void()>& fn) {
  std::promise<void> done;
  Enqueue([&] {
    fn();
    done.set_value();
  });
  done.get_future().wait();
}

int TestHost::Tick() {
  int ticked = 0;
  RunOnMessageThread([&] {
    std::vector<LiveTimer> due;
    {
      std::lock_guard<std::mutex> guard(timersMutex_);
      due = timers_;
    }
    for (const auto& timer : due) {
      {
        // A timer killed by an earlier tick's sink does not tick.
        std::lock_guard<std::mutex> guard(timersMutex_);
        if (std::none_of(timers_.begin(), timers_.end(),
                         [&](const LiveTimer& t) { return t.serial == timer.serial; })) {
          continue;
        }
      }
      timer.sink->OnTimer(timer.id);
      ++ticked;
      if (!timer.repeat) {
        RemoveTimers([&](const LiveTimer& t) { return t.serial == timer.serial; });
      }
    }
  });
  return ticked;
}

std::size_t TestHost::LiveTimers() {
  std::lock_guard<std::mutex> guard(timersMutex_);
  return timers_.size();
}

std::size_t TestHost::RemoveTimers(const std::function<bool(const LiveTimer&)>& match) {
  std::vector<LiveTimer> removed;
  {
    std::lock_guard<std::mutex> guard(timersMutex_);
    auto keep = std::stable_partition(timers_.begin(), timers_.end(),
                                      [&](const LiveTimer& t) { return !match(t); });
    removed.assign(std::make_move_iterator(keep), std::make_move_iterator(timers_.end()));
    timers_.erase(keep, timers_.end());
  }
  return removed.size();
}

HRESULT TestHost::SetTimer(IAsynTimerEvents* sink, std::uint32_t a, std::uint32_t b,
                           std::uint32_t c) {
  journal.Add({"SetTimer", {reinterpret_cast<std::uintptr_t>(sink), a, b, c}, {}, OnThread()});
  if (refuseTimers) return E_FAIL;
  RemoveTimers([&](const LiveTimer& t) { return t.sink.Get() == sink && t.id == b; });
  std::lock_guard<std::mutex> guard(timersMutex_);
  timers_.push_back({com::ComPtr<IAsynTimerEvents>(sink), b, c != 0, nextSerial_++});
  return S_OK;
}

HRESULT TestHost::KillTimer(IAsynTimerEvents* sink, std::uint32_t value) {
  journal.Add({"KillTimer", {reinterpret_cast<std::uintptr_t>(sink), value}, {}, OnThread()});
  if (refuseTimers) return E_FAIL;
  return RemoveTimers([&](const LiveTimer& t) { return t.sink.Get() == sink && t.id == value; })
             ? S_OK
             : E_FAIL;
}

HRESULT TestHost::KillTimers(IAsynTimerEvents* sink) {
  journal.Add({"KillTimers", {reinterpret_cast<std::uintptr_t>(sink)}, {}, OnThread()});
  if (refuseTimers) return E_FAIL;
  return RemoveTimers([&](const LiveTimer& t) { return t.sink.Get() == sink; }) ? S_OK : E_FAIL;
}

HRESULT TestHost::RegisterEvents(IAsynMessageEvents* target) {
  journal.Add({"RegisterEvents", {reinterpret_cast<std::uintptr_t>(target)}, {}, OnThread()});
  return S_OK;
}

HRESULT TestHost::UnregisterEvents(IAsynMessageEvents* target) {
  journal.Add({"UnregisterEvents", {reinterpret_cast<std::uintptr_t>(target)}, {}, OnThread()});
  return S_OK;
}

HRESULT TestHost::PostAsynMessage(IAsynMessageEvents* target, std::int32_t type,
                                  std::uintptr_t value1, std::uintptr_t value2) {
  journal.Add({"Post",
               {reinterpret_cast<std::uintptr_t>(target), static_cast<std::uintptr_t>(type), value1,
                value2},
               {},
               OnThread()});
  if (refusePosts) return E_FAIL;
  const bool discard = discardPosts;
  Enqueue([=] {
    if (discard) {
      target->OnMessageDiscarded(type, value1, value2);
    } else {
      target->OnMessage(type, value1, value2);
    }
  });
  return S_OK;
}

HRESULT TestHost::Op7(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
                      std::uintptr_t value2) {
  journal.Add({"Op7",
               {reinterpret_cast<std::uintptr_t>(target), static_cast<std::uintptr_t>(type), value1,
                value2},
               {},
               OnThread()});
  return S_OK;
}

HRESULT TestHost::IsMessageThread() { return OnThread() ? 0 : 1; }

HRESULT TestHost::CreateOperation(IAsynIoOperationEvents* target, IAsynHostOperation** operation) {
  journal.Add({"CreateOperation", {reinterpret_cast<std::uintptr_t>(target)}, {}, OnThread()});
  if (refuseCreation) return E_FAIL;
  auto* created = com::MakeObject<HostOperation>(*this, target);
  operations.emplace_back(created);
  *operation = created;
  return S_OK;
}

HRESULT TestHost::CreateTcpSocket(IAsynHostTcpSocket** socket) {
  journal.Add({"CreateTcpSocket", {}, {}, OnThread()});
  if (refuseCreation) return E_FAIL;
  *socket = com::MakeObject<HostTcpSocket>(*this);
  return S_OK;
}

HRESULT TestHost::CreateProxyTcpSocket(IAsynHostTcpSocket* /*socket*/, std::int32_t kind,
                                       std::int32_t serverLength, const char* server,
                                       std::uint16_t port, std::int32_t userLength,
                                       const char* user, std::int32_t passwordLength,
                                       const char* password, IAsynHostTcpSocket** proxySocket) {
  journal.Add(
      {"CreateProxyTcpSocket",
       {static_cast<std::uintptr_t>(kind), static_cast<std::uintptr_t>(serverLength), port,
        static_cast<std::uintptr_t>(userLength), static_cast<std::uintptr_t>(passwordLength)},
       std::string(server, static_cast<std::size_t>(serverLength)) + "|" +
           std::string(user, static_cast<std::size_t>(userLength)) + "|" +
           std::string(password, static_cast<std::size_t>(passwordLength)),
       OnThread()});
  if (refuseCreation) return E_FAIL;
  *proxySocket = com::MakeObject<HostTcpSocket>(*this);
  return S_OK;
}

HRESULT TestHost::CreateUdpSocket(IAsynHostUdpSocket** socket) {
  journal.Add({"CreateUdpSocket", {}, {}, OnThread()});
  if (refuseCreation) return E_FAIL;
  *socket = com::MakeObject<HostUdpSocket>(*this);
  return S_OK;
}

HRESULT TestHost::CreateProxyUdpSocket(std::int32_t serverLength, const char* server,
                                       std::uint16_t port, std::int32_t userLength,
                                       const char* user, std::int32_t passwordLength,
                                       const char* password, IAsynHostUdpSocket** socket) {
  journal.Add({"CreateProxyUdpSocket",
               {static_cast<std::uintptr_t>(serverLength), port},
               std::string(server, static_cast<std::size_t>(serverLength)) + "|" +
                   std::string(user, static_cast<std::size_t>(userLength)) + "|" +
                   std::string(password, static_cast<std::size_t>(passwordLength)),
               OnThread()});
  if (refuseCreation) return E_FAIL;
  *socket = com::MakeObject<HostUdpSocket>(*this);
  return S_OK;
}

}  // namespace kqcp_test
