// Session test pieces, and the client process the tests drive: it starts as a client of the
// platform, opens session "S", reports what its listeners receive and runs commands.
#include "session_fixture.h"

#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include "com/com_ptr.h"
#include "share/share_session_manager.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

using namespace Vantor::KQCP;

namespace kqcp_test {

ReceivedOperation Describe(IShareSessionOperation* operation) {
  ReceivedOperation r;
  operation->GetKind(&r.kind);
  operation->GetId(&r.id);
  char text[70000];
  if (Succeeded(operation->GetName(text, sizeof text))) r.name = text;
  if (Succeeded(operation->GetSession(text, sizeof text))) r.session = text;
  if (Succeeded(operation->GetTarget(text, sizeof text))) r.target = text;
  if (Succeeded(operation->GetSender(text, sizeof text))) r.sender = text;
  std::uint8_t* data = nullptr;
  std::int32_t size = 0;
  if (Succeeded(operation->GetBuffer(&data, &size))) {
    r.hasBuffer = true;
    r.data.assign(data, data + size);
  }
  return r;
}

HRESULT RecordingListener::OnRequest(IShareSessionOperation* operation) {
  Record(operation);
  if (onRequest_) onRequest_(operation);
  return S_OK;
}

HRESULT RecordingListener::OnResponse(IShareSessionOperation* operation) {
  Record(operation);
  return S_OK;
}

void RecordingListener::Record(IShareSessionOperation* operation) {
  ReceivedOperation r = Describe(operation);
  std::lock_guard<std::mutex> guard(mutex_);
  received_.push_back(std::move(r));
  arrived_.notify_all();
}

bool RecordingListener::WaitFor(std::size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [&] { return received_.size() >= count; });
}

std::vector<ReceivedOperation> RecordingListener::Received() {
  std::lock_guard<std::mutex> guard(mutex_);
  return received_;
}

std::string PlatformName() { return UniqueName("plat"); }

SessionPeer::SessionPeer(const std::string& child, const std::string& platform,
                         const std::string& name, uid_t user) {
  std::vector<std::string> args{platform};
  if (!name.empty()) args.push_back(name);
  args.push_back(out_.WriteFdArg());
  args.push_back(in_.ReadFdArg());
  process_ = std::make_unique<ChildProcess>(child, args, user);
}

std::string SessionPeer::LineStartingWith(const std::string& prefix, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return {};
    std::string line = Line(static_cast<int>(left));
    if (line.empty() || line.rfind(prefix, 0) == 0) return line;
  }
}

bool SessionPeer::RoundTrip(int size, int timeoutMs) {
  Command("request ask " + std::to_string(size));
  const std::string posted = LineStartingWith("posted ", timeoutMs);
  if (posted.empty()) return false;
  const std::string id = posted.substr(7, posted.find(' ', 7) - 7);
  return !LineStartingWith("response " + id + " ", timeoutMs).empty();
}

int SessionPeer::Exit() {
  Command("exit");
  return process_->Wait();
}

namespace {

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

// Reports every reply as "response <id> <name> <size> <sum of bytes>".
class ResponseReporter
    : public com::RefCounted<com::ComponentObject, IShareSessionOperationEvents> {
 public:
  explicit ResponseReporter(std::string fd) : fd_(std::move(fd)) {}
  HRESULT OnRequest(IShareSessionOperation*) override {
    Signal::Send(fd_, "unexpected-request");
    return S_OK;
  }
  HRESULT OnResponse(IShareSessionOperation* operation) override {
    ReceivedOperation r = Describe(operation);
    unsigned sum = 0;
    for (auto b : r.data) sum += b;
    Signal::Send(fd_, "response " + std::to_string(r.id) + " " + r.name + " " +
                          std::to_string(r.data.size()) + " " + std::to_string(sum));
    return S_OK;
  }

 private:
  std::string fd_;
};

}  // namespace

}  // namespace kqcp_test

