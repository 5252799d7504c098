// The peer processes the session tests drive through pipes.
// "Client" (platform, own name, report fd, command fd) starts as a client, opens session "S",
// reports what its listeners receive and runs commands:
//   request NAME SIZE [KIND]   posts one request: "posted ID", or "post-failed CODE"
//   burst COUNT                posts COUNT requests, retrying while the backlog is full
//   readdata                   "data SIZE SUM" of the session's shared data
//   slow MS                    every later reply keeps its listener MS milliseconds
//   measure SECONDS            request/reply for that long: "measured COUNT LONGEST_US"
//   flood SECONDS              posts without pause for that long, then waits for the replies:
//                              "flooded POSTED REFUSED REPLIES"
//   soak SECONDS               request/reply for that long, going on past replies that do not
//                              come within 2 s: "soaked SENT ANSWERED REFUSED UNANSWERED
//                              LONGEST_PAUSE_US"
//   repost NAME1 NAME2         posts a request named NAME1, renames it NAME2 and posts it
//                              again: "reposted"
//   timedrequest NAME SIZE     posts one request: "post-took MS CODE" once PostOperation
//                              returned
//   forkpost                   forks; the child posts a request and exits:
//                              "forkpost CODE" with the child's result
//   exit                       leaves normally
// "EchoService" (platform, report fd, command fd) answers every request with "answer" carrying
// the same bytes and reports it as "request SENDER NAME"; commands:
//   broadcast A B C | setdata TEXT | delay MS (before each reply) | stop | stats | exit
//   resets        "resets N": the damaged queues and proxy maps it repaired
//   fork          forks a child that never uses the library and sleeps: "forked PID"
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <sstream>
#include <thread>

#include "com/com_ptr.h"
#include "session_fixture.h"
#include "share/share_session_manager.h"
#include "support/child_process.h"

using namespace Vantor::KQCP;
using kqcp_test::Signal;
using Clock = std::chrono::steady_clock;

namespace {

std::string Hex(HRESULT code) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(code));
  return text;
}

// Reports every message as "message v1 v2 v3".
class MessageReporter : public com::RefCounted<com::ComponentObject, IShareSessionMessageEvents> {
 public:
  explicit MessageReporter(std::string fd) : fd_(std::move(fd)) {}
  HRESULT OnShareMessage(std::int32_t reserved, std::int32_t a, std::int32_t b,
                         std::int32_t c) override {
    Signal::Send(fd_, "message " + std::to_string(reserved) + " " + std::to_string(a) + " " +
                          std::to_string(b) + " " + std::to_string(c));
    return S_OK;
  }

 private:
  std::string fd_;
};

// Reports every reply as "response <id> <name> <size> <sum of bytes>" unless quiet, and lets
// the client wait for a reply by id.
class ResponseTracker : public com::RefCounted<com::ComponentObject, IShareSessionOperationEvents> {
 public:
  explicit ResponseTracker(std::string fd) : fd_(std::move(fd)) {}
  HRESULT OnRequest(IShareSessionOperation*) override {
    Signal::Send(fd_, "unexpected-request");
    return S_OK;
  }
  HRESULT OnResponse(IShareSessionOperation* operation) override {
    kqcp_test::ReceivedOperation r = kqcp_test::Describe(operation);
    if (!quiet_.load()) {
      unsigned sum = 0;
      for (auto b : r.data) sum += b;
      Signal::Send(fd_, "response " + std::to_string(r.id) + " " + r.name + " " +
                            std::to_string(r.data.size()) + " " + std::to_string(sum));
    }
    if (const int ms = slowMs_.load()) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::lock_guard<std::mutex> guard(mutex_);
    ++replies_;
    lastId_ = r.id;
    arrived_.notify_all();
    return S_OK;
  }
  bool WaitFor(std::int32_t id, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, timeout, [&] { return lastId_ == id; });
  }
  // Waits until count replies have arrived in all, or the time ran out; the count then.
  std::uint64_t WaitForCount(std::uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, timeout, [&] { return replies_ >= count; });
    return replies_;
  }
  std::uint64_t Replies() {
    std::lock_guard<std::mutex> guard(mutex_);
    return replies_;
  }
  void SetQuiet(bool quiet) { quiet_.store(quiet); }
  void SetSlow(int ms) { slowMs_.store(ms); }

 private:
  std::string fd_;
  std::atomic<bool> quiet_{false};
  std::atomic<int> slowMs_{0};
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::uint64_t replies_ = 0;
  std::int32_t lastId_ = 0;
};

