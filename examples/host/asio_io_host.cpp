// The Asio-based I/O service: message thread, posted messages and timers.
#include "asio_io_host.h"

#include "asio_objects.h"

namespace example {

struct AsioIoHost::Timer {
  Timer(asio::io_context& context, IAsynTimerEvents* sink, std::uint32_t ms, std::uint32_t id,
        bool repeat)
      : timer(context), sink(sink), interval(ms), id(id), repeat(repeat) {}
  asio::steady_timer timer;
  Ref<IAsynTimerEvents> sink;
  std::chrono::milliseconds interval;
  std::uint32_t id;
  bool repeat;
  bool killed = false;
};

AsioIoHost::AsioIoHost() : work_(asio::make_work_guard(context_)) {
  thread_ = std::thread([this] { context_.run(); });
  threadId_ = thread_.get_id();
}

AsioIoHost::~AsioIoHost() { Shutdown(); }

void AsioIoHost::Shutdown() {
  if (!thread_.joinable()) return;
  work_.reset();
  context_.stop();
  if (std::this_thread::get_id() == threadId_) {
    thread_.detach();
  } else {
    thread_.join();
  }
}

HRESULT AsioIoHost::IsMessageThread() { return std::this_thread::get_id() == threadId_ ? 0 : 1; }

HRESULT AsioIoHost::RegisterEvents(IAsynMessageEvents* target) {
  std::lock_guard<std::mutex> guard(targetsMutex_);
  targets_.insert(target);
  return S_OK;
}

HRESULT AsioIoHost::UnregisterEvents(IAsynMessageEvents* target) {
  std::lock_guard<std::mutex> guard(targetsMutex_);
  targets_.erase(target);
  return S_OK;
}

HRESULT AsioIoHost::PostAsynMessage(IAsynMessageEvents* target, std::int32_t type,
                                    std::uintptr_t value1, std::uintptr_t value2) {
  if (!target || context_.stopped()) return E_FAIL;
  asio::post(context_, [this, target, type, value1, value2] {
    bool registered;
    {
      std::lock_guard<std::mutex> guard(targetsMutex_);
      registered = targets_.count(target) != 0;
    }
    // A target that unregistered meanwhile must not be called.
    if (registered) target->OnMessage(type, value1, value2);
  });
  return S_OK;
}

HRESULT AsioIoHost::Op7(IAsynMessageEvents* target, std::int32_t type, std::uintptr_t value1,
                        std::uintptr_t value2) {
  return PostAsynMessage(target, type, value1, value2);
}

void AsioIoHost::Arm(const std::shared_ptr<Timer>& timer) {
  timer->timer.expires_after(timer->interval);
  timer->timer.async_wait([this, timer](const asio::error_code& error) {
    if (error || timer->killed) return;
    timer->sink->OnTimer(timer->id);
    if (timer->repeat && !timer->killed) {
      Arm(timer);
      return;
    }
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (it->second == timer) {
        timers_.erase(it);
        break;
      }
    }
  });
}

HRESULT AsioIoHost::SetTimer(IAsynTimerEvents* sink, std::uint32_t milliseconds, std::uint32_t id,
                             std::uint32_t repeat) {
  if (!sink || IsMessageThread() != 0) return E_FAIL;
  auto timer = std::make_shared<Timer>(context_, sink, milliseconds, id, repeat != 0);
  timers_.emplace(sink, timer);
  Arm(timer);
  return S_OK;
}

HRESULT AsioIoHost::KillTimer(IAsynTimerEvents* sink, std::uint32_t id) {
  auto range = timers_.equal_range(sink);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second->id == id) {
      it->second->killed = true;
      it->second->timer.cancel();
      timers_.erase(it);
      return S_OK;
    }
  }
  return E_FAIL;
}

HRESULT AsioIoHost::KillTimers(IAsynTimerEvents* sink) {
  auto range = timers_.equal_range(sink);
  if (range.first == range.second) return E_FAIL;
  for (auto it = range.first; it != range.second; ++it) {
    it->second->killed = true;
    it->second->timer.cancel();
  }
  timers_.erase(range.first, range.second);
  return S_OK;
}

HRESULT AsioIoHost::CreateOperation(IAsynIoOperationEvents* target,
                                    IAsynHostOperation** operation) {
  if (!target || !operation) return E_POINTER;
  *operation = new AsioOperation(target);
  return S_OK;
}

HRESULT AsioIoHost::CreateTcpSocket(IAsynHostTcpSocket** socket) {
  if (!socket) return E_POINTER;
  *socket = new AsioTcpSocket(context_);
  return S_OK;
}

HRESULT AsioIoHost::CreateProxyTcpSocket(IAsynHostTcpSocket*, std::int32_t, std::int32_t,
                                         const char*, std::uint16_t, std::int32_t, const char*,
                                         std::int32_t, const char*, IAsynHostTcpSocket**) {
  return E_NOTIMPL;  // this host reaches its peers directly
}

HRESULT AsioIoHost::CreateUdpSocket(IAsynHostUdpSocket** socket) {
  if (!socket) return E_POINTER;
  *socket = new AsioUdpSocket(context_);
  return S_OK;
}

HRESULT AsioIoHost::CreateProxyUdpSocket(std::int32_t, const char*, std::uint16_t, std::int32_t,
                                         const char*, std::int32_t, const char*,
                                         IAsynHostUdpSocket**) {
  return E_NOTIMPL;
}

}  // namespace example
