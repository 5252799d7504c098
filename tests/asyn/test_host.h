// A host asynchronous I/O service for the frame's tests: one message thread with a queue,
// operation and socket objects, and timers. It records every call it receives (what, with
// which values, on which thread) and can refuse creations, refuse posts or discard them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn_host.h"

namespace kqcp_test {

using namespace Vantor::KQCP;

struct HostCall {
  std::string what;
  std::vector<std::uintptr_t> values;
  std::string text;
  bool onMessageThread = false;
};

class TestHost;

// Records calls on a host object into the host's journal.
class CallJournal {
 public:
  void Add(HostCall call);
  std::vector<HostCall> Calls(const std::string& what);
  std::size_t Count(const std::string& what) { return Calls(what).size(); }
  void Clear();

 private:
  std::mutex mutex_;
  std::vector<HostCall> calls_;
};

class HostOperation : public com::RefCounted<com::ComponentObject, IAsynHostOperation> {
 public:
  HostOperation(TestHost& host, IAsynIoOperationEvents* target);
  // Reports an event of this operation to its target, as the host does.
  HRESULT FireEvent();
  IAsynIoOperationEvents* Target() const { return target_; }

  HRESULT Op1(AsynValue a) override { return Record("op1", {a}); }
  HRESULT Op2(AsynValue a) override { return Record("op2", {a}); }
  HRESULT Op3(AsynValue a, AsynValue b) override { return Record("op3", {a, b}); }
  HRESULT Op4(AsynValue a, AsynValue b) override { return Record("op4", {a, b}); }
  HRESULT Op5(AsynValue a) override { return Record("op5", {a}); }
  HRESULT Op6(AsynValue a) override { return Record("op6", {a}); }
  HRESULT Op7(AsynValue a) override { return Record("op7", {a}); }
  HRESULT Op8(AsynValue a, AsynValue b) override { return Record("op8", {a, b}); }
  HRESULT Op9() override { return Record("op9", {}); }
  HRESULT Op10(AsynValue a, AsynValue b) override { return Record("op10", {a, b}); }
  HRESULT Op11(AsynValue a, AsynValue b) override { return Record("op11", {a, b}); }
  HRESULT Op12(AsynValue a, AsynValue b) override { return Record("op12", {a, b}); }
  HRESULT Op13(AsynValue a) override { return Record("op13", {a}); }
  HRESULT Op14(AsynValue a, AsynValue b) override { return Record("op14", {a, b}); }
  HRESULT Op15(AsynValue a, AsynValue b) override { return Record("op15", {a, b}); }
  HRESULT Op16() override { return Record("op16", {}); }

 private:
  HRESULT Record(const std::string& what, std::vector<std::uintptr_t> values);
  TestHost& host_;
  // Not a reference: the wrapper holds this operation, and a reference back would keep both.
  IAsynIoOperationEvents* target_;
};

class HostTcpSocket : public com::RefCounted<com::ComponentObject, IAsynHostTcpSocket> {
 public:
  explicit HostTcpSocket(TestHost& host) : host_(host) {}
  HRESULT DeviceOp1(IAsynHostOperation* op) override { return Record("device1", op); }
  HRESULT DeviceOp2(IAsynHostOperation* op) override { return Record("device2", op); }
  HRESULT DeviceOp3(IAsynHostOperation* op) override { return Answer("device3", op); }
  HRESULT DeviceOp4(IAsynHostOperation* op) override { return Answer("device4", op); }
  HRESULT DeviceOp5() override { return Record("device5", nullptr); }
  HRESULT TcpOp1(IAsynHostOperation* op, std::int32_t length, const char* text, std::uint16_t port,
                 AsynValue value) override;
  HRESULT TcpOp2(AsynValue, AsynValue) override { return Record("tcp2", nullptr); }
  HRESULT TcpOp3(AsynValue, AsynValue) override { return Record("tcp3", nullptr); }
  HRESULT TcpOp4(void* pointer) override;
  HRESULT TcpOp5(AsynValue) override { return Record("tcp5", nullptr); }

