// The frame's marshalling and the operations it runs on the message thread.
#include "asyn/asyn_frame.h"

#include <cstring>
#include <new>

#include "asyn/asyn_marshalled_call.h"
#include "asyn/asyn_operation.h"
#include "asyn/asyn_tcp_socket.h"
#include "asyn/asyn_timer_events.h"
#include "asyn/asyn_udp_socket.h"
#include "com/com_ptr.h"

namespace Vantor::KQCP {

namespace {

constexpr std::int32_t kMaxProxyText = 256;

bool ValidLength(std::int32_t length) { return length >= 0 && length <= kMaxProxyText; }

// A zero-filled copy holding exactly the counted bytes of each text; null when the caller's
// record is unusable.
std::unique_ptr<AsynProxyInfo> CopyProxy(const AsynProxyInfo& proxy) {
  auto copy = std::unique_ptr<AsynProxyInfo>(new (std::nothrow) AsynProxyInfo{});
  if (!copy) return nullptr;
  copy->kind = proxy.kind;
  copy->serverLength = proxy.serverLength;
  copy->userLength = proxy.userLength;
  copy->passwordLength = proxy.passwordLength;
  std::memcpy(copy->server, proxy.server, static_cast<std::size_t>(proxy.serverLength));
  std::memcpy(copy->user, proxy.user, static_cast<std::size_t>(proxy.userLength));
  std::memcpy(copy->password, proxy.password, static_cast<std::size_t>(proxy.passwordLength));
  // The 32-bit word that holds the port.
  std::memcpy(&copy->port, &proxy.port, 4);
  return copy;
}

// Checks a caller's proxy record before anything is posted.
HRESULT CheckProxy(const AsynProxyInfo* proxy) {
  if (!proxy) return S_OK;
  if (proxy->kind != 1) return E_UNEXPECTED;
  // Longer texts than the record holds would be read past its end.
  if (!ValidLength(proxy->serverLength) || !ValidLength(proxy->userLength) ||
      !ValidLength(proxy->passwordLength)) {
    return E_INVALIDARG;
  }
  return S_OK;
}

}  // namespace

KQCPAsynFrame_::~KQCPAsynFrame_() {
  if (IAsynIoHost* host = host_.exchange(nullptr)) host->Release();
}

HRESULT KQCPAsynFrame_::Attach(IAsynIoHost* host) {
  if (host) host->AddRef();
  if (IAsynIoHost* old = host_.exchange(host, std::memory_order_acq_rel)) old->Release();
  return RegisterEvents(static_cast<IAsynMessageEvents*>(this));
}

bool KQCPAsynFrame_::OnMessageThread() {
  IAsynIoHost* host = Host();
  return host && host->IsMessageThread() == 0;
}

HRESULT KQCPAsynFrame_::IsMessageThread() { return OnMessageThread() ? S_OK : E_FAIL; }

HRESULT KQCPAsynFrame_::RegisterEvents(IAsynMessageEvents* target) {
  IAsynIoHost* host = Host();
  return host ? host->RegisterEvents(target) : E_FAIL;
}

HRESULT KQCPAsynFrame_::UnregisterEvents(IAsynMessageEvents* target) {
  IAsynIoHost* host = Host();
  return host ? host->UnregisterEvents(target) : E_FAIL;
}

HRESULT KQCPAsynFrame_::PostAsynMessage(IAsynMessageEvents* target, std::int32_t type,
                                        std::uintptr_t value1, std::uintptr_t value2) {
  IAsynIoHost* host = Host();
  return host ? host->PostAsynMessage(target, type, value1, value2) : E_FAIL;
}

HRESULT KQCPAsynFrame_::PostAsynMessageUnnamed(IAsynMessageEvents* target, std::int32_t type,
                                               std::uintptr_t value1, std::uintptr_t value2) {
  IAsynIoHost* host = Host();
  return host ? host->Op7(target, type, value1, value2) : E_FAIL;
}

HRESULT KQCPAsynFrame_::Marshal(std::int32_t type, std::uintptr_t value1,
                                AsynMarshalledCall& call) {
  IAsynIoHost* host = Host();
  if (!host) return E_FAIL;
  if (host->IsMessageThread() == 0) return Run(type, value1, call);
  // The second value names the call, so that its caller alone is woken when it has run.
  if (Failed(host->PostAsynMessage(static_cast<IAsynMessageEvents*>(this), type, value1,
                                   reinterpret_cast<std::uintptr_t>(&call)))) {
    return E_FAIL;
  }
  call.Wait();
  // The caller learns the host's real verdict, whichever thread it called on.
  return call.discarded ? E_FAIL : call.result;
}

HRESULT KQCPAsynFrame_::Run(std::int32_t type, std::uintptr_t value1, AsynMarshalledCall& call) {
  switch (type) {
    case kFrameCreateTcpSocket:
      return DoCreateTcpSocket(reinterpret_cast<IKQCPAsynTcpSocket**>(value1), call.proxy.get());
    case kFrameCreateUdpSocket:
      return DoCreateUdpSocket(reinterpret_cast<IKQCPAsynUdpSocket**>(value1), call.proxy.get());
    case kFrameCreateOperation:
      return DoCreateOperation(reinterpret_cast<IAsynIoOperationEvents*>(value1),
                               reinterpret_cast<IKQCPAsynIoOperation**>(call.value2));
    case kFrameSetTimer:
      return DoSetTimer(reinterpret_cast<IAsynTimerEvents*>(value1), call.timerValues);
    case kFrameKillTimer:
      return DoKillTimer(reinterpret_cast<IAsynTimerEvents*>(value1), &call.timerValues[0]);
    case kFrameKillTimers:
      return DoKillTimer(reinterpret_cast<IAsynTimerEvents*>(value1), nullptr);
    default:
      return E_FAIL;
  }
}

HRESULT KQCPAsynFrame_::OnMessage(std::int32_t type, std::uintptr_t value1, std::uintptr_t value2) {
  if (type < kFrameCreateTcpSocket || type > kFrameKillTimers || !value2) return S_OK;
  auto& call = *reinterpret_cast<AsynMarshalledCall*>(value2);
  call.result = Run(type, value1, call);
  call.Finish();
  return S_OK;
}

HRESULT KQCPAsynFrame_::OnMessageDiscarded(std::int32_t type, std::uintptr_t /*value1*/,
                                           std::uintptr_t value2) {
  if (type < kFrameCreateTcpSocket || type > kFrameKillTimers || !value2) return S_OK;
  // The caller is woken with a failure instead of waiting for good; it frees the payload.
  auto& call = *reinterpret_cast<AsynMarshalledCall*>(value2);
  call.discarded = true;
  call.Finish();
  return S_OK;
}

HRESULT KQCPAsynFrame_::CreateOperation(IAsynIoOperationEvents* events,
                                        IKQCPAsynIoOperation** operation) {
  if (!operation) return E_POINTER;
  *operation = nullptr;
  if (!events) return E_POINTER;
  AsynMarshalledCall call;
  call.value2 = reinterpret_cast<std::uintptr_t>(operation);
  return Marshal(kFrameCreateOperation, reinterpret_cast<std::uintptr_t>(events), call);
}

HRESULT KQCPAsynFrame_::CreateSocket(std::int32_t type, void* out, const AsynProxyInfo* proxy) {
  // Both socket out pointers are interface pointers; a failure leaves them null.
  if (out) *static_cast<IUnknown**>(out) = nullptr;
  if (HRESULT checked = CheckProxy(proxy); Failed(checked)) return checked;
  if (!out) return E_POINTER;
  AsynMarshalledCall call;
  if (proxy && !(call.proxy = CopyProxy(*proxy))) return E_OUTOFMEMORY;
  return Marshal(type, reinterpret_cast<std::uintptr_t>(out), call);
}

HRESULT KQCPAsynFrame_::CreateTcpSocket(IKQCPAsynTcpSocket** socket, const AsynProxyInfo* proxy) {
  return CreateSocket(kFrameCreateTcpSocket, socket, proxy);
}

HRESULT KQCPAsynFrame_::CreateUdpSocket(IKQCPAsynUdpSocket** socket, const AsynProxyInfo* proxy) {
  return CreateSocket(kFrameCreateUdpSocket, socket, proxy);
}

HRESULT KQCPAsynFrame_::SetTimer(IAsynTimerEvents* sink, std::uint32_t value1, std::uint32_t value2,
                                 std::uint32_t value3) {
  if (!sink) return E_POINTER;
  AsynMarshalledCall call;
  call.timerValues[0] = value1;
  call.timerValues[1] = value2;
  call.timerValues[2] = value3;
  return Marshal(kFrameSetTimer, reinterpret_cast<std::uintptr_t>(sink), call);
}

HRESULT KQCPAsynFrame_::KillTimer(IAsynTimerEvents* sink, std::uint32_t value) {
  if (!sink) return E_POINTER;
  AsynMarshalledCall call;
  call.timerValues[0] = value;
  return Marshal(kFrameKillTimer, reinterpret_cast<std::uintptr_t>(sink), call);
}

HRESULT KQCPAsynFrame_::KillTimers(IAsynTimerEvents* sink) {
  if (!sink) return E_POINTER;
  AsynMarshalledCall call;
  return Marshal(kFrameKillTimers, reinterpret_cast<std::uintptr_t>(sink), call);
}

HRESULT KQCPAsynFrame_::DoCreateTcpSocket(IKQCPAsynTcpSocket** out, const AsynProxyInfo* proxy) {
  *out = nullptr;
  IAsynIoHost* host = Host();
  com::ComPtr<IAsynHostTcpSocket> socket;
  if (Failed(host->CreateTcpSocket(socket.Put())) || !socket) return E_FAIL;
  if (proxy) {
    com::ComPtr<IAsynHostTcpSocket> proxied;
    if (Failed(host->CreateProxyTcpSocket(socket.Get(), proxy->kind, proxy->serverLength,
                                          proxy->server, proxy->port, proxy->userLength,
                                          proxy->user, proxy->passwordLength, proxy->password,
                                          proxied.Put())) ||
        !proxied) {
      return E_FAIL;
    }
    socket = proxied;
  }
  auto* wrapper = com::MakeObject<AsynTcpSocket>(host, socket.Get());
  if (!wrapper) return E_OUTOFMEMORY;
  *out = wrapper;
  return S_OK;
}

HRESULT KQCPAsynFrame_::DoCreateUdpSocket(IKQCPAsynUdpSocket** out, const AsynProxyInfo* proxy) {
  *out = nullptr;
  IAsynIoHost* host = Host();
  com::ComPtr<IAsynUdpHost> udpHost;
  if (Failed(host->QueryInterface(IID_IAsynUdpHost, udpHost.PutVoid())) || !udpHost) {
    return E_FAIL;
  }
  com::ComPtr<IAsynHostUdpSocket> socket;
  const HRESULT created =
      proxy ? udpHost->CreateProxyUdpSocket(proxy->serverLength, proxy->server, proxy->port,
                                            proxy->userLength, proxy->user, proxy->passwordLength,
                                            proxy->password, socket.Put())
            : udpHost->CreateUdpSocket(socket.Put());
  if (Failed(created) || !socket) return E_FAIL;
  auto* wrapper = com::MakeObject<AsynUdpSocket>(host, socket.Get());
  if (!wrapper) return E_OUTOFMEMORY;
  *out = wrapper;
  return S_OK;
}

HRESULT KQCPAsynFrame_::DoCreateOperation(IAsynIoOperationEvents* events,
                                          IKQCPAsynIoOperation** out) {
  *out = nullptr;
  auto* operation = com::MakeObject<AsynOperation>(events);
  if (!operation) return E_OUTOFMEMORY;
  com::ComPtr<IAsynHostOperation> hostOperation;
  if (Failed(Host()->CreateOperation(static_cast<IAsynIoOperationEvents*>(operation),
                                     hostOperation.Put())) ||
      !hostOperation) {
    operation->Release();
    return E_FAIL;
  }
  operation->SetHostOperation(hostOperation.Get());
  *out = operation;
  return S_OK;
}

HRESULT KQCPAsynFrame_::DoSetTimer(IAsynTimerEvents* sink, const std::uint32_t (&values)[3]) {
  IAsynIoHost* host = Host();
  if (!host) return E_FAIL;
  // Every timer of a sink goes to the host through the same wrapper, so that each one can be
  // killed by its value and a repeated value can replace the live timer.
  com::ComPtr<AsynTimerEvents> wrapper = FindTimer(sink);
  if (!wrapper) {
    wrapper = com::ComPtr<AsynTimerEvents>::Adopt(com::MakeObject<AsynTimerEvents>(sink));
    if (!wrapper) return E_OUTOFMEMORY;
    try {
      VEXO::System::Thread::ScopedLock guard(timersLock_);
      timers_[sink] = wrapper.Get();
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  // A refused first timer drops the last reference below, and the wrapper leaves the table.
  return Succeeded(host->SetTimer(wrapper.Get(), values[0], values[1], values[2])) ? S_OK : E_FAIL;
}

HRESULT KQCPAsynFrame_::DoKillTimer(IAsynTimerEvents* sink, const std::uint32_t* value) {
  IAsynIoHost* host = Host();
  if (!host) return E_FAIL;
  com::ComPtr<AsynTimerEvents> wrapper = FindTimer(sink);
  if (!wrapper) return E_FAIL;
  // The entry stays while the host still holds the wrapper for another live timer.
  const HRESULT killed =
      value ? host->KillTimer(wrapper.Get(), *value) : host->KillTimers(wrapper.Get());
  return Succeeded(killed) ? S_OK : E_FAIL;
}

com::ComPtr<AsynTimerEvents> KQCPAsynFrame_::FindTimer(IAsynTimerEvents* sink) {
  VEXO::System::Thread::ScopedLock guard(timersLock_);
  auto entry = timers_.find(sink);
  return entry == timers_.end() ? nullptr : com::ComPtr<AsynTimerEvents>(entry->second);
}

void KQCPAsynFrame_::ForgetTimer(IAsynTimerEvents* sink, AsynTimerEvents* wrapper) {
  VEXO::System::Thread::ScopedLock guard(timersLock_);
  auto entry = timers_.find(sink);
  if (entry != timers_.end() && entry->second == wrapper) timers_.erase(entry);
}

}  // namespace Vantor::KQCP
