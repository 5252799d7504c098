// The Asio-based I/O service object: its interface calls, on the shared message-thread state.
#include "asio_io_host.h"

#include "asio_objects.h"
#include "asio_status.h"

namespace example {

AsioIoHost::AsioIoHost() : service_(std::make_shared<AsioService>()) {
  // The thread holds the state too: a host released on its own message thread is gone before
  // the loop there has returned.
  thread_ = std::thread([service = service_] { service->Run(); });
  service_->SetMessageThread(thread_.get_id());
}

AsioIoHost::~AsioIoHost() {
  service_->Close();
  if (!thread_.joinable()) return;
  if (service_->OnThread()) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

void AsioIoHost::Shutdown() {
  service_->Close();
  if (thread_.joinable() && !service_->OnThread()) thread_.join();
}

HRESULT AsioIoHost::IsMessageThread() { return service_->OnThread() ? 0 : 1; }

HRESULT AsioIoHost::RegisterEvents(IAsynMessageEvents* target) {
  return service_->Register(target);
}

HRESULT AsioIoHost::UnregisterEvents(IAsynMessageEvents* target) {
  return service_->Unregister(target);
}

HRESULT AsioIoHost::PostAsynMessage(IAsynMessageEvents* target, std::int32_t type,
                                    std::uintptr_t value1, std::uintptr_t value2) {
  return service_->Post(target, type, value1, value2);
}

HRESULT AsioIoHost::Op7(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
                        std::uintptr_t value2) {
  return service_->Post(target, type, value1, value2);
}

HRESULT AsioIoHost::SetTimer(IAsynTimerEvents* sink, std::uint32_t milliseconds, std::uint32_t id,
                             std::uint32_t repeat) {
  if (!sink) return E_POINTER;
  if (!service_->OnThread()) return E_FAIL;
  return service_->SetTimer(sink, milliseconds, id, repeat != 0);
}

HRESULT AsioIoHost::KillTimer(IAsynTimerEvents* sink, std::uint32_t id) {
  if (!sink) return E_POINTER;
  if (!service_->OnThread()) return E_FAIL;
  return service_->KillTimer(sink, id);
}

HRESULT AsioIoHost::KillTimers(IAsynTimerEvents* sink) {
  if (!sink) return E_POINTER;
  if (!service_->OnThread()) return E_FAIL;
  return service_->KillTimers(sink);
}

HRESULT AsioIoHost::CreateOperation(IAsynIoOperationEvents* target,
                                    IAsynHostOperation** operation) {
  if (!target || !operation) return E_POINTER;
  *operation = nullptr;
  return Guarded([&] {
    *operation = new AsioOperation(target);
    return S_OK;
  });
}

HRESULT AsioIoHost::CreateTcpSocket(IAsynHostTcpSocket** socket) {
  if (!socket) return E_POINTER;
  *socket = nullptr;
  return Guarded([&] {
    *socket = new AsioTcpSocket(Context());
    return S_OK;
  });
}

HRESULT AsioIoHost::CreateProxyTcpSocket(IAsynHostTcpSocket*, std::int32_t, std::int32_t,
                                         const char*, std::uint16_t, std::int32_t, const char*,
                                         std::int32_t, const char*,
                                         IAsynHostTcpSocket** proxySocket) {
  if (proxySocket) *proxySocket = nullptr;
  return E_NOTIMPL;  // this host reaches its peers directly
}

HRESULT AsioIoHost::CreateUdpSocket(IAsynHostUdpSocket** socket) {
  if (!socket) return E_POINTER;
  *socket = nullptr;
  return Guarded([&] {
    *socket = new AsioUdpSocket(Context());
    return S_OK;
  });
}

HRESULT AsioIoHost::CreateProxyUdpSocket(std::int32_t, const char*, std::uint16_t, std::int32_t,
                                         const char*, std::int32_t, const char*,
                                         IAsynHostUdpSocket** socket) {
  if (socket) *socket = nullptr;
  return E_NOTIMPL;
}

}  // namespace example