 private:
  HRESULT Record(const std::string& what, IAsynHostOperation* op);
  HRESULT Answer(const std::string& what, IAsynHostOperation* op);
  TestHost& host_;
};

class HostUdpSocket : public com::RefCounted<com::ComponentObject, IAsynHostUdpSocket> {
 public:
  explicit HostUdpSocket(TestHost& host) : host_(host) {}
  HRESULT DeviceOp1(IAsynHostOperation* op) override { return Record("udp-device1", op); }
  HRESULT DeviceOp2(IAsynHostOperation* op) override { return Record("udp-device2", op); }
  HRESULT DeviceOp3(IAsynHostOperation* op) override { return Answer("udp-device3", op); }
  HRESULT DeviceOp4(IAsynHostOperation* op) override { return Answer("udp-device4", op); }
  HRESULT DeviceOp5() override { return Record("udp-device5", nullptr); }
  HRESULT UdpOp1(std::uint32_t address, std::uint16_t port, IAsynHostOperation* op) override;
  HRESULT UdpOp2(AsynValue, AsynValue) override { return E_NOTIMPL; }

 private:
  HRESULT Record(const std::string& what, IAsynHostOperation* op);
  HRESULT Answer(const std::string& what, IAsynHostOperation* op);
  TestHost& host_;
};

class TestHost : public com::RefCounted<com::ComponentObject, IAsynIoHost, IAsynUdpHost> {
 public:
  TestHost();
  ~TestHost() override;

  // IAsynIoHost
  HRESULT SetTimer(IAsynTimerEvents* sink, std::uint32_t a, std::uint32_t b,
                   std::uint32_t c) override;
  HRESULT KillTimer(IAsynTimerEvents* sink, std::uint32_t value) override;
  HRESULT KillTimers(IAsynTimerEvents* sink) override;
  HRESULT RegisterEvents(IAsynMessageEvents* target) override;
  HRESULT UnregisterEvents(IAsynMessageEvents* target) override;
  HRESULT PostAsynMessage(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
                          std::uintptr_t value2) override;
  HRESULT Op7(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
              std::uintptr_t value2) override;
  HRESULT IsMessageThread() override;
  HRESULT CreateOperation(IAsynIoOperationEvents* target, IAsynHostOperation** operation) override;
  HRESULT CreateTcpSocket(IAsynHostTcpSocket** socket) override;
  HRESULT CreateProxyTcpSocket(IAsynHostTcpSocket* socket, std::int32_t kind,
                               std::int32_t serverLength, const char* server, std::uint16_t port,
                               std::int32_t userLength, const char* user,
                               std::int32_t passwordLength, const char* password,
                               IAsynHostTcpSocket** proxySocket) override;
  // IAsynUdpHost
  HRESULT CreateUdpSocket(IAsynHostUdpSocket** socket) override;
  HRESULT CreateProxyUdpSocket(std::int32_t serverLength, const char* server, std::uint16_t port,
                               std::int32_t userLength, const char* user,
                               std::int32_t passwordLength, const char* password,
                               IAsynHostUdpSocket** socket) override;

  // Runs fn on the message thread and waits for it.
  void RunOnMessageThread(const std::function<void()>& fn);
  // Queues fn on the message thread without waiting.
  void Enqueue(std::function<void()> fn);
  // One tick of every live timer, on the message thread: each sink's OnTimer gets its timer's
  // id, and a one-shot timer ends after its tick. Returns how many timers ticked.
  int Tick();
  std::size_t LiveTimers();

  CallJournal journal;
  std::atomic<bool> refuseCreation{false};
  std::atomic<bool> refuseTimers{false};
  std::atomic<bool> refusePosts{false};
  std::atomic<bool> discardPosts{false};
  std::atomic<HRESULT> tcpOp4Answer{S_OK};
  // What device operations 3 and 4 of every socket answer.
  std::atomic<HRESULT> deviceAnswer{S_OK};
  std::vector<com::ComPtr<HostOperation>> operations;  // message thread only

 private:
  bool OnThread() const { return std::this_thread::get_id() == threadId_; }
  void Loop();

  // A timer as SetTimer(sink, interval, id, repeat) made it; an id set again replaces it.
  struct LiveTimer {
    com::ComPtr<IAsynTimerEvents> sink;
    std::uint32_t id;
    bool repeat;
    std::uint64_t serial;
  };
  // Removes the matching timers; their references are dropped after the lock is left.
  std::size_t RemoveTimers(const std::function<bool(const LiveTimer&)>& match);

  std::mutex timersMutex_;
  std::vector<LiveTimer> timers_;
  std::uint64_t nextSerial_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::thread thread_;
  std::thread::id threadId_;
};

}  // namespace kqcp_test