com::ComPtr<IShareSessionOperation> NewRequest(IShareSessionProxy* proxy, const std::string& name,
                                               std::int32_t size) {
  com::ComPtr<IShareSessionOperation> operation;
  proxy->CreateOperation(operation.Put());
  operation->SetName(name.c_str());
  if (size > 0) {
    operation->AllocBuffer(size);
    std::uint8_t* data = nullptr;
    operation->GetBuffer(&data, nullptr);
    for (std::int32_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i);
  }
  return operation;
}

// Sequential request/reply for the given time; the count and the longest wait for a reply.
std::string Measure(IShareSessionProxy* proxy, ResponseTracker* tracker, int seconds) {
  tracker->SetQuiet(true);
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::uint64_t count = 0;
  std::int64_t longestUs = 0;
  while (Clock::now() < end) {
    auto operation = NewRequest(proxy, "ping", 4);
    std::int32_t id = 0;
    operation->GetId(&id);
    const auto sent = Clock::now();
    while (proxy->PostOperation(operation.Get()) == KQCP_E_SHARE_BACKLOG_FULL) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const bool answered = tracker->WaitFor(id, std::chrono::seconds(10));
    const auto waited =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - sent).count();
    longestUs = std::max<std::int64_t>(longestUs, waited);
    if (!answered) break;
    ++count;
  }
  tracker->SetQuiet(false);
  return "measured " + std::to_string(count) + " " + std::to_string(longestUs);
}

// Sequential request/reply that carries on through faults; the longest pause is the longest
// time between two answers.
std::string Soak(IShareSessionProxy* proxy, ResponseTracker* tracker, int seconds) {
  tracker->SetQuiet(true);
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::uint64_t sent = 0, answered = 0, refused = 0, unanswered = 0;
  auto lastAnswer = Clock::now();
  std::int64_t longestUs = 0;
  while (Clock::now() < end) {
    auto operation = NewRequest(proxy, "ping", 4);
    std::int32_t id = 0;
    operation->GetId(&id);
    if (proxy->PostOperation(operation.Get()) != S_OK) {
      ++refused;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    ++sent;
    if (!tracker->WaitFor(id, std::chrono::seconds(2))) {
      ++unanswered;
      continue;
    }
    ++answered;
    const auto now = Clock::now();
    longestUs = std::max<std::int64_t>(
        longestUs, std::chrono::duration_cast<std::chrono::microseconds>(now - lastAnswer).count());
    lastAnswer = now;
  }
  tracker->SetQuiet(false);
  return "soaked " + std::to_string(sent) + " " + std::to_string(answered) + " " +
         std::to_string(refused) + " " + std::to_string(unanswered) + " " +
         std::to_string(longestUs);
}

// Posts as fast as it can; every post is either accepted or refused on the spot.
std::string Flood(IShareSessionProxy* proxy, ResponseTracker* tracker, int seconds) {
  tracker->SetQuiet(true);
  const std::uint64_t before = tracker->Replies();
  const auto end = Clock::now() + std::chrono::seconds(seconds);
  std::uint64_t posted = 0, refused = 0;
  while (Clock::now() < end) {
    auto operation = NewRequest(proxy, "flood", 16);
    if (proxy->PostOperation(operation.Get()) == S_OK) {
      ++posted;
    } else {
      ++refused;
      std::this_thread::yield();
    }
  }
  const std::uint64_t replies =
      tracker->WaitForCount(before + posted, std::chrono::seconds(30)) - before;
  tracker->SetQuiet(false);
  return "flooded " + std::to_string(posted) + " " + std::to_string(refused) + " " +
         std::to_string(replies);
}

}  // namespace

