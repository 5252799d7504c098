// Share-session operations between two processes against a Unix-domain socket between two
// processes carrying the same 64-byte payload: round trip (request, reply) and one-way
// throughput (operations per second).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "com/com_ptr.h"
#include "com/object.h"
#include "session_echo.h"
#include "share/share_session_manager.h"

namespace {

using namespace Vantor::KQCP;

constexpr std::int32_t kPayload = kqcp_bench::kSessionPayload;

[[noreturn]] void RunService(const std::string& platform, int readyFd) {
  const auto listener = kqcp_bench::StartEchoService(platform);
  char ready = 1;
  if (write(readyFd, &ready, 1) != 1) _exit(1);
  for (;;) pause();
}

// Counts replies and lets the benchmark wait for the next one.
class ReplyWaiter : public com::RefCounted<com::ComponentObject, IShareSessionOperationEvents> {
 public:
  HRESULT OnRequest(IShareSessionOperation*) override { return S_OK; }
  HRESULT OnResponse(IShareSessionOperation*) override {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      ++replies_;
    }
    arrived_.notify_one();  // after the unlock: the woken waiter must not wait for the mutex
    return S_OK;
  }
  void WaitForReplies(long count) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait(lock, [&] { return replies_ >= count; });
  }
  long Replies() {
    std::lock_guard<std::mutex> guard(mutex_);
    return replies_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  long replies_ = 0;
};

// The client side, set up once: the service process is forked before this process touches
// its own manager.
struct SessionPair {
  pid_t service = -1;
  com::ComPtr<IShareSessionProxy> proxy;
  com::ComPtr<ReplyWaiter> waiter;

  SessionPair() {
    const std::string platform = "kqcp_bench_session_" + std::to_string(getpid());
    int ready[2];
    if (pipe(ready) != 0) return;
    service = fork();
    if (service == 0) RunService(platform, ready[1]);
    char byte = 0;
    if (read(ready[0], &byte, 1) != 1) return;
    auto* manager = ShareSessionManagerHolder::Instance();
    manager->Start(platform.c_str(), kShareModeClient, "bench_client");
    manager->GetProxySession("bench", 0, proxy.Put());
    waiter = com::ComPtr<ReplyWaiter>::Adopt(com::MakeObject<ReplyWaiter>());
    proxy->AddOperationListener(waiter.Get());
  }
  ~SessionPair() {
    if (service > 0) {
      kill(service, SIGKILL);
      waitpid(service, nullptr, 0);
    }
  }
  void Post(const char* name) {
    com::ComPtr<IShareSessionOperation> operation;
    proxy->CreateOperation(operation.Put());
    operation->SetName(name);
    operation->AllocBuffer(kPayload);
    // Past the backlog's bound a post is refused at once; a sender that must send waits, giving
    // the processor to the threads that make room.
    while (proxy->PostOperation(operation.Get()) == KQCP_E_SHARE_BACKLOG_FULL) {
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  }
};

SessionPair& Pair() {
  static SessionPair pair;
  return pair;
}

void RoundTrip_kqcp(benchmark::State& state) {
  SessionPair& pair = Pair();
  for (auto _ : state) {
    const long expected = pair.waiter->Replies() + 1;
    pair.Post("echo");
    pair.waiter->WaitForReplies(expected);
  }
}
BENCHMARK(RoundTrip_kqcp)->Name("session_round_trip/kqcp")->UseRealTime();

void Throughput_kqcp(benchmark::State& state) {
  SessionPair& pair = Pair();
  for (auto _ : state) pair.Post("oneway");
  const long expected = pair.waiter->Replies() + 1;
  pair.Post("sync");  // arrives after every earlier operation
  pair.waiter->WaitForReplies(expected);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Throughput_kqcp)->Name("session_one_way/kqcp")->UseRealTime()->MinTime(1.0);

// The same exchanges over a Unix-domain socket pair with a forked echo process: "e" frames
// are echoed, "o" frames counted, "s" frames answered.
struct SocketPair {
  int fd = -1;
  pid_t peer = -1;
  SocketPair() {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
    peer = fork();
    if (peer == 0) {
      close(fds[0]);
      char frame[kPayload];
      for (;;) {
        if (!ReadAll(fds[1], frame)) _exit(0);
        if (frame[0] != 'o' && write(fds[1], frame, kPayload) != kPayload) _exit(1);
      }
    }
    close(fds[1]);
    fd = fds[0];
  }
  ~SocketPair() {
    close(fd);
    waitpid(peer, nullptr, 0);
  }
  static bool ReadAll(int from, char* frame) {
    std::size_t got = 0;
    while (got < kPayload) {
      ssize_t n = read(from, frame + got, kPayload - got);
      if (n <= 0) return false;
      got += static_cast<std::size_t>(n);
    }
    return true;
  }
  void Send(char kind) {
    char frame[kPayload] = {kind};
    if (write(fd, frame, kPayload) != kPayload) std::abort();
  }
  void Receive() {
    char frame[kPayload];
    if (!ReadAll(fd, frame)) std::abort();
  }
};

void RoundTrip_baseline(benchmark::State& state) {
  SocketPair pair;
  for (auto _ : state) {
    pair.Send('e');
    pair.Receive();
  }
}
BENCHMARK(RoundTrip_baseline)->Name("session_round_trip/baseline")->UseRealTime();

void Throughput_baseline(benchmark::State& state) {
  SocketPair pair;
  for (auto _ : state) pair.Send('o');
  pair.Send('s');
  pair.Receive();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Throughput_baseline)->Name("session_one_way/baseline")->UseRealTime()->MinTime(1.0);

}  // namespace
