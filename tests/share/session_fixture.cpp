// Session test pieces: the recording listener, the peer processes' driver and the plain service
// process (the peers themselves are in session_peers.cpp).
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
  if (keepRecords_) Record(operation);
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

}  // namespace kqcp_test

using kqcp_test::Signal;

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