KQCP_CHILD(Client) {
  IShareSessionManager* manager = ShareSessionManagerHolder::Instance();
  if (manager->Start(args[0].c_str(), kShareModeClient, args[1].c_str()) != S_OK) {
    Signal::Send(args[2], "start-failed");
    return 3;
  }
  com::ComPtr<IShareSessionProxy> proxy;
  if (manager->GetProxySession("S", 0, proxy.Put()) != S_OK) {
    Signal::Send(args[2], "no-session");
    return 4;
  }
  auto messages =
      com::ComPtr<IShareSessionMessageEvents>::Adopt(com::MakeObject<MessageReporter>(args[2]));
  auto responses = com::ComPtr<ResponseTracker>::Adopt(com::MakeObject<ResponseTracker>(args[2]));
  proxy->AddMessageListener(messages.Get());
  proxy->AddOperationListener(responses.Get());
  Signal::Send(args[2], "ready");
  for (;;) {
    std::istringstream command(Signal::Receive(args[3], 120000));
    std::string verb;
    command >> verb;
    if (verb == "exit") return 0;
    if (verb == "request") {
      std::string name;
      std::int32_t size = 0, kind = 0;
      command >> name >> size >> kind;
      auto operation = NewRequest(proxy.Get(), name, size);
      operation->SetKind(kind);
      std::int32_t id = 0;
      operation->GetId(&id);
      // Reported before posting: the reply may otherwise be reported first.
      Signal::Send(args[2], "posted " + std::to_string(id));
      if (const HRESULT posted = proxy->PostOperation(operation.Get()); posted != S_OK) {
        Signal::Send(args[2], "post-failed " + Hex(posted));
      }
    } else if (verb == "burst") {
      int count = 0;
      command >> count;
      for (int i = 0; i < count; ++i) {
        auto operation = NewRequest(proxy.Get(), "burst", 0);
        operation->AllocBuffer(4);
        std::uint8_t* data = nullptr;
        operation->GetBuffer(&data, nullptr);
        std::memcpy(data, &i, 4);
        // A full backlog is told at once; a caller that must send everything waits and retries.
        while (proxy->PostOperation(operation.Get()) == KQCP_E_SHARE_BACKLOG_FULL) {
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
      }
      Signal::Send(args[2], "burst-posted");
    } else if (verb == "timedrequest") {
      std::string name;
      std::int32_t size = 0;
      command >> name >> size;
      auto operation = NewRequest(proxy.Get(), name, size);
      const auto before = Clock::now();
      const HRESULT posted = proxy->PostOperation(operation.Get());
      const auto took =
          std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before).count();
      Signal::Send(args[2], "post-took " + std::to_string(took) + " " + Hex(posted));
    } else if (verb == "forkpost") {
      auto operation = NewRequest(proxy.Get(), "forked", 4);
      const pid_t child = fork();
      if (child == 0) {
        const HRESULT posted = proxy->PostOperation(operation.Get());
        _exit(posted == E_UNEXPECTED ? 0 : posted == S_OK ? 1 : 2);
      }
      int status = 0;
      waitpid(child, &status, 0);
      Signal::Send(args[2],
                   "forkpost " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
    } else if (verb == "repost") {
      std::string first, second;
      command >> first >> second;
      auto operation = NewRequest(proxy.Get(), first, 4);
      const HRESULT once = proxy->PostOperation(operation.Get());
      operation->SetName(second.c_str());
      const HRESULT twice = proxy->PostOperation(operation.Get());
      Signal::Send(args[2], once == S_OK && twice == S_OK ? "reposted" : "repost-failed");
    } else if (verb == "readdata") {
      if (proxy->LockData() != S_OK) {
        Signal::Send(args[2], "data locked-failed");
        continue;
      }
      std::uint8_t* data = nullptr;
      std::uint32_t size = 0;
      proxy->GetSharedData(&data, &size);
      unsigned sum = 0;
      for (std::uint32_t i = 0; i < size; ++i) sum += data[i];
      proxy->UnlockData();
      Signal::Send(args[2], "data " + std::to_string(size) + " " + std::to_string(sum));
    } else if (verb == "slow") {
      int ms = 0;
      command >> ms;
      responses->SetSlow(ms);
      Signal::Send(args[2], "slow");
    } else if (verb == "measure" || verb == "flood" || verb == "soak") {
      int seconds = 1;
      command >> seconds;
      auto run = verb == "measure" ? Measure : verb == "flood" ? Flood : Soak;
      Signal::Send(args[2], run(proxy.Get(), responses.Get(), seconds));
    } else {
      return 5;  // the test went away
    }
  }
}

KQCP_CHILD(EchoService) {
  IShareSessionManager* manager = ShareSessionManagerHolder::Instance();
  if (manager->Start(args[0].c_str(), kShareModeService, nullptr) != S_OK ||
      manager->CreateServiceSession("S", 0) != S_OK) {
    Signal::Send(args[1], "start-failed");
    // Stays until told, so that a test can look at what the failed start left.
    Signal::Receive(args[2], 120000);
    return 3;
  }
  com::ComPtr<IShareSessionService> session;
  manager->GetServiceSession("S", 0, session.Put());
  IShareSessionService* service = session.Get();
  std::atomic<int> delayMs{0};
  auto echo = com::ComPtr<kqcp_test::RecordingListener>::Adopt(
      com::MakeObject<kqcp_test::RecordingListener>(
          [&](IShareSessionOperation* request) {
            const auto r = kqcp_test::Describe(request);
            if (r.name != "ping" && r.name != "flood") {
              Signal::Send(args[1], "request " + r.sender + " " + r.name);
            }
            if (const int ms = delayMs.load()) {
              std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            }
            com::ComPtr<IShareSessionOperation> reply;
            if (service->CreateReply(request, reply.Put()) != S_OK) return;
            reply->SetName("answer");
            if (!r.data.empty()) {
              reply->AllocBuffer(static_cast<std::int32_t>(r.data.size()));
              std::uint8_t* data = nullptr;
              reply->GetBuffer(&data, nullptr);
              std::memcpy(data, r.data.data(), r.data.size());
            }
            if (const HRESULT posted = service->PostOperation(reply.Get()); posted != S_OK) {
              Signal::Send(args[1], "reply-refused " + Hex(posted));
            }
          },
          /*keepRecords=*/false));
  service->AddOperationListener(echo.Get());
  Signal::Send(args[1], "ready");
  for (;;) {
    std::istringstream command(Signal::Receive(args[2], 120000));
    std::string verb;
    command >> verb;
    if (verb == "exit") return 0;
    if (verb == "broadcast") {
      std::int32_t a = 0, b = 0, c = 0;
      command >> a >> b >> c;
      Signal::Send(args[1], "broadcast " + Hex(service->PostMessage(nullptr, a, b, c)));
    } else if (verb == "setdata") {
      std::string text;
      command >> text;
      Signal::Send(args[1], "setdata " + Hex(service->SetSharedData(
                                             text.data(), static_cast<std::int32_t>(text.size()))));
    } else if (verb == "delay") {
      int ms = 0;
      command >> ms;
      delayMs.store(ms);
      Signal::Send(args[1], "delay");
    } else if (verb == "stop") {
      const HRESULT stopped = manager->Stop();
      Signal::Send(args[1], "stopped " + Hex(stopped) + " " + Hex(manager->WaitForStop(5000)));
    } else if (verb == "stats") {
      com::ComPtr<IShareStatistics> statistics;
      manager->QueryInterface(IID_IShareStatistics, statistics.PutVoid());
      ShareStatistics s{};
      statistics->GetStatistics(&s);
      Signal::Send(args[1], "stats " + std::to_string(s.delivered) + " " +
                                std::to_string(s.droppedFull) + " " +
                                std::to_string(s.droppedGone) + " " +
                                std::to_string(s.refusedBacklog));
    } else if (verb == "resets") {
      com::ComPtr<IShareStatistics> statistics;
      manager->QueryInterface(IID_IShareStatistics, statistics.PutVoid());
      ShareStatistics s{};
      statistics->GetStatistics(&s);
      Signal::Send(args[1], "resets " + std::to_string(s.queueResets));
    } else if (verb == "fork") {
      // A helper that never uses the library, outliving the service.
      const pid_t child = fork();
      if (child == 0) {
        for (;;) pause();
      }
      Signal::Send(args[1], "forked " + std::to_string(child));
    } else {
      return 5;  // the test went away
    }
  }
}
