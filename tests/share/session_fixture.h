// Pieces shared by the session tests: a recording operation listener, a message listener, and
// the client process that the tests drive through a command pipe.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "com/object.h"
#include "kqcp/share.h"

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
  explicit RecordingListener(OnRequestFn onRequest = nullptr) : onRequest_(std::move(onRequest)) {}

  Vantor::KQCP::HRESULT OnRequest(Vantor::KQCP::IShareSessionOperation* operation) override;
  Vantor::KQCP::HRESULT OnResponse(Vantor::KQCP::IShareSessionOperation* operation) override;

  // Waits until count operations have arrived (generous bound); false on timeout.
  bool WaitFor(std::size_t count, int timeoutMs = 30000);
  std::vector<ReceivedOperation> Received();

 private:
  void Record(Vantor::KQCP::IShareSessionOperation* operation);
  OnRequestFn onRequest_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<ReceivedOperation> received_;
};

// "<platform>" for a test: unique per process and call.
std::string PlatformName();

}  // namespace kqcp_test
