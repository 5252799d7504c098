// Pieces shared by the session tests: a recording operation listener, a message listener, and
// the client process that the tests drive through a command pipe.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "com/object.h"
#include "kqcp/share.h"
#include "support/child_process.h"

namespace kqcp_test {

struct ReceivedOperation {
  std::int32_t kind = -1;
  std::int32_t id = -1;
  std::string name, session, target, sender;
  std::vector<std::uint8_t> data;
  bool hasBuffer = false;
};

ReceivedOperation Describe(Vantor::KQCP::IShareSessionOperation* operation);

// Records every operation it receives; an optional reply callback runs for requests.
class RecordingListener
    : public Vantor::KQCP::com::RefCounted<Vantor::KQCP::com::ComponentObject,
                                           Vantor::KQCP::IShareSessionOperationEvents> {
 public:
  using OnRequestFn = std::function<void(Vantor::KQCP::IShareSessionOperation*)>;
  // keepRecords false: only the callback runs (a long-running peer must not grow).
  explicit RecordingListener(OnRequestFn onRequest = nullptr, bool keepRecords = true)
      : onRequest_(std::move(onRequest)), keepRecords_(keepRecords) {}

  Vantor::KQCP::HRESULT OnRequest(Vantor::KQCP::IShareSessionOperation* operation) override;
  Vantor::KQCP::HRESULT OnResponse(Vantor::KQCP::IShareSessionOperation* operation) override;

  // Waits until count operations have arrived (generous bound); false on timeout.
  bool WaitFor(std::size_t count, int timeoutMs = 30000);
  std::vector<ReceivedOperation> Received();

 private:
  void Record(Vantor::KQCP::IShareSessionOperation* operation);
  OnRequestFn onRequest_;
  bool keepRecords_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<ReceivedOperation> received_;
};

// "<platform>" for a test: unique per process and call.
std::string PlatformName();

// A child process playing the test client ("Client": platform, own name) or the echoing
// service ("EchoService": platform), driven by lines through two pipes. With a user id it runs
// as that user.
class SessionPeer {
 public:
  SessionPeer(const std::string& child, const std::string& platform, const std::string& name = {},
              uid_t user = static_cast<uid_t>(-1));
  // The next line the peer reports; empty on timeout.
  std::string Line(int timeoutMs = 30000) { return out_.ReadLine(timeoutMs); }
  // The next line that starts with prefix, skipping others; empty on timeout.
  std::string LineStartingWith(const std::string& prefix, int timeoutMs = 30000);
  void Command(const std::string& line) { in_.Write(line); }
  // Posts a request of size bytes and waits for its reply; true when it came.
  bool RoundTrip(int size = 4, int timeoutMs = 30000);
  ChildProcess& Process() { return *process_; }
  // Asks the peer to leave normally; its exit code.
  int Exit();

 private:
  Signal out_, in_;
  std::unique_ptr<ChildProcess> process_;
};

}  // namespace kqcp_test
