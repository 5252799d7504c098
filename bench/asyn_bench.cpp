// A call marshalled by the frame onto a host message thread, against handing the same call to
// another thread through a queue and a condition variable and waiting for it; one caller and
// eight callers at once.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "asyn/asyn_frame.h"
#include "com/object.h"

namespace {

using namespace Vantor::KQCP;

// One thread running queued tasks, as a host message thread does.
class MessageThread {
 public:
  MessageThread() : thread_([this] { Loop(); }) {}
  ~MessageThread() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  void Post(std::function<void()> task) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
  }
  bool OnThread() const { return std::this_thread::get_id() == thread_.get_id(); }

 private:
  void Loop() {
    for (;;) {
      std::function<void()> task;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
        if (tasks_.empty()) return;
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> tasks_;
  bool stop_ = false;
  std::thread thread_;
};

// The smallest host the frame needs for a marshalled timer call.
class BenchHost : public com::RefCounted<com::ComponentObject, IAsynIoHost> {
 public:
  HRESULT SetTimer(IAsynTimerEvents*, std::uint32_t, std::uint32_t, std::uint32_t) override {
    return S_OK;
  }
  HRESULT KillTimer(IAsynTimerEvents*, std::uint32_t) override { return S_OK; }
  HRESULT KillTimers(IAsynTimerEvents*) override { return S_OK; }
  HRESULT RegisterEvents(IAsynMessageEvents*) override { return S_OK; }
  HRESULT UnregisterEvents(IAsynMessageEvents*) override { return S_OK; }
  HRESULT PostAsynMessage(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t a,
                          std::uintptr_t b) override {
    thread.Post([=] { target->OnMessage(type, a, b); });
    return S_OK;
  }
  HRESULT Op7(IAsynMessageEvents*, std::int32_t, std::uintptr_t, std::uintptr_t) override {
    return E_NOTIMPL;
  }
  HRESULT IsMessageThread() override { return thread.OnThread() ? 0 : 1; }
  HRESULT CreateOperation(IAsynIoOperationEvents*, IAsynHostOperation**) override {
    return E_NOTIMPL;
  }
  HRESULT CreateTcpSocket(IAsynHostTcpSocket**) override { return E_NOTIMPL; }
  HRESULT CreateProxyTcpSocket(IAsynHostTcpSocket*, std::int32_t, std::int32_t, const char*,
                               std::uint16_t, std::int32_t, const char*, std::int32_t, const char*,
                               IAsynHostTcpSocket**) override {
    return E_NOTIMPL;
  }
  MessageThread thread;
};

class Sink : public com::RefCounted<com::ComponentObject, IAsynTimerEvents> {
 public:
  HRESULT OnTimer(std::uint32_t) override { return S_OK; }
};

KQCPAsynFrame_* AttachedFrame() {
  static BenchHost* host = [] {
    auto* created = com::MakeObject<BenchHost>();
    AsynFrameHolder::Instance()->Attach(created);
    return created;
  }();
  (void)host;
  return AsynFrameHolder::Instance();
}

void MarshalledCall_kqcp(benchmark::State& state) {
  KQCPAsynFrame_* frame = AttachedFrame();
  Sink sink;
  for (auto _ : state) benchmark::DoNotOptimize(frame->KillTimers(&sink));
}
BENCHMARK(MarshalledCall_kqcp)->Name("marshalled_call/kqcp")->UseRealTime();
BENCHMARK(MarshalledCall_kqcp)->Name("marshalled_call_8_threads/kqcp")->Threads(8)->UseRealTime();

MessageThread& BaselineThread() {
  static MessageThread thread;
  return thread;
}

void MarshalledCall_baseline(benchmark::State& state) {
  MessageThread& thread = BaselineThread();
  Sink sink;
  for (auto _ : state) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    HRESULT result = E_FAIL;
    thread.Post([&] {
      result = sink.OnTimer(0);
      std::lock_guard<std::mutex> guard(mutex);
      finished = true;
      done.notify_one();
    });
    std::unique_lock<std::mutex> lock(mutex);
    done.wait(lock, [&] { return finished; });
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(MarshalledCall_baseline)->Name("marshalled_call/baseline")->UseRealTime();
BENCHMARK(MarshalledCall_baseline)
    ->Name("marshalled_call_8_threads/baseline")
    ->Threads(8)
    ->UseRealTime();

}  // namespace