using kqcp_test::Signal;

// args: platform, own name, report fd, command fd.
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
  auto messages = com::ComPtr<IShareSessionMessageEvents>::Adopt(
      com::MakeObject<kqcp_test::MessageReporter>(args[2]));
  auto responses = com::ComPtr<IShareSessionOperationEvents>::Adopt(
      com::MakeObject<kqcp_test::ResponseReporter>(args[2]));
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
      com::ComPtr<IShareSessionOperation> operation;
      proxy->CreateOperation(operation.Put());
      operation->SetName(name.c_str());
      operation->SetKind(kind);
      if (size > 0) {
        operation->AllocBuffer(size);
        std::uint8_t* data = nullptr;
        operation->GetBuffer(&data, nullptr);
        for (std::int32_t i = 0; i < size; ++i) data[i] = static_cast<std::uint8_t>(i);
      }
      std::int32_t id = 0;
      operation->GetId(&id);
      // Reported before posting: the reply may otherwise be reported first.
      Signal::Send(args[2], "posted " + std::to_string(id));
      if (proxy->PostOperation(operation.Get()) != S_OK) Signal::Send(args[2], "post-failed");
    } else if (verb == "burst") {
      int count = 0;
      command >> count;
      for (int i = 0; i < count; ++i) {
        com::ComPtr<IShareSessionOperation> operation;
        proxy->CreateOperation(operation.Put());
        operation->SetName("burst");
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
    } else {
      return 5;  // the test went away
    }
  }
}

// A service that creates session "S" with three bytes of shared data and waits to be killed.
// args: platform, report fd.
KQCP_CHILD(Service) {
  IShareSessionManager* manager = ShareSessionManagerHolder::Instance();
  if (manager->Start(args[0].c_str(), kShareModeService, nullptr) != S_OK ||
      manager->CreateServiceSession("S", 0) != S_OK) {
    return 3;
  }
  com::ComPtr<IShareSessionService> session;
  manager->GetServiceSession("S", 0, session.Put());
  session->SetSharedData("abc", 3);
  Signal::Send(args[1], "ready");
  for (;;) pause();
}

// A service whose session "S" answers every request with a reply "answer" carrying the same
// bytes, reports each request as "request <sender> <name>", and leaves normally on "exit".
// args: platform, report fd, command fd.
KQCP_CHILD(EchoService) {
  IShareSessionManager* manager = ShareSessionManagerHolder::Instance();
  if (manager->Start(args[0].c_str(), kShareModeService, nullptr) != S_OK ||
      manager->CreateServiceSession("S", 0) != S_OK) {
    Signal::Send(args[1], "start-failed");
    return 3;
  }
  com::ComPtr<IShareSessionService> session;
  manager->GetServiceSession("S", 0, session.Put());
  IShareSessionService* service = session.Get();
  auto echo = com::ComPtr<kqcp_test::RecordingListener>::Adopt(
      com::MakeObject<kqcp_test::RecordingListener>([&](IShareSessionOperation* request) {
        const auto r = kqcp_test::Describe(request);
        Signal::Send(args[1], "request " + r.sender + " " + r.name);
        com::ComPtr<IShareSessionOperation> reply;
        if (service->CreateReply(request, reply.Put()) != S_OK) return;
        reply->SetName("answer");
        if (!r.data.empty()) {
          reply->AllocBuffer(static_cast<std::int32_t>(r.data.size()));
          std::uint8_t* data = nullptr;
          reply->GetBuffer(&data, nullptr);
          std::memcpy(data, r.data.data(), r.data.size());
        }
        service->PostOperation(reply.Get());
      }));
  service->AddOperationListener(echo.Get());
  Signal::Send(args[1], "ready");
  for (;;) {
    const std::string command = Signal::Receive(args[2], 120000);
    if (command == "exit") return 0;
    if (command.empty()) return 5;  // the test went away
  }
}
