// The asynchronous I/O frame: the host's own I/O service, wrapped so that every operation runs
// on the host's message thread. A call made on that thread runs at once; a call from any other
// thread is posted to the frame as a message and the caller waits for its own message to run.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>

#include "base/critical_section.h"
#include "base/singleton_holder.h"
#include "com/com_ptr.h"
#include "com/object.h"
#include "kqcp/asyn_host.h"

namespace Vantor::KQCP {

class AsynTimerEvents;
struct AsynMarshalledCall;

// Message types the frame posts to itself.
enum AsynFrameMessage : std::int32_t {
  kFrameCreateTcpSocket = 0,
  kFrameCreateUdpSocket = 1,
  kFrameCreateOperation = 2,
  kFrameSetTimer = 3,
  kFrameKillTimer = 4,
  kFrameKillTimers = 5,
};

class KQCPAsynFrame_ : public com::SingletonObject<IAsynIOFrame, IAsynMessageEvents> {
 public:
  // IAsynIOFrame
  HRESULT Reserved1() override { return S_OK; }
  HRESULT Reserved2() override { return S_OK; }
  HRESULT Reserved3() override { return S_OK; }
  HRESULT IsMessageThread() override;
  HRESULT CreateOperation(IAsynIoOperationEvents* events,
                          IKQCPAsynIoOperation** operation) override;
  HRESULT CreateTcpSocket(IKQCPAsynTcpSocket** socket, const AsynProxyInfo* proxy) override;
  HRESULT CreateUdpSocket(IKQCPAsynUdpSocket** socket, const AsynProxyInfo* proxy) override;
  HRESULT SetTimer(IAsynTimerEvents* sink, std::uint32_t value1, std::uint32_t value2,
                   std::uint32_t value3) override;
  HRESULT KillTimer(IAsynTimerEvents* sink, std::uint32_t value) override;
  HRESULT KillTimers(IAsynTimerEvents* sink) override;

  // IAsynMessageEvents: the frame's own posted calls.
  HRESULT OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) override;
  HRESULT OnMessageDiscarded(std::int32_t type, std::uintptr_t value1,
                             std::uintptr_t value2) override;

  // Forwarded to the host's operations of the same role; E_FAIL without a host.
  virtual HRESULT RegisterEvents(IAsynMessageEvents* target);
  virtual HRESULT UnregisterEvents(IAsynMessageEvents* target);
  virtual HRESULT PostAsynMessage(IAsynMessageEvents* target, std::int32_t type,
                                  std::uintptr_t value1, std::uintptr_t value2);
  virtual HRESULT PostAsynMessageUnnamed(IAsynMessageEvents* target, std::int32_t type,
                                         std::uintptr_t value1, std::uintptr_t value2);

  // Takes the host's service (a reference; any earlier one is released) and registers the
  // frame for its messages.
  HRESULT Attach(IAsynIoHost* host);

  // True on the host's message thread (false without a host).
  bool OnMessageThread();

  // Called by a timer wrapper as it goes: drops the sink's entry if it still names wrapper.
  void ForgetTimer(IAsynTimerEvents* sink, AsynTimerEvents* wrapper);

 protected:
  KQCPAsynFrame_() = default;
  ~KQCPAsynFrame_() override;

 private:
  // Checks and copies the proxy record, then marshals the creation of type into out.
  HRESULT CreateSocket(std::int32_t type, void* out, const AsynProxyInfo* proxy);
  // Runs the call here on the message thread, or posts it and waits for it to run.
  HRESULT Marshal(std::int32_t type, std::uintptr_t value1, AsynMarshalledCall& call);
  HRESULT Run(std::int32_t type, std::uintptr_t value1, AsynMarshalledCall& call);

  HRESULT DoCreateTcpSocket(IKQCPAsynTcpSocket** out, const AsynProxyInfo* proxy);
  HRESULT DoCreateUdpSocket(IKQCPAsynUdpSocket** out, const AsynProxyInfo* proxy);
  HRESULT DoCreateOperation(IAsynIoOperationEvents* events, IKQCPAsynIoOperation** out);
  HRESULT DoSetTimer(IAsynTimerEvents* sink, const std::uint32_t (&values)[3]);
  HRESULT DoKillTimer(IAsynTimerEvents* sink, const std::uint32_t* value);
  // The sink's wrapper with a reference, or null.
  com::ComPtr<AsynTimerEvents> FindTimer(IAsynTimerEvents* sink);

  IAsynIoHost* Host() const { return host_.load(std::memory_order_acquire); }

  std::atomic<IAsynIoHost*> host_{nullptr};
  // Caller's sink -> the one wrapper that the host holds for all of the sink's live timers. No
  // reference: the entry goes when the host releases the wrapper, so a sink whose timers have
  // all ended is let go. Guarded because a host may release a wrapper off its thread when it
  // shuts down.
  VEXO::System::Thread::CriticalSection timersLock_;
  std::map<IAsynTimerEvents*, AsynTimerEvents*> timers_;
};

using AsynFrameHolder = VEXO::Pattern::SingletonHolder<KQCPAsynFrame_>;

}  // namespace Vantor::KQCP
